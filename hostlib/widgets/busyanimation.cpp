#include "hostlib/widgets/busyanimation.h"

#include "hostlib/core/receivedlines.h"
#include "runtime/core/callwait.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/callguard.h"
#include "runtime/widgets/dispatch.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>
#include <memory>
#include <utility>

namespace {

QString captionOf(int kind)
{
    // Kind 6 is the one the screens use while they wait for the server.
    return kind == kAviServerQuery ? QStringLiteral("Aguarde, consultando o servidor...") : QStringLiteral("Aguarde...");
}

// The count is drawn at most this often (milliseconds): every drawing waits for the
// display server's answer, and the parts of a long fetch come far faster than that.
constexpr int kCountDrawInterval = 100;

class BusyWindow : public QFrame
{
public:
    BusyWindow(QWidget *opener, int kind)
        : QFrame(opener, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
        , m_kindCaption(captionOf(kind))
    {
        setObjectName(QStringLiteral("busyWindow"));
        setAccessibleName(captionOf(kind)); // a screen reader names the window by what it says
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFrameStyle(QFrame::Box | QFrame::Raised);
        setLineWidth(2);
        auto *layout = new QVBoxLayout(this);
        m_caption = new QLabel(m_kindCaption, this);
        m_caption->setObjectName(QStringLiteral("caption"));
        layout->addWidget(m_caption);
        m_count = new QLabel(this);
        m_count->setObjectName(QStringLiteral("progress"));
        // Room for any count: the window keeps its size and place as it grows.
        m_count->setMinimumWidth(m_count->fontMetrics().horizontalAdvance(ReceivedLinesText(999'999'999)));
        m_count->hide();
        layout->addWidget(m_count);
        auto *bar = new QProgressBar(this);
        bar->setRange(0, 0); // no end known: the bar keeps moving
        bar->setTextVisible(false);
        layout->addWidget(bar);
        m_cancelButton = new QPushButton(QStringLiteral("Cancelar"), this);
        m_cancelButton->setObjectName(QStringLiteral("cancel"));
        m_cancelButton->setFocusPolicy(Qt::NoFocus);
        m_cancelButton->hide();
        layout->addWidget(m_cancelButton, 0, Qt::AlignHCenter);
        connect(m_cancelButton, &QPushButton::clicked, this, [this] { runCancel(); });
        m_countPause.setSingleShot(true);
        m_countPause.setInterval(kCountDrawInterval);
        connect(&m_countPause, &QTimer::timeout, this, [this] {
            if (m_pendingCount >= 0)
                showCount(std::exchange(m_pendingCount, -1));
        });
    }

    // The first count shows at once; those that follow within the pause wait for
    // its end, when the latest of them shows.
    void showCount(qint64 records)
    {
        if (m_countPause.isActive()) {
            m_pendingCount = records;
            return;
        }
        m_countPause.start();
        // A label with no accessible name of its own announces each new text as a
        // change of its name: a screen reader hears the count grow.
        m_count->setText(ReceivedLinesText(records));
        m_caption->setText(m_kindCaption);
        if (m_count->isHidden()) {
            m_count->show();
            placeCentred();
        }
    }

    void showReconnecting(const QString &server)
    {
        m_caption->setText(QStringLiteral("reconectando a %1...").arg(server));
        m_count->hide(); // the records start over
        m_countPause.stop();
        m_pendingCount = -1;
        placeCentred();
    }

    void offerCancel(std::function<void()> cancel)
    {
        m_cancel = std::move(cancel);
        m_cancelButton->setVisible(bool(m_cancel));
        placeCentred();
    }

    void placeCentred()
    {
        adjustSize();
        const QWidget *opener = parentWidget();
        QRect over;
        if (opener && opener->isVisible())
            over = opener->frameGeometry();
        else if (const QScreen *screen = opener ? opener->screen() : QGuiApplication::primaryScreen())
            over = screen->availableGeometry();
        move(over.center() - rect().center());
    }

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_Escape && m_cancel) {
            runCancel();
            return;
        }
        QFrame::keyPressEvent(event);
    }

private:
    void runCancel()
    {
        // The handler may outlive this window (the call can end meanwhile): run a copy.
        const std::function<void()> cancel = m_cancel;
        if (!cancel)
            return;
        // The question it asks goes over this window, which otherwise stays above
        // every window of the desktop and would cover it.
        const QPointer<BusyWindow> self(this);
        keepAbove(false);
        DispatchEvent(cancel);
        if (self)
            self->keepAbove(true);
    }

    void keepAbove(bool above)
    {
        if (QWindow *window = windowHandle())
            window->setFlag(Qt::WindowStaysOnTopHint, above);
    }

    const QString m_kindCaption;
    QLabel *m_caption = nullptr;
    QLabel *m_count = nullptr;
    QPushButton *m_cancelButton = nullptr;
    std::function<void()> m_cancel;
    QTimer m_countPause; // since the count was last drawn
    qint64 m_pendingCount = -1; // arrived during the pause; -1 for none
};

QPointer<BusyWindow> busyWindow;
std::function<void()> standingCancel; // see TCancellableWaits

// A remote call that waits longer than kBusyAfterMs with no busy window up (a connect,
// the tables of a Confirmar or of the picker) puts one up until it ends, so that a
// screen that ignores its input never looks idle.
class BusyDuringLongWaits
{
public:
    BusyDuringLongWaits() { AddCallWaitHooks({ enter, leave }); }
    ~BusyDuringLongWaits() { RemoveCallWaitHooks({ enter, leave }); }

private:
    static BusyDuringLongWaits &self();
    static void enter();
    static void leave();
    void showIfStillWaiting();

    int m_depth = 0;
    std::unique_ptr<QTimer> m_timer; // while the outermost call waits
    QPointer<BusyWindow> m_shown;    // the window this put up
};

BusyDuringLongWaits busyDuringLongWaits;

BusyDuringLongWaits &BusyDuringLongWaits::self()
{
    return busyDuringLongWaits;
}

void BusyDuringLongWaits::enter()
{
    BusyDuringLongWaits &waits = self();
    if (waits.m_depth++ > 0 || !qobject_cast<QApplication *>(QCoreApplication::instance()))
        return;
    waits.m_timer = std::make_unique<QTimer>();
    waits.m_timer->setSingleShot(true);
    QObject::connect(waits.m_timer.get(), &QTimer::timeout, [] { self().showIfStillWaiting(); });
    waits.m_timer->start(kBusyAfterMs);
}

void BusyDuringLongWaits::leave()
{
    BusyDuringLongWaits &waits = self();
    if (--waits.m_depth > 0)
        return;
    waits.m_timer.reset();
    if (waits.m_shown && waits.m_shown == busyWindow)
        DeactiveShowAvi();
    waits.m_shown.clear();
}

void BusyDuringLongWaits::showIfStillWaiting()
{
    if (m_depth == 0 || ShowAviVisible())
        return;
    ActiveShowAvi(Application().MainForm(), kAviServerQuery);
    m_shown = busyWindow;
}

} // namespace

void ActiveShowAvi(QWidget *owner, int kind)
{
    DeactiveShowAvi();
    QWidget *opener = QApplication::activeModalWidget();
    auto *window = new BusyWindow(opener ? opener : owner, kind);
    window->placeCentred();
    KeepLiveDuringCalls(window);
    if (standingCancel)
        window->offerCancel(standingCancel);
    window->show();
    busyWindow = window;
}

void ShowAviProgress(qint64 records)
{
    if (busyWindow)
        busyWindow->showCount(records);
}

void ShowAviReconnecting(const QString &server)
{
    if (busyWindow)
        busyWindow->showReconnecting(server);
}

void ShowAviCancel(std::function<void()> cancel)
{
    if (busyWindow)
        busyWindow->offerCancel(std::move(cancel));
}

void DeactiveShowAvi()
{
    // Gone at once: no deferred delete may outlive the module that made it.
    delete busyWindow.data();
}

bool ShowAviVisible()
{
    return !busyWindow.isNull();
}

TCancellableWaits::TCancellableWaits(std::function<void()> cancel)
    : m_outer(std::exchange(standingCancel, std::move(cancel)))
{
    ShowAviCancel(standingCancel);
}

TCancellableWaits::~TCancellableWaits()
{
    standingCancel = std::move(m_outer);
    ShowAviCancel(standingCancel);
}

TBusyProgress::TBusyProgress(std::function<void()> cancel)
{
    if (!ShowAviVisible()) {
        ActiveShowAvi(Application().MainForm(), kAviServerQuery);
        m_ownWindow = true;
    }
    if (cancel)
        ShowAviCancel(std::move(cancel));
}

TBusyProgress::~TBusyProgress()
{
    if (m_ownWindow)
        DeactiveShowAvi();
    else
        ShowAviCancel(standingCancel);
}

void TBusyProgress::operator()(qint64 records)
{
    ShowAviProgress(records);
}
