#include "net/RateLimit.h"

#include <algorithm>
#include <cmath>

namespace {
double burst(int64_t rate)
{
    return std::max(1.0, static_cast<double>(rate) / 20.0);
}

double step(int64_t rate)
{
    return std::max(1.0, burst(rate) / 4.0);
}
}  // namespace

void TRateLimit::SetBytesPerSecond(int64_t rate)
{
    m_rate = std::max<int64_t>(rate, 0);
    m_tokens = 0;
    m_last = Clock::time_point{};
}

void TRateLimit::refill(Clock::time_point now)
{
    if (m_last == Clock::time_point{}) {
        m_last = now;
        m_tokens = burst(m_rate);
        return;
    }
    const double seconds = std::chrono::duration<double>(now - m_last).count();
    m_last = now;
    if (seconds > 0)
        m_tokens = std::min(burst(m_rate), m_tokens + seconds * static_cast<double>(m_rate));
}

int64_t TRateLimit::Take(int64_t want, Clock::time_point now)
{
    if (m_rate <= 0 || want <= 0)
        return want;
    refill(now);
    if (m_tokens < std::min(static_cast<double>(want), step(m_rate)))
        return 0;
    const auto granted = std::min<int64_t>(want, static_cast<int64_t>(std::floor(m_tokens)));
    if (granted <= 0)
        return 0;
    m_tokens -= static_cast<double>(granted);
    return granted;
}

int TRateLimit::WaitMs() const
{
    if (m_rate <= 0)
        return 1;
    // Until a twentieth of the budget is back: fewer, larger steps.
    const double missing = std::max(1.0, step(m_rate) - m_tokens);
    return std::max(1, static_cast<int>(std::ceil(missing * 1000.0 / static_cast<double>(m_rate))));
}
