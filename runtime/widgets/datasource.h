#pragma once

#include "runtime/core/export.h"

class TClientDataSet;

// Links a record set to the controls and pickers that show it.
class QLX_EXPORT TDataSource
{
public:
    explicit TDataSource(TClientDataSet *dataSet = nullptr)
        : DataSet(dataSet)
    {
    }
    TClientDataSet *DataSet;
};
