// Our INI reader and writer against the system's private-profile functions, on the same files.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "Win32TestUtil.h"
#include "settings/Unit_Init.h"

namespace {

constexpr const char* kDefault = "<default>";

// Each file gets a name of its own: the system keeps the last file it read in memory.
std::string WriteIni(const ScratchDir& dir, const std::string& text)
{
    static int count = 0;
    const std::string path = dir.path + "\\f" + std::to_string(++count) + ".ini";
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
    CloseHandle(h);
    return path;
}


std::string SystemRead(const std::string& path, const char* section, const char* key)
{
    std::vector<char> buffer(2048);
    GetPrivateProfileStringA(section, key, kDefault, buffer.data(), static_cast<DWORD>(buffer.size()), path.c_str());
    return buffer.data();
}

std::string OurRead(const std::string& text, const char* section, const char* key)
{
    return IniReadString(ParseIni(text), section, key).value_or(kDefault);
}

struct StringRow {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    std::string expected;
};

TEST(IniRules, StringsReadAsTheSystemReadsThem)
{
    const std::string longValue(3000, 'x');
    // 2046 letters and then two that a UTF-8 reader would take for continuation bytes.
    const std::string longHigh = std::string(2046, 'a') + "\xA9\xA9\xA9";
    const StringRow rows[] = {
        {"CR LF", "[COMMON]\r\nPORT=COM3\r\n", "COMMON", "PORT", "COM3"},
        {"LF only", "[COMMON]\nPORT=COM3\n", "COMMON", "PORT", "COM3"},
        {"no final line end", "[COMMON]\nPORT=COM3", "COMMON", "PORT", "COM3"},
        {"section and key case", "[common]\nport=COM3\n", "COMMON", "PORT", "COM3"},
        {"blanks around key and value", "[COMMON]\n  PORT  =  COM3  \n", "COMMON", "PORT", "COM3"},
        {"tabs around key and value", "[COMMON]\n\tPORT\t=\tCOM3\t\n", "COMMON", "PORT", "COM3"},
        {"blanks inside the value", "[COMMON]\nHOMEDIR=C:\\My  Tunes\n", "COMMON", "HOMEDIR", "C:\\My  Tunes"},
        {"blanks before the section", "  [COMMON]\nPORT=COM3\n", "COMMON", "PORT", "COM3"},
        {"double quotes", "[COMMON]\nPORT=\"COM3\"\n", "COMMON", "PORT", "COM3"},
        {"single quotes", "[COMMON]\nPORT='COM3'\n", "COMMON", "PORT", "COM3"},
        {"blanks inside quotes", "[COMMON]\nPORT=\" COM3 \"\n", "COMMON", "PORT", " COM3 "},
        {"one quote only", "[COMMON]\nPORT=\"COM3\n", "COMMON", "PORT", "\"COM3"},
        {"duplicate key: the first", "[COMMON]\nPORT=COM3\nPORT=COM4\n", "COMMON", "PORT", "COM3"},
        {"other section first", "[OTHER]\nPORT=COM9\n[COMMON]\nPORT=COM3\n", "COMMON", "PORT", "COM3"},
        {"missing section", "[OTHER]\nPORT=COM9\n", "COMMON", "PORT", kDefault},
        {"missing key", "[COMMON]\nCOMHwFlow=2\n", "COMMON", "PORT", kDefault},
        {"empty file", "", "COMMON", "PORT", kDefault},
        {"empty value", "[COMMON]\nPORT=\n", "COMMON", "PORT", ""},
        {"value with ;", "[COMMON]\nPORT=COM3 ; the modem\n", "COMMON", "PORT", "COM3 ; the modem"},
        {"value with =", "[COMMON]\nPORT=a=b\n", "COMMON", "PORT", "a=b"},
        {"comment line", "[COMMON]\n;PORT=COM9\nPORT=COM3\n", "COMMON", "PORT", "COM3"},
        {"blank lines", "\n\n[COMMON]\n\n\nPORT=COM3\n\n", "COMMON", "PORT", "COM3"},
        {"key with a blank", "[COMMON]\nHome Dir=x\n", "COMMON", "Home Dir", "x"},
        {"blanks inside the brackets", "[ COMMON ]\nPORT=COM3\n", "COMMON", "PORT", "COM3"},
        {"duplicate section: the first", "[COMMON]\nA=1\n[OTHER]\n[COMMON]\nPORT=COM4\n", "COMMON", "PORT", kDefault},
        {"key without =", "[COMMON]\nPORT\nPORT=COM3\n", "COMMON", "PORT", kDefault},
        {"no closing bracket", "[COMMON\nPORT=COM3\n", "COMMON", "PORT", kDefault},
        {"the last ] closes", "[COMMON]x]\nPORT=COM3\n", "COMMON]x", "PORT", "COM3"},
        {"key before any section", "PORT=COM9\n[COMMON]\nPORT=COM3\n", "COMMON", "PORT", "COM3"},
        {"different quotes", "[COMMON]\nPORT=\"COM3'\n", "COMMON", "PORT", "\"COM3'"},
        {"a lone quote", "[COMMON]\nPORT=\"\n", "COMMON", "PORT", "\""},
        {"empty quotes", "[COMMON]\nPORT=\"\"\n", "COMMON", "PORT", ""},
        {"blanks after the quotes", "[COMMON]\nPORT=\"COM3\"  \n", "COMMON", "PORT", "COM3"},
        {"CR alone ends a line", "[COMMON]\rPORT=COM3\r", "COMMON", "PORT", "COM3"},
        {"# is no comment", "[COMMON]\n#PORT=COM9\nPORT=COM3\n", "COMMON", "PORT", "COM3"},
        {"a zero byte ends the value", std::string("[COMMON]\nPORT=CO\0M3\n", 20), "COMMON", "PORT", "CO"},
        {"8-bit value", "[COMMON]\nHOMEDIR=C:\\caf\xE9\n", "COMMON", "HOMEDIR", "C:\\caf\xE9"},
        {"long value: 2047 characters", "[COMMON]\nPORT=" + longValue + "\n", "COMMON", "PORT", longValue.substr(0, 2047)},
        {"long value of 8-bit letters", "[COMMON]\nPORT=" + longHigh + "\n", "COMMON", "PORT", longHigh.substr(0, 2047)},
    };
    const ScratchDir dir;
    for (const StringRow& r : rows) {
        const std::string path = WriteIni(dir, r.text);
        EXPECT_EQ(SystemRead(path, r.section, r.key), r.expected) << r.what;
        EXPECT_EQ(OurRead(r.text, r.section, r.key), r.expected) << r.what;
    }
}

struct IntRow {
    const char* value;   // nullptr: the key is missing
    std::int32_t expected;
    // The system's integer reader has rules of its own (it stops at the first character that is
    // not a digit, knows no "$", takes nothing as a default that it can read a prefix of, and
    // Windows returns 0 for a negative value); its result is compared where the rules meet.
    bool systemAgrees;
};

TEST(IniRules, IntegersFollowThePrivateProfileRule)
{
    const std::int32_t def = 115200;
    const IntRow rows[] = {
        {"57600", 57600, true},
        {"  57600", 57600, true},
        {"+57600", 57600, true},
        {"0x1C200", 115200, true},
        {"0X1C200", 115200, false},   // Wine's reader knows only the small x
        {"0", 0, true},
        {"", def, true},
        {nullptr, def, true},
        {"-5", -5, false},
        {"$1C200", 115200, false},
        {"$ffffffff", -1, false},
        {"fast", def, false},
        {"12abc", def, false},
        {"1 2", def, false},
        {"0x", def, false},
        {"2147483647", INT32_MAX, true},
        {"2147483648", def, false},
        {"-2147483648", INT32_MIN, false},
        {"99999999999", def, false},
    };
    const ScratchDir dir;
    for (const IntRow& r : rows) {
        const std::string text = r.value ? "[COMMON]\nCOMPortBaudRate=" + std::string(r.value) + "\n" : "[COMMON]\n";
        const std::string path = WriteIni(dir, text);
        const auto read = IniReadString(ParseIni(text), "COMMON", "COMPortBaudRate");
        const std::int32_t ours = read ? IniParseInt(*read, def) : def;
        EXPECT_EQ(ours, r.expected) << (r.value ? r.value : "(missing)");
        if (r.systemAgrees) {
            EXPECT_EQ(static_cast<std::int32_t>(GetPrivateProfileIntA("COMMON", "COMPortBaudRate", def, path.c_str())),
                      r.expected)
                << (r.value ? r.value : "(missing)");
        }
    }
}

TEST(IniRules, WrittenFilesReadTheSameByBothReaders)
{
    struct Write {
        const char* key;
        const char* value;
    };
    const Write writes[] = {
        {"PORT", "COM3"},   {"COMPortBaudRate", "57600"}, {"HOMEDIR", "C:\\My Tunes"},
        {"COMCheckLineStatus", "1"}, {"COMHwFlow", "2"}, {"HOMEDIR", ""}, {"port", "COM4"},
    };
    const char* const starts[] = {
        "",
        "[OTHER]\r\nX=1\r\n",
        "; the settings\n[Common]\n  Port = COM1 \nExtra=keep\n\n[OTHER]\nPORT=COM9\n",
        "[COMMON]\nPORT=COM1",
    };
    const char* const readKeys[] = {"PORT", "COMPortBaudRate", "HOMEDIR", "COMCheckLineStatus", "COMHwFlow", "Extra"};
    const ScratchDir dir;
    for (const char* start : starts) {
        const std::string systemFile = WriteIni(dir, start);
        IniText ours = ParseIni(start);
        for (const Write& w : writes) {
            ASSERT_TRUE(WritePrivateProfileStringA("COMMON", w.key, w.value, systemFile.c_str()));
            IniWriteString(ours, "COMMON", w.key, w.value);
        }
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, systemFile.c_str());   // flush
        const std::string ourText = FormatIni(ours);
        const std::string ourFile = WriteIni(dir, ourText);
        const std::string systemText = ReadWholeFile(systemFile);
        for (const char* section : {"COMMON", "OTHER"}) {
            for (const char* key : readKeys) {
                const std::string expected = SystemRead(systemFile, section, key);
                EXPECT_EQ(SystemRead(ourFile, section, key), expected) << start << " / " << key;
                EXPECT_EQ(OurRead(ourText, section, key), expected) << start << " / " << key;
                EXPECT_EQ(OurRead(systemText, section, key), expected) << start << " / " << key;
            }
        }
    }
}

} // namespace
