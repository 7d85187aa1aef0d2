#pragma once
#include <exception>
#include <functional>
#include <string>

// Exceptions thrown by event listeners are caught where the event loop
// dispatched them and handed to one application-wide handler (the crash log
// in the program); the socket or client that raised the event carries on.
using ApplicationExceptionHandler = std::function<void(const std::string& what)>;

void SetApplicationExceptionHandler(ApplicationExceptionHandler handler);
void HandleApplicationException(std::exception_ptr error);

template <class F>
void GuardedDispatch(F&& f)
{
    try {
        f();
    } catch (...) {
        HandleApplicationException(std::current_exception());
    }
}
