#pragma once

#include "appserver/database/databaseaddress.h"
#include "appserver/log/auditlog.h"
#include "appserver/network/answerstream.h"
#include "appserver/remoteobject/scriptline.h"

#include "protocol/message.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <functional>
#include <memory>

// The remote object of one session (protocol/contract.h names it and its methods):
// answers one request at a time, large answers as a stream of frames.
class RdmGeraArquivo
{
public:
    // A long answer asks this before each of its messages whether its client has gone.
    using ClientGone = std::function<bool()>;
    // Thrown while an answer is produced when its client went away.
    struct Abandoned
    {
    };

    RdmGeraArquivo(QSqlDatabase database, DatabaseAddress::Backend backend, ScriptDialect dialect,
                   ClientGone clientGone = {});
    // The answer to `request`, with what the audit trail keeps of the call in `call`.
    // A statement that fails for a lost connection reopens it and the call is tried
    // once more; any other failure, or a second one, is answered EDatabaseError with a
    // reference number.
    std::unique_ptr<AnswerStream> answer(const protocol::Request &request, AuditLog::Call *call = nullptr);
    // A failure reported in the result, with the request's by-reference texts as they came.
    static QByteArray failureAnswer(const protocol::Request &request, const QString &message);

private:
    // Opens the lost connection anew and answers the request again; `reason` is the
    // failure that lost it, for the log.
    std::unique_ptr<AnswerStream> reopenAndRetry(const protocol::Request &request, AuditLog::Call &call,
                                                 const QString &reason);
    std::unique_ptr<AnswerStream> dispatch(const protocol::Request &request, AuditLog::Call &call);
    std::unique_ptr<AnswerStream> getIdioma(const protocol::Request &request);
    std::unique_ptr<AnswerStream> getTabela(const protocol::Request &request, AuditLog::Call &call);
    std::unique_ptr<AnswerStream> getPropriedCds(const protocol::Request &request, AuditLog::Call &call);

    QSqlDatabase m_database;
    DatabaseAddress::Backend m_backend;
    ScriptDialect m_dialect;
    ClientGone m_clientGone;
};
