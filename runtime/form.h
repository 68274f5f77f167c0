#pragma once

#include "controlevents.h"
#include "export.h"

#include <QDialog>

enum class TCloseAction { caNone, caHide, caFree, caMinimize };
using TCloseEvent = std::function<void(QObject *Sender, TCloseAction &Action)>;

enum TWindowState : int { wsNormal = 0, wsMinimized = 1, wsMaximized = 2 };

// A screen of the runtime: creation, activation and close events, exit events of
// its controls, modal display.
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

    bool m_awayInOwnWindow = false;
    bool m_closeApproved = false;
    bool m_inExit = false;
};
