#pragma once

// A fake of the application server's object, for the screen tests: the languages,
// tables and lines it answers are the test's to set, and it records every call.
#include "tests/support/fakeserver.h"

#include "protocol/datapacket.h"

#include <QThread>

struct FakeAppServer
{
    QList<QPair<QByteArray, QByteArray>> languages { { "EN1", "English" }, { "EN2", "ENGLISH" } };
    QByteArrayList tables { "ABC", "DEF" };
    QByteArrayList lines { "SELECT 1;" };
    QString refSuffix; // appended to every by-reference text it sends back
    QString failing; // a method answered with a failure the server reports
    QString throwing; // a method answered with an exception
    // When set, the lines go in parts of this many before the answer, whatever it is.
    int linesPerPart = 0;
    QString slow;      // a method answered only after slowMs
    int slowMs = 0;
    FakeServer fake { FakeServer::FramesHandler([this](const protocol::Request &request) { return frames(request); }) };

    static protocol::DataPacketWriter linesPacket()
    {
        return protocol::DataPacketWriter({ { QStringLiteral("LINHA"), protocol::FieldKind::String, 4000 } });
    }

    QByteArrayList frames(const protocol::Request &request)
    {
        QByteArrayList answers;
        if (linesPerPart > 0 && request.method == QLatin1String("GetPropriedCds")) {
            for (qsizetype first = 0; first < lines.size(); first += linesPerPart) {
                protocol::DataPacketWriter w = linesPacket();
                for (const QByteArray &line : lines.mid(first, linesPerPart))
                    w.addString(line);
                answers << protocol::encodePart(w.finish());
            }
        }
        if (request.method == slow)
            QThread::msleep(ulong(slowMs));
        answers << answer(request);
        return answers;
    }

    QByteArray answer(const protocol::Request &request)
    {
        using protocol::FieldKind;
        QStringList refs;
        for (const protocol::Argument &argument : request.args) {
            if (argument.kind == protocol::ArgumentKind::StrRef)
                refs << argument.text + refSuffix;
        }
        if (request.method == failing)
            return protocol::encodeFailureResponse(QStringLiteral("Falha informada pelo servidor."), refs);
        if (request.method == throwing)
            return protocol::encodeExceptionResponse(QStringLiteral("EOleException"), QStringLiteral("Falha do servidor."));
        if (request.method == QLatin1String("GetIdioma")) {
            protocol::DataPacketWriter w({ { QStringLiteral("IDIDIOMA"), FieldKind::String, 3 },
                                           { QStringLiteral("DSIDIOMA"), FieldKind::String, 30 },
                                           { QStringLiteral("IDIPROP"), FieldKind::String, 3 },
                                           { QStringLiteral("DTGERIDITRAD"), FieldKind::DateTime, 0 } });
            for (const auto &[id, name] : languages)
                w.addString(id), w.addString(name), w.addNull(), w.addNull();
            return protocol::encodeOkResponse(w.finish(), refs);
        }
        if (request.method == QLatin1String("GetTabela")) {
            protocol::DataPacketWriter w({ { QStringLiteral("IDMARCADO"), FieldKind::String, 1 },
                                           { QStringLiteral("CDPROGTRAD"), FieldKind::String, 20 } });
            for (const QByteArray &table : tables)
                w.addString("N"), w.addString(table.leftJustified(20, ' '));
            return protocol::encodeOkResponse(w.finish(), refs);
        }
        protocol::DataPacketWriter w = linesPacket();
        for (const QByteArray &line : linesPerPart > 0 ? QByteArrayList() : lines)
            w.addString(line);
        return protocol::encodeOkResponse(w.finish(), refs);
    }
};
