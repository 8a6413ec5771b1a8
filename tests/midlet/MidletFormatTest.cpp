// The MIDlet installer's pure parts: JAD keys, the prefix, index files and the suite's files.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "midlet/MidletFormat.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

// An index file holding the given texts as entries.
Bytes IndexOf(std::initializer_list<std::string_view> texts)
{
    Bytes file;
    for (std::string_view t : texts) {
        file.push_back(static_cast<std::uint8_t>(t.size() >> 8));
        file.push_back(static_cast<std::uint8_t>(t.size() & 0xFF));
        file.insert(file.end(), t.begin(), t.end());
    }
    return file;
}

// ---- prefix -------------------------------------------------------------------------------

TEST(EncodeSuitePrefix, EncodesByteByByte)
{
    const struct {
        std::string name;
        std::string prefix;
    } cases[] = {
        {"Hi Go", "#Hi%0020#Go"},
        {"AZaz09", "#A#Zaz09"},
        {std::string("\x01!/\x2F", 4), "%0001%0021%002F%002F"},
        {std::string(1, '\0'), "%0000"},
        {":@[`{~\x7F", ":@[`{~\x7F"},                 // 0x3A-0x40, 0x5B-0x60, 0x7B up
        {"\xC3\xA9\xD0\x96\xFF", "\xC3\xA9\xD0\x96\xFF"}, // bytes from 0x80 up stay as they are
        {"#%_", "%0023%0025_"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EncodeSuitePrefix(c.name), c.prefix) << c.name;
}

TEST(EncodeSuitePrefix, HiGoGivesTheDocumentedSuiteFileNames)
{
    const std::string prefix = EncodeSuitePrefix("Hi Go") + "_";
    EXPECT_EQ(prefix, "#Hi%0020#Go_");
    EXPECT_EQ(prefix + std::string(kSuiteJadUrlFile), "#Hi%0020#Go_jadUrl.utf");
}

TEST(EncodeSuitePrefix, NamesDifferingInCaseGetDifferentPrefixes)
{
    EXPECT_EQ(EncodeSuitePrefix("A"), "#A");
    EXPECT_EQ(EncodeSuitePrefix("a"), "a");
}

// ---- index file walk and append -----------------------------------------------------------

TEST(AppendStoreEntryBytes, WalksTheEntries)
{
    const struct {
        const char* what;
        Bytes file;
        std::string text;
        int result;
    } cases[] = {
        {"empty file", {}, "Game", kStoreAppended},
        {"first entry", IndexOf({"Game", "Chess"}), "Game", kStorePresent},
        {"last entry", IndexOf({"Game", "Chess"}), "Chess", kStorePresent},
        {"differs in case", IndexOf({"Game", "Chess"}), "game", kStoreAppended},
        {"longer entry holding the text", IndexOf({"Games"}), "Game", kStoreAppended},
        {"text inside an entry's bytes", IndexOf({std::string("\0\4Game", 6)}), "Game", kStoreAppended},
        {"empty entry before", IndexOf({"", "Game"}), "Game", kStorePresent},
        {"entry running past the end", Bytes{0, 9, 'G', 'a'}, "Game", kStoreError},
        {"past the end, same length", Bytes{0, 4, 'G', 'a', 'm'}, "Game", kStoreError},
        {"length byte cut off", Bytes{0, 4, 'G', 'a', 'm', 'e', 0}, "Chess", kStoreError},
        {"high length byte used", IndexOf({std::string(300, 'x'), "Game"}), "Game", kStorePresent},
    };
    for (const auto& c : cases) {
        Bytes file = c.file;
        EXPECT_EQ(AppendStoreEntryBytes(file, false, c.text), c.result) << c.what;
        if (c.result == kStoreAppended) {
            Bytes expected = c.file;
            const Bytes entry = IndexOf({c.text});
            expected.insert(expected.end(), entry.begin(), entry.end());
            EXPECT_EQ(file, expected) << c.what;
        } else {
            EXPECT_EQ(file, c.file) << c.what << ": nothing may change";
        }
    }
}

TEST(AppendStoreEntryBytes, ScansUpTo4096Bytes)
{
    // 16 entries of 254 text bytes (256 bytes each) make exactly 4096 bytes; the last one matches.
    std::vector<std::string> texts;
    Bytes file;
    for (char c = 'a'; c < 'a' + 16; ++c) {
        const Bytes e = IndexOf({std::string(254, c)});
        file.insert(file.end(), e.begin(), e.end());
    }
    ASSERT_EQ(file.size(), 4096u);
    Bytes copy = file;
    EXPECT_EQ(AppendStoreEntryBytes(copy, false, std::string(254, 'p')), kStorePresent);
    EXPECT_EQ(AppendStoreEntryBytes(copy, false, "new"), kStoreAppended);
    EXPECT_EQ(copy.size(), 4096u + 5);

    file.push_back(0);   // 4097 bytes: too long, whatever it holds
    copy = file;
    EXPECT_EQ(AppendStoreEntryBytes(copy, false, "new"), kStoreError);
    EXPECT_EQ(copy, file);
}

TEST(AppendStoreEntryBytes, CreateModeStartsAFreshFile)
{
    Bytes file = IndexOf({"Game", "Chess"});
    EXPECT_EQ(AppendStoreEntryBytes(file, true, "Game"), kStoreAppended);
    EXPECT_EQ(file, IndexOf({"Game"}));

    Bytes broken{0, 200, 1};   // create mode does not look at the old bytes
    EXPECT_EQ(AppendStoreEntryBytes(broken, true, "x"), kStoreAppended);
    EXPECT_EQ(broken, (Bytes{0, 1, 'x'}));
}

TEST(AppendStoreEntryBytes, RefusesATextOver255Bytes)
{
    Bytes file;
    EXPECT_EQ(AppendStoreEntryBytes(file, true, std::string(256, 'n')), kStoreError);
    EXPECT_TRUE(file.empty());
    EXPECT_EQ(AppendStoreEntryBytes(file, true, std::string(255, 'n')), kStoreAppended);
    EXPECT_EQ(file.size(), 257u);
    EXPECT_EQ(file[0], 0);
    EXPECT_EQ(file[1], 255);
}

class AppendStoreEntryFile : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)).toStdString(); }
    static void Write(const std::string& path, const Bytes& bytes)
    {
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    QTemporaryDir dir;
};

TEST_F(AppendStoreEntryFile, ExtendsCreatesAndRefuses)
{
    const std::string path = Path("suitesName.utf");
    EXPECT_EQ(AppendStoreEntry(path, false, "Game"), kStoreError) << "no file to extend";
    EXPECT_FALSE(std::filesystem::exists(path));

    EXPECT_EQ(AppendStoreEntry(path, true, "Game"), kStoreAppended);
    EXPECT_EQ(Read(path), IndexOf({"Game"}));
    EXPECT_EQ(AppendStoreEntry(path, false, "Chess"), kStoreAppended);
    EXPECT_EQ(AppendStoreEntry(path, false, "Game"), kStorePresent);
    EXPECT_EQ(Read(path), IndexOf({"Game", "Chess"}));

    EXPECT_EQ(AppendStoreEntry(path, true, "Chess"), kStoreAppended) << "create replaces the file";
    EXPECT_EQ(Read(path), IndexOf({"Chess"}));
}

TEST_F(AppendStoreEntryFile, FileOver4096BytesOrDamagedStaysUntouched)
{
    const std::string path = Path("suites.utf");
    const Bytes big(4097, 0);
    Write(path, big);
    EXPECT_EQ(AppendStoreEntry(path, false, "a_"), kStoreError);
    EXPECT_EQ(Read(path), big);

    const Bytes damaged{0, 50, 'a', '_'};
    Write(path, damaged);
    EXPECT_EQ(AppendStoreEntry(path, false, "a_"), kStoreError);
    EXPECT_EQ(Read(path), damaged);

    EXPECT_EQ(AppendStoreEntry(dir.path().toStdString(), true, "a_"), kStoreError) << "a folder";
}

// ---- JAD keys -----------------------------------------------------------------------------

TEST(ParseJad, KeyRules)
{
    const struct {
        const char* jad;
        std::int32_t size;
        const char* name;
        const char* url;
    } cases[] = {
        {"MIDlet-Jar-Size: 1234\nMIDlet-Name: Game\nMIDlet-Jar-URL: game.jar\n", 1234, "Game", "game.jar"},
        {"midlet-jar-size:  1234  \r\n", 1234, "", ""},
        {"MIDLET-NAME:\tHi Go \t\r\nmidlet-jar-url:g.jar", 0, "Hi Go", "g.jar"},
        {" MIDlet-Jar-Size: 10\n\tMIDlet-Name: x\nX-MIDlet-Jar-URL: a.jar\n", 0, "", ""},
        {"MIDlet-Jar-Size: 12x\n", -1, "", ""},
        {"MIDlet-Jar-Size:\n", -1, "", ""},
        {"MIDlet-Jar-Size: 0x10\n", -1, "", ""},
        {"MIDlet-Jar-Size: 2147483648\n", -1, "", ""},
        {"MIDlet-Jar-Size: +2147483647\n", 2147483647, "", ""},
        {"MIDlet-Jar-Size: -7\n", -7, "", ""},
        {"MIDlet-Jar-Size: 0\n", 0, "", ""},
        {"MIDlet-Name: One\nMIDlet-Name: Two\nMIDlet-Jar-Size: 5\nMIDlet-Jar-Size: 6\n", 6, "Two", ""},
        {"MIDlet-Jar-Size: 5\nMIDlet-Jar-Size: z\n", -1, "", ""},
        {"MIDlet-Name: a\rMIDlet-Jar-URL: b\r", 0, "a", "b"},
        {"MIDlet-Name:\n", 0, "", ""},
        // A key directly after the size key is read from the shortened line.
        {"MIDlet-Jar-Size: MIDlet-Name: odd\n", -1, "odd", ""},
        {"MIDlet-Name: MIDlet-Jar-URL: u.jar\n", 0, "MIDlet-Jar-URL: u.jar", "u.jar"},
    };
    for (const auto& c : cases) {
        const TJadValues v = ParseJad(c.jad);
        EXPECT_EQ(v.JarSize, c.size) << c.jad;
        EXPECT_EQ(v.Name, c.name) << c.jad;
        EXPECT_EQ(v.JarUrl, c.url) << c.jad;
    }
}

TEST(ParseJad, ValuesKeepTheirBytes)
{
    const TJadValues v = ParseJad("MIDlet-Name: \xD0\x98\xD0\xB3\xD1\x80\xD0\xB0\n");
    EXPECT_EQ(v.Name, "\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0");
}

TEST(JadValuesError, ChecksInOrder)
{
    const struct {
        TJadValues values;
        const char* message;
    } cases[] = {
        {{0, "", ""}, "Key: MIDlet-Jar-Size: not found."},
        {{-1, "", ""}, "Key: MIDlet-Jar-URL: not found."},
        {{-1, "", "g.jar"}, "Key: MIDlet-Name: not found."},
        {{0, "Game", "g.jar"}, "Key: MIDlet-Jar-Size: not found."},
        {{-1, "Game", "g.jar"}, "Error reading value of key: MIDlet-Jar-Size:."},
        {{1234, "Game", "g.jar"}, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JadValuesError(c.values), c.message);
    EXPECT_EQ(JadValuesError(ParseJad("MIDlet-Jar-Size: 0\nMIDlet-Name: G\nMIDlet-Jar-URL: g.jar\n")),
              "Key: MIDlet-Jar-Size: not found.");
}

TEST(StoreTextLengthError, NameAndPrefixMustFitAnEntry)
{
    EXPECT_EQ(StoreTextLengthError(std::string(255, 'n'), std::string(255, 'p')), "");
    EXPECT_EQ(StoreTextLengthError(std::string(256, 'n'), "p"),
              "MIDlet name is too long: 256 bytes, at most 255 fit into suitesName.utf.\r\nNothing was installed.");
    const std::string prefix = EncodeSuitePrefix(std::string(51, ' ')) + "_";   // 256 bytes
    EXPECT_EQ(StoreTextLengthError(std::string(51, ' '), prefix),
              "MIDlet prefix \"" + prefix
                  + "\" is too long: 256 bytes, at most 255 fit into suites.utf.\r\nNothing was installed.");
}

// ---- the suite's generated files ----------------------------------------------------------

TEST(SuiteManifest, DropsSizeAndUrlLinesAndEndsLinesWithLf)
{
    const struct {
        std::string jad;
        std::string manifest;
    } cases[] = {
        {"MIDlet-Name: Game\r\nMIDlet-Jar-Size: 10\r\nMIDlet-Jar-URL: g.jar\r\nMIDlet-1: Game, , g.Main\r\n",
         "MIDlet-Name: Game\nMIDlet-1: Game, , g.Main\n"},
        {"midlet-jar-url: g.jar\nMIDLET-JAR-SIZE: 1\nA: 1", "A: 1\n"},
        {" MIDlet-Jar-Size: 10\n", " MIDlet-Jar-Size: 10\n"},   // not at the start: kept as it is
        {"A\r\rB\r\n\r\n", "A\n\nB\n\n"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SuiteManifest(c.jad), c.manifest) << c.jad;
}

TEST(SuiteJadUrlContent, OneEntryHoldingTheLoopbackUrl)
{
    const std::string url = "http://127.0.0.1:888/test/getNextApp.jad";
    EXPECT_EQ(SuiteJadUrlContent(), std::string("\0", 1) + static_cast<char>(url.size()) + url);
    Bytes file = ToBytes(SuiteJadUrlContent());
    EXPECT_EQ(AppendStoreEntryBytes(file, false, url), kStorePresent);
}

} // namespace
