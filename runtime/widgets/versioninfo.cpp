#include "runtime/widgets/versioninfo.h"

#include "runtime/core/exceptions.h"

#include <QFile>
#include <QStringList>
#include <dlfcn.h>

namespace {

QString numbers(const quint16 (&version)[4])
{
    return QStringLiteral("%1.%2.%3.%4").arg(version[0]).arg(version[1]).arg(version[2]).arg(version[3]);
}

QString languageName(quint16 languageId)
{
    if (languageId == 0x0416)
        return QStringLiteral("Português (Brasil)");
    return QStringLiteral("0x%1").arg(languageId, 4, 16, QLatin1Char('0'));
}

} // namespace

QString ModuleVersionText(HMODULE module)
{
    const auto *info = static_cast<const TModuleVersionInfo *>(dlsym(module, kVersionInfoSymbol));
    if (!info)
        return QString();
    return QStringList {
        QStringLiteral("%1 (%2)").arg(QString::fromUtf8(info->FileDescription), QString::fromUtf8(info->ProductName)),
        QStringLiteral("Versão do arquivo: %1 (\"%2\")").arg(numbers(info->FileVersion), QString::fromUtf8(info->FileVersionText)),
        QStringLiteral("Versão do produto: %1 (\"%2\")").arg(numbers(info->ProductVersion), QString::fromUtf8(info->ProductVersionText)),
        QStringLiteral("Idioma: %1, página de código %2").arg(languageName(info->LanguageId)).arg(info->CodePage),
        QStringLiteral("%1 %2").arg(QString::fromUtf8(info->LegalCopyright), QString::fromUtf8(info->CompanyName)),
    }.join(QLatin1Char('\n'));
}

QString ModuleFileVersionText(const QString &fileName)
{
    // Mapped only: its package entries do not run, and no function of it is bound.
    HMODULE module = dlopen(QFile::encodeName(fileName).constData(), RTLD_LAZY | RTLD_LOCAL);
    if (!module)
        throw Exception(QStringLiteral("Não foi possível abrir o módulo %1: %2")
                            .arg(fileName, QString::fromLocal8Bit(dlerror())));
    const QString text = ModuleVersionText(module);
    dlclose(module);
    if (text.isEmpty())
        throw Exception(QStringLiteral("O módulo %1 não tem registro de versão.").arg(fileName));
    return text;
}
