#pragma once

#include "client/remotecall.h"

// The three methods of the remote object (protocol/contract.h names it).

// The languages, into cdsIdiomaOri.
void GetIdioma(TNetConnection &connection, TClientDataSet &languages);
// The translatable tables of a list (or of every table with scope "T"), into cdsTabelas.
void GetTabela(TNetConnection &connection, TRemoteArg tableList, const AnsiString &scope, TClientDataSet &tables);
// The script lines of the listed tables in a language, changed since a moment,
// into cdsLinha. The table list travels by reference.
void GetPropriedCds(TNetConnection &connection, const AnsiString &language, AnsiString &tableList,
                    TDateTime since, TClientDataSet &lines, const TRecordsProgress &progress = {});
