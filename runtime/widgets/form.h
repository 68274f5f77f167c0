#pragma once

#include "runtime/core/export.h"
#include "runtime/widgets/controlevents.h"

#include <QDialog>
#include <QPointer>

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(QObject *Sender, TCloseAction &Action)>;

enum TWindowState : int { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

// A screen of the runtime: creation, activation and close events, exit events of
// its controls, modal display. Activation is the screen becoming the application's
// active window (each showing); coming back from another application or from a
// window the screen opened is none. A control exits once for every move of the
// focus from it to another control of the form, whatever window was in between.
// Neither fires while a remote call waits (callguard.h).
class QLX_EXPORT TForm : public QDialog
{
    Q_OBJECT

public:
    explicit TForm(QWidget *parent = nullptr);
    ~TForm() override;

    TNotifyEvent OnCreate;
    TNotifyEvent OnActivate;
    TCloseEvent OnClose;

    // Runs the creation handler; called once by TApplication::CreateForm.
    void DoCreate();

    // Shows the form modally with the ordinary pointer; the application-wide
    // cursor is given back when the modal display ends.
    int ShowModal();

    TWindowState WindowState() const;
    void SetWindowState(TWindowState state);

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    bool approveClose();
    void fireExit(QWidget *old, QWidget *now);

    QPointer<QWidget> m_focusHolder; // the control of this form that last had the focus
    bool m_activeBefore = false;
    bool m_closeApproved = false;
    bool m_inExit = false;
};
