#include "hostlib/widgets/dateeditplus.h"

#include "hostlib/core/errors.h"

#include "runtime/core/exceptions.h"
#include "runtime/widgets/dispatch.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QStyle>
#include <QToolButton>

namespace {

// The calendar button inside the edit's right border: its width, and the border it leaves.
constexpr int kDropDownWidth = 17;
constexpr int kDropDownBorder = 1;

// The edit mask of the short date format: every letter a required digit.
QString dateMask()
{
    QString mask;
    for (QChar c : FormatSettings().ShortDateFormat)
        mask += c.isLetter() ? QLatin1Char('0') : c;
    return mask + QStringLiteral(";1; ");
}

} // namespace

TDateEditPlus::TDateEditPlus(QWidget *parent)
    : TMaskEdit(dateMask(), parent)
    , m_dropDown(new QToolButton(this))
{
    m_dropDown->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
    m_dropDown->setIconSize(QSize(10, 10));
    m_dropDown->setFocusPolicy(Qt::NoFocus);
    m_dropDown->setAccessibleName(QStringLiteral("Calendário"));
    m_dropDown->setCursor(Qt::ArrowCursor);
    m_dropDown->setAutoRaise(true);
    connect(m_dropDown, &QToolButton::clicked, this, &TDateEditPlus::showCalendar);
    connect(this, &QLineEdit::textChanged, this, &TDateEditPlus::updateLook);
    setTextMargins(0, 0, 16, 0);
}

QDate TDateEditPlus::parsed() const
{
    return QDate::fromString(Ansi::toUnicode(Text()), FormatSettings().ShortDateFormat);
}

TDateTime TDateEditPlus::GetDate() const
{
    const QDate date = parsed();
    if (!date.isValid())
        throw EConvertError(QStringLiteral("'%1' não é uma data válida").arg(Ansi::toUnicode(EditText())));
    return DateFromQt(date);
}

bool TDateEditPlus::IsDateValid() const
{
    return parsed().isValid();
}

void TDateEditPlus::CheckValidDate()
{
    if (Text().empty() || IsDateValid())
        return;
    setFocus();
    MensErro(QStringLiteral("Data inválida: %1").arg(Ansi::toUnicode(EditText())), true);
}

void TDateEditPlus::resizeEvent(QResizeEvent *event)
{
    TMaskEdit::resizeEvent(event);
    m_dropDown->setGeometry(width() - kDropDownWidth - kDropDownBorder, kDropDownBorder, kDropDownWidth,
                            height() - 2 * kDropDownBorder);
}

void TDateEditPlus::showCalendar()
{
    auto *calendar = new QCalendarWidget(this);
    calendar->setWindowFlags(Qt::Popup);
    calendar->setAttribute(Qt::WA_DeleteOnClose);
    if (IsDateValid())
        calendar->setSelectedDate(parsed());
    connect(calendar, &QCalendarWidget::clicked, this, [this, calendar](QDate date) {
        calendar->close();
        DispatchEvent([&] { SetText(Ansi::fromUnicode(date.toString(FormatSettings().ShortDateFormat))); });
    });
    calendar->move(mapToGlobal(QPoint(0, height())));
    calendar->show();
}

void TDateEditPlus::updateLook()
{
    QPalette look = palette();
    const bool valid = IsDateValid();
    look.setColor(QPalette::Text, valid ? ValidDateColor : QApplication::palette().color(QPalette::Text));
    setPalette(look);
    const QDate date = parsed();
    setToolTip(valid && NomeSemana.size() == 7 ? NomeSemana.at(date.dayOfWeek() % 7) : QString());
}
