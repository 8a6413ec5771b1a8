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

// Writes all of `data` at the file's current position; `written` tells how far it got.
bool WriteAll(HANDLE file, const std::uint8_t* data, std::size_t size, std::size_t& written)
{
    written = 0;
    while (written < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - written, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(file, data + written, chunk, &n, nullptr) || n == 0)
            return false;
        written += n;
    }
    return true;
}

bool SeekTo(HANDLE file, LONGLONG offset)
{
    LARGE_INTEGER at;
    at.QuadPart = offset;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

// Writes an existing file in place without ever leaving its old contents cut short: the new
// bytes first go after the old ones (taking the room they need while the old bytes stay
// untouched; a failure cuts the file back to its old length), then over the start of the file,
// which is finally cut to their length.
SaveResult WriteInPlace(const std::string& path, const std::uint8_t* data, std::size_t size)
{
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SaveResult::AccessFail;
    LARGE_INTEGER oldSize;
    std::size_t written = 0;
    if (!GetFileSizeEx(file, &oldSize) || !SeekTo(file, oldSize.QuadPart)) {
        CloseHandle(file);
        return SaveResult::AccessFail;
    }
    if (!WriteAll(file, data, size, written) || !FlushFileBuffers(file)) {
        if (SeekTo(file, oldSize.QuadPart))
            SetEndOfFile(file);
        CloseHandle(file);
        return written != size ? SaveResult::SizeDifferent : SaveResult::AccessFail;
    }
    bool ok = SeekTo(file, 0) && WriteAll(file, data, size, written) && SetEndOfFile(file) && FlushFileBuffers(file);
    if (!CloseHandle(file))
        ok = false;
    return ok ? SaveResult::Ok : SaveResult::AccessFail;
}

} // namespace

SaveResult SaveFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size, bool inPlaceFallback)
{
    const std::size_t slash = path.find_last_of("\\/");
    const std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);

    // A fresh name in the same folder (GetTempFileNameA creates the empty file), so the final
    // move stays on one volume and replaces the old file in one step.
    char tempName[MAX_PATH];
    if (GetTempFileNameA(dir.c_str(), "tvl", 0, tempName) == 0)
        return inPlaceFallback ? WriteInPlace(path, data, size) : SaveResult::AccessFail;
    TempFile temp{tempName};

    const HANDLE file = CreateFileA(tempName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return SaveResult::AccessFail;

    std::size_t written = 0;
    bool failed = !WriteAll(file, data, size, written);
    if (!failed && !FlushFileBuffers(file))
        failed = true;
    if (!CloseHandle(file))
        failed = true;
    if (failed || written != size)
        return written != size ? SaveResult::SizeDifferent : SaveResult::AccessFail;
    if (!MoveFileExA(tempName, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        // A read-only folder entry may refuse the move of a file that may itself be written.
        if (inPlaceFallback && GetLastError() == ERROR_ACCESS_DENIED)
            return WriteInPlace(path, data, size);
        return SaveResult::AccessFail;
    }
    temp.keep = true;
    return SaveResult::Ok;
}
