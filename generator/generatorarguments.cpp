#include "generator/generatorarguments.h"

#include "client/scriptfile.h"
#include "hostlib/core/answerlimit.h"
#include "hostlib/core/serveraddress.h"
#include "hostlib/core/servertimeout.h"
#include "hostlib/core/tlssetting.h"
#include "protocol/contract.h"
#include "runtime/core/filesystem.h"
#include "runtime/core/socketconnection.h"

#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTime>

namespace {

// The help's column where the options' descriptions begin.
constexpr qsizetype kHelpColumn = 30;

const QString kStandardOutput = QStringLiteral("-");

QString required(const QCommandLineParser &parser, const QCommandLineOption &option)
{
    const QString value = parser.value(option).trimmed();
    if (value.isEmpty())
        throw EBadArguments(QStringLiteral("falta --%1").arg(option.names().constLast()));
    return value;
}

AnsiString singleByte(const QString &text, const QString &what)
{
    if (!Ansi::representable(text))
        throw EBadArguments(QStringLiteral("%1 tem caracteres fora do Windows-1252: %2").arg(what, text));
    return Ansi::fromUnicode(text);
}

// The parser's own messages are in English: said again in Portuguese.
QString parseFailure(const QCommandLineParser &parser)
{
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().constFirst();
        return QStringLiteral("opção desconhecida: %1%2").arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    }
    const QString error = parser.errorText();
    const QString option = QRegularExpression(QStringLiteral("'([^']*)'")).match(error).captured(1);
    if (error.startsWith(QLatin1String("Missing value")))
        return QStringLiteral("falta o valor de %1").arg(option);
    if (error.startsWith(QLatin1String("Unexpected value")))
        return QStringLiteral("%1 não leva valor").arg(option);
    return error;
}

QString usage(const QList<QCommandLineOption> &options)
{
    QString text = QStringLiteral(
        "Uso: qlx02600-gen [opções]\n"
        "Gera o arquivo de tradução das tabelas (TRD_<ano><mês><dia>.sql) sem tela.\n\n"
        "Opções:\n");
    for (const QCommandLineOption &option : options) {
        QStringList names;
        for (const QString &name : option.names())
            names << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
        QString head = QStringLiteral("  ") + names.join(QStringLiteral(", "));
        if (!option.valueName().isEmpty())
            head += QLatin1Char(' ') + option.valueName();
        const QStringList lines = option.description().split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const QString lead = i == 0 ? head : QString();
            text += lead.size() < kHelpColumn ? lead.leftJustified(kHelpColumn) : lead + QLatin1Char('\n') + QString(kHelpColumn, QLatin1Char(' '));
            text += lines.at(i) + QLatin1Char('\n');
        }
    }
    text += QStringLiteral(
        "\nO servidor e a espera também vêm de QLX_SERVER e QLX_TIMEOUT, o limite de memória de\n"
        "QLX_ANSWER_LIMIT_MIB, ou das chaves server, timeout e answer-limit-mib de %1.\n\n"
        "Códigos de saída: 0 gravado, 1 nada a gravar, 2 argumentos inválidos (ou idioma ou tabela que o\n"
        "servidor não tem), 3 falha do servidor, 4 falha do arquivo ou da saída padrão,\n"
        "5 arquivo existente mantido.\n").arg(ServerSettingsFile());
    return text;
}

// Reads a host setting's value, a malformed one refused as an argument.
template <typename Read>
auto setting(Read read)
{
    try {
        return read();
    } catch (const Exception &malformed) {
        throw EBadArguments(malformed.message());
    }
}

} // namespace

AnsiString GeneratorArguments::filePath(TDateTime start) const
{
    return output.empty() ? directory + ScriptFileName(start) : output;
}

GeneratorArguments GeneratorArguments::parse(const QStringList &commandLine)
{
    QCommandLineParser parser;
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("Mostra esta ajuda."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Mostra a versão."));
    const QCommandLineOption server(QStringLiteral("server"),
        QStringLiteral("Servidor de aplicação (padrão 127.0.0.1, porta %1); vários separados por vírgulas,\n"
                       "tentados em ordem.").arg(kDefaultServerPort),
        QStringLiteral("HOST[:PORTA],..."));
    const QCommandLineOption language(QStringLiteral("language"), QStringLiteral("Identificador do idioma (IDIDIOMA)."),
                                      QStringLiteral("ID"));
    const QCommandLineOption since(QStringLiteral("since"), QStringLiteral("Itens alterados a partir de."),
                                   QStringLiteral("'AAAA-MM-DD HH:MM'"));
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Todas as tabelas."));
    const QCommandLineOption tables(QStringLiteral("tables"), QStringLiteral("As tabelas da lista, separadas por vírgula."),
                                    QStringLiteral("CODIGO,..."));
    const QCommandLineOption dir(QStringLiteral("dir"),
                                 QStringLiteral("Grava TRD_<ano><mês><dia>.sql neste diretório (deve existir)."),
                                 QStringLiteral("DIRETORIO"));
    const QCommandLineOption output({ QStringLiteral("o"), QStringLiteral("output") },
                                    QStringLiteral("Grava neste arquivo, ou na saída padrão com -."), QStringLiteral("ARQUIVO|-"));
    const QCommandLineOption overwrite(QStringLiteral("overwrite"), QStringLiteral("Substitui um arquivo já existente."));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
        QStringLiteral("Confere tudo, conecta e conta as linhas que o servidor mandaria;\n"
                       "não grava nada. Mostra a contagem na saída padrão."));
    const QCommandLineOption quiet({ QStringLiteral("q"), QStringLiteral("quiet") },
                                   QStringLiteral("Nada de progresso nem avisos; só os erros."));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
        QStringLiteral("Espera máxima pelo servidor, em segundos (padrão %1, até %2).")
            .arg(kDefaultTimeoutSeconds).arg(kLongestTimeoutSeconds),
        QStringLiteral("SEGUNDOS"));
    const QCommandLineOption tlsCa(QStringLiteral("tls-ca"),
        QStringLiteral("Conecta com TLS, confiando só no servidor cujo certificado esta autoridade PEM assinou\n"
                       "(senão QLX_TLS_CA, senão tls-ca= do arquivo de configuração)."), QStringLiteral("PEM"));
    const QCommandLineOption tlsCert(QStringLiteral("tls-cert"),
        QStringLiteral("Certificado PEM deste cliente, para um servidor que o exija\n(senão QLX_TLS_CERT, senão tls-cert=)."),
        QStringLiteral("PEM"));
    const QCommandLineOption tlsKey(QStringLiteral("tls-key"),
        QStringLiteral("Chave PEM sem senha de --tls-cert (senão QLX_TLS_KEY, senão tls-key=)."), QStringLiteral("PEM"));
    const QList<QCommandLineOption> options { help, version, server, language, since, all, tables, dir, output,
                                              overwrite, dryRun, quiet, timeout, tlsCa, tlsCert, tlsKey };
    parser.addOptions(options);

    GeneratorArguments arguments;
    arguments.helpText = usage(options);
    if (!parser.parse(commandLine))
        throw EBadArguments(parseFailure(parser));
    arguments.help = parser.isSet(help);
    arguments.version = parser.isSet(version);
    if (arguments.help || arguments.version)
        return arguments;
    if (!parser.positionalArguments().isEmpty())
        throw EBadArguments(QStringLiteral("argumento inesperado: %1").arg(parser.positionalArguments().constFirst()));

    SetServerAddressOption(parser.value(server));
    setting(ConfiguredServerAddresses);
    SetTimeoutOption(parser.value(timeout));
    arguments.timeoutSeconds = setting(ServerTimeout);
    arguments.answerLimit = setting(AnswerMemoryLimit);
    SetTlsOptions(parser.value(tlsCa), parser.value(tlsCert), parser.value(tlsKey));
    arguments.tls = setting(ConfiguredTls);
    if (arguments.tls.Enabled()) // its files read and checked now: a bad one is a bad setting, not the server's fault
        setting([&arguments] { ReadTlsFiles(arguments.tls); });

    const QString languageId = required(parser, language);
    if (languageId.size() > protocol::contract::kLanguageId.size)
        throw EBadArguments(QStringLiteral("--language tem no máximo %1 caracteres: %2").arg(protocol::contract::kLanguageId.size).arg(languageId));
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
            if (code.isEmpty() || code.size() > protocol::contract::kTableCode.size)
                throw EBadArguments(QStringLiteral("--tables: cada código tem de 1 a %1 caracteres: '%2'")
                                        .arg(protocol::contract::kTableCode.size).arg(code));
            arguments.tableList += singleByte(code.leftJustified(protocol::contract::kTableCode.size), QStringLiteral("--tables"));
        }
    }

    if (parser.isSet(dir) == parser.isSet(output))
        throw EBadArguments(QStringLiteral("dê --dir ou --output, um dos dois"));
    if (parser.isSet(dir)) {
        QString directory = required(parser, dir);
        if (!directory.endsWith(QLatin1Char(PathDelim)))
            directory += QLatin1Char(PathDelim);
        arguments.directory = singleByte(directory, QStringLiteral("--dir"));
        if (!DirectoryExists(arguments.directory))
            throw EBadArguments(QStringLiteral("o diretório não existe: %1").arg(directory));
    } else if (const QString file = required(parser, output); file == kStandardOutput) {
        arguments.toStandardOutput = true;
    } else {
        arguments.output = singleByte(file, QStringLiteral("--output"));
        const QFileInfo info(file);
        if (!info.absoluteDir().exists())
            throw EBadArguments(QStringLiteral("o diretório não existe: %1").arg(info.absolutePath()));
        if (info.isDir())
            throw EBadArguments(QStringLiteral("--output é um diretório (use --dir): %1").arg(file));
    }

    arguments.overwrite = parser.isSet(overwrite);
    arguments.dryRun = parser.isSet(dryRun);
    arguments.quiet = parser.isSet(quiet);
    return arguments;
}
