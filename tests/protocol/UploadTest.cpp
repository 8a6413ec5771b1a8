// Preparing an upload: type codes, the handset name, the wire-name guard, the melody header.
#include <gtest/gtest.h>

#include "protocol/Upload.h"

namespace {

TEST(TypeCodeFor, Table)
{
    const std::pair<const char*, std::int32_t> cases[] = {
        {".jpg", 106}, {".JPG", 106}, {".Png", 109}, {".gif", 110}, {".bmp", 112},
        {".mmf", 302}, {".IMY", 303}, {".mid", 306}, {".amr", 200},
        {".JPEG", 0},  {".mel", 0},   {"", 0},       {"jpg", 0},    {".jpg.", 0},
    };
    for (const auto& [ext, code] : cases)
        EXPECT_EQ(TypeCodeFor(ext), code) << ext;
}

TEST(SplitExtension, FromTheLastDot)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"photo.jpg", "photo", ".jpg"},
        {"a.b.c", "a.b", ".c"},
        {"noext", "noext", ""},
        {"trailing.", "trailing", "."},
        {".hidden", "", ".hidden"},
    };
    for (const auto& [name, base, ext] : cases) {
        std::string b = "x";
        std::string e = "y";
        SplitExtension(name, b, e);
        EXPECT_EQ(b, base) << name;
        EXPECT_EQ(e, ext) << name;
    }
}

TEST(HandsetName, ShortensTheBaseByWholeCharacters)
{
    std::string cyr30;
    for (int i = 0; i < 30; ++i)
        cyr30 += "д";   // two bytes each
    const std::string base30(30, 'a');
    const std::string mixed = std::string(23, 'a') + "ж" + "tail";   // "ж" straddles byte 24

    EXPECT_EQ(HandsetName(base30 + ".jpg", false), std::string(24, 'a') + ".jpg");
    EXPECT_EQ(HandsetName(cyr30 + ".mmf", false), cyr30.substr(0, 24) + ".mmf");
    EXPECT_EQ(HandsetName(mixed + ".txt", false), std::string(23, 'a') + ".txt");
    EXPECT_EQ(HandsetName(std::string(24, 'a') + ".jpg", false), std::string(24, 'a') + ".jpg");
    EXPECT_EQ(HandsetName("€€€€€€€€€€.gif", false), "€€€€€€€€.gif");   // 3 bytes each
    // A name that is not UTF-8 is read as Latin-1, then shortened; UTF-8 of any plane stays.
    EXPECT_EQ(HandsetName("caf\xE9.txt", false), "caf\xC3\xA9.txt");
    std::string e12;
    for (int i = 0; i < 12; ++i)
        e12 += "\xC3\xA9";
    EXPECT_EQ(HandsetName(std::string(30, '\xE9') + ".jpg", false), e12 + ".jpg");
    EXPECT_EQ(HandsetName("\xF0\x9F\x8E\xB5.mmf", false), "\xF0\x9F\x8E\xB5.mmf");
    // The extension stays whole; the name as a whole is cut to 56 characters.
    const std::string longExt = "." + std::string(60, 'e');
    EXPECT_EQ(HandsetName("n" + longExt, false), ("n" + longExt).substr(0, 56));
}

TEST(HandsetName, Melody)
{
    EXPECT_EQ(HandsetName("ring.mmf", true), "ring.mel");
    EXPECT_EQ(HandsetName("noext", true), "noext.mel");
    EXPECT_EQ(HandsetName(std::string(30, 'r') + ".mmf", true), std::string(24, 'r') + ".mel");
    EXPECT_EQ(HandsetName("ring.mmf", false), "ring.mmf");
}

TEST(IsSafeWireName, RefusesQuotesAndControlBytes)
{
    EXPECT_TRUE(IsSafeWireName("photo 1.jpg"));
    EXPECT_TRUE(IsSafeWireName("Фото.jpg"));
    EXPECT_TRUE(IsSafeWireName(""));
    const std::string bad[] = {"a\"b.jpg", "a\rb", "a\nb", "tab\t", std::string("nul\0", 4),
                               "del\x7F", "\x1F"};
    for (const std::string& name : bad)
        EXPECT_FALSE(IsSafeWireName(name)) << name;
}

TEST(MelodyHeader, Layout)
{
    const auto h = MelodyHeader("ring.mmf");
    const std::string name = "ring.mmf";
    for (std::size_t i = 0; i < kMelodyHeaderSize; ++i) {
        const std::uint8_t expected = i < name.size() ? static_cast<std::uint8_t>(name[i]) : 0xFF;
        EXPECT_EQ(h[i], expected) << i;
    }

    const std::string longName = std::string(40, 'L') + ".mmf";
    const auto l = MelodyHeader(longName);
    for (std::size_t i = 0; i < 31; ++i)
        EXPECT_EQ(l[i], 'L') << i;
    EXPECT_EQ(l[31], 0xFF);

    const auto empty = MelodyHeader("");
    for (std::uint8_t b : empty)
        EXPECT_EQ(b, 0xFF);
}

} // namespace
