// Run-time library loading over LoadLibrary/GetProcAddress. Texts (paths, messages) are in the
// ANSI code page, as everywhere in the program.
#include "platform/DynLib.h"

#include <windows.h>

#include "platform/Win32Message.h"

namespace DynLib {

namespace {

DWORD lastError = 0;

bool IsFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Handle Remember(HMODULE module)
{
    if (!module)
        lastError = GetLastError();
    return reinterpret_cast<Handle>(module);
}

} // namespace

std::string LibraryFileName(const std::string& stem) { return stem + ".dll"; }

std::string ProgramDir()
{
    // Long paths come back cut to the buffer; try a larger one then.
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

Handle OpenFile(const std::string& path)
{
    // A library given by its full path finds the libraries it needs in its own folder first.
    const bool hasFolder = path.find_first_of("\\/") != std::string::npos;
    return Remember(hasFolder ? LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)
                              : LoadLibraryA(path.c_str()));
}

Handle OpenLibrary(const std::string& fileName, const std::string& firstDir)
{
    // The system's own search begins with the program's folder too; `firstDir` is tried
    // explicitly first so that a caller's folder wins on every platform alike.
    if (!firstDir.empty()) {
        std::string beside = firstDir;
        if (beside.back() != '\\' && beside.back() != '/')
            beside += '\\';
        beside += fileName;
        if (IsFile(beside))
            if (Handle h = OpenFile(beside))
                return h;
    }
    return Remember(LoadLibraryA(fileName.c_str()));
}

void* Symbol(Handle library, const char* name)
{
    if (!library)
        return nullptr;
    const FARPROC address = GetProcAddress(reinterpret_cast<HMODULE>(library), name);
    if (!address)
        lastError = GetLastError();
    // A function's address as a plain pointer, as the callers take it.
    void* result = nullptr;
    static_assert(sizeof result == sizeof address);
    __builtin_memcpy(&result, &address, sizeof result);
    return result;
}

std::string LastError()
{
    if (lastError == 0)
        return {};
    const std::string message = Win32Message::Text(lastError);
    const std::string code = "error " + std::to_string(lastError);
    return message.empty() ? code : message + " (" + code + ")";
}

} // namespace DynLib
