#include "session/CustomCommands.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(CustomCommands, StoredAsCaptionCommandAndShortcutTextUpToTheFirstGap)
{
    QTemporaryDir dir;
    TIniFile ini(dir.filePath("corvyne.ini").toStdString(), true);
    ini.Load();
    ini.WriteString("Commands", "c9", "left over");
    WriteCustomCommands(ini, {{"Mode", "SITE CHMOD 644 %f", 'a'}, {"Who", "SITE WHO", 0}});
    EXPECT_EQ(ini.ReadString("Commands", "k1"), "Ctrl+Shift+A");
    EXPECT_EQ(ini.ReadString("Commands", "k2"), "");
    EXPECT_EQ(ini.ReadString("Commands", "c9"), "");  // the section is written whole
    TIniFile again(ini.Path(), true);
    again.Load();
    EXPECT_EQ(ReadCustomCommands(again),
              (std::vector<TCustomCommand>{{"Mode", "SITE CHMOD 644 %f", 'A'}, {"Who", "SITE WHO", 0}}));

    // Only the last character of the short-cut text counts; a gap ends the list.
    again.WriteString("Commands", "k2", "Strg+Umschalt+7");
    again.WriteString("Commands", "c4", "after a gap");
    again.WriteString("Commands", "p4", "NOOP");
    const auto read = ReadCustomCommands(again);
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[1].Shortcut, '7');
}

TEST(CustomCommands, ExpansionPerNameAndOfTheAskedText)
{
    EXPECT_EQ(CustomCommandKind("SITE WHO"), TCustomKind::Plain);
    EXPECT_EQ(CustomCommandKind("SITE QUOTA 100%"), TCustomKind::Plain);  // a "%" of its own stays text
    EXPECT_EQ(CustomCommandKind("SITE %d"), TCustomKind::Parameter);
    EXPECT_EQ(CustomCommandKind("SITE %d %f"), TCustomKind::PerFile);

    EXPECT_EQ(ExpandCustomCommand("SITE QUOTA 100%", "", {"x"}), std::vector<std::string>{"SITE QUOTA 100%"});
    // Only the first "%d" is replaced.
    EXPECT_EQ(ExpandCustomCommand("SITE %d %d", "A", {}), std::vector<std::string>{"SITE A %d"});
    EXPECT_EQ(ExpandCustomCommand("SITE CHMOD %d %f", "644", {"a", "b c", "d"}),
              (std::vector<std::string>{"SITE CHMOD 644 a", "SITE CHMOD 644 b c", "SITE CHMOD 644 d"}));
    // A "%f" typed into the asked text is text, not a place for a name.
    EXPECT_EQ(ExpandCustomCommand("SITE %f %d", "x%fy", {"n"}), std::vector<std::string>{"SITE n x%fy"});
    EXPECT_EQ(ExpandCustomCommand("SITE %d %f", "x%fy", {"n"}), std::vector<std::string>{"SITE x%fy n"});
    EXPECT_TRUE(ExpandCustomCommand("SITE CHMOD 644 %f", "", {}).empty());  // nothing selected: nothing sent
}
