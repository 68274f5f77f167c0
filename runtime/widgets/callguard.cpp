#include "runtime/widgets/callguard.h"

#include "runtime/core/callwait.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QWidget>

namespace {

constexpr char kLiveProperty[] = "qlxLiveDuringCalls";

bool isUserInput(QEvent::Type type)
{
    switch (type) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::NonClientAreaMouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
    case QEvent::TabletMove:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

class CallGuard : public QObject
{
public:
    void enter()
    {
        // A program without widgets (the application only a QCoreApplication) has no
        // window to hold.
        if (m_depth++ > 0 || !qobject_cast<QApplication *>(QCoreApplication::instance()))
            return;
        m_held.clear();
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && !window->property(kLiveProperty).toBool())
                m_held.append(window);
        }
        QCoreApplication::instance()->installEventFilter(this);
    }

    void leave()
    {
        if (m_depth == 0 || --m_depth > 0)
            return;
        if (QCoreApplication *application = QCoreApplication::instance())
            application->removeEventFilter(this);
        m_held.clear();
    }

    bool waiting() const { return m_depth > 0; }

    void keepLive(QWidget *window) { m_live = window; }

protected:
    bool eventFilter(QObject *receiver, QEvent *event) override
    {
        auto *widget = qobject_cast<QWidget *>(receiver);
        if (!widget || !isHeld(widget->window()))
            return false;
        if (event->type() == QEvent::Close) {
            if (!event->spontaneous())
                return false; // the program's own closing
            event->ignore();
            return true;
        }
        if (!isUserInput(event->type()))
            return false;
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            event->accept(); // taken as a plain key: no shortcut fires
            break;
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
            if (m_live && m_live->isVisible())
                QCoreApplication::sendEvent(m_live, event);
            break;
        default:
            break;
        }
        return true;
    }

private:
    bool isHeld(QWidget *window) const
    {
        for (const QPointer<QWidget> &held : m_held) {
            if (held == window)
                return true;
        }
        return false;
    }

    int m_depth = 0;
    QList<QPointer<QWidget>> m_held;
    QPointer<QWidget> m_live;
};

CallGuard &guard()
{
    static CallGuard *instance = new CallGuard; // lives as long as the program
    return *instance;
}

// Loading the widgets runtime puts the guard around every remote call.
struct GuardAroundCalls
{
    static void enter() { guard().enter(); }
    static void leave() { guard().leave(); }
    GuardAroundCalls() { AddCallWaitHooks({ enter, leave }); }
    ~GuardAroundCalls() { RemoveCallWaitHooks({ enter, leave }); }
} guardAroundCalls;

} // namespace

void KeepLiveDuringCalls(QWidget *window)
{
    window->setProperty(kLiveProperty, true);
    guard().keepLive(window);
}

bool CallWaiting()
{
    return guard().waiting();
}
