// Copy As MIDlet: installs a JAD/JAR suite from the PC folder on display into the handset's
// application store, which is plain files in the phone folder on display. The two index files
// are fetched, checked and extended on the PC, the suite's four files are made beside them, and
// all six go back to the handset.
#include <array>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <QTreeWidget>

#include "midlet/MidletFormat.h"
#include "platform/Files.h"
#include "protocol/Upload.h"
#include "phone/PhoneLink.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"

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

std::string UpperExtensionOf(const std::string& name)
{
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : ToUpperAscii(name.substr(dot));
}

std::string ErrnoText(int error) { return std::error_code(error, std::generic_category()).message(); }

bool ReadWholeFile(const std::string& path, std::string& bytes, std::string& error)
{
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "Cannot open file \"" + path + "\": " + ErrnoText(errno ? errno : ENOENT) + ".";
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    if (in.bad()) {
        error = "Cannot read file \"" + path + "\".";
        return false;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, std::string_view bytes, std::string& error)
{
    errno = 0;
    const SaveResult result =
        SaveFileReplacing(path, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    if (result == SaveResult::Ok)
        return true;
    error = "Cannot write file \"" + path + "\"" + (errno ? ": " + ErrnoText(errno) : std::string()) + ".";
    return false;
}

// Fetches the index files found on the handset into the working folder and tells, per slot,
// whether a fetch was wanted and did not produce a fresh file (a size or CRC error, a
// "+CME ERROR", silence). A file the user chose to keep (No to the overwrite question) or one
// that is not on the handset is not a failure: its local copy, if any, is used.
std::array<bool, 2> FetchStoreFiles(TForm_Main& form, const std::array<TFileInfo, 2>& store,
                                    const std::string& workDir)
{
    std::array<bool, 2> failed{};
    std::vector<TFileInfo> queue;
    std::vector<std::size_t> slotOf;
    for (std::size_t i = 0; i < store.size(); ++i) {
        if (store[i].Name.empty())
            continue;   // not on the handset
        queue.push_back(store[i]);
        slotOf.push_back(i);
    }
    if (queue.empty())
        return failed;

    // The file in the working folder is fresh only when it was written by this download.
    std::vector<std::optional<fs::file_time_type>> before;
    for (const std::size_t slot : slotOf) {
        std::error_code ec;
        const fs::file_time_type time = fs::last_write_time(workDir + std::string(kStoreFiles[slot]), ec);
        before.push_back(ec ? std::nullopt : std::optional<fs::file_time_type>(time));
    }

    std::vector<TPhoneLink::FetchOutcome> outcomes;
    form.DownloadFiles(queue, workDir, &outcomes);

    for (std::size_t k = 0; k < slotOf.size(); ++k) {
        const TPhoneLink::FetchOutcome outcome =
            k < outcomes.size() ? outcomes[k] : TPhoneLink::FetchOutcome::Failed;
        if (outcome == TPhoneLink::FetchOutcome::Skipped)
            continue;   // the user kept the local copy
        std::error_code ec;
        const fs::file_time_type time = fs::last_write_time(workDir + std::string(kStoreFiles[slotOf[k]]), ec);
        const bool fresh = !ec && (!before[k] || *before[k] != time);
        failed[slotOf[k]] = outcome != TPhoneLink::FetchOutcome::Saved || !fresh;
    }
    return failed;
}

} // namespace

bool TForm_Main::FindStoreFiles(std::array<TFileInfo, 2>& records) const
{
    std::array<bool, 2> found{};
    for (TFileInfo& r : records)
        r.Clear();
    for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ListView_PNFiles->topLevelItem(i);
        const std::string caption = item->text(0).toStdString();
        for (std::size_t slot = 0; slot < kStoreFiles.size(); ++slot) {
            if (found[slot] || caption != kStoreFiles[slot])
                continue;
            if (const TFileInfo* record = PhoneItemRecord(item)) {
                records[slot] = *record;
                found[slot] = true;
            }
        }
    }
    return found[0] && found[1];
}

void TForm_Main::Action_CopyAsMIDletExecute()
{
    // 1. Exactly one JAD file selected in the PC list.
    const std::vector<std::string> selected = SelectedPCNames();
    if (selected.size() != 1 || UpperExtensionOf(selected.front()) != ".JAD")
        return;
    const std::string jadName = selected.front();
    // Offline nothing could reach the handset: nothing is prepared on the PC either.
    if (!PhoneOnlineOrSay())
        return;

    // 2. The index files in the phone folder on display.
    std::array<TFileInfo, 2> store;
    bool createMode = false;
    if (!FindStoreFiles(store))
        createMode = Dialogs::YesNo("File \"suites.utf\" or \"suitesName.utf\" not found in phone dir.\r\n"
                                    "Create new?")
                     == Dialogs::Answer::Yes;

    // 3. The working folder: the PC folder on display.
    std::error_code ec;
    std::string workDir = fs::current_path(ec).string();
    if (ec) {
        Dialogs::ErrorBox("Cannot find the current folder: " + ec.message() + ".");
        return;
    }
    if (workDir.empty() || workDir.back() != '/')
        workDir += '/';
    const std::string suitesPath = workDir + std::string(kSuitesFile);
    const std::string suitesNamePath = workDir + std::string(kSuitesNameFile);

    // 4. Fresh copies of the index files from the handset.
    if (!createMode) {
        const std::array<bool, 2> fetchFailed = FetchStoreFiles(*this, store, workDir);
        if (Link->Closing)
            return;
        for (std::size_t i = 0; i < kStoreFiles.size(); ++i) {
            const std::string path = workDir + std::string(kStoreFiles[i]);
            if (fetchFailed[i] || !fs::exists(path, ec)) {
                Dialogs::ErrorBox("File: \"" + std::string(kStoreFiles[i]) + " upload fail.");
                return;
            }
        }
    }

    // 5. The descriptor's values.
    std::string jad;
    std::string error;
    if (!ReadWholeFile(workDir + jadName, jad, error)) {
        Dialogs::ErrorBox(error);
        return;
    }
    const TJadValues values = ParseJad(jad);

    // 6. The checks, in order.
    if (const std::string message = JadValuesError(values); !message.empty()) {
        Dialogs::ErrorBox(message);
        return;
    }
    // The JAR is found in the PC list without regard to case; its file is then opened under the
    // caption the list shows, as on a file system that ignores case.
    std::string jarFile;
    const std::string upperJar = ToUpperAscii(values.JarUrl);
    for (int i = 0; i < ListView_PCFiles->topLevelItemCount() && jarFile.empty(); ++i) {
        const std::string caption = PCItemName(ListView_PCFiles->topLevelItem(i));
        if (ToUpperAscii(caption) == upperJar)
            jarFile = caption;
    }
    if (jarFile.empty()) {
        Dialogs::ErrorBox("JAR file: " + values.JarUrl + " not found.");
        return;
    }
    const std::string jarPath = workDir + jarFile;
    {
        errno = 0;
        std::ifstream jar(jarPath, std::ios::binary | std::ios::ate);
        if (!jar) {
            Dialogs::ErrorBox("Cannot open file \"" + jarPath + "\": " + ErrnoText(errno ? errno : ENOENT) + ".");
            return;
        }
        if (static_cast<std::int64_t>(jar.tellg()) != values.JarSize) {
            Dialogs::ErrorBox("JAR file size incorrect.");
            return;
        }
    }

    // The index entries hold at most 255 bytes of text.
    const std::string prefix = EncodeSuitePrefix(values.Name) + "_";
    if (const std::string message = StoreTextLengthError(values.Name, prefix); !message.empty()) {
        Dialogs::ErrorBox(message);
        return;
    }

    // 7.-9. The new suite in both index files, made in memory first: the PC folder changes only
    // once every check has passed.
    std::vector<std::uint8_t> names;
    switch (ReadStoreFile(suitesNamePath, createMode, names) ? AppendStoreEntryBytes(names, createMode, values.Name)
                                                              : kStoreError) {
    case kStorePresent:
        Dialogs::ErrorBox("MIDlet with name \"" + values.Name + "\" already exists.");
        return;
    case kStoreError:
        Dialogs::ErrorBox("Error while creating suitesName.utf");
        return;
    }
    std::vector<std::uint8_t> prefixes;
    switch (ReadStoreFile(suitesPath, createMode, prefixes) ? AppendStoreEntryBytes(prefixes, createMode, prefix)
                                                             : kStoreError) {
    case kStorePresent:
        Dialogs::ErrorBox("MIDlet prefix \"" + prefix + "\" already exists.");
        return;
    case kStoreError:
        Dialogs::ErrorBox("Error while creating suites.utf");
        return;
    }
    // The upload shortens long names, so the suite's files may take the names of files already
    // in the phone folder (another suite's whose name begins alike): those are never replaced.
    for (const std::string_view file : {kSuiteJadFile, kSuiteJarFile, kSuiteJadUrlFile, kSuiteManifestFile}) {
        const std::string onHandset = HandsetName(prefix + std::string(file), false);
        for (int i = 0; i < ListView_PNFiles->topLevelItemCount(); ++i) {
            if (ListView_PNFiles->topLevelItem(i)->text(0).toStdString() == onHandset) {
                Dialogs::ErrorBox("File: " + onHandset
                                  + "\r\nalready exists in the phone folder; installing would replace it.\r\n"
                                    "Nothing was installed.");
                return;
            }
        }
    }
    if (SaveFileReplacing(suitesNamePath, names.data(), names.size()) != SaveResult::Ok) {
        Dialogs::ErrorBox("Error while creating suitesName.utf");
        return;
    }
    if (SaveFileReplacing(suitesPath, prefixes.data(), prefixes.size()) != SaveResult::Ok) {
        Dialogs::ErrorBox("Error while creating suites.utf");
        return;
    }

    // 10.-13. The suite's four files.
    const std::string suiteJad = workDir + prefix + std::string(kSuiteJadFile);
    const std::string suiteJar = workDir + prefix + std::string(kSuiteJarFile);
    const std::string suiteJadUrl = workDir + prefix + std::string(kSuiteJadUrlFile);
    const std::string suiteManifest = workDir + prefix + std::string(kSuiteManifestFile);
    // Copied through a temporary file renamed into place, so a failed copy (a full disk) never
    // leaves a half-written suite file behind.
    if (std::string bytes; !ReadWholeFile(workDir + jadName, bytes, error) || !WriteWholeFile(suiteJad, bytes, error)) {
        Dialogs::ErrorBox("Copy file error:\r\n" + jadName);
        return;
    }
    if (std::string bytes; !ReadWholeFile(jarPath, bytes, error) || !WriteWholeFile(suiteJar, bytes, error)) {
        Dialogs::ErrorBox("Copy file error:\r\n" + values.JarUrl);
        return;
    }
    std::string copiedJad;
    if (!ReadWholeFile(suiteJad, copiedJad, error) || !WriteWholeFile(suiteManifest, SuiteManifest(copiedJad), error)
        || !WriteWholeFile(suiteJadUrl, SuiteJadUrlContent(), error)) {
        Dialogs::ErrorBox(error);
        return;
    }

    // 14. Everything to the handset, erasing what is there under the same names.
    bool uploaded = false;
    try {
        uploaded = Link->UploadFiles({suiteJad, suiteJar, suiteJadUrl, suiteManifest, suitesNamePath, suitesPath}, false,
                               false)
                   == TPhoneLink::UploadResult::Done;
    } catch (const std::exception&) {
        uploaded = false;
    }
    if (!uploaded && !Link->Closing)
        Dialogs::ErrorBox("MIDlet files list creating error.");
}
