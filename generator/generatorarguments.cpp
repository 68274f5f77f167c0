#include "generatorarguments.h"

#include <filesystem.h>
#include <recordsetfields.h>

#include <QCommandLineParser>
#include <QDate>
#include <QTime>

namespace {

QString required(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    const QString value = parser.value(option).trimmed();
    if (value.isEmpty())
        throw EBadArguments(QStringLiteral("falta --%1").arg(option.names().constFirst()));
    return value;
}

AnsiString singleByte(const QString &text, const QString &what)
{
    if (!Ansi::representable(text))
        throw EBadArguments(QStringLiteral("%1 tem caracteres fora do Windows-1252: %2").arg(what, text));
    return Ansi::fromUnicode(text);
}

} // namespace

GeneratorArguments GeneratorArguments::parse(const QStringList &commandLine)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Gera o arquivo de tradução das tabelas (TRD_<ano><mês><dia>.sql) sem tela.\n"
        "Saída: 0 gravado, 1 nada a gravar, 2 argumentos inválidos, 3 falha do servidor,\n"
        "4 falha do arquivo, 5 arquivo existente mantido."));
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Mostra esta ajuda."));
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("Servidor de aplicação."), QStringLiteral("HOST:PORTA"));
    const QCommandLineOption language(QStringLiteral("language"), QStringLiteral("Identificador do idioma (IDIDIOMA)."),
                                      QStringLiteral("ID"));
    const QCommandLineOption since(QStringLiteral("since"), QStringLiteral("Itens alterados a partir de."),
                                   QStringLiteral("AAAA-MM-DD HH:MM"));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Todas as tabelas."));
    const QCommandLineOption tables(QStringLiteral("tables"), QStringLiteral("As tabelas da lista, separadas por vírgula."),
                                    QStringLiteral("CODIGO,..."));
    const QCommandLineOption dir(QStringLiteral("dir"), QStringLiteral("Diretório do arquivo (deve existir)."),
                                 QStringLiteral("DIRETORIO"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"), QStringLiteral("Substitui um arquivo já existente."));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
        QStringLiteral("Espera máxima pelo servidor, em segundos (padrão %1).").arg(kDefaultTimeoutSeconds),
        QStringLiteral("SEGUNDOS"));
    parser.addOptions({ help, server, language, since, all, tables, dir, overwrite, timeout });

    GeneratorArguments arguments;
    if (!parser.parse(commandLine))
        throw EBadArguments(parser.errorText());
    arguments.helpText = parser.helpText();
    if (parser.isSet(help)) {
        arguments.help = true;
        return arguments;
    }
    if (!parser.positionalArguments().isEmpty())
        throw EBadArguments(QStringLiteral("argumento inesperado: %1").arg(parser.positionalArguments().constFirst()));

    const QString address = required(parser, server);
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const uint port = colon > 0 ? address.mid(colon + 1).toUInt(&portOk) : 0;
    if (!portOk || port == 0 || port > 65535)
        throw EBadArguments(QStringLiteral("--server deve ser HOST:PORTA, não %1").arg(address));
    arguments.host = address.left(colon);
    arguments.port = quint16(port);

    const QString languageId = required(parser, language);
    if (languageId.size() > kLanguageIdSize)
        throw EBadArguments(QStringLiteral("--language tem no máximo %1 caracteres: %2").arg(kLanguageIdSize).arg(languageId));
    arguments.language = singleByte(languageId, QStringLiteral("--language"));

    arguments.sinceText = required(parser, since);
    // Date and time read apart: a wall-clock moment, whatever the time zone's gaps.
    const QString &text = arguments.sinceText;
    const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(text.mid(11), QStringLiteral("HH:mm"));
    if (text.size() != 16 || text.at(10) != QLatin1Char(' ') || !date.isValid() || !time.isValid())
        throw EBadArguments(QStringLiteral("--since deve ser 'AAAA-MM-DD HH:MM' (data e hora válidas), não '%1'").arg(text));
    arguments.since = EncodeDate(date.year(), date.month(), date.day()) + EncodeTime(time.hour(), time.minute());

    if (parser.isSet(all) == parser.isSet(tables))
        throw EBadArguments(QStringLiteral("dê --all ou --tables, um dos dois"));
    arguments.allTables = parser.isSet(all);
    if (!arguments.allTables) {
        const QStringList codes = parser.value(tables).split(QLatin1Char(','));
        for (const QString &given : codes) {
            const QString code = given.trimmed();
            if (code.isEmpty() || code.size() > kTableCodeSize)
                throw EBadArguments(QStringLiteral("--tables: cada código tem de 1 a %1 caracteres: '%2'")
                                        .arg(kTableCodeSize).arg(code));
            arguments.tableList += singleByte(code.leftJustified(kTableCodeSize), QStringLiteral("--tables"));
        }
    }

    QString directory = required(parser, dir);
    if (!directory.endsWith(QLatin1Char(PathDelim)))
        directory += QLatin1Char(PathDelim);
    arguments.directory = singleByte(directory, QStringLiteral("--dir"));
    if (!DirectoryExists(arguments.directory))
        throw EBadArguments(QStringLiteral("o diretório não existe: %1").arg(directory));

    arguments.overwrite = parser.isSet(overwrite);
    if (parser.isSet(timeout)) {
        bool ok = false;
        arguments.timeoutSeconds = parser.value(timeout).toInt(&ok);
        if (!ok || arguments.timeoutSeconds < 1 || arguments.timeoutSeconds > kMaxTimeoutSeconds)
            throw EBadArguments(QStringLiteral("--timeout vai de 1 a %1 segundos").arg(kMaxTimeoutSeconds));
    }
    return arguments;
}
