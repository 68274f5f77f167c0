#pragma once

#include "runtime/core/ansistring.h"
#include "runtime/widgets/controlevents.h"

#include <QLineEdit>

// An edit with an input mask of the runtime's form "mask;save-literals;blank",
// for instance "99:99;0; ": '9' an optional digit, '0' a required digit, any
// other character a literal. With save-literals 0 the text leaves the literals out.
class QLX_EXPORT TMaskEdit : public TWinControl<QLineEdit>
{
public:
    TMaskEdit(const QString &editMask, QWidget *parent = nullptr);

    // The entered characters (without literals unless they are saved), a blank
    // position as a blank, trailing blanks dropped; untouched, the empty text.
    AnsiString Text() const;
    // The displayed text, literals and blank positions included.
    AnsiString EditText() const;
    // A program's write fires OnChange directly: its exception reaches the writer.
    void SetText(const AnsiString &text);

    // Fires when the displayed text really changes, by the user or the program.
    TNotifyEvent OnChange;

private:
    QString m_mask; // one character a position, literals included
    bool m_saveLiterals = true;
    QChar m_blank = QLatin1Char(' ');
    QString m_changeSeen; // the displayed text when OnChange last had its say

    bool isLiteral(qsizetype position) const;
    bool textChangedSinceSeen();
};
