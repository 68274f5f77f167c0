#pragma once

#include "runtime/core/datetime.h"
#include "runtime/widgets/maskedit.h"

#include <QStringList>

class QToolButton;

// A masked date edit in the user's short date format, with a calendar drop-down.
// Its text is empty while no date is entered.
class QLX_EXPORT TDateEditPlus : public TMaskEdit
{
public:
    explicit TDateEditPlus(QWidget *parent = nullptr);

    // The date as a whole day; raises a conversion error for an invalid text.
    TDateTime GetDate() const;
    bool IsDateValid() const;
    // The control's own check, run on exit: an invalid date is reported and the
    // focus stays in the field.
    void CheckValidDate();

    QColor ValidDateColor = Qt::blue;
    QStringList NomeSemana; // weekday names, Sunday first
    bool SaveTime = false;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QDate parsed() const;
    void showCalendar();
    void updateLook();

    QToolButton *m_dropDown;
};
