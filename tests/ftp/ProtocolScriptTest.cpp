// FEAT, MLSD and their fall-backs against the replies real servers do not
// give: a FEAT that lies, an endless FEAT, MLSD facts that are broken.
#include "LoginFixture.h"
#include "ftp/Parser.h"

#include <algorithm>

namespace {
std::vector<ScriptReply> featLoginThen(const std::string& feat, std::vector<ScriptReply> more)
{
    std::vector<ScriptReply> r = plainLoginReplies();
    r.insert(r.begin() + 3, {{"FEAT", feat}, {"OPTS UTF8", "200 ok"}});
    r.insert(r.end(), more.begin(), more.end());
    return r;
}

size_t countOf(const std::vector<std::string>& commands, const std::string& command)
{
    return static_cast<size_t>(std::count(commands.begin(), commands.end(), command));
}
}  // namespace

TEST(Features, FeatRepliesOfEveryShapeAreReadAndRefusalsRecognised)
{
    TFtpFeatures f;
    EXPECT_EQ(f.Get(TFeature::Mlsd), TOffer::Unknown);
    // Leading blanks missing or doubled, letter case, facts, a SITE list.
    f.ReadFeatReply({"211-Features:", " mlst Type*;Size*;Modify*;", "UTF8", "  EPSV", " MDTM", " REST STREAM",
                     " SITE UTIME", " MFMT", "211 End"});
    EXPECT_TRUE(f.Offered(TFeature::Mlsd));
    EXPECT_EQ(f.MlstFacts(), "Type*;Size*;Modify*;");
    for (TFeature x : {TFeature::Utf8, TFeature::Epsv, TFeature::Mdtm, TFeature::RestStream, TFeature::SiteUtime,
                       TFeature::Mfmt})
        EXPECT_TRUE(f.Offered(x)) << FeatureName(x);
    // Named in FEAT by their RFCs: "no" when missing; EPRT (often unnamed
    // though supported) unknown.
    EXPECT_EQ(f.Get(TFeature::Size), TOffer::No);
    EXPECT_EQ(f.Get(TFeature::Eprt), TOffer::Unknown);
    EXPECT_EQ(f.Summary(), "MLSD UTF8 EPSV MDTM MFMT SITE UTIME REST STREAM");

    // "REST" without "STREAM" is not stream restarts; a blank FEAT names nothing.
    f.ReadFeatReply({" REST", " ", ""});
    EXPECT_EQ(f.Get(TFeature::RestStream), TOffer::No);
    f.FeatRefused();
    EXPECT_EQ(f.Get(TFeature::Mlsd), TOffer::Unknown);

    EXPECT_TRUE(TFtpFeatures::RefusesCommand("500 MLSD not understood", TFeature::Mlsd));
    EXPECT_TRUE(TFtpFeatures::RefusesCommand("502 Command not implemented", TFeature::Mfmt));
    EXPECT_TRUE(TFtpFeatures::RefusesCommand("501 Network protocol not supported", TFeature::Epsv));
    EXPECT_FALSE(TFtpFeatures::RefusesCommand("501 Bad syntax", TFeature::Mlsd));
    EXPECT_FALSE(TFtpFeatures::RefusesCommand("550 No such directory", TFeature::Mlsd));
    EXPECT_FALSE(TFtpFeatures::RefusesCommand("5", TFeature::Mlsd));
}

TEST_F(ScriptedTransfer, AFeatThatOffersMlsdAndThenRefusesItListsWithListAndNeverAsksAgain)
{
    server.addSession(
        {{"220 hi"},
         featLoginThen("211-Features:\n MLST type*;size*;modify*;\n UTF8\n211 End",
                       {{"TYPE", "200 ok"},
                        {"PASV", "<pasv>"},
                        {"MLSD", "500 MLSD not understood"},
                        {"PASV", "<pasv>"},
                        {"LIST", "150 here\n<data:-rw-r--r-- 1 a b 5 Jan 12 2003 x.txt\\n>\n226 ok"},
                        {"PASV", "<pasv>"},
                        {"LIST", "150 here\n<data:-rw-r--r-- 1 a b 5 Jan 12 2003 y.txt\\n>\n226 ok"}})});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(ftp.Features().Offered(TFeature::Mlsd));
    EXPECT_TRUE(ftp.ServerUsesUtf8());
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_TRUE(doneSuccess) << rec.dump();
    EXPECT_FALSE(ftp.ListingLines.Mlsd);
    EXPECT_EQ(ftp.ListingLines.Lines(), (std::vector<std::string>{"-rw-r--r-- 1 a b 5 Jan 12 2003 x.txt"}));
    EXPECT_TRUE(rec.has(fiFeatureRefused));
    EXPECT_EQ(ftp.Features().Get(TFeature::Mlsd), TOffer::No);

    done = 0;
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_TRUE(doneSuccess);
    const std::vector<std::string> sent = server.transcript();
    EXPECT_EQ(countOf(sent, "MLSD"), 1u);
    EXPECT_EQ(countOf(sent, "LIST"), 2u);
    EXPECT_EQ(countOf(sent, "OPTS UTF8 ON"), 1u);
}

TEST_F(ScriptedTransfer, AnMlsdWithBrokenFactsGivesWhatItCanAndHidesDotFiles)
{
    const std::string data =
        "type=file;size=12;modify=20210304050607; good.txt\\n"
        "type=file;size=abc;modify=2021; bad size and date.txt\\n"  // facts that cannot be read
        "type=dir;sizd=1;=;;; odd facts\\n"                       // empty keys and values
        " no facts at all\\n"
        "type=file;size=1; .profile\\n"                           // hidden without -a
        "type=cdir; .\\n"
        "type=file;size=99999999999999999999999; huge\\n"        // a size past 64 bits
        "garbage-without-blank\\n";
    server.addSession({{"220 hi"},
                       featLoginThen("211-Features:\n MLST type*;size*;\n211 End",
                                     {{"TYPE", "200 ok"},
                                      {"PASV", "<pasv>"},
                                      {"MLSD", "150 here\n<data:" + data + ">\n226 ok"}})});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_FALSE(ftp.ServerUsesUtf8());  // FEAT did not name UTF8: no OPTS
    EXPECT_EQ(countOf(server.transcript(), "OPTS UTF8 ON"), 0u);
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    ASSERT_TRUE(doneSuccess) << rec.dump();
    EXPECT_TRUE(ftp.ListingLines.Mlsd);
    TListParser parser;
    std::vector<TRemoteEntry> entries;
    for (const std::string_view line : ftp.ListingLines) {
        TRemoteEntry e;
        if (parser.ParseLine(ftp.ServerType, true, std::string(line), e))
            entries.push_back(e);
    }
    std::vector<std::string> names;
    for (const TRemoteEntry& e : entries)
        names.push_back(e.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"good.txt", "bad size and date.txt", "odd facts", "no facts at all",
                                               "huge"}));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_EQ(entries[0].Size, 12);
    EXPECT_EQ(entries[1].Size, -1);
    EXPECT_EQ(entries[1].Date.Kind, TListingDate::None);
    EXPECT_TRUE(entries[2].IsDir);
    EXPECT_EQ(entries[4].Size, -1);
}

TEST_F(ScriptedLogin, AnEndlessFeatReplyIsBoundedAndTheLoginGoesOn)
{
    std::string feat = "211-Features:";
    for (int i = 0; i < 5000; ++i)
        feat += "\n X-FEATURE-" + std::to_string(i);
    feat += "\n MLST type*;\n211 End";
    std::vector<ScriptReply> replies = plainLoginReplies();
    replies.insert(replies.begin() + 3, ScriptReply{"FEAT", feat});
    server.addSession({{"220 hi"}, replies});
    ASSERT_TRUE(login(20000)) << rec.dump();
    EXPECT_TRUE(rec.loggedInSuccess);
    // Only the first lines are kept: the MLST after 5,000 others is not seen.
    EXPECT_FALSE(ftp.Features().Offered(TFeature::Mlsd));
}

TEST(Features, OnlyFactsTheServerHasButDoesNotSendAreAskedFor)
{
    EXPECT_EQ(MlstFactsToAsk("type*;size*;modify*;UNIX.mode;UNIX.owner;perm*;"),
              "type;size;modify;unix.mode;unix.owner;");
    EXPECT_EQ(MlstFactsToAsk("type*;size*;modify*;"), "");
    EXPECT_EQ(MlstFactsToAsk("Type*;Size*;Modify*;UNIX.mode*;"), "");
    EXPECT_EQ(MlstFactsToAsk("type*;sized;xunix.mode;"), "");  // no fact is a prefix of another's name
    EXPECT_EQ(MlstFactsToAsk(""), "");
}

TEST(Features, FileTimesAreUtcStampsToTheSecond)
{
    EXPECT_EQ(ParseFtpTimestamp("20200102030405"), 1577934245);
    EXPECT_EQ(ParseFtpTimestamp("20200102030405.123 "), 1577934245);
    for (const char* bad : {"", "2020010203040", "202001020304056", "20201302030405", "2020010203046x", "x"})
        EXPECT_EQ(ParseFtpTimestamp(bad), -1) << bad;
    EXPECT_EQ(FtpTimestamp(1577934245), "20200102030405");
}

TEST_F(ScriptedTransfer, ARefusedMdtmNeitherFailsTheDownloadNorIsSentAgain)
{
    server.payload = "abc";
    server.addSession(
        {{"220 hi"},
         featLoginThen("211-Features:\n MDTM\n211 End",
                       {{"TYPE", "200 ok"},
                        {"PASV", "<pasv>"},
                        {"RETR", "150 here\n<payload>\n226 ok"},
                        {"MDTM", "502 MDTM not implemented"},
                        {"PASV", "<pasv>"},
                        {"RETR", "150 here\n<payload>\n226 ok"}})});
    ASSERT_TRUE(login()) << rec.dump();
    for (int i = 0; i < 2; ++i) {
        ftp.AskFileTime = true;
        ASSERT_TRUE(get("f.bin", BinaryTransfer)) << rec.dump();
        EXPECT_TRUE(doneSuccess) << rec.dump();
        EXPECT_EQ(ftp.ReceivedTime(), -1);
        EXPECT_EQ(ReadTestFile(local("f.bin")), "abc");
    }
    EXPECT_EQ(countOf(server.transcript(), "MDTM f.bin"), 1u);
}

TEST(Features, EpsvRepliesOfTheirOwnFormOnly)
{
    uint16_t port = 0;
    ASSERT_TRUE(ParseEpsvReply("229 Entering Extended Passive Mode (|||6446|)", port));
    EXPECT_EQ(port, 6446);
    ASSERT_TRUE(ParseEpsvReply("229 ok (!!!21!)", port));  // any printable delimiter
    EXPECT_EQ(port, 21);
    for (const char* bad : {"229 (|1|127.0.0.2|6446|)", "229 (|2|::1|6446|)", "229 (|||0|)", "229 (|||65536|)",
                            "229 (|||6446)", "229 (|||6446|", "229 (||||)", "229 (1111234)", "229 no parentheses",
                            "229 (|||99999999999999999999|)", "229 (", ""})
        EXPECT_FALSE(ParseEpsvReply(bad, port)) << bad;
}

TEST_F(ScriptedTransfer, EpsvWhereOfferedAndPasvWhenItsReplyNamesAnotherFormOrItIsRefused)
{
    const std::string feat = "211-Features:\n EPSV\n211 End";
    const std::string listing = "150 here\n<data:-rw-r--r-- 1 a b 5 Jan 12 2003 x.txt\\n>\n226 ok";
    // Offered and answered: the data goes to the server's own address.
    server.addSession({{"220 hi"}, featLoginThen(feat, {{"TYPE", "200 ok"}, {"EPSV", "<epsv>"}, {"LIST", listing}})});
    // Offered, then answered naming a network address (EPRT's form): PASV,
    // now and for the rest of the session.
    server.addSession({{"220 hi"},
                       featLoginThen(feat, {{"TYPE", "200 ok"},
                                            {"EPSV", "<epsv:229 Entering Extended Passive Mode (|1|127.0.0.2|%p|)>"},
                                            {"PASV", "<pasv>"},
                                            {"LIST", listing},
                                            {"PASV", "<pasv>"},
                                            {"LIST", listing}})});
    // Offered, then refused.
    server.addSession({{"220 hi"},
                       featLoginThen(feat, {{"TYPE", "200 ok"},
                                            {"EPSV", "500 EPSV not understood"},
                                            {"PASV", "<pasv>"},
                                            {"LIST", listing}})});
    for (int session = 0; session < 3; ++session) {
        rec.loggedIn = 0;
        ftp.InitialDirectory.clear();
        ASSERT_TRUE(login()) << rec.dump();
        ASSERT_TRUE(ftp.Features().Offered(TFeature::Epsv));
        done = 0;
        ftp.List();
        ASSERT_TRUE(waitDone()) << rec.dump();
        EXPECT_TRUE(doneSuccess) << session << rec.dump();
        EXPECT_EQ(ftp.ListingLines.size(), 1u) << session;
        const std::vector<std::string> sent = server.transcript(static_cast<size_t>(session));
        EXPECT_EQ(countOf(sent, "EPSV"), 1u) << session;
        EXPECT_EQ(countOf(sent, "PASV"), session == 0 ? 0u : 1u) << session;
        EXPECT_EQ(ftp.Features().Get(TFeature::Epsv), session == 0 ? TOffer::Yes : TOffer::No);
        if (session == 1) {
            done = 0;
            ftp.List();
            ASSERT_TRUE(waitDone()) << rec.dump();
            EXPECT_TRUE(doneSuccess);
            EXPECT_EQ(countOf(server.transcript(1), "EPSV"), 1u);
        }
        ftp.Close();
    }
}

// A session that met GBK names writes new names in GBK; a new login to the
// same server (a reconnect in the middle of a run) and a second connection
// taking its login know it before any listing, another server does not.
TEST_F(ScriptedLogin, WhatTheNamesShowedOutlivesAReconnectToTheSameServer)
{
    for (int i = 0; i < 3; ++i)
        server.addSession({{"220 hi"}, plainLoginReplies()});
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_FALSE(ftp.NameCodec().WritesLegacy());
    (void)ftp.NameCodec().Decode("\xd6\xd0\xce\xc4");  // a listing showed a GBK name
    ASSERT_TRUE(ftp.NameCodec().WritesLegacy());
    rec.loggedIn = 0;
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_TRUE(ftp.NameCodec().WritesLegacy());
    EXPECT_EQ(ftp.NameCodec().Encode(QStringLiteral("中文")), "\xd6\xd0\xce\xc4");

    TFTPclient second;
    second.TakeLoginFrom(ftp);
    EXPECT_TRUE(second.NameCodec().WritesLegacy());
    bool secondIn = false;
    second.OnLoggedIn = [&](TFTPclient* c) { secondIn = c->Success(); };
    second.Connect();
    ASSERT_TRUE(WaitFor([&] { return secondIn; }));
    EXPECT_TRUE(second.NameCodec().WritesLegacy());

    // Another server: nothing carried over.
    ScriptServer other;
    other.addSession({{"220 hi"}, plainLoginReplies()});
    ftp.Port = other.port();
    rec.loggedIn = 0;
    ASSERT_TRUE(login()) << rec.dump();
    EXPECT_FALSE(ftp.NameCodec().WritesLegacy());
}
