// ~/.netrc read as ftp, curl and lftp read it.

#include "sites/Netrc.h"

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
    EXPECT_FALSE(FindNetrcLogin("password p machine", "", {}) && FindNetrcLogin("password p machine", "", {})->password);
}
