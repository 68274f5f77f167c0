// Any request payload through the server's decoding and dispatch, on a throw-away
// demo database: a malformed request is refused, anything else is answered with a
// response a client can read.
#include <demodatabase.h>
#include <message.h>
#include <protocolerror.h>
#include <rdmgeraarquivo.h>
#include <translationdb.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>

namespace {

RdmGeraArquivo &remoteObject()
{
    static int argc = 1;
    static char name[] = "fuzz_request_dispatch";
    static char *argv[] = { name, nullptr };
    static QCoreApplication application(argc, argv);
    static QTemporaryDir directory;
    static const QString file = directory.filePath(QStringLiteral("demo.db"));
    static const bool created = (createDemoDatabase(file), true);
    static TranslationDb database(file, QStringLiteral("fuzz"));
    static RdmGeraArquivo object(database.database(), database.backend(), ScriptDialect::SQLite);
    Q_UNUSED(created);
    return object;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    RdmGeraArquivo &object = remoteObject();
    protocol::Request request;
    try {
        request = protocol::decodeRequest(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)));
    } catch (const protocol::ProtocolError &) {
        return 0;
    }
    protocol::decodeResponse(object.answer(request)); // throws, and so fails, on an unreadable answer
    return 0;
}
