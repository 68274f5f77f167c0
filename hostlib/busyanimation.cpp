#include "busyanimation.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {

QPointer<QWidget> busyWindow;
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
    ++shownCount;
}

void DeactiveShowAvi()
{
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
