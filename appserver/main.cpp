// qlx02600-server: the reference application server of the object
// "QLX02600.rdmGeraArquivo", on a SQLite database.
#include "appserver.h"
#include "translationdb.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qlx02600-server"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Application server of QLX02600.rdmGeraArquivo."));
    parser.addHelpOption();
    const QCommandLineOption dbOption(QStringLiteral("db"), QStringLiteral("SQLite database file."), QStringLiteral("FILE"));
    const QCommandLineOption listenOption(QStringLiteral("listen"),
        QStringLiteral("Address to listen on (default 127.0.0.1:21102; port 0 picks a free one)."), QStringLiteral("HOST:PORT"),
        QStringLiteral("127.0.0.1:21102"));
    const QCommandLineOption demoOption(QStringLiteral("init-demo"),
        QStringLiteral("Create a demo database in FILE and exit."), QStringLiteral("FILE"));
    parser.addOptions({ dbOption, listenOption, demoOption });
    parser.process(app);
    QTextStream out(stdout);
    QTextStream err(stderr);

    try {
        if (parser.isSet(demoOption)) {
            TranslationDb::createDemo(parser.value(demoOption));
            out << "demo database: " << parser.value(demoOption) << Qt::endl;
            return 0;
        }
        if (!parser.isSet(dbOption)) {
            err << "--db FILE is required" << Qt::endl;
            return 2;
        }
        TranslationDb check(parser.value(dbOption), QStringLiteral("startup"));
    } catch (const std::exception &failure) {
        err << failure.what() << Qt::endl;
        return 1;
    }

    const QString listen = parser.value(listenOption);
    const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
    const QHostAddress address(colon < 0 ? listen : listen.left(colon));
    const quint16 port = colon < 0 ? 21102 : listen.mid(colon + 1).toUShort();
    AppServer server(parser.value(dbOption));
    if (address.isNull() || !server.listen(address, port)) {
        err << "cannot listen on " << listen << ": " << server.errorString() << Qt::endl;
        return 1;
    }
    out << "listening on " << server.serverAddress().toString() << ':' << server.serverPort() << Qt::endl;
    return QCoreApplication::exec();
}
