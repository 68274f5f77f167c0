#pragma once

#include "runtime/core/clientdataset.h"

// The declared fields of the three record sets the remote methods fill. The screen
// and the command-line generator declare them alike, as protocol/contract.h gives them.

struct LanguageFields
{
    TField *IDIDIOMA;
    TField *DSIDIOMA;
    TField *IDIPROP;
    TField *DTGERIDITRAD;
};
// The languages, filled by GetIdioma.
LanguageFields DeclareLanguageFields(TClientDataSet &languages);

struct TableFields
{
    TField *IDMARCADO;
    TField *CDPROGTRAD;
};
// The translatable tables, filled by GetTabela.
TableFields DeclareTableFields(TClientDataSet &tables);

// The script lines, filled by GetPropriedCds: the one field LINHA.
TField *DeclareLineField(TClientDataSet &lines);
