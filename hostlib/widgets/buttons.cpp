#include "hostlib/widgets/buttons.h"

#include "runtime/widgets/dispatch.h"

#include <QStyle>

TButtonFlat::TButtonFlat(QWidget *parent)
    : QToolButton(parent)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setIconSize(QSize(16, 16));
    connect(this, &QToolButton::clicked, this, [this] {
        if (OnClick)
            DispatchEvent([this] { OnClick(this); });
    });
}

void TButtonFlat::SetGlyph(const QIcon &glyph)
{
    setIcon(glyph); // QIcon derives the disabled look from the normal image
}

TBtnPesquisa::TBtnPesquisa(QWidget *parent)
    : TButtonFlat(parent)
{
    SetGlyph(style()->standardIcon(QStyle::SP_FileDialogContentsView));
}
