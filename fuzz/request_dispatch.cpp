// Any request payload through the server's decoding and dispatch, on a throw-away
// demo database: a malformed request is refused, anything else is answered with
// parts and a last response that a client can read.
#include "appserver/database/demodatabase.h"
#include "appserver/database/translationdb.h"
#include "appserver/remoteobject/rdmgeraarquivo.h"
#include "protocol/message.h"
#include "protocol/protocolerror.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdint>
#include <memory>
#include <stdexcept>

namespace {

RdmGeraArquivo &remoteObject()
{
    static int argc = 1;
    static char name[] = "fuzz_request_dispatch";
    static char *argv[] = { name, nullptr };
    static QCoreApplication application(argc, argv);
    static QTemporaryDir directory;
    static const QString file = directory.filePath(QStringLiteral("demo.db"));
    static const bool created = (createDemoDatabase(file, false), true);
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
    // Throws, and so fails, on an unreadable answer or anything after its response.
    const std::unique_ptr<AnswerStream> answer = object.answer(request);
    protocol::DataPacketDiscard rows;
    QByteArray payload;
    bool answered = false;
    while (answer->next(payload)) {
        payload.remove(0, protocol::kFrameHeaderSize); // the frame's header
        if (answered)
            throw std::logic_error("a message after the response");
        answered = !protocol::readPart(payload, rows);
        if (answered)
            protocol::decodeResponse(payload);
    }
    if (!answered)
        throw std::logic_error("an answer without its response");
    return 0;
}
