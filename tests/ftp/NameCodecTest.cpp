// Server names as bytes and as text: which charset a name is read in, and
// what a new name is written in.
#include "ftp/NameCodec.h"

#include <gtest/gtest.h>

namespace {
const std::string gbkChinese = "\xd6\xd0\xce\xc4";  // "中文" in GBK
const std::string gbkBackslash = "\x81\x5c";        // "乗": a 0x5C byte inside a character
}  // namespace

TEST(NameCodec, AutomaticReadsUtf8AsUtf8AndAnythingElseAsGb18030)
{
    TNameCodec codec;
    bool differ = true;
    EXPECT_EQ(codec.Decode("plain.txt", differ), QStringLiteral("plain.txt"));
    EXPECT_FALSE(differ);
    EXPECT_EQ(codec.Decode("中文.txt", differ), QStringLiteral("中文.txt"));
    EXPECT_FALSE(differ);
    EXPECT_FALSE(codec.WritesLegacy());
    EXPECT_EQ(codec.Encode(QStringLiteral("新")), "新");

    EXPECT_EQ(codec.Decode(gbkChinese + gbkBackslash + ".bin", differ), QStringLiteral("中文乗.bin"));
    EXPECT_TRUE(differ);
    // From now on new names go out in GB18030; UTF-8 names still read as such.
    EXPECT_TRUE(codec.WritesLegacy());
    EXPECT_EQ(codec.Encode(QStringLiteral("中文乗.bin")), gbkChinese + gbkBackslash + ".bin");
    EXPECT_EQ(codec.Decode("中文", differ), QStringLiteral("中文"));
    EXPECT_FALSE(differ);

    // A path whose parts differ: each part read on its own.
    EXPECT_EQ(codec.DecodePath("/pub/中文/" + gbkChinese + "/"), QStringLiteral("/pub/中文/中文/"));
    EXPECT_EQ(codec.DecodePath(""), QString());
    // Bytes no charset reads: shown with replacement characters, never a crash.
    EXPECT_FALSE(codec.Decode("\xff\xfe\x80", differ).isEmpty());
    EXPECT_TRUE(differ);
}

TEST(NameCodec, AChosenCharsetReadsAndWritesEveryName)
{
    struct Case {
        TNameCharset charset;
        std::string bytes;
        QString text;
    };
    const Case cases[] = {
        {TNameCharset::Gb18030, gbkChinese, QStringLiteral("中文")},
        {TNameCharset::Big5, "\xa4\xa4\xa4\xe5", QStringLiteral("中文")},
        {TNameCharset::ShiftJis, "\x95\x5c", QStringLiteral("表")},  // 0x5C as the second byte here too
        {TNameCharset::EucKr, "\xc7\xd1", QStringLiteral("한")},
        {TNameCharset::Latin1, "caf\xe9", QStringLiteral("café")},
        {TNameCharset::Utf8, "中文", QStringLiteral("中文")},
    };
    for (const Case& c : cases) {
        const TNameCodec codec(c.charset);
        bool differ = false;
        EXPECT_EQ(codec.Decode(c.bytes, differ), c.text) << NameCharsetKey(c.charset);
        EXPECT_EQ(differ, c.charset != TNameCharset::Utf8) << NameCharsetKey(c.charset);
        EXPECT_EQ(codec.Encode(c.text), c.bytes) << NameCharsetKey(c.charset);
        TNameCharset back = TNameCharset::Auto;
        ASSERT_TRUE(NameCharsetFromKey(NameCharsetKey(c.charset), back));
        EXPECT_EQ(back, c.charset);
    }
    // UTF-8 chosen: bytes that are not UTF-8 are not read as GBK.
    const TNameCodec utf8(TNameCharset::Utf8);
    EXPECT_NE(utf8.Decode(gbkChinese), QStringLiteral("中文"));
    EXPECT_FALSE(utf8.WritesLegacy());

    TNameCharset c = TNameCharset::Utf8;
    EXPECT_TRUE(NameCharsetFromKey("gb18030", c));
    EXPECT_EQ(c, TNameCharset::Gb18030);
    EXPECT_FALSE(NameCharsetFromKey("EBCDIC", c));
    EXPECT_EQ(c, TNameCharset::Gb18030);
}
