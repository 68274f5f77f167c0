#pragma once

#include "appserver/network/answerstream.h"
#include "appserver/network/clientsession.h"
#include "appserver/remoteobject/queuedanswer.h"
#include "appserver/remoteobject/scriptline.h"
#include "appserver/rows/scriptrows.h"

#include "protocol/contract.h"

#include <QStringList>
#include <memory>

// The script lines of GetPropriedCds, read from the rows as the client takes
// them: parts of about kPartSize bytes, then the final response with the last
// rows, or with the failure that stopped the lines.
class ScriptLineStream : public AnswerStream
{
public:
    // Rows gathered into one part before it is sent.
    static constexpr qsizetype kPartSize = qsizetype(1) << 20;
    // The longest line the script may hold, in bytes.
    static constexpr qsizetype kLineLimit = protocol::contract::kScriptLine.size;
    // What a part's packet is given at once: it ends with the line that took it
    // past kPartSize, composed in the room its texts could take at their widest (a
    // line whose texts could take more grows the packet), with a few bytes of
    // encoding besides.
    static constexpr qsizetype kPartCapacity = kPartSize + kLineLimit + 256;
    // Parts' buffers kept to be written again once the socket has sent them: as
    // many as wait on the socket at most (its limit, and the part that crossed it),
    // those made ahead of the session, and one being written.
    static constexpr qsizetype kBuffersKept =
        ClientSession::kOutgoingLimit / kPartSize + 1 + qsizetype(QueuedAnswer::kMessagesAhead) + 1;

    ScriptLineStream(std::unique_ptr<ScriptRows> rows, ScriptDialect dialect, QStringList refs);
    bool next(QByteArray &frame) override;

private:
    std::unique_ptr<ScriptRows> m_source;
    ScriptDialect m_dialect;
    QStringList m_refs;
    // A buffer of a part sent that nothing holds any more; null when none is.
    QByteArray spentBuffer();
    QList<QByteArray> m_sent; // the parts handed out, shared with the socket
    bool m_done = false;
};
