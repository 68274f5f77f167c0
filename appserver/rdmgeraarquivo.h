#pragma once

#include "databaseaddress.h"
#include "scriptline.h"

#include <message.h>

#include <QByteArray>
#include <QSqlDatabase>

// The remote object "QLX02600.rdmGeraArquivo": answers one request with the
// encoded response.
class RdmGeraArquivo
{
public:
    static constexpr char kName[] = "QLX02600.rdmGeraArquivo";
    static constexpr int kTableCodeSize = 20;
    static constexpr int kLineLimit = 4000;

    RdmGeraArquivo(QSqlDatabase database, DatabaseAddress::Backend backend, ScriptDialect dialect);
    QByteArray answer(const protocol::Request &request);

private:
    QByteArray getIdioma(const protocol::Request &request);
    QByteArray getTabela(const protocol::Request &request);
    QByteArray getPropriedCds(const protocol::Request &request);

    QSqlDatabase m_database;
    DatabaseAddress::Backend m_backend;
    ScriptDialect m_dialect;
};
