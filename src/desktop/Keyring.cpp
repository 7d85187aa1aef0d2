#include "desktop/Keyring.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QThread>

#include <qt6keychain/keychain.h>

#include <future>

struct TKeyringVault::Outcome {
    QKeychain::Error error = QKeychain::OtherError;
    QString text;
    std::string errorText;
};

TKeyringVault::TKeyringVault(QString service, std::chrono::milliseconds bound)
    : m_service(std::move(service)), m_bound(bound), m_thread(std::make_unique<QThread>())
{
    m_thread->setObjectName(QStringLiteral("keyring"));
    m_context = new QObject;
    m_context->moveToThread(m_thread.get());
    QObject::connect(m_thread.get(), &QThread::finished, m_context, &QObject::deleteLater);
    m_thread->start();
}

TKeyringVault::~TKeyringVault()
{
    m_thread->quit();
    m_thread->wait();
}

bool TKeyringVault::Available()
{
    // Asked before every read: the answer is kept for a moment. Only a
    // keyring already running counts; the bus would start one that then asks
    // the user for a new keyring's password, which a server has nobody for.
    const auto now = std::chrono::steady_clock::now();
    if (m_checked != std::chrono::steady_clock::time_point{} && now - m_checked < std::chrono::seconds(2))
        return m_available;
    m_checked = now;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* names = bus.isConnected() ? bus.interface() : nullptr;
    m_available = false;
    if (names)
        for (const char* service : {"org.freedesktop.secrets", "org.kde.kwalletd5", "org.kde.kwalletd6"})
            if (names->isServiceRegistered(QString::fromLatin1(service)).value())
                m_available = true;
    return m_available;
}

TKeyringVault::Outcome TKeyringVault::run(std::function<QKeychain::Job*(QObject*)> make)
{
    auto done = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> answer = done->get_future();
    QMetaObject::invokeMethod(
        m_context,
        [context = m_context, make = std::move(make), done] {
            QKeychain::Job* job = make(context);
            job->setAutoDelete(true);
            job->setInsecureFallback(false);  // never a plain-text file instead
            QObject::connect(job, &QKeychain::Job::finished, [done](QKeychain::Job* j) {
                Outcome o;
                o.error = j->error();
                o.errorText = j->errorString().toStdString();
                if (auto* read = qobject_cast<QKeychain::ReadPasswordJob*>(j))
                    o.text = read->textData();
                done->set_value(std::move(o));
            });
            job->start();
        },
        Qt::QueuedConnection);
    if (answer.wait_for(m_bound) != std::future_status::ready) {
        Outcome late;
        late.errorText = "密钥环没有回答";
        return late;
    }
    return answer.get();
}

IPasswordVault::ReadResult TKeyringVault::Read(const std::string& id, std::string& password, std::string& error)
{
    // The factory runs on the keyring's thread, perhaps after a wait that
    // timed out here: it holds copies.
    const Outcome o = run([service = m_service, key = QString::fromStdString(id)](QObject* parent) {
        auto* job = new QKeychain::ReadPasswordJob(service, parent);
        job->setKey(key);
        return job;
    });
    if (o.error == QKeychain::NoError) {
        password = o.text.toStdString();
        return ReadResult::Found;
    }
    error = o.errorText;
    return o.error == QKeychain::EntryNotFound ? ReadResult::NotFound : ReadResult::Failed;
}

bool TKeyringVault::Write(const std::string& id, const std::string& password, std::string& error)
{
    const Outcome o = run([service = m_service, key = QString::fromStdString(id),
                           text = QString::fromStdString(password)](QObject* parent) {
        auto* job = new QKeychain::WritePasswordJob(service, parent);
        job->setKey(key);
        job->setTextData(text);
        return job;
    });
    error = o.errorText;
    return o.error == QKeychain::NoError;
}

bool TKeyringVault::Remove(const std::string& id, std::string& error)
{
    const Outcome o = run([service = m_service, key = QString::fromStdString(id)](QObject* parent) {
        auto* job = new QKeychain::DeletePasswordJob(service, parent);
        job->setKey(key);
        return job;
    });
    error = o.errorText;
    return o.error == QKeychain::NoError || o.error == QKeychain::EntryNotFound;
}
