#include "dispatch.h"

#include "application.h"
#include "exceptions.h"

void DispatchEvent(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const EAbort &) {
    } catch (const std::exception &failure) {
        Application().HandleException(failure);
    }
}
