// The folder chooser: the path follows the tree (with the target folder
// added), the volumes are listed, and a volume that cannot be entered asks
// to retry and otherwise goes back to the one chosen before.

#include "dialogs/FolderChooser.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
struct Retries : IPrompt {
    std::vector<std::string> asked;
    std::vector<bool> answers;
    void ShowMessage(MessageKind, const std::string&) override {}
    bool Confirm(const std::string&) override { return false; }
    bool AskRetry(const std::string& text) override
    {
        asked.push_back(text);
        const bool again = !answers.empty() && answers.front();
        if (!answers.empty())
            answers.erase(answers.begin());
        return again;
    }
};
}  // namespace

TEST(FolderChooser, ThePathFollowsTheTreeAndAVolumeThatCannotBeEnteredIsRetriedOrLeft)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("inner"));
    Retries prompt;
    TfrmBrowse b(prompt);
    EXPECT_GE(b.DriveBox->findText(QStringLiteral("/")), 0);  // the volumes mounted here

    b.SetDirectory(dir.filePath("inner"));
    EXPECT_EQ(b.txtPath->text(), dir.filePath("inner"));
    b.TargetFolder = QStringLiteral("site");
    b.SetDirectory(dir.path());
    EXPECT_EQ(b.txtPath->text(), dir.path() + QStringLiteral("/site"));
    const QString before = b.DriveBox->currentText();

    // Refused twice: retry, then cancel; the volume chosen before stays.
    int tries = 0;
    b.CanEnter = [&](const QString&) { return ++tries > 5; };
    prompt.answers = {true, false};
    b.SelectDrive(QStringLiteral("/media/gone"));
    EXPECT_EQ(prompt.asked, (std::vector<std::string>{"无法存取 /media/gone", "无法存取 /media/gone"}));
    EXPECT_EQ(b.DriveBox->currentText(), before);
    EXPECT_EQ(b.txtPath->text(), dir.path() + QStringLiteral("/site"));

    // Entered at the next try: the tree and path go to its root.
    b.CanEnter = [](const QString&) { return true; };
    b.SelectDrive(QStringLiteral("/"));
    EXPECT_EQ(b.txtPath->text(), QStringLiteral("/site"));
}
