#include "desktop/PowerBackend.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusMessage>

bool TLogindPower::PowerOff()
{
    QDBusInterface manager(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), QDBusConnection::systemBus());
    if (!manager.isValid())
        return false;
    // Not interactive: no password question can come up with nobody there.
    return manager.call(QStringLiteral("PowerOff"), false).type() == QDBusMessage::ReplyMessage;
}
