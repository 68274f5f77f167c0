#pragma once

#include "appserver/remoteobject/scriptline.h"

#include <QString>
#include <QStringList>

// The rows of GetPropriedCds's query in script order, read through the database's
// own client library: texts in the database's UTF-8 bytes, no copy per value.
class ScriptRows
{
public:
    virtual ~ScriptRows() = default;
    // The next row; its texts stay valid until the next call. False at the end and
    // on a failure, which error() then describes.
    virtual bool next(Translation &row) = 0;
    virtual QString error() const = 0;
};

// What the query asks: one language's translations of the listed tables changed
// at or after a day count.
struct ScriptRowsRequest
{
    QString language;
    double since = 0;
    QStringList tables;
};
