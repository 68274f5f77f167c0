#include "staticcontrols.h"

#include <QPainter>

TLabel::~TLabel() = default;

TGroupBox::~TGroupBox() = default;

TBevel::TBevel(QWidget *parent)
    : QFrame(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int y = height() - 2;
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, y, width() - 1, y);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(0, y + 1, width() - 1, y + 1);
}

TPanel::TPanel(QWidget *parent)
    : QFrame(parent)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
}

TRadioGroup::TRadioGroup(QWidget *parent)
    : QGroupBox(parent)
{
    setFocusPolicy(Qt::NoFocus);
}

QFont ScreenFont()
{
    QFont font;
    font.setFamilies({ QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial") });
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

QFont OwnBoldFont()
{
    QFont font = ScreenFont();
    font.setBold(true);
    return font;
}

void SetInfoBackground(QWidget *entry)
{
    QPalette palette = entry->palette();
    palette.setColor(QPalette::Base, QColor(clInfoBk));
    entry->setPalette(palette);
}
