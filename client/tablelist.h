#pragma once

#include "hostlib/core/netconnection.h"
#include "runtime/core/clientdataset.h"

// The table list of the all-tables scope: GetTabela with the empty text and "T"
// into `tables`, then every record's code in record order, joined with nothing
// between them. An empty result gives the empty list.
AnsiString AllTablesList(TNetConnection &connection, TClientDataSet &tables, const TField &code);
