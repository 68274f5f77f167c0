#pragma once

#include "answerstream.h"
#include "auditlog.h"
#include "databaseaddress.h"
#include "scriptline.h"

#include <message.h>

#include <QByteArray>
#include <QSqlDatabase>
#include <functional>
#include <memory>

// The remote object "QLX02600.rdmGeraArquivo" of one session: answers one
// request at a time, large answers as a stream of frames.
class RdmGeraArquivo
{
public:
    static constexpr char kName[] = "QLX02600.rdmGeraArquivo";
    static constexpr int kTableCodeSize = 20;

    // A long answer asks this every kClientCheckRows rows whether its client has gone.
    static constexpr int kClientCheckRows = 1024;
    using ClientGone = std::function<bool()>;
    // Thrown while an answer is produced when its client went away.
    struct Abandoned
    {
    };

    RdmGeraArquivo(QSqlDatabase database, DatabaseAddress::Backend backend, ScriptDialect dialect,
                   ClientGone clientGone = {});
    // The answer to `request`, with what the audit trail keeps of the call in `call`.
    // A statement that fails reopens the database connection and the call is tried
    // once more; a second failure is answered EDatabaseError with a reference number.
    std::unique_ptr<AnswerStream> answer(const protocol::Request &request, AuditLog::Call *call = nullptr);
    // A failure reported in the result, with the request's by-reference texts as they came.
    static QByteArray failureAnswer(const protocol::Request &request, const QString &message);

private:
    std::unique_ptr<AnswerStream> dispatch(const protocol::Request &request, AuditLog::Call &call);
    std::unique_ptr<AnswerStream> getIdioma(const protocol::Request &request);
    std::unique_ptr<AnswerStream> getTabela(const protocol::Request &request, AuditLog::Call &call);
    std::unique_ptr<AnswerStream> getPropriedCds(const protocol::Request &request, AuditLog::Call &call);

    QSqlDatabase m_database;
    DatabaseAddress::Backend m_backend;
    ScriptDialect m_dialect;
    ClientGone m_clientGone;
};
