#include "net/EventDispatch.h"

#include <cstdio>
#include <utility>

namespace {
ApplicationExceptionHandler& handlerSlot()
{
    static ApplicationExceptionHandler handler;
    return handler;
}
}  // namespace

void SetApplicationExceptionHandler(ApplicationExceptionHandler handler)
{
    handlerSlot() = std::move(handler);
}

void HandleApplicationException(std::exception_ptr error)
{
    std::string what;
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
        what = "unknown exception";
    }
    if (auto& handler = handlerSlot()) {
        try {
            handler(what);
            return;
        } catch (...) {
            what += " (and the exception handler failed)";
        }
    }
    std::fprintf(stderr, "corvyne: unhandled exception in event listener: %s\n", what.c_str());
}
