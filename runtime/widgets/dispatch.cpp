#include "runtime/widgets/dispatch.h"

#include "runtime/core/exceptions.h"
#include "runtime/widgets/application.h"

void DispatchEvent(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const EAbort &) {
    } catch (const std::exception &failure) {
        Application().HandleException(failure);
    }
}
