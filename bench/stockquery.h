#pragma once

#include "bench/seeddatabase.h"

#include <QString>
#include <QStringList>

inline QString quotedTableCodes()
{
    QStringList codes;
    for (int i = 1; i <= kTables; ++i)
        codes << QLatin1Char('\'') + tableCode(i) + QLatin1Char('\'');
    return codes.join(QLatin1Char(','));
}

// The server's question in each backend's SQL: the rows of every table since the beginning.
inline QString whereClause(bool postgres)
{
    return QStringLiteral("FROM TRADUCAO WHERE IDIDIOMA = '%1' AND DTALTERACAO >= %2 AND CDPROGTRAD IN (%3) "
                          "ORDER BY CDPROGTRAD, CDCHAVE, NMCAMPO;")
        .arg(QLatin1String(kLanguage), postgres ? QStringLiteral("TIMESTAMP '1899-12-30'") : QStringLiteral("0"),
             quotedTableCodes());
}

// The same lines composed by the database's command-line shell.
inline QString stockQuery(bool postgres)
{
    const QString call = postgres ? QStringLiteral("chr") : QStringLiteral("char");
    const QString quoted = QStringLiteral("'''' || replace(replace(replace(%1, '''', ''''''), CALL(10), ''' || CALL(10) || '''), "
                                          "CALL(13), ''' || CALL(13) || ''') || ''''")
                               .replace(QLatin1String("CALL"), call);
    const QString moment = postgres ? QStringLiteral("'TIMESTAMP ''' || to_char(DTALTERACAO, 'YYYY-MM-DD HH24:MI:SS') || ''''")
                                    : QStringLiteral("DTALTERACAO");
    return QStringLiteral(
               "SELECT 'INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) VALUES (' "
               "|| %1 || ', ' || %2 || ', ' || %3 || ', ' || %4 || ', ' || %5 || ', ' || %6 "
               "|| ') ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) DO UPDATE SET "
               "DSTRADUCAO = excluded.DSTRADUCAO, DTALTERACAO = excluded.DTALTERACAO;' ")
               .arg(quoted.arg(QStringLiteral("CDPROGTRAD")), quoted.arg(QStringLiteral("CDCHAVE")),
                    quoted.arg(QStringLiteral("NMCAMPO")), quoted.arg(QStringLiteral("IDIDIOMA")),
                    quoted.arg(QStringLiteral("DSTRADUCAO")), moment)
        + whereClause(postgres);
}
