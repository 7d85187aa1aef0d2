// ~/.netrc read as ftp, curl and lftp read it.

#include "sites/Netrc.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(Netrc, EntriesTokensAndMacros)
{
    const std::string text =
        "# a comment line\n"
        "machine ftp.example.org login alice password secret\n"
        "macdef init\ncd /pub\nbinary\n\n"
        "machine FTP.example.org login bob password \"two words \\\"quoted\\\"\" account acct\n"
        "machine comma.example,login carol,password c1\n"
        "default login anonymous password guest@\n";
    auto alice = FindNetrcLogin(text, "ftp.example.org", {});
    ASSERT_TRUE(alice);
    EXPECT_EQ(alice->login, "alice");
    EXPECT_EQ(alice->password, "secret");
    auto bob = FindNetrcLogin(text, "ftp.EXAMPLE.org", "bob");
    ASSERT_TRUE(bob);
    EXPECT_EQ(bob->password, "two words \"quoted\"");
    EXPECT_EQ(bob->account, "acct");
    EXPECT_EQ(FindNetrcLogin(text, "comma.example", {}).value().password, "c1");
    // Another host: the default entry; a login no entry (the default's
    // included) has: nothing.
    EXPECT_EQ(FindNetrcLogin(text, "elsewhere", {}).value().login, "anonymous");
    EXPECT_FALSE(FindNetrcLogin(text, "ftp.example.org", "dave"));
    // The macro's body is not read as entries.
    EXPECT_FALSE(FindNetrcLogin("macdef x\nmachine h password p\n\n", "h", {}));
    EXPECT_FALSE(FindNetrcLogin("machine", "h", {}));
    EXPECT_FALSE(FindNetrcLogin("password p machine", "", {}) &&
                 FindNetrcLogin("password p machine", "", {})->password);
}

// A given password stays; CORVYNE_PASSWORD comes before the file; the file
// gives the login too when none was given; a file others may read gives none.
TEST(Netrc, CompletingACommandLineLogin)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("netrc"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("machine h login fromfile password filepass\n");
    }
    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray netrcBefore = qgetenv("NETRC"), passBefore = qgetenv("CORVYNE_PASSWORD");
    qputenv("NETRC", file.toLocal8Bit());
    qunsetenv("CORVYNE_PASSWORD");
    std::string refusal;

    std::optional<std::string> user, pass = std::string("given");
    CompleteLogin("h", user, pass, &refusal);
    EXPECT_EQ(pass, "given");
    EXPECT_FALSE(user);

    pass.reset();
    CompleteLogin("h", user, pass, &refusal);
    EXPECT_EQ(user, "fromfile");
    EXPECT_EQ(pass, "filepass");

    user = "someone";
    pass.reset();
    CompleteLogin("h", user, pass, &refusal);  // the file's entry is another login's
    EXPECT_FALSE(pass);

    qputenv("CORVYNE_PASSWORD", "fromenv");
    user.reset();
    CompleteLogin("h", user, pass, &refusal);
    EXPECT_EQ(pass, "fromenv");
    EXPECT_FALSE(user);
    qunsetenv("CORVYNE_PASSWORD");

    QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    pass.reset();
    refusal.clear();
    CompleteLogin("h", user, pass, &refusal);
    EXPECT_FALSE(pass);
    EXPECT_NE(refusal.find("可被其他用户读取"), std::string::npos) << refusal;

    if (netrcBefore.isNull())
        qunsetenv("NETRC");
    else
        qputenv("NETRC", netrcBefore);
    if (!passBefore.isNull())
        qputenv("CORVYNE_PASSWORD", passBefore);
}
