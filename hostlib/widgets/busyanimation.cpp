#include "busyanimation.h"

#include <application.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QProgressBar>
#include <QVBoxLayout>
#include <memory>

namespace {

QPointer<QWidget> busyWindow;
std::unique_ptr<TWindowManagerPingPause> busyPingPause;
QPointer<QLabel> progressLabel;
QElapsedTimer sinceRepaint;
int shownCount = 0;

QString captionOf(int kind)
{
    // Kind 6 is the one the screens use while they wait for the server.
    return kind == 6 ? QStringLiteral("Aguarde, consultando o servidor...") : QStringLiteral("Aguarde...");
}

} // namespace

void ActiveShowAvi(QWidget *owner, int kind)
{
    DeactiveShowAvi();
    auto *window = new QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAttribute(Qt::WA_ShowWithoutActivating);
    auto *layout = new QVBoxLayout(window);
    layout->addWidget(new QLabel(captionOf(kind), window));
    progressLabel = new QLabel(window);
    progressLabel->setObjectName(QStringLiteral("progress"));
    progressLabel->hide();
    layout->addWidget(progressLabel);
    auto *bar = new QProgressBar(window);
    bar->setRange(0, 0);
    layout->addWidget(bar);
    window->adjustSize();
    if (owner)
        window->move(owner->geometry().center() - window->rect().center());
    window->show();
    // Painted at once, without running the event loop: nothing queued may run
    // in the middle of the caller's work.
    window->repaint();
    busyWindow = window;
    busyPingPause = std::make_unique<TWindowManagerPingPause>();
    sinceRepaint.start();
    ++shownCount;
}

void ShowAviProgress(qint64 records)
{
    if (!busyWindow || !progressLabel)
        return;
    const bool first = progressLabel->isHidden();
    if (!first && sinceRepaint.isValid() && sinceRepaint.elapsed() < kShowAviRepaintMs)
        return;
    progressLabel->setText(QStringLiteral("%1 linhas recebidas").arg(QLocale(QLocale::Portuguese, QLocale::Brazil).toString(records)));
    if (first) {
        progressLabel->show();
        busyWindow->adjustSize();
    }
    busyWindow->repaint();
    sinceRepaint.start();
}

void DeactiveShowAvi()
{
    busyPingPause.reset();
    if (busyWindow)
        busyWindow->close();
    busyWindow = nullptr;
}

bool ShowAviVisible()
{
    return !busyWindow.isNull();
}

int ShowAviShownCount()
{
    return shownCount;
}

TBusyProgress::~TBusyProgress()
{
    if (m_ownWindow)
        DeactiveShowAvi();
}

void TBusyProgress::operator()(qint64 records)
{
    if (!ShowAviVisible()) {
        ActiveShowAvi(Application().MainForm(), 6);
        m_ownWindow = true;
    }
    ShowAviProgress(records);
}
