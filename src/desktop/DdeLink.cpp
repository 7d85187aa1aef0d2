#include "desktop/DdeLink.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QRegularExpression>

namespace {
// One element of an object path.
bool validTopic(const QString& topic)
{
    static const QRegularExpression element(QStringLiteral("^[A-Za-z0-9_]+$"));
    return element.match(topic).hasMatch();
}
}  // namespace

QString DdeBusName(const QString& service)
{
    return service.contains(QLatin1Char('.')) ? service : QStringLiteral("org.corvyne.") + service;
}

TDdeServer::TDdeServer(QDBusConnection bus, QObject* parent) : QObject(parent), m_bus(std::move(bus)) {}

TDdeServer::~TDdeServer()
{
    Stop();
}

void TDdeServer::Stop()
{
    if (!Running())
        return;
    m_bus.unregisterObject(m_path);
    m_bus.unregisterService(m_name);
    m_name.clear();
}

bool TDdeServer::Start(const QString& service, const QString& topic, QString& error)
{
    const QString name = DdeBusName(service);
    const QString path = QLatin1Char('/') + topic;
    if (!m_bus.isConnected()) {
        error = QStringLiteral("没有会话总线");
        return false;
    }
    if (!validTopic(topic)) {
        error = QStringLiteral("无效的主题: ") + topic;
        return false;
    }
    // A second window finds the name taken (or the object, in one process).
    QDBusConnectionInterface* bus = m_bus.interface();
    if (bus && bus->isServiceRegistered(name).value()) {
        error = name + QStringLiteral(" 已被另一个程序使用");
        return false;
    }
    if (!m_bus.registerObject(path, this, QDBusConnection::ExportAllSlots)) {
        error = path + QStringLiteral(" 已被注册");
        return false;
    }
    if (!m_bus.registerService(name)) {
        m_bus.unregisterObject(path);
        error = name + QStringLiteral(" 已被另一个程序使用");
        return false;
    }
    m_name = name;
    m_path = path;
    return true;
}

void TDdeServer::Poke(const QString& item, const QString& data)
{
    if (OnPoke)
        OnPoke(item, data);
}

TDdeClient::TDdeClient(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_watcher(new QDBusServiceWatcher(this))
{
    m_watcher->setConnection(m_bus);
    m_watcher->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
    connect(m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] { Close(); });
}

bool TDdeClient::Open()
{
    if (m_open)
        return true;
    const QString name = DdeBusName(Service);
    QDBusConnectionInterface* bus = m_bus.isConnected() ? m_bus.interface() : nullptr;
    if (!bus || !validTopic(Topic) || !bus->isServiceRegistered(name).value())
        return false;
    m_name = name;
    m_path = QLatin1Char('/') + Topic;
    m_watcher->setWatchedServices({m_name});
    m_open = true;
    if (OnOpen)
        OnOpen();
    return true;
}

void TDdeClient::Close()
{
    if (!m_open)
        return;
    if (OnClose)
        OnClose();  // the partner may still take this line
    m_open = false;
    m_watcher->setWatchedServices({});
}

void TDdeClient::Poke(const QString& text)
{
    if (!m_open)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(m_name, m_path, QString::fromLatin1(DdeInterface), QStringLiteral("Poke"));
    call << QStringLiteral("\r\n") << text;
    call.setAutoStartService(false);
    m_bus.asyncCall(call);  // the reply is not looked at
}
