// The shared byte budget: never more than the rate over any second (bar a
// twentieth of a second's burst), whatever the connections ask for and
// however often; nothing held back without a limit.
#include "net/RateLimit.h"

#include <gtest/gtest.h>

#include <deque>
#include <utility>

TEST(RateLimit, NoSecondCarriesMoreThanTheLimitWhateverIsAskedAndHowOften)
{
    using namespace std::chrono;
    TRateLimit none;
    EXPECT_EQ(none.Take(1 << 20), 1 << 20);

    const int64_t rate = 100'000;
    for (const auto& [ask, step] : {std::pair{int64_t{32768}, 1}, std::pair{int64_t{100}, 3}, std::pair{int64_t{1}, 7},
                                   std::pair{int64_t{1'000'000}, 50}}) {
        TRateLimit limit;
        limit.SetBytesPerSecond(rate);
        auto now = TRateLimit::Clock::time_point{} + seconds(1000);
        std::deque<std::pair<milliseconds, int64_t>> window;  // what moved in the last second
        int64_t inWindow = 0, total = 0, worst = 0;
        for (milliseconds t{0}; t < seconds(5); t += milliseconds(step)) {
            // Two connections asking in turn, one giving back half of what it got.
            const int64_t a = limit.Take(ask, now + t);
            const int64_t b = limit.Take(ask, now + t);
            if (b > 1)
                limit.GiveBack(b / 2);
            const int64_t moved = a + (b > 1 ? b - b / 2 : b);
            total += moved;
            window.emplace_back(t, moved);
            inWindow += moved;
            while (window.front().first <= t - seconds(1)) {
                inWindow -= window.front().second;
                window.pop_front();
            }
            worst = std::max(worst, inWindow);
        }
        EXPECT_LE(worst, rate + rate / 20 + 1) << "ask " << ask << " every " << step << " ms";
        // And where they ask for more than the rate, it is used, not wasted:
        // 5 s at the rate, within 5 %.
        if (ask * 1000 / step >= 2 * rate) {
            EXPECT_GE(total, rate * 5 * 95 / 100) << "ask " << ask << " every " << step << " ms";
        }
        EXPECT_GE(limit.WaitMs(), 1);
    }
}

// A pump that asks again at once gets nothing until a step (an eightieth of
// a second's budget) is back, never the trickle that came in meanwhile: a
// pump looping on trickles held the event loop (a listing beside four
// limited transfers took a hundred times its idle time).
TEST(RateLimit, AskingAgainAtOnceGetsNothingUntilAStepIsBack)
{
    using namespace std::chrono;
    TRateLimit limit;
    const int64_t rate = 10 * 1024 * 1024;
    limit.SetBytesPerSecond(rate);
    const auto start = TRateLimit::Clock::time_point{} + seconds(1000);
    EXPECT_EQ(limit.Take(int64_t{1} << 30, start), rate / 20);  // the first burst
    for (const auto later : {microseconds(1), microseconds(100), microseconds(12000)})
        EXPECT_EQ(limit.Take(int64_t{1} << 30, start + later), 0) << later.count() << " us";
    EXPECT_GE(limit.WaitMs(), 1);
    EXPECT_GE(limit.Take(int64_t{1} << 30, start + microseconds(12600)), rate / 80);
    // Asks smaller than a step are served as soon as they are covered.
    EXPECT_EQ(limit.Take(100, start + microseconds(12600 + 20)), 100);
}
