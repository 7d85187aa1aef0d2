#pragma once
// The desktop's keyring (the Secret Service of GNOME and others, or KWallet)
// through QtKeychain. The jobs run on a thread of their own, so a caller
// waits for the answer (at most the bound) without the window's events
// running under it.

#include "sites/PasswordVault.h"

#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QObject;
class QThread;
namespace QKeychain {
class Job;
}

class TKeyringVault final : public IPasswordVault {
public:
    // service: the items' service attribute; bound: the longest wait for an
    // answer (an unlock prompt of the keyring included).
    explicit TKeyringVault(QString service = QStringLiteral("Corvyne"),
                           std::chrono::milliseconds bound = std::chrono::seconds(60));
    ~TKeyringVault() override;
    TKeyringVault(const TKeyringVault&) = delete;
    TKeyringVault& operator=(const TKeyringVault&) = delete;

    bool Available() override;
    ReadResult Read(const std::string& id, std::string& password, std::string& error) override;
    bool Write(const std::string& id, const std::string& password, std::string& error) override;
    bool Remove(const std::string& id, std::string& error) override;

    struct Outcome;

private:
    Outcome run(std::function<QKeychain::Job*(QObject* parent)> make);

    QString m_service;
    std::chrono::milliseconds m_bound;
    std::unique_ptr<QThread> m_thread;
    QObject* m_context = nullptr;  // lives on m_thread; the jobs' parent
    std::chrono::steady_clock::time_point m_checked{};
    bool m_available = false;
};
