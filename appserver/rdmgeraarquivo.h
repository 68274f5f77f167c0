#pragma once

#include "databaseaddress.h"
#include "scriptline.h"

#include <message.h>

#include <QByteArray>
#include <QSqlDatabase>
#include <functional>

// The remote object "QLX02600.rdmGeraArquivo": answers one request with the
// encoded response.
class RdmGeraArquivo
{
public:
    static constexpr char kName[] = "QLX02600.rdmGeraArquivo";
    static constexpr int kTableCodeSize = 20;
    static constexpr int kLineLimit = 4000;

    // A long answer asks this every kClientCheckRows rows whether its client has gone.
    static constexpr int kClientCheckRows = 1024;
    using ClientGone = std::function<bool()>;
    // Thrown by answer() when the client went away while its answer was being built.
    struct Abandoned
    {
    };

    RdmGeraArquivo(QSqlDatabase database, DatabaseAddress::Backend backend, ScriptDialect dialect,
                   ClientGone clientGone = {});
    QByteArray answer(const protocol::Request &request);
    // A failure reported in the result, with the request's by-reference texts as they came.
    static QByteArray failureAnswer(const protocol::Request &request, const QString &message);

private:
    QByteArray getIdioma(const protocol::Request &request);
    QByteArray getTabela(const protocol::Request &request);
    QByteArray getPropriedCds(const protocol::Request &request);

    void checkClient(qint64 row) const;

    QSqlDatabase m_database;
    DatabaseAddress::Backend m_backend;
    ScriptDialect m_dialect;
    ClientGone m_clientGone;
};
