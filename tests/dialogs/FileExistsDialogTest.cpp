// The file-exists question: each of its seven answers, the rename that can
// be cancelled back into the dialog, and the countdown to the default.

#include "dialogs/FileExistsDialog.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {

using Answer = IPrompt::ExistingFileAnswer;

IPrompt::ExistingFileRequest request(bool resumeAllowed, int countdown)
{
    IPrompt::ExistingFileRequest r;
    r.name = "a.txt";
    r.source = "远程文件: 1,234 字节 , 2026-12-07 10:00";
    r.target = "本地文件: 99 字节 , 2026-12-01 09:00";
    r.resumeAllowed = resumeAllowed;
    r.countdownSeconds = countdown;
    r.newName = "/tmp/dl/a.txt";
    return r;
}

TEST(ResumeDialog, EachButtonGivesItsAnswer)
{
    for (Answer a :
         {Answer::Overwrite, Answer::Resume, Answer::Skip, Answer::SkipAll, Answer::OverwriteAll, Answer::Cancel}) {
        IPrompt::ExistingFileRequest r = request(true, 0);
        TfrmResume d(r);
        d.open();
        ASSERT_TRUE(d.Button(a)->isEnabled());
        d.Button(a)->click();
        EXPECT_EQ(d.Result(), a);
        EXPECT_FALSE(d.isVisible());
    }
    // Resume is refused where the server cannot resume.
    IPrompt::ExistingFileRequest r = request(false, 0);
    TfrmResume d(r);
    EXPECT_FALSE(d.Button(Answer::Resume)->isEnabled());
    EXPECT_EQ(d.lblDuplicate->text(), QStringLiteral("重复的本地文件: a.txt"));
    EXPECT_EQ(d.lblTop->text(), QString::fromStdString(r.source));
    EXPECT_TRUE(d.lblTimer->isHidden());
    EXPECT_FALSE(d.Counting());
    // Closing the window is no permission to overwrite.
    d.open();
    d.reject();
    EXPECT_EQ(d.Result(), Answer::Cancel);
}

TEST(ResumeDialog, RenameAsksAndACancelReturnsToTheDialog)
{
    IPrompt::ExistingFileRequest r = request(true, 30);
    TfrmResume d(r);
    std::vector<std::string> offered;
    bool accept = false;
    d.AskNewName = [&](std::string& name) {
        offered.push_back(name);
        if (accept)
            name = "/tmp/dl/b.txt";
        return accept;
    };
    d.open();
    ASSERT_TRUE(d.Counting());
    d.Button(Answer::Rename)->click();
    EXPECT_TRUE(d.isVisible());  // cancelled: still asking
    EXPECT_FALSE(d.Counting());  // and no longer counting down to an overwrite
    EXPECT_EQ(r.newName, "/tmp/dl/a.txt");
    accept = true;
    d.Button(Answer::Rename)->click();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.Result(), Answer::Rename);
    EXPECT_EQ(r.newName, "/tmp/dl/b.txt");
    EXPECT_EQ(offered, (std::vector<std::string>{"/tmp/dl/a.txt", "/tmp/dl/a.txt"}));
}

TEST(ResumeDialog, TheCountdownEndsInOverwriteAfterThirtyOneSeconds)
{
    IPrompt::ExistingFileRequest r = request(true, 30);
    r.upload = true;
    TfrmResume d(r);
    EXPECT_EQ(d.lblDuplicate->text(), QStringLiteral("重复的远程文件: a.txt"));
    EXPECT_EQ(d.lblTimer->text(), QStringLiteral("计时直到默认: 30"));
    d.open();
    EXPECT_TRUE(d.Counting());
    for (int i = 0; i < 30; ++i)
        d.TimerTick();
    EXPECT_EQ(d.lblTimer->text(), QStringLiteral("计时直到默认: 0"));
    EXPECT_TRUE(d.isVisible());
    d.TimerTick();
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(d.Result(), Answer::Overwrite);
}

}  // namespace
