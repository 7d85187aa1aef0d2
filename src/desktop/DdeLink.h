#pragma once
// The automation link over the D-Bus session bus. The server takes script
// lines other programs poke in (bus name "org.corvyne." + service, object
// "/" + topic, method org.corvyne.Dde.Poke(item, data)); the client link
// pokes status lines to a partner that offers the same method. The session
// bus reaches only the programs of the user's own session.

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <functional>

class QDBusServiceWatcher;

inline constexpr const char* DdeInterface = "org.corvyne.Dde";
// A service without "." is one of ours: "org.corvyne." goes in front.
QString DdeBusName(const QString& service);

class TDdeServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.corvyne.Dde")

public:
    explicit TDdeServer(QDBusConnection bus, QObject* parent = nullptr);
    ~TDdeServer() override;
    // False, with the reason, when there is no bus or the name is taken.
    bool Start(const QString& service, const QString& topic, QString& error);
    void Stop();
    bool Running() const { return !m_name.isEmpty(); }
    std::function<void(const QString& item, const QString& data)> OnPoke;

public Q_SLOTS:
    void Poke(const QString& item, const QString& data);

private:
    QDBusConnection m_bus;
    QString m_name, m_path;
};

class TDdeClient : public QObject {
    Q_OBJECT

public:
    explicit TDdeClient(QDBusConnection bus, QObject* parent = nullptr);
    QString Service, Topic;
    // Opens when the partner's name has an owner; OnOpen follows at once.
    bool Open();
    void Close();  // OnClose follows
    bool IsOpen() const { return m_open; }
    // One status line; the outcome is not waited for.
    void Poke(const QString& text);
    std::function<void()> OnOpen, OnClose;

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher;
    QString m_name, m_path;
    bool m_open = false;
};
