#pragma once

#include "runtime/core/ansistring.h"
#include "runtime/widgets/controlevents.h"

#include <QLineEdit>

// A one-line edit holding single-byte text: it takes no character that has no
// Windows-1252 byte, rather than hold a text it would change.
class QLX_EXPORT TEdit : public TWinControl<QLineEdit>
{
public:
    explicit TEdit(QWidget *parent = nullptr);

    AnsiString Text() const;
    // A program's write fires OnChange directly: its exception reaches the writer.
    void SetText(const AnsiString &text);

    // Fires when the text really changes.
    TNotifyEvent OnChange;
};
