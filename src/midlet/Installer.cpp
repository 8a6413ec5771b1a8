// Copy As MIDlet over the link (see Installer.h).
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "midlet/Installer.h"
#include "midlet/MidletFormat.h"
#include "phone/PhoneLink.h"
#include "phone/Prompts.h"
#include "platform/Files.h"
#include "protocol/Upload.h"

namespace fs = std::filesystem;

namespace {

// Slots of the two index files, in the order their messages are given.
constexpr std::array<std::string_view, 2> kStoreFiles{kSuitesFile, kSuitesNameFile};

std::string ToUpperAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

// A file of the suite read or written whole; false with the message that says why.
bool ReadSuiteFile(const std::string& path, std::string& bytes, std::string& error)
{
    errno = 0;
    switch (ReadWholeFile(path, bytes)) {
    case ReadResult::Ok:
        return true;
    case ReadResult::ReadFailed:
        error = "Cannot read file \"" + path + "\".";
        return false;
    default:
        error = "Cannot open file \"" + path + "\": " + ErrnoText(errno ? errno : ENOENT) + ".";
        return false;
    }
}

bool WriteSuiteFile(const std::string& path, std::string_view bytes, std::string& error)
{
    errno = 0;
    const SaveResult result =
        SaveFileReplacing(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (result == SaveResult::Ok)
        return true;
    error = "Cannot write file \"" + path + "\"" + (errno ? ": " + ErrnoText(errno) : std::string()) + ".";
    return false;
}

// What became of an index file's fetch.
enum class Fetch {
    NotListed,   // not on the handset: nothing to fetch
    Fresh,       // written by this download
    NotFetched,  // not read: the user kept the local copy (No), or cancelled the queue first
    Failed,      // a size or CRC error, a "+CME ERROR", silence
};

// Fetches the index files found on the handset into the working folder and tells, per slot,
// what became of the fetch. Only a fresh copy reflects the handset's store: a local copy kept
// instead may lack suites installed since, and sent back it would drop them from the store.
Task<std::array<Fetch, 2>> FetchStoreFiles(TPhoneLink& link, std::array<TFileInfo, 2> store, std::string workDir)
{
    std::array<Fetch, 2> fetched{Fetch::NotListed, Fetch::NotListed};
    std::vector<TFileInfo> queue;
    std::vector<std::size_t> slotOf;
    for (std::size_t i = 0; i < store.size(); ++i) {
        if (store[i].Name.empty())
            continue;   // not on the handset
        queue.push_back(store[i]);
        slotOf.push_back(i);
    }
    if (queue.empty())
        co_return fetched;

    // The file in the working folder is fresh only when it was written by this download.
    std::vector<std::optional<fs::file_time_type>> before;
    for (const std::size_t slot : slotOf) {
        std::error_code ec;
        const fs::file_time_type time = fs::last_write_time(workDir + std::string(kStoreFiles[slot]), ec);
        before.push_back(ec ? std::nullopt : std::optional<fs::file_time_type>(time));
    }

    const std::vector<LinkResult> outcomes = co_await link.Download(queue, workDir);

    for (std::size_t k = 0; k < slotOf.size(); ++k) {
        const LinkResult outcome = k < outcomes.size() ? outcomes[k] : Result(LinkError::Offline);
        if (outcome.Error == LinkError::Declined) {
            fetched[slotOf[k]] = Fetch::NotFetched;
            continue;
        }
        std::error_code ec;
        const fs::file_time_type time = fs::last_write_time(workDir + std::string(kStoreFiles[slotOf[k]]), ec);
        const bool fresh = !ec && (!before[k] || *before[k] != time);
        fetched[slotOf[k]] = outcome.Ok() && fresh ? Fetch::Fresh : Fetch::Failed;
    }
    co_return fetched;
}

// The records of the two index files in the phone folder listed last (a slot stays cleared when
// its file is not there); true when both are there.
bool FindStoreFiles(const TPhoneLink& link, std::array<TFileInfo, 2>& records)
{
    std::array<bool, 2> found{};
    for (TFileInfo& r : records)
        r.Clear();
    for (const TFileInfo& record : link.PhoneRecords()) {
        for (std::size_t slot = 0; slot < kStoreFiles.size(); ++slot) {
            if (!found[slot] && record.Name == kStoreFiles[slot]) {
                records[slot] = record;
                found[slot] = true;
            }
        }
    }
    return found[0] && found[1];
}

// The file of the folder named `wanted` without regard to case (ASCII letters), by the bytes of
// its name; the exact name first, else the first in byte order. Empty when there is none.
std::string FindFileIgnoringCase(const std::string& folder, const std::string& wanted)
{
    const std::string upper = ToUpperAscii(wanted);
    std::string found;
    std::error_code ec;
    for (fs::directory_iterator it(fs::path(folder), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entryEc;
        if (it->is_directory(entryEc))
            continue;
        const std::string name = it->path().filename().string();
        if (name == wanted)
            return name;
        if (ToUpperAscii(name) == upper && (found.empty() || name < found))
            found = name;
    }
    return found;
}

bool OnHandset(const TPhoneLink& link, const std::string& name)
{
    for (const TFileInfo& record : link.PhoneRecords())
        if (record.Name == name)
            return true;
    return false;
}

MidletInstall NotInstalled(std::string message) { return MidletInstall{false, std::move(message)}; }

} // namespace

Task<MidletInstall> InstallMidlet(TPhoneLink& link, std::string jadPath)
{
    // 1. (The one JAD chosen is the caller's.) 2. The index files in the phone folder listed last.
    std::array<TFileInfo, 2> store;
    bool createMode = false;
    if (!FindStoreFiles(link, store))
        createMode = co_await link.Ask(Prompts::Kind::YesNo, "File \"suites.utf\" or \"suitesName.utf\" not found in phone dir.\r\n"
                                                             "Create new?")
                     == Prompts::Answer::Yes;

    // 3. The working folder: the descriptor's (a relative path is taken from the current folder).
    std::error_code ec;
    const fs::path jadFile = fs::absolute(fs::path(jadPath), ec);
    if (ec) {
        co_return NotInstalled("Cannot find the current folder: " + ec.message() + ".");
    }
    const std::string jadName = jadFile.filename().string();
    std::string workDir = jadFile.parent_path().string();
    if (workDir.empty() || workDir.back() != '/')
        workDir += '/';
    const std::string suitesPath = workDir + std::string(kSuitesFile);
    const std::string suitesNamePath = workDir + std::string(kSuitesNameFile);

    // 4. Fresh copies of the index files from the handset: the installation goes on only from
    // those (a file the handset does not list is taken from the working folder, if there).
    if (!createMode) {
        const std::array<Fetch, 2> fetched = co_await FetchStoreFiles(link, store, workDir);
        if (link.Closing())
            co_return MidletInstall{};
        for (std::size_t i = 0; i < kStoreFiles.size(); ++i) {
            const std::string path = workDir + std::string(kStoreFiles[i]);
            if (fetched[i] == Fetch::NotFetched) {
                co_return NotInstalled("File: " + std::string(kStoreFiles[i])
                                       + "\r\nwas not fetched from the phone; its copy on the PC may be out of date.\r\n"
                                         "Nothing was installed.");
            }
            if (fetched[i] == Fetch::Failed || !fs::exists(path, ec))
                co_return NotInstalled("File: \"" + std::string(kStoreFiles[i]) + " upload fail.");
        }
    }

    // 5. The descriptor's values.
    std::string jad;
    std::string error;
    if (!ReadSuiteFile(workDir + jadName, jad, error)) {
        co_return NotInstalled(error);
    }
    const TJadValues values = ParseJad(jad);

    // 6. The checks, in order.
    if (const std::string message = JadValuesError(values); !message.empty()) {
        co_return NotInstalled(message);
    }
    // The JAR is found in the descriptor's folder without regard to case, as on a file system
    // that ignores case.
    const std::string jarFile = FindFileIgnoringCase(workDir, values.JarUrl);
    if (jarFile.empty()) {
        co_return NotInstalled("JAR file: " + values.JarUrl + " not found.");
    }
    const std::string jarPath = workDir + jarFile;
    {
        errno = 0;
        std::ifstream jar(jarPath, std::ios::binary | std::ios::ate);
        if (!jar) {
            co_return NotInstalled("Cannot open file \"" + jarPath + "\": " + ErrnoText(errno ? errno : ENOENT) + ".");
        }
        if (static_cast<std::int64_t>(jar.tellg()) != values.JarSize) {
            co_return NotInstalled("JAR file size incorrect.");
        }
    }

    // The index entries hold at most 255 bytes of text.
    const std::string prefix = EncodeSuitePrefix(values.Name) + "_";
    if (const std::string message = StoreTextLengthError(values.Name, prefix); !message.empty()) {
        co_return NotInstalled(message);
    }

    // 7.-9. The new suite in both index files, made in memory first: the PC folder changes only
    // once every check has passed.
    std::vector<std::uint8_t> names;
    switch (ReadStoreFile(suitesNamePath, createMode, names) ? AppendStoreEntryBytes(names, createMode, values.Name)
                                                              : kStoreError) {
    case kStorePresent:
        co_return NotInstalled("MIDlet with name \"" + values.Name + "\" already exists.");
    case kStoreError:
        co_return NotInstalled("Error while creating suitesName.utf");
    }
    std::vector<std::uint8_t> prefixes;
    switch (ReadStoreFile(suitesPath, createMode, prefixes) ? AppendStoreEntryBytes(prefixes, createMode, prefix)
                                                             : kStoreError) {
    case kStorePresent:
        co_return NotInstalled("MIDlet prefix \"" + prefix + "\" already exists.");
    case kStoreError:
        co_return NotInstalled("Error while creating suites.utf");
    }
    // The upload shortens long names, so the suite's files may take the names of files already
    // in the phone folder (another suite's whose name begins alike): those are never replaced.
    for (const std::string_view file : {kSuiteJadFile, kSuiteJarFile, kSuiteJadUrlFile, kSuiteManifestFile}) {
        const std::string onHandset = HandsetName(prefix + std::string(file), false);
        if (OnHandset(link, onHandset)) {
            co_return NotInstalled("File: " + onHandset
                                   + "\r\nalready exists in the phone folder; installing would replace it.\r\n"
                                     "Nothing was installed.");
        }
    }
    if (SaveFileReplacing(suitesNamePath, names.data(), names.size()) != SaveResult::Ok) {
        co_return NotInstalled("Error while creating suitesName.utf");
    }
    if (SaveFileReplacing(suitesPath, prefixes.data(), prefixes.size()) != SaveResult::Ok) {
        co_return NotInstalled("Error while creating suites.utf");
    }

    // 10.-13. The suite's four files.
    const std::string suiteJad = workDir + prefix + std::string(kSuiteJadFile);
    const std::string suiteJar = workDir + prefix + std::string(kSuiteJarFile);
    const std::string suiteJadUrl = workDir + prefix + std::string(kSuiteJadUrlFile);
    const std::string suiteManifest = workDir + prefix + std::string(kSuiteManifestFile);
    // Copied through a temporary file renamed into place, so a failed copy (a full disk) never
    // leaves a half-written suite file behind.
    if (std::string bytes; !ReadSuiteFile(workDir + jadName, bytes, error) || !WriteSuiteFile(suiteJad, bytes, error)) {
        co_return NotInstalled("Copy file error:\r\n" + jadName);
    }
    if (std::string bytes; !ReadSuiteFile(jarPath, bytes, error) || !WriteSuiteFile(suiteJar, bytes, error)) {
        co_return NotInstalled("Copy file error:\r\n" + values.JarUrl);
    }
    std::string copiedJad;
    if (!ReadSuiteFile(suiteJad, copiedJad, error) || !WriteSuiteFile(suiteManifest, SuiteManifest(copiedJad), error)
        || !WriteSuiteFile(suiteJadUrl, SuiteJadUrlContent(), error)) {
        co_return NotInstalled(error);
    }

    // 14. Everything to the handset, erasing what is there under the same names.
    std::vector<std::string> suiteFiles{suiteJad, suiteJar, suiteJadUrl, suiteManifest, suitesNamePath, suitesPath};
    const TPhoneLink::UploadOutcome sent = co_await link.Upload(std::move(suiteFiles), false, false);
    if (sent.Ended != LinkError::None && !link.Closing())
        co_return NotInstalled("MIDlet files list creating error.");
    co_return MidletInstall{sent.Ended == LinkError::None, {}};
}
