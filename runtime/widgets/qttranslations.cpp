#include "runtime/widgets/qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

// The kinds of entry Qt's file dialogs show in their type column: Qt's own Portuguese
// catalogue does not have them.
class FileKindTexts : public QTranslator
{
public:
    bool isEmpty() const override { return false; }
    QString translate(const char *context, const char *source, const char *, int) const override
    {
        if (qstrcmp(context, "QAbstractFileIconProvider") != 0)
            return {};
        static const QHash<QByteArray, QString> texts {
            { "Folder", QStringLiteral("Pasta") },
            { "Drive", QStringLiteral("Unidade") },
            { "File", QStringLiteral("Arquivo") },
            { "%1 File", QStringLiteral("Arquivo %1") },
            { "Shortcut", QStringLiteral("Atalho") },
            { "Alias", QStringLiteral("Atalho") },
        };
        return texts.value(QByteArray(source));
    }
};

} // namespace

bool InstallQtTranslations()
{
    static QTranslator translator; // lives as long as the application reads from it
    static FileKindTexts fileKinds;
    if (!translator.isEmpty())
        return true;
    // Dates and names of months and weekdays in Qt's widgets (the calendar, the
    // dialogs' columns) as the screen writes them.
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    QCoreApplication::installTranslator(&fileKinds);
    if (!translator.load(QLocale(QLocale::Portuguese, QLocale::Brazil), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}
