#include "dialup/TTapiComponent.h"

#include <QDateTime>

#include <algorithm>

namespace {
IRasBackend*& installedBackend()
{
    static IRasBackend* backend = nullptr;
    return backend;
}

bool equalNoCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}
}  // namespace

IRasBackend& RasBackend()
{
    static TNoRasBackend none;
    return installedBackend() ? *installedBackend() : none;
}

void SetRasBackend(IRasBackend* backend)
{
    installedBackend() = backend;
}

TTapi::TTapi(IRasBackend& backend, QObject* parent)
    : QObject(parent), m_backend(backend), m_available(backend.Available())
{
    m_redialTimer.setSingleShot(true);
    connect(&m_redialTimer, &QTimer::timeout, this, [this] {
        if (m_giveUpPending) {
            m_giveUpPending = false;
            if (OnGiveUp)
                OnGiveUp(this);
            return;
        }
        DialAttempt();
    });
    m_pollTimer.setInterval(500);
    connect(&m_pollTimer, &QTimer::timeout, this, [this] { PollStatus(); });
    if (!m_available)
        return;
    m_backend.DialEvent = [this](uintptr_t c, int state, int error) { DialEvent(c, state, error); };
    Entries = m_backend.EnumEntries();
}

TTapi::~TTapi()
{
    if (m_available)
        m_backend.DialEvent = nullptr;
}

bool TTapi::LoadEntry(const std::string& name)
{
    if (!m_available)
        return false;
    if (!name.empty())
        EntryName = name;
    if (EntryName.empty())
        return false;
    TDialParams p;
    if (!m_backend.GetEntryDialParams(EntryName, p))
        return false;
    m_params = p;
    m_params.EntryName = EntryName;
    return true;
}

void TTapi::Dial()
{
    if (!m_available)
        return;
    m_failures = 0;
    m_giveUpPending = false;
    DialAttempt();
}

void TTapi::DialAttempt()
{
    TDialParams p = m_params;
    p.EntryName = EntryName;
    m_connection = 0;
    const int result = m_backend.Dial(p, m_connection);
    if (result != 0)
        Failed();
}

void TTapi::Failed()
{
    HangUp();
    ++m_failures;
    // The line is free again only after the hang-up pause; a redial never
    // comes sooner (the pause itself does not block the program).
    const qint64 wait = std::max<qint64>(0, m_lineFreeAt - QDateTime::currentMSecsSinceEpoch());
    if (m_failures <= MaxRedials) {
        m_redialTimer.start(static_cast<int>(std::max<qint64>(RedialDelay * 1000LL, wait)));
    } else {
        m_giveUpPending = true;
        m_redialTimer.start(GiveUpDelayMs);
    }
}

void TTapi::HangUp()
{
    m_pollTimer.stop();
    if (m_connection != 0) {
        m_backend.HangUp(m_connection);
        m_lineFreeAt = QDateTime::currentMSecsSinceEpoch() + HangUpPauseMs;
    }
    m_connection = 0;
    m_redialTimer.stop();
}

void TTapi::DialEvent(uintptr_t connection, int state, int error)
{
    if (connection != m_connection || m_connection == 0)
        return;
    if (error != 0) {
        Failed();
        return;
    }
    if (state == RasStateConnected) {
        m_pollTimer.start();
        if (OnConnected)
            OnConnected(this);
    }
}

void TTapi::PollStatus()
{
    int state = 0;
    if (!m_backend.GetConnectStatus(m_connection, state) || state == 0)
        HangUp();
}

bool TTapi::EnumActiveConnections()
{
    ActiveConnections.clear();
    std::vector<TRasConnection> list;
    if (!m_available || !m_backend.EnumConnections(list))
        return false;
    for (const TRasConnection& c : list) {
        int state = 0;
        if (m_backend.GetConnectStatus(c.Handle, state) && state != 0)
            ActiveConnections.push_back(c.EntryName);
    }
    return true;
}

uintptr_t TTapi::FindConnection(const std::string& name)
{
    std::vector<TRasConnection> list;
    if (!m_available || !m_backend.EnumConnections(list))
        return 0;
    for (const TRasConnection& c : list)
        if (equalNoCase(c.EntryName, name))
            return c.Handle;
    return 0;
}

bool RemoteAccessPresent()
{
    return RasBackend().Available();
}

bool AnyDialupActive()
{
    TTapi tapi;
    return tapi.EnumActiveConnections() && !tapi.ActiveConnections.empty();
}

void HangUpActiveConnection(bool quiet, const std::function<void(const std::string&, bool)>& log)
{
    TTapi tapi;
    if (!tapi.Available())
        return;  // no service: hanging up logs nothing
    if (tapi.EnumActiveConnections() && !tapi.ActiveConnections.empty()) {
        if (uintptr_t handle = tapi.FindConnection(tapi.ActiveConnections.front()))
            RasBackend().HangUp(handle);
        if (!quiet && log)
            log("ISP 连接终止.", false);
    } else if (!quiet && log) {
        log("错误: 没有找到活动的modem.", true);
    }
}
