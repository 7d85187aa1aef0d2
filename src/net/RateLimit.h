#pragma once
// A byte budget shared by connections: at most BytesPerSecond in total, and
// smoothly: the budget a connection may take at once is a twentieth of a
// second's, so no second ever carries more than the limit and that bit.

#include <chrono>
#include <cstdint>

class TRateLimit {
public:
    using Clock = std::chrono::steady_clock;

    // 0: no limit.
    void SetBytesPerSecond(int64_t rate);
    int64_t BytesPerSecond() const { return m_rate; }
    // Up to want bytes may move now (0: none; ask again after WaitMs). The
    // budget is handed out in steps of an eightieth of a second's (or want,
    // when less): a pump never loops on the trickle that refills meanwhile.
    int64_t Take(int64_t want, Clock::time_point now = Clock::now());
    // Bytes taken and not moved go back.
    void GiveBack(int64_t bytes) { m_tokens += bytes; }
    // Milliseconds until a step may move again (at least 1).
    int WaitMs() const;

private:
    void refill(Clock::time_point now);
    int64_t m_rate = 0;
    double m_tokens = 0;
    Clock::time_point m_last{};
};
