#pragma once
// The data of a MIDlet installation, with no widgets: the JAD descriptor's keys, the MIDlet
// prefix, the application store's index files and the suite's generated files.
//
// Index file (suites.utf, suitesName.utf, <prefix>jadUrl.utf): entries one after another, with
// no header, count or terminator.
//   offset 0, 2 bytes: text length n, unsigned, big-endian (high byte first)
//   offset 2, n bytes: the text, stored as it is (no character conversion)
// The entries written here hold at most 255 bytes, so their high length byte is 0.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::size_t kStoreEntryHeaderSize = 2;
constexpr std::size_t kMaxStoreText = 255;      // longest text this program writes into an entry
constexpr std::size_t kMaxStoreFileSize = 4096; // longest index file that is read and extended

// Results of AppendStoreEntry / AppendStoreEntryBytes.
constexpr int kStoreAppended = 0;
constexpr int kStoreError = -1;
constexpr int kStorePresent = -2;

// File names of the store and of one suite (the suite's names follow its prefix).
inline constexpr std::string_view kSuitesFile = "suites.utf";
inline constexpr std::string_view kSuitesNameFile = "suitesName.utf";
inline constexpr std::string_view kSuiteJadFile = "suite.jad";
inline constexpr std::string_view kSuiteJarFile = "suite.jar";
inline constexpr std::string_view kSuiteJadUrlFile = "jadUrl.utf";
inline constexpr std::string_view kSuiteManifestFile = "suite.mf";

// The one entry of every suite's jadUrl.utf: the loopback address, port 888.
inline constexpr std::string_view kSuiteJadUrl = "http://127.0.0.1:888/test/getNextApp.jad";

// The three values taken from a JAD descriptor. JarSize stays 0 when the key is missing and is
// -1 when its value is not a signed 32-bit decimal number.
struct TJadValues {
    std::int32_t JarSize = 0;
    std::string Name;
    std::string JarUrl;
};

// The lines of a text: a line ends at LF, CR LF or a lone CR; a last line without an end counts.
std::vector<std::string_view> SplitJadLines(std::string_view text);

// Reads the keys "MIDlet-Jar-Size:", "MIDlet-Name:" and "MIDlet-Jar-URL:", each only at the very
// start of a line and without regard to case; values are trimmed of blanks and control
// characters, and a later line replaces an earlier value.
TJadValues ParseJad(std::string_view text);

// The checks of the descriptor's values in their order: the message of the first that fails, or
// an empty text when all pass.
std::string JadValuesError(const TJadValues& values);

// A message when the name or the prefix does not fit into an index entry, else an empty text.
std::string StoreTextLengthError(std::string_view name, std::string_view prefix);

// The MIDlet prefix of a name: "A".."Z" -> "#" and the letter; a byte below 0x30 -> "%" and its
// value in four upper-case hex digits; every other byte unchanged. ("Hi Go" -> "#Hi%0020#Go")
std::string EncodeSuitePrefix(std::string_view name);

// One index entry for a text of at most 255 bytes (empty for a longer text).
std::string StoreEntry(std::string_view text);

// Appends the entry for `text` to the bytes of an index file unless an equal entry is there.
// With `create` the bytes are replaced by the one new entry. Returns 0 (appended), -2 (present,
// nothing changed) or -1 (file over 4096 bytes, an entry running past the end, a text over 255
// bytes; nothing changed).
int AppendStoreEntryBytes(std::vector<std::uint8_t>& file, bool create, std::string_view text);

// The bytes of an index file as AppendStoreEntryBytes takes them (at most one byte past the
// longest file it extends); none with `create`. False when the file cannot be read.
bool ReadStoreFile(const std::string& path, bool create, std::vector<std::uint8_t>& file);

// The same on a file: read (unless `create`), extended, and put in place in one step so that a
// failure leaves the old file as it was. Any file error gives -1.
int AppendStoreEntry(const std::string& path, bool create, std::string_view text);

// The content of <prefix>suite.mf: the JAD's lines less those that begin with
// "MIDlet-Jar-Size:" or "MIDlet-Jar-URL:" (any case), each followed by one LF.
std::string SuiteManifest(std::string_view jad);

// The content of <prefix>jadUrl.utf: the one entry holding kSuiteJadUrl.
std::string SuiteJadUrlContent();
