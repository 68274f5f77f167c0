#include "runtime/widgets/staticcontrols.h"

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

void TRadioGroup::paintEvent(QPaintEvent *)
{
    // An etched frame, as TBevel's line, with the caption over its top line.
    constexpr int kCaptionIndent = 8;
    constexpr int kCaptionGap = 2;
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const QRect frame = rect().adjusted(0, metrics.height() / 2, -2, -2);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(frame);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1));
    if (title().isEmpty())
        return;
    const QRect caption(kCaptionIndent, 0, metrics.horizontalAdvance(title()) + 2 * kCaptionGap, metrics.height());
    painter.fillRect(caption, palette().color(backgroundRole()));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter | Qt::TextShowMnemonic, title());
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
