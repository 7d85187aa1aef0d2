#include "transfer/TransferQueue.h"
#include "transfer/TransferRules.h"

#include <gtest/gtest.h>

namespace {

TQueueEntry file(const std::string& name, int64_t size)
{
    return {TEntryKind::DownloadFile, "/r/" + name, size, "/l/" + name};
}

std::vector<std::string> sources(const TTransferQueue& q)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < q.Count(); ++i)
        out.push_back(q.At(i).Source);
    return out;
}

TEST(TransferQueue, CountsFollowEveryEdit)
{
    TTransferQueue q;
    q.Append({file("a", 10), file("b", 20), {TEntryKind::DownloadDirectory, "/r/d/", -1, "/l/d/"}, file("c", 30)});
    EXPECT_EQ(q.Bytes(), 60);
    EXPECT_EQ(q.Files(), 3u);
    EXPECT_EQ(q.Directories(), 1u);
    q.InsertAtHead({file("x", 5), file("y", -1)});
    EXPECT_EQ(sources(q), (std::vector<std::string>{"/r/x", "/r/y", "/r/a", "/r/b", "/r/d/", "/r/c"}));
    EXPECT_EQ(q.Bytes(), 65);  // an unknown size counts nothing
    q.RemoveHead();
    q.Remove({1, 3, 3, 99});  // duplicates and rows past the end are ignored
    EXPECT_EQ(sources(q), (std::vector<std::string>{"/r/y", "/r/b", "/r/c"}));
    EXPECT_EQ(q.Bytes(), 50);
    EXPECT_EQ(q.Files(), 3u);
    q.MoveToFront({2}, 1);  // row 0 stays while it moves
    EXPECT_EQ(sources(q), (std::vector<std::string>{"/r/y", "/r/c", "/r/b"}));
    q.MoveToEnd({0});
    EXPECT_EQ(sources(q), (std::vector<std::string>{"/r/c", "/r/b", "/r/y"}));
    q.MoveOnto(0, 2);  // down: after the row
    EXPECT_EQ(sources(q), (std::vector<std::string>{"/r/b", "/r/y", "/r/c"}));
    q.MoveOnto(2, 0);  // up: before it
    EXPECT_EQ(sources(q), (std::vector<std::string>{"/r/c", "/r/b", "/r/y"}));
    EXPECT_EQ(q.Bytes(), 50);
    q.Clear();
    EXPECT_EQ(q.Bytes(), 0);
    EXPECT_EQ(q.Files(), 0u);
}

TEST(TransferQueue, PathsAndNamesThatMayBecomeAPathSegment)
{
    EXPECT_EQ(EnsureTrailingSeparator("/pub"), "/pub/");
    EXPECT_EQ(EnsureTrailingSeparator("/"), "/");
    EXPECT_EQ(LastPathSegment("a/b/"), "b/");
    EXPECT_EQ(LastPathSegment("a/b"), "b");
    EXPECT_EQ(LastPathSegment("ab"), "ab");
    EXPECT_EQ(ParentPath("a/b/c"), "a/b/");
    EXPECT_EQ(ParentPath("a/b/c/"), "a/b/");
    EXPECT_EQ(ParentPath("c"), "");
    for (const char* bad : {"", ".", "..", "a/b", "../x", "x\n", "tab\there", "del\x7f"})
        EXPECT_FALSE(SafeEntryName(bad)) << bad;
    for (const char* good : {"a b", "中文.txt", "...", ".hidden", "-dash"})
        EXPECT_TRUE(SafeEntryName(good)) << good;
}

TEST(TransferRules, ExistingTargetsByModeAndAnswer)
{
    const TExistingTarget absent{false, 0, 100}, smaller{true, 500, 1000}, same{true, 1000, 1000};
    using A = TExistingAnswer;
    EXPECT_EQ(DecideExisting(absent, 3, A::Ask, false, true, false), TFileAction::Overwrite);
    EXPECT_EQ(DecideExisting(smaller, 4, A::Ask, false, true, false), TFileAction::Resume);
    EXPECT_EQ(DecideExisting(same, 4, A::Ask, false, true, false), TFileAction::Skip);
    EXPECT_EQ(DecideExisting(same, 0, A::Ask, false, true, false), TFileAction::Ask);
    EXPECT_EQ(DecideExisting(same, 0, A::SkipAll, false, true, false), TFileAction::Skip);
    EXPECT_EQ(DecideExisting(same, 3, A::OverwriteAll, false, true, false), TFileAction::Overwrite);
    EXPECT_EQ(DecideExisting(same, 0, A::Ask, false, true, true), TFileAction::Overwrite);  // a script never asks
    EXPECT_EQ(DecideExisting(same, 3, A::Ask, true, true, false), TFileAction::Resume);     // after a reconnect
    EXPECT_EQ(DecideExisting(same, 3, A::Ask, true, false, false), TFileAction::Skip);
    EXPECT_EQ(DecideExisting(same, 9, A::Ask, false, true, false), TFileAction::Overwrite);
    // A target larger than its source cannot be resumed into it: the user is
    // asked, a run without one replaces it whole. Unknown sizes resume.
    const TExistingTarget larger{true, 1500, 1000}, unknown{true, 1500, -1};
    EXPECT_EQ(DecideExisting(larger, 1, A::Ask, false, true, false), TFileAction::Ask);
    EXPECT_EQ(DecideExisting(larger, 1, A::Ask, false, true, true), TFileAction::Overwrite);
    EXPECT_EQ(DecideExisting(larger, 3, A::Ask, true, true, false), TFileAction::Ask);
    EXPECT_EQ(DecideExisting(larger, 3, A::Ask, true, true, true), TFileAction::Overwrite);
    EXPECT_EQ(DecideExisting(larger, 4, A::Ask, false, true, true), TFileAction::Skip);
    EXPECT_EQ(DecideExisting(same, 1, A::Ask, false, true, true), TFileAction::Resume);
    EXPECT_EQ(DecideExisting(unknown, 1, A::Ask, false, true, true), TFileAction::Resume);
    EXPECT_EQ(DecideExisting(unknown, 4, A::Ask, false, true, true), TFileAction::Skip);
}

TEST(TransferRules, ModesRenamesSkipsAndCase)
{
    TSettings s;
    s.AsciiExtensions = DefaultAsciiExtensions;
    EXPECT_EQ(ChooseTransferMode(TModePanel::Automatic, "/d/read.me.TXT", s), AsciiTransfer);
    EXPECT_EQ(ChooseTransferMode(TModePanel::Automatic, "/d/a.zip", s), BinaryTransfer);
    EXPECT_EQ(ChooseTransferMode(TModePanel::Automatic, "/d/README", s), BinaryTransfer);
    s.AsciiNoExtensions = true;
    EXPECT_EQ(ChooseTransferMode(TModePanel::Automatic, "/d.x/README", s), AsciiTransfer);
    EXPECT_EQ(ChooseTransferMode(TModePanel::Automatic, "/d/.profile", s), AsciiTransfer);
    EXPECT_EQ(ChooseTransferMode(TModePanel::Binary, "/d/a.txt", s), BinaryTransfer);
    EXPECT_EQ(ChooseTransferMode(TModePanel::Ascii, "/d/a.zip", s), AsciiTransfer);

    s.RenameRules = {".htm,.html"};
    EXPECT_EQ(ApplyRenameRules("index.HTM", true, s, true), "index.html");
    EXPECT_EQ(ApplyRenameRules("page.html", false, s, true), "page.htm");
    EXPECT_EQ(ApplyRenameRules("page.html", false, s, false), "page.html");
    EXPECT_EQ(ApplyRenameRules("noext", true, s, true), "noext");

    EXPECT_FALSE(MatchesSkipList("core", s));
    s.SkipEnabled = true;
    s.SkipPatterns = {"*.tmp", "core"};
    EXPECT_TRUE(MatchesSkipList("x.TMP", s));
    EXPECT_TRUE(MatchesSkipList("core", s));
    EXPECT_FALSE(MatchesSkipList("core.c", s));

    // Only the name changes case: the folders on the way are what they are.
    EXPECT_EQ(ApplyCaseRule("/Home/Dl/Straße.TXT", 2), "/Home/Dl/straße.txt");
    EXPECT_EQ(ApplyCaseRule("/Home/Dl/äb.txt", 1), "/Home/Dl/ÄB.TXT");
    EXPECT_EQ(ApplyCaseRule("/Home/Dl/a.txt", 0), "/Home/Dl/a.txt");
}

}  // namespace
