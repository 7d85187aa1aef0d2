// Transfers against the scriptable server: the replies and timings real
// servers do not produce.
#include "LoginFixture.h"

#include <QDir>
#include <QFile>

using Strings = std::vector<std::string>;

namespace {

Strings after(const Strings& all, size_t n)
{
    return Strings(all.begin() + static_cast<long>(std::min(n, all.size())), all.end());
}

}  // namespace

TEST_F(ScriptedTransfer, MalformedPassiveReplyEndsTheSession)
{
    server.addSession({{"220 hi"}, loginThen({"200 ok", "227 Entering Passive Mode (127,000,000,001,100,100,00)"})});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(WaitFor([&] { return rec.quit > 0; }));
    EXPECT_TRUE(rec.has(feSocket, "恶意服务器响应.  连接终止."));
    EXPECT_TRUE(rec.has(fiClosed, ""));
    EXPECT_FALSE(ftp.IsConnected());
}

TEST(PassiveReply, AddressParsing)
{
    EXPECT_EQ(PassiveReplyText("227 Entering Passive Mode (10,0,0,7,4,1)."), "10,0,0,7,4,1");
    // Without parentheses: the first six numbers after the code.
    EXPECT_EQ(PassiveReplyText("227 =127,0,0,1,4,1"), "127,0,0,1,4,1");
    EXPECT_EQ(PassiveReplyText("227 Entering Passive Mode 127,0,0,1,94,1"), "127,0,0,1,94,1");
    EXPECT_EQ(PassiveReplyText("227 Entering Passive Mode 127,0,0,1,94,1."), "127,0,0,1,94,1");
    EXPECT_EQ(PassiveReplyText("227 v2, 1,2,3,4,5,6 ok"), "1,2,3,4,5,6");
    EXPECT_EQ(PassiveReplyText("227 )(1,2"), "");
    EXPECT_EQ(PassiveReplyText("227 1,2,3,4,5"), "");
    EXPECT_EQ(PassiveReplyText("227"), "");
    std::string host;
    uint16_t port = 0;
    ASSERT_TRUE(ParsePassiveAddress("10,0,0,7,4,1", host, port));
    EXPECT_EQ(host, "10.0.0.7");
    EXPECT_EQ(port, 1025);
    ASSERT_TRUE(ParsePassiveAddress("255,255,255,255,255,255", host, port));  // 23 characters
    EXPECT_EQ(port, 65535);
    for (const char* bad : {"1,2,3,4,5", "1,2,3,4,5,6,7", "1,2,3,4,256,1", "a,b,c,d,e,f", "1,2,3,4,5,", ",1,2,3,4,5"})
        EXPECT_FALSE(ParsePassiveAddress(bad, host, port)) << bad;
    EXPECT_EQ(PortArgument("192.168.1.5", 4660), "192,168,1,5,18,52");
}

TEST_F(ScriptedTransfer, RefusedPassiveFallsBackToActiveThenGivesUp)
{
    server.addSession({{"220 hi"}, loginThen({"200 ok", "502 no PASV", "502 no PORT either"})});
    ftp.AlternateMode = true;
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone());
    const Strings sent = after(server.transcript(), 6);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], "TYPE A");
    EXPECT_EQ(sent[1], "PASV");
    EXPECT_EQ(sent[2].substr(0, 15), "PORT 127,0,0,1,");
    EXPECT_FALSE(doneSuccess);
    EXPECT_FALSE(ftp.UsePasv);  // the flip stays
    EXPECT_FALSE(rec.has(feNoDataConnection));
}

TEST_F(ScriptedTransfer, RefusedPassiveInAScriptIsError35WithoutFallBack)
{
    server.addSession({{"220 hi"}, loginThen({"200 ok", "502 no PASV"})});
    ftp.AlternateMode = true;
    ASSERT_TRUE(login());
    ftp.RemoteFile = "f";
    ftp.LocalFile = local("f").toStdString();
    ftp.Download(false, true, 0);
    ASSERT_TRUE(waitDone());
    EXPECT_TRUE(rec.has(feScriptDataConnection, ""));
    EXPECT_FALSE(rec.has(feNoDataConnection));
    EXPECT_FALSE(doneSuccess);
    EXPECT_TRUE(ftp.UsePasv);
    EXPECT_EQ(server.transcript().back(), "PASV");
}

TEST_F(ScriptedTransfer, RefusedPassiveWithoutFallBackIsError21)
{
    server.addSession({{"220 hi"}, loginThen({"200 ok", "425 no"})});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone());
    EXPECT_TRUE(rec.has(feNoDataConnection, ""));
    EXPECT_FALSE(doneSuccess);
    EXPECT_TRUE(ftp.UsePasv);
}

TEST_F(ScriptedTransfer, RefusedRestartDeletesThePartialFileAndStartsOver)
{
    const QString target = local("part.bin");
    {
        QFile f(target);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(std::string(5000, 'p').c_str());
    }
    server.addSession({{"220 hi"},
                       loginThen({"200 ok", "<pasv>", "502 REST not implemented",
                                  "150 Opening BINARY mode data connection for f (10 bytes).\n"
                                  "<data:0123456789>\n226 done"})});
    ASSERT_TRUE(login());
    ftp.RemoteFile = "f";
    ftp.LocalFile = target.toStdString();
    ftp.Download(true, false, 10);
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_EQ(after(server.transcript(), 6), (Strings{"TYPE I", "PASV", "REST 5000", "RETR f"}));
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(ReadTestFile(target), "0123456789");
    EXPECT_TRUE(rec.has(fiFileSize, "10"));
    EXPECT_TRUE(rec.has(fiTransferComplete, "传输完成:"));
    EXPECT_EQ(ftp.ExpectedSize, 10);
}

TEST_F(ScriptedTransfer, FinalReplyBeforeTheDataEndsWaitsForTheClose)
{
    server.addSession(
        {{"220 hi"}, loginThen({"200 ok", "<pasv>", "150 go\n226 done early\n<data-later:300:late data>"})});
    ASSERT_TRUE(login());
    ftp.RemoteFile = "f";
    ftp.LocalFile = local("late.bin").toStdString();
    ftp.Download(false, false, 0);
    ASSERT_TRUE(WaitFor([&] { return ftp.ReplyDone; }));
    EXPECT_EQ(done, 0);
    ASSERT_TRUE(waitDone());
    QCoreApplication::processEvents();
    EXPECT_EQ(done, 1);
    EXPECT_EQ(ReadTestFile(local("late.bin")), "late data");
    EXPECT_EQ(ftp.TransferBytes, 9);
}

TEST_F(ScriptedTransfer, RefusedHiddenListingIsFetchedAgainPlainly)
{
    server.addSession(
        {{"220 hi"},
         loginThen({"200 ok", "<pasv>", "550 -al not understood", "<pasv>", "150 here\n<data:a\\nb\\n>\n226 ok"})});
    ftp.ShowHiddenFiles = true;
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone()) << rec.dump();
    EXPECT_EQ(after(server.transcript(), 6), (Strings{"TYPE A", "PASV", "LIST -al", "PASV", "LIST"}));
    EXPECT_FALSE(ftp.ShowHiddenFiles);
    EXPECT_TRUE(doneSuccess);
    EXPECT_EQ(ftp.ListingLines.Lines(), (Strings{"a", "b"}));
    EXPECT_EQ(rec.count(fiListingLine), 2);
    EXPECT_EQ(rec.count(fiListingData), 2);
    EXPECT_TRUE(rec.has(fiListingData, ""));
    EXPECT_TRUE(rec.has(fiListingReady, "列表就绪"));
}

TEST_F(ScriptedTransfer, MvsRefusalOfAnEmptyListingIsSuccess)
{
    server.addSession({{"220 hi"}, loginThen({"200 ok", "<pasv>", "550 No data sets found\n<data-close>"})});
    ftp.ServerDetect = false;
    ftp.ServerType = ftpstMVS;
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone());
    EXPECT_TRUE(doneSuccess);
    EXPECT_TRUE(ftp.ListingLines.empty());
}

TEST_F(ScriptedTransfer, RefusedRetrieveDeletesOnlyTheFileItCreated)
{
    // A fresh download answered 550 leaves nothing behind; a resumed one
    // keeps the part the user already had.
    const QString fresh = local("fresh.bin");
    const QString partial = local("partial.bin");
    WriteTestFile(partial, "17 bytes of data.");
    server.addSession({{"220 hi"},
                       loginThen({{"TYPE", "200 ok"},
                                  {"PASV", "<pasv>"},
                                  {"RETR", "550 No such file"},
                                  {"TYPE", "200 ok"},
                                  {"PASV", "<pasv>"},
                                  {"REST 17", "350 ok"},
                                  {"RETR", "550 No such file"}})});
    ASSERT_TRUE(login());
    ftp.RemoteFile = "missing";
    ftp.LocalFile = fresh.toStdString();
    ftp.Download(false, false, 0);
    ASSERT_TRUE(waitDone());
    EXPECT_FALSE(doneSuccess);
    EXPECT_FALSE(QFile::exists(fresh));
    done = 0;
    ftp.LocalFile = partial.toStdString();
    ftp.Download(true, false, 0);
    ASSERT_TRUE(waitDone());
    EXPECT_FALSE(doneSuccess);
    EXPECT_EQ(ReadTestFile(partial), "17 bytes of data.");
    EXPECT_FALSE(rec.has(fiTransferComplete));
}

TEST_F(ScriptedTransfer, RefusedPassiveConnectionEndsTheTransfer)
{
    const RefusingPort refusing;
    server.addSession({{"220 hi"}, loginThen({"200 ok", PassiveReplyFor(refusing.port())})});
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone());
    EXPECT_TRUE(rec.has(feSocket, "[数据]: 连接被拒绝"));
    EXPECT_TRUE(rec.has(feNoDataConnection, ""));
    EXPECT_TRUE(ftp.FatalError());
    EXPECT_FALSE(doneSuccess);
    EXPECT_EQ(rec.quit, 0);
    EXPECT_EQ(ftp.ReplyState(), rsIdle);
}

TEST_F(ScriptedTransfer, SilentPassiveConnectionTimesOutAndFallsBackToActive)
{
    BlackholePort hole;
    const quint16 p = hole.port();
    server.addSession({{"220 hi"}, loginThen({"200 ok", PassiveReplyFor(p), "500 PORT refused too"})});
    ftp.AlternateMode = true;
    ftp.DataSocket().Timeout = 1;  // 30 s in the product
    ASSERT_TRUE(login());
    ftp.List();
    ASSERT_TRUE(waitDone(8000)) << rec.dump();
    EXPECT_TRUE(rec.has(feSocket, "数据连接超时."));
    EXPECT_EQ(rec.count(feSocket), 1);  // no further error after the refused PORT
    EXPECT_FALSE(ftp.UsePasv);
    EXPECT_EQ(server.transcript().back().substr(0, 5), "PORT ");
    EXPECT_FALSE(doneSuccess);
}

TEST_F(ScriptedTransfer, LocalFileProblemsAreReportedBeforeAnythingIsSent)
{
    server.addSession({{"220 hi"}, plainLoginReplies()});
    ASSERT_TRUE(login());
    ftp.LocalFile = local("no/such/dir/x").toStdString();
    ftp.Upload(false);
    EXPECT_TRUE(rec.has(feLocalRead, ftp.LocalFile));
    QDir(dir.path()).mkdir(QStringLiteral("sub"));
    ftp.LocalFile = dir.filePath(QStringLiteral("sub")).toStdString();  // a directory cannot be deleted as a file
    ftp.Download(false, false, 0);
    EXPECT_TRUE(rec.has(feLocalWrite, ftp.LocalFile));
    QCoreApplication::processEvents();
    EXPECT_EQ(server.transcript().size(), 6u);
    EXPECT_EQ(done, 0);
}

TEST(TransferHelpers, SafeLocalNameTickDiffAndFileSize)
{
    EXPECT_EQ(TFTPclient::SafeLocalName("/dl/a?b:c.txt"), "/dl/a_b_c.txt");
    EXPECT_EQ(TFTPclient::SafeLocalName("/d:ir/x<y>|z*\"q"), "/d:ir/x_y__z__q");
    EXPECT_EQ(TFTPclient::SafeLocalName(""), "");
    EXPECT_EQ(TFTPclient::TickDiff(1000, 1500), 500u);
    EXPECT_EQ(TFTPclient::TickDiff(0xFFFFFFFFu - 295u, 200), 495u);
    QTemporaryDir d;
    QFile f(d.filePath(QStringLiteral("s")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("12345");
    f.close();
    EXPECT_EQ(TFTPclient::LocalFileSize(f.fileName().toStdString()), 5);
    EXPECT_EQ(TFTPclient::LocalFileSize(d.filePath(QStringLiteral("none")).toStdString()), 0);
}

TEST_F(ScriptedTransfer, AnAsciiDownloadGetsLocalLineEndsAcrossEveryChunkBoundary)
{
    // A byte per segment: a CR LF split between two reads still becomes LF;
    // a CR before anything else, and one at the very end, stay.
    const std::string text = "a\\nb\rc\\n\r";
    server.addSession({{"220 hi"},
                       loginThen({"200 ok", "<pasv>", "150 here\n<data-trickle:1:" + text + ">\n226 done",  // TYPE A
                                  "200 ok", "<pasv>", "150 here\n<data:" + text + ">\n226 done"})});        // TYPE I
    ASSERT_TRUE(login());
    ASSERT_TRUE(get("t.txt", AsciiTransfer)) << rec.dump();
    EXPECT_EQ(ReadTestFile(local("t.txt")), "a\nb\rc\n\r");
    ASSERT_TRUE(get("t.bin", BinaryTransfer)) << rec.dump();
    EXPECT_EQ(ReadTestFile(local("t.bin")), "a\r\nb\rc\r\n\r");  // binary: as sent
}

TEST_F(ScriptedTransfer, TypeIsSentOnlyWhenTheServerHasAnother)
{
    // Two binary files in a row: one "TYPE I". A refused "TYPE" is asked
    // again next time; a raw "TYPE" from the user leaves the type unknown.
    const std::string file = "150 here\n<data:abc>\n226 done";
    server.addSession({{"220 hi"},
                       loginThen({"200 ok", "<pasv>", file,      // TYPE I, PASV, RETR a
                                  "<pasv>", file,                // PASV, RETR b
                                  "200 ok", "<pasv>", file,      // TYPE A, PASV, RETR c (ascii)
                                  "500 no", "<pasv>", file,      // TYPE I refused, PASV, RETR d
                                  "200 ok", "<pasv>", file,      // TYPE I again, PASV, RETR e
                                  "200 raw",                     // the user's TYPE I
                                  "200 ok", "<pasv>", file})});  // TYPE I again, PASV, RETR f
    ASSERT_TRUE(login());
    ASSERT_TRUE(get("a", BinaryTransfer)) << rec.dump();
    ASSERT_TRUE(get("b", BinaryTransfer)) << rec.dump();
    ASSERT_TRUE(get("c", AsciiTransfer)) << rec.dump();
    ASSERT_TRUE(get("d", BinaryTransfer)) << rec.dump();
    ASSERT_TRUE(get("e", BinaryTransfer)) << rec.dump();
    done = 0;
    ftp.SendRawCommand("type i");
    ASSERT_TRUE(waitDone()) << rec.dump();
    ASSERT_TRUE(get("f", BinaryTransfer)) << rec.dump();
    EXPECT_EQ(after(server.transcript(), 6),
              (Strings{"TYPE I", "PASV", "RETR a", "PASV", "RETR b", "TYPE A", "PASV", "RETR c", "TYPE I", "PASV",
                       "RETR d", "TYPE I", "PASV", "RETR e", "type i", "TYPE I", "PASV", "RETR f"}));
    EXPECT_EQ(ReadTestFile(local("f")), "abc");
}
