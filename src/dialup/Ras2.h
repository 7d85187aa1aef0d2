#pragma once
// The remote-access service as an interface, so that the dialler's logic runs
// over any backend: the default one reports that no service exists (the
// program's documented fallback on this platform); tests use a fake.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct TDialParams {
    std::string EntryName, PhoneNumber, CallbackNumber, UserName, Password, Domain;
};

struct TRasConnection {
    uintptr_t Handle = 0;
    std::string EntryName;
};

constexpr int RasStateConnected = 8192;

class IRasBackend {
public:
    virtual ~IRasBackend() = default;
    virtual bool Available() const = 0;
    virtual std::vector<std::string> EnumEntries() = 0;
    virtual bool GetEntryDialParams(const std::string& entry, TDialParams& params) = 0;
    // Starts dialling; 0 on success (progress arrives through DialEvent),
    // otherwise the platform's error code. Sets connection.
    virtual int Dial(const TDialParams& params, uintptr_t& connection) = 0;
    virtual int HangUp(uintptr_t connection) = 0;
    // The connection's state; false when it cannot be asked.
    virtual bool GetConnectStatus(uintptr_t connection, int& state) = 0;
    virtual bool EnumConnections(std::vector<TRasConnection>& connections) = 0;

    // Set by the dialler: the backend reports dialling progress here.
    std::function<void(uintptr_t connection, int state, int error)> DialEvent;
};

// No remote-access service: every operation does nothing.
class TNoRasBackend : public IRasBackend {
public:
    bool Available() const override { return false; }
    std::vector<std::string> EnumEntries() override { return {}; }
    bool GetEntryDialParams(const std::string&, TDialParams&) override { return false; }
    int Dial(const TDialParams&, uintptr_t&) override { return -1; }
    int HangUp(uintptr_t) override { return -1; }
    bool GetConnectStatus(uintptr_t, int&) override { return false; }
    bool EnumConnections(std::vector<TRasConnection>&) override { return false; }
};

// The backend the program uses (the one above unless a test installs another).
IRasBackend& RasBackend();
void SetRasBackend(IRasBackend* backend);  // nullptr restores the default
