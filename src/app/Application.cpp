#include "app/Application.h"

#include "net/EventDispatch.h"

bool TCorvApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleApplicationException(std::current_exception());
        return false;
    }
}
