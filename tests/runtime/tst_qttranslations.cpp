// Qt's own texts in the directory dialog are in Portuguese, as the rest of the screen.
#include "hostlib/widgets/dateeditplus.h"
#include "runtime/widgets/directorydialog.h"
#include "runtime/widgets/qttranslations.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCalendarWidget>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

class TestQtTranslations : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(InstallQtTranslations(), "Qt's translation files (qt6-translations-l10n) are missing"); }

    void directoryDialogSaysNothingInEnglish_data()
    {
        QTest::addColumn<QString>("what");    // where the text shows
        QTest::addColumn<QString>("english"); // Qt's text untranslated
        QTest::newRow("name column") << QStringLiteral("column 0") << QStringLiteral("Name");
        QTest::newRow("size column") << QStringLiteral("column 1") << QStringLiteral("Size");
        QTest::newRow("type column") << QStringLiteral("column 2") << QStringLiteral("Type");
        QTest::newRow("date column") << QStringLiteral("column 3") << QStringLiteral("Date Modified");
        QTest::newRow("file type label") << QStringLiteral("fileTypeLabel") << QStringLiteral("Files of type:");
        QTest::newRow("the computer in the side bar") << QStringLiteral("sidebar") << QStringLiteral("Computer");
        QTest::newRow("a folder's type") << QStringLiteral("folder 2") << QStringLiteral("Folder");
        QTest::newRow("a folder's date") << QStringLiteral("folder 3") << QStringLiteral("PM");
    }
    void directoryDialogSaysNothingInEnglish()
    {
        QFETCH(QString, what);
        QFETCH(QString, english);
        TDirectoryDialog dialog(nullptr, QDir::tempPath(), 0);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QString shown;
        if (what.startsWith(QLatin1String("folder"))) {
            QTemporaryDir parent;
            QVERIFY(QDir(parent.path()).mkdir(QStringLiteral("pasta")));
            dialog.setDirectory(parent.path());
            auto *details = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
            QVERIFY(details);
            QTRY_VERIFY(details->model()->rowCount(details->rootIndex()) == 1);
            shown = details->model()->index(0, what.back().digitValue(), details->rootIndex()).data().toString();
            if (what.back() == QLatin1Char('3')) // a day, a month and a year as the screen writes a date
                QVERIFY2(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d$")).match(shown).hasMatch(),
                         qPrintable(shown));
        } else if (what.startsWith(QLatin1String("column"))) {
            auto *details = dialog.findChild<QTreeView *>(QStringLiteral("treeView"));
            QVERIFY(details);
            shown = details->model()->headerData(what.back().digitValue(), Qt::Horizontal).toString();
        } else if (what == QLatin1String("sidebar")) {
            auto *places = dialog.findChild<QListView *>(QStringLiteral("sidebar"));
            QVERIFY(places);
            for (int row = 0; row < places->model()->rowCount(); ++row) {
                const QString place = places->model()->index(row, 0).data().toString();
                if (place == english || place == QLatin1String("Computador"))
                    shown = place;
            }
        } else {
            auto *label = dialog.findChild<QLabel *>(what);
            QVERIFY(label);
            shown = label->text();
        }
        QVERIFY2(!shown.isEmpty(), qPrintable(what));
        QVERIFY2(shown != english, qPrintable(shown));
    }

    // The calendar the date field opens speaks Portuguese and starts its week on Sunday.
    void calendarInPortuguese()
    {
        TDateEditPlus edit(nullptr);
        edit.show();
        auto *dropDown = edit.findChild<QToolButton *>();
        QVERIFY(dropDown);
        dropDown->click();
        auto *calendar = edit.findChild<QCalendarWidget *>();
        QVERIFY(calendar);
        QCOMPARE(calendar->locale().monthName(12), QStringLiteral("dezembro"));
        QCOMPARE(calendar->locale().dayName(1, QLocale::ShortFormat), QStringLiteral("seg."));
        QCOMPARE(calendar->firstDayOfWeek(), Qt::Sunday);
    }
};

QTEST_MAIN(TestQtTranslations)
#include "tst_qttranslations.moc"
