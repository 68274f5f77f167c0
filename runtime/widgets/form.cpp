#include "runtime/widgets/form.h"

#include "runtime/widgets/application.h"
#include "runtime/widgets/callguard.h"
#include "runtime/widgets/dispatch.h"

#include <QApplication>
#include <QCloseEvent>
#include <utility>

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
    QPointer<QWidget> owner = QApplication::activeWindow();
    exec();
    // The window manager may have given the focus to the owner while this form
    // blocked it (the form minimised, then closed from a taskbar): Qt then never
    // makes the owner its active window again, and its shortcuts go nowhere.
    if (owner && owner->isVisible() && !QApplication::activeWindow())
        owner->activateWindow();
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
    // Qt restores a minimised native window by mapping it, a hidden one too: the
    // window manager then shows a frame that nothing draws, and the next showing
    // maps nothing new. A hidden form leaves such a window behind for a fresh one.
    if (!isVisible() && (windowState() & Qt::WindowMinimized) && !(states & Qt::WindowMinimized))
        destroy();
    setWindowState(states);
}

bool TForm::event(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Show:
        m_activeBefore = false; // every showing activates
        m_focusHolder = nullptr; // and leaving a hidden screen was no exit
        break;
    case QEvent::WindowDeactivate: {
        // The screen stays the application's active window while the user is in
        // another application (nothing of this one active) or in a window this
        // screen opened (a message box, the picker).
        const QWidget *active = QApplication::activeWindow();
        m_activeBefore = !active || (active != this && active->parentWidget() && active->parentWidget()->window() == this);
        break;
    }
    case QEvent::WindowActivate:
        // Nothing of the screen runs in the middle of a remote call.
        if (!std::exchange(m_activeBefore, false) && !CallWaiting()) {
            DispatchEvent([this] {
                if (OnActivate)
                    OnActivate(this);
            });
        }
        break;
    default:
        break;
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

void TForm::fireExit(QWidget *, QWidget *now)
{
    // Only where the focus arrives counts: a window in between (a message box,
    // another application) neither makes the control exit nor spares its exit.
    if (!now || now->window() != this)
        return;
    // A move in the middle of a remote call is none: the control that had the
    // focus exits when the focus moves on from where it is after the call.
    if (CallWaiting())
        return;
    QWidget *left = std::exchange(m_focusHolder, now);
    if (m_inExit || !left || left == now)
        return;
    TWinControlEvents *control = TWinControlEvents::of(left, this);
    if (!control || !control->OnExit)
        return;
    QWidget *widget = control->asWidget();
    if (widget == now || widget->isAncestorOf(now))
        return;
    // The exit happens before the focus arrives: a handler that puts the focus
    // back does not make the control it was bound for exit too, also when the
    // focus gets there only once this window is active again.
    m_inExit = true;
    DispatchEvent([&] { control->OnExit(widget); });
    m_inExit = false;
    if (QWidget *kept = focusWidget())
        m_focusHolder = kept;
}
