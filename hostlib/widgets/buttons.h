#pragma once

#include "runtime/widgets/controlevents.h"

#include <QToolButton>

class TDataSource;

// A flat button with a glyph that has a normal and a disabled look. It takes no
// focus, like a speed button.
class QLX_EXPORT TButtonFlat : public QToolButton
{
public:
    explicit TButtonFlat(QWidget *parent = nullptr);
    void SetGlyph(const QIcon &glyph);

    TNotifyEvent OnClick;
};

// The search button that opens a list picker over its data source.
class QLX_EXPORT TBtnPesquisa : public TButtonFlat
{
public:
    explicit TBtnPesquisa(QWidget *parent = nullptr);

    QWidget *Associate = nullptr;
    QString Title;
    TDataSource *DataSource = nullptr;
    QString EmptyError;
};
