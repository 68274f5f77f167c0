#pragma once

#include "appserver/network/answerstream.h"
#include "appserver/remoteobject/scriptline.h"
#include "appserver/rows/scriptrows.h"

#include "protocol/contract.h"

#include <QStringList>
#include <functional>
#include <memory>

// The script lines of GetPropriedCds, read from the rows as the client takes
// them: parts of about kPartSize bytes, then the final response with the last
// rows, or with the failure that stopped the lines. Every kClientCheckRows rows
// it asks whether the client has gone, and throws RdmGeraArquivo::Abandoned if so.
class ScriptLineStream : public AnswerStream
{
public:
    // Rows gathered into one part before it is sent.
    static constexpr qsizetype kPartSize = qsizetype(1) << 20;
    // The longest line the script may hold, in bytes.
    static constexpr qsizetype kLineLimit = protocol::contract::kScriptLine.size;
    // What a part's packet may take: it ends with the line that took it past
    // kPartSize, and a line's value has a few bytes of encoding besides.
    static constexpr qsizetype kPartCapacity = kPartSize + kLineLimit + 256;

    ScriptLineStream(std::unique_ptr<ScriptRows> rows, ScriptDialect dialect, QStringList refs,
                     std::function<bool()> clientGone);
    bool next(QByteArray &payload) override;

private:
    std::unique_ptr<ScriptRows> m_source;
    ScriptDialect m_dialect;
    QStringList m_refs;
    std::function<bool()> m_clientGone;
    QByteArray m_line;
    qint64 m_rowsRead = 0;
    bool m_done = false;
};
