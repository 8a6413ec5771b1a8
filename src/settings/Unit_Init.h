#pragma once
// The program's five settings and the INI file "tarvel.ini" that keeps them, in the folder the
// program was started from. Reading follows the private-profile rules: a missing key or a
// value that is not a number yields the default; integers may be decimal, "$" or "0x" hex.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ---- the settings (process-wide) -----------------------------------------------------------
extern std::string ComPort;           // "PORT", default "COM1"
extern std::int32_t ComBaudRate;      // "COMPortBaudRate", default 115200
extern bool ComCheckLineStatus;       // "COMCheckLineStatus", default false
extern std::int32_t ComHwFlow;        // "COMHwFlow", default 1
extern std::string HomeDir;           // "HOMEDIR", default empty

// The folder captured at start-up (the process's current directory then).
extern std::string SettingsDir;
// Captures SettingsDir from the current directory (program start, before any window).
void InitSettingsDir();
// SettingsDir + separator + "tarvel.ini".
std::string SettingsFileName();

void LoadSettings();
// Throws std::runtime_error("Unable to write to <file>") when the file cannot be written.
void SaveSettings();
void ResetSettingsToDefaults();

// ---- pure INI functions -------------------------------------------------------------------
// An INI text as lines; keys and sections compared without regard to case, as the platform does.
struct IniText {
    std::vector<std::string> Lines;
    bool CrLf = false;   // lines end with CR LF (kept from the file read)
};
IniText ParseIni(std::string_view text);
std::string FormatIni(const IniText& ini);
// The value of a key, or nothing when the key or section is missing. At most 2047 characters.
std::optional<std::string> IniReadString(const IniText& ini, std::string_view section, std::string_view key);
// Sets a key, adding the section and the key when missing; other lines stay as they are.
void IniWriteString(IniText& ini, std::string_view section, std::string_view key, std::string_view value);
// The private-profile integer rule: blanks skipped, optional sign, decimal or "$"/"0x" hex;
// anything else gives the default.
std::int32_t IniParseInt(std::string_view text, std::int32_t defaultValue);

// The five settings from an INI text (each missing or unreadable key takes its default), and
// into one (in the order PORT, COMPortBaudRate, HOMEDIR, COMCheckLineStatus, COMHwFlow for keys
// that are new; other sections and keys stay as they are).
void LoadSettingsFrom(const IniText& ini);
void SaveSettingsTo(IniText& ini);
