#include "form.h"

#include "application.h"
#include "dispatch.h"

#include <QApplication>
#include <QCloseEvent>

TForm::TForm(QWidget *parent)
    : QDialog(parent)
{
    connect(qApp, &QApplication::focusChanged, this, &TForm::fireExit);
}

TForm::~TForm()
{
    // The dialog hides itself once this part is gone: no exit may fire then.
    disconnect(qApp, nullptr, this, nullptr);
}

void TForm::DoCreate()
{
    DispatchEvent([this] {
        if (OnCreate)
            OnCreate(this);
    });
}

int TForm::ShowModal()
{
    const TCursor saved = Application().Cursor();
    Application().SetCursor(crDefault);
    m_closeApproved = false;
    exec();
    Application().SetCursor(saved);
    return result();
}

TWindowState TForm::WindowState() const
{
    if (windowState() & Qt::WindowMinimized)
        return wsMinimized;
    if (windowState() & Qt::WindowMaximized)
        return wsMaximized;
    return wsNormal;
}

void TForm::SetWindowState(TWindowState state)
{
    Qt::WindowStates states = windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == wsMinimized)
        states |= Qt::WindowMinimized;
    else if (state == wsMaximized)
        states |= Qt::WindowMaximized;
    setWindowState(states);
}

bool TForm::event(QEvent *event)
{
    if (event->type() == QEvent::WindowDeactivate) {
        // Leaving for a message box or picker of this form is no real deactivation.
        const QWidget *active = QApplication::activeWindow();
        m_awayInOwnWindow = active && active != this && active->parentWidget()
            && active->parentWidget()->window() == this;
    } else if (event->type() == QEvent::WindowActivate) {
        const bool back = std::exchange(m_awayInOwnWindow, false);
        if (!back) {
            DispatchEvent([this] {
                if (OnActivate)
                    OnActivate(this);
            });
        }
    }
    return QDialog::event(event);
}

bool TForm::approveClose()
{
    if (m_closeApproved)
        return true;
    TCloseAction action = TCloseAction::caHide;
    bool failed = true;
    DispatchEvent([&] {
        if (OnClose)
            OnClose(this, action);
        failed = false;
    });
    if (failed || action == TCloseAction::caNone)
        return false;
    if (action == TCloseAction::caMinimize) {
        SetWindowState(wsMinimized);
        return false;
    }
    m_closeApproved = true;
    return true;
}

void TForm::closeEvent(QCloseEvent *event)
{
    if (!approveClose()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm::reject()
{
    if (approveClose())
        QDialog::reject();
}

void TForm::fireExit(QWidget *old, QWidget *now)
{
    if (!old || !now || old->window() != this || now->window() != this)
        return;
    TWinControlEvents *control = TWinControlEvents::of(old, this);
    if (!control || !control->OnExit)
        return;
    QWidget *widget = control->asWidget();
    if (widget == now || widget->isAncestorOf(now) || m_inExit)
        return;
    // The exit happens before the focus arrives: a handler that puts the focus
    // back does not make the control it was bound for exit too.
    m_inExit = true;
    DispatchEvent([&] { control->OnExit(widget); });
    m_inExit = false;
}
