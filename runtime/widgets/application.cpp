#include "runtime/widgets/application.h"

#include "runtime/core/dialogs.h"
#include "runtime/core/exceptions.h"

#include <QApplication>

void TApplication::SetCursor(TCursor cursor)
{
    if (cursor == m_cursor)
        return;
    m_cursor = cursor;
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    if (cursor == crHourGlass)
        QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TApplication::HandleException(const std::exception &failure)
{
    const auto *known = dynamic_cast<const Exception *>(&failure);
    Dialogs().showException(known ? known->message() : QString::fromLocal8Bit(failure.what()));
}

void TApplication::FreeOwnedForms()
{
    const QList<QPointer<QWidget>> forms = std::exchange(m_forms, {});
    for (const QPointer<QWidget> &form : forms)
        delete form.data();
}

TApplication &Application()
{
    static TApplication *application = [] {
        auto *created = new TApplication;
        // Owned forms go before the widgets' application does.
        qAddPostRoutine([] { Application().FreeOwnedForms(); });
        return created;
    }();
    return *application;
}
