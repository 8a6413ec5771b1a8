#include "platform/Files.h"

#include <windows.h>

#include <algorithm>

namespace {

// Deletes the temporary file unless it has been put in place.
struct TempFile {
    std::string path;
    bool keep = false;
    ~TempFile()
    {
        if (!keep && !path.empty())
            DeleteFileA(path.c_str());
    }
};

} // namespace

SaveResult SaveFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const std::size_t slash = path.find_last_of("\\/");
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);

    // A fresh name in the same folder (GetTempFileNameA creates the empty file), so the final
    // move stays on one volume and replaces the old file in one step.
    char tempName[MAX_PATH];
    if (GetTempFileNameA(dir.c_str(), "tvl", 0, tempName) == 0)
        return SaveResult::AccessFail;
    TempFile temp{tempName};

    const HANDLE file = CreateFileA(tempName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SaveResult::AccessFail;

    std::size_t written = 0;
    bool failed = false;
    while (written < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - written, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(file, data + written, chunk, &n, nullptr) || n == 0) {
            failed = true;
            break;
        }
        written += n;
    }
    if (!failed && !FlushFileBuffers(file))
        failed = true;
    if (!CloseHandle(file))
        failed = true;
    if (failed || written != size)
        return written != size ? SaveResult::SizeDifferent : SaveResult::AccessFail;
    if (!MoveFileExA(tempName, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return SaveResult::AccessFail;
    temp.keep = true;
    return SaveResult::Ok;
}
