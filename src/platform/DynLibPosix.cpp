// Run-time library loading over dlopen/dlsym.
#include "platform/DynLib.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>

namespace DynLib {

namespace {
std::string lastError;

void NoteError()
{
    const char* text = dlerror();
    lastError = text ? text : "";
}
} // namespace

std::string LibraryFileName(const std::string& stem) { return "lib" + stem + ".so"; }

std::string ProgramDir()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return {};
    return exe.parent_path().string();
}

Handle OpenFile(const std::string& path)
{
    // RTLD_LOCAL: each library's symbols stay its own, found only through its handle.
    Handle h = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!h)
        NoteError();
    return h;
}

Handle OpenLibrary(const std::string& fileName, const std::string& firstDir)
{
    if (!firstDir.empty()) {
        const std::filesystem::path beside = std::filesystem::path(firstDir) / fileName;
        std::error_code ec;
        if (std::filesystem::exists(beside, ec))
            if (Handle h = OpenFile(beside.string()))
                return h;
    }
    // A plain name (no slash) goes through the dynamic linker's search.
    return OpenFile(fileName);
}

void* Symbol(Handle library, const char* name)
{
    if (!library)
        return nullptr;
    dlerror();
    void* address = dlsym(library, name);
    if (!address)
        NoteError();
    return address;
}

std::string LastError() { return lastError; }

} // namespace DynLib
