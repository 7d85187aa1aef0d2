// The dialler's logic over a fake remote-access service: dial, redial, give
// up, the status poll, hanging up, and the no-service fallback.
#include "TestSupport.h"
#include "dialup/TTapiComponent.h"

#include <gtest/gtest.h>

namespace {

struct FakeRas : IRasBackend {
    std::vector<std::string> entries = {"Office", "Home"};
    std::vector<int> dialResults;  // one per Dial call; 0 = started
    std::vector<std::string> dialled;
    std::vector<uintptr_t> hungUp;
    std::vector<TRasConnection> connections;
    int status = 1;  // what GetConnectStatus reports
    uintptr_t next = 100;

    bool Available() const override { return true; }
    std::vector<std::string> EnumEntries() override { return entries; }
    bool GetEntryDialParams(const std::string& entry, TDialParams& p) override
    {
        if (std::find(entries.begin(), entries.end(), entry) == entries.end())
            return false;
        p.UserName = "dialuser";
        p.Password = "dialpass";
        p.PhoneNumber = "5551234";
        return true;
    }
    int Dial(const TDialParams& p, uintptr_t& c) override
    {
        dialled.push_back(p.EntryName + "/" + p.UserName + "/" + p.PhoneNumber);
        c = ++next;
        const size_t i = dialled.size() - 1;
        return i < dialResults.size() ? dialResults[i] : 0;
    }
    int HangUp(uintptr_t c) override
    {
        hungUp.push_back(c);
        return 0;
    }
    bool GetConnectStatus(uintptr_t, int& state) override
    {
        state = status;
        return true;
    }
    bool EnumConnections(std::vector<TRasConnection>& out) override
    {
        out = connections;
        return true;
    }
};

}  // namespace

TEST(Tapi, DialsAndReportsTheConnectionThenWatchesTheLine)
{
    FakeRas ras;
    TTapi tapi(ras);
    EXPECT_EQ(tapi.Entries, (std::vector<std::string>{"Office", "Home"}));
    int connected = 0;
    tapi.OnConnected = [&](TTapi*) { ++connected; };
    EXPECT_FALSE(tapi.LoadEntry("Nowhere"));
    ASSERT_TRUE(tapi.LoadEntry("Office"));
    tapi.Dial();
    ASSERT_EQ(ras.dialled, std::vector<std::string>{"Office/dialuser/5551234"});
    ras.DialEvent(tapi.Connection(), 5, 0);  // progress, not yet up
    EXPECT_EQ(connected, 0);
    ras.DialEvent(tapi.Connection(), RasStateConnected, 0);
    EXPECT_EQ(connected, 1);
    const uintptr_t line = tapi.Connection();
    ras.status = 0;  // the line drops: the poll hangs up
    ASSERT_TRUE(WaitFor([&] { return !ras.hungUp.empty(); }, 3000));
    EXPECT_EQ(ras.hungUp.front(), line);
    EXPECT_EQ(tapi.Connection(), 0u);
}

TEST(Tapi, AFailingEntryIsDialledTwiceThenGivenUp)
{
    FakeRas ras;
    ras.dialResults = {633, 633, 633};
    TTapi tapi(ras);
    tapi.RedialDelay = 0;
    tapi.HangUpPauseMs = 200;
    tapi.GiveUpDelayMs = 50;
    int gaveUp = 0;
    tapi.OnGiveUp = [&](TTapi*) { ++gaveUp; };
    tapi.LoadEntry("Home");
    tapi.Dial();
    ASSERT_TRUE(WaitFor([&] { return gaveUp > 0; }, 5000));
    EXPECT_EQ(ras.dialled.size(), 2u);
    EXPECT_EQ(tapi.FailureCount(), 2);
    EXPECT_EQ(ras.hungUp.size(), 2u);  // each failed attempt is hung up
}

TEST(Tapi, ADialEventErrorIsAFailureAndTheRedialWaitsForTheLine)
{
    FakeRas ras;
    TTapi tapi(ras);
    tapi.RedialDelay = 0;
    tapi.HangUpPauseMs = 300;
    int connected = 0;
    tapi.OnConnected = [&](TTapi*) { ++connected; };
    tapi.LoadEntry("Office");
    tapi.Dial();
    const uint32_t failedAt = TickCount();
    ras.DialEvent(tapi.Connection(), 0, 678);  // busy
    ASSERT_TRUE(WaitFor([&] { return ras.dialled.size() == 2; }, 3000));
    EXPECT_GE(TickCount() - failedAt, 250u);  // not before the hang-up pause
    ras.DialEvent(tapi.Connection(), RasStateConnected, 0);
    EXPECT_EQ(connected, 1);
    // An event for another connection is not ours.
    ras.DialEvent(12345, RasStateConnected, 0);
    EXPECT_EQ(connected, 1);
}

TEST(Tapi, HangingUpTheActiveConnection)
{
    FakeRas ras;
    SetRasBackend(&ras);
    std::vector<std::pair<std::string, bool>> logged;
    auto log = [&](const std::string& t, bool error) { logged.emplace_back(t, error); };

    HangUpActiveConnection(false, log);  // nothing active
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0], std::make_pair(std::string("错误: 没有找到活动的modem."), true));
    EXPECT_TRUE(ras.hungUp.empty());
    EXPECT_FALSE(AnyDialupActive());

    ras.connections = {{7, "OFFICE"}, {8, "Home"}};
    EXPECT_TRUE(AnyDialupActive());
    HangUpActiveConnection(false, log);
    EXPECT_EQ(ras.hungUp, std::vector<uintptr_t>{7});  // only the first listed
    EXPECT_EQ(logged.back(), std::make_pair(std::string("ISP 连接终止."), false));
    HangUpActiveConnection(true, log);
    EXPECT_EQ(logged.size(), 2u);  // quiet

    TTapi tapi(ras);
    EXPECT_EQ(tapi.FindConnection("office"), 7u);  // letter case does not matter
    EXPECT_EQ(tapi.FindConnection("nowhere"), 0u);
    SetRasBackend(nullptr);
}

TEST(Tapi, WithoutARemoteAccessServiceNothingHappens)
{
    EXPECT_FALSE(RemoteAccessPresent());
    TTapi tapi;
    EXPECT_FALSE(tapi.Available());
    EXPECT_TRUE(tapi.Entries.empty());
    EXPECT_FALSE(tapi.LoadEntry("Office"));
    tapi.Dial();
    EXPECT_FALSE(tapi.EnumActiveConnections());
    EXPECT_FALSE(AnyDialupActive());
    int logged = 0;
    HangUpActiveConnection(false, [&](const std::string&, bool) { ++logged; });
    EXPECT_EQ(logged, 0);
}
