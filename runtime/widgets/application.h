#pragma once

#include "runtime/core/export.h"
#include "runtime/widgets/dispatch.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <exception>

// Values of the application-wide cursor.
enum TCursor : int { crDefault = 0, crHourGlass = -11 };

// The application object: main form, application-wide cursor, forms it owns and
// the standard handling of an exception that ended an action.
class QLX_EXPORT TApplication
{
public:
    QWidget *MainForm() const { return m_mainForm; }
    void SetMainForm(QWidget *form) { m_mainForm = form; }

    TCursor Cursor() const { return m_cursor; }
    void SetCursor(TCursor cursor);

    // Creates a form owned by the application. A failing constructor leaves the
    // reference empty and passes out; a failing creation handler is reported and
    // the creation completes.
    template <class TFormClass>
    void CreateForm(TFormClass *&reference)
    {
        reference = nullptr;
        auto *form = new TFormClass();
        reference = form;
        m_forms.append(form);
        form->DoCreate();
    }

    // Shows the message of an exception in the error box.
    void HandleException(const std::exception &failure);

    // Frees every form the application owns; a host does it before unloading a module.
    void FreeOwnedForms();

private:
    QPointer<QWidget> m_mainForm;
    TCursor m_cursor = crDefault;
    QList<QPointer<QWidget>> m_forms;
};

QLX_EXPORT TApplication &Application();
