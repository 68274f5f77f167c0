#include "runtime/widgets/waylandexit.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

void EndNowOnWayland(int status)
{
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    std::fflush(nullptr);
    std::_Exit(status);
}
