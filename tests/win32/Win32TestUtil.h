#pragma once
// Helpers of the Windows tests: a scratch folder and the code page a test is written for.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "platform/NativePath.h"

// The tests run once per code page (see CMakeLists.txt); a test written for another skips.
#define REQUIRE_ANSI_CODE_PAGE(cp)                                                                  \
    do {                                                                                            \
        if (GetACP() != (cp))                                                                       \
            GTEST_SKIP() << "needs ANSI code page " << (cp) << ", this process has " << GetACP();   \
    } while (0)

// A new empty folder under the system's temporary folder, removed with what it holds.
struct ScratchDir {
    ScratchDir()
    {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        for (unsigned n = GetCurrentProcessId() * 1000u;; ++n) {
            path = std::string(temp) + "tarvel-test-" + std::to_string(n);
            if (CreateDirectoryA(path.c_str(), nullptr))
                break;
            if (GetLastError() != ERROR_ALREADY_EXISTS) {
                ADD_FAILURE() << "cannot create " << path;
                break;
            }
        }
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(NativePath::FromText(path), ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::string path;
};

// A whole file's bytes, or `ifMissing` when it cannot be opened.
inline std::string ReadWholeFile(const std::string& path, const std::string& ifMissing = {})
{
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return ifMissing;
    std::string text;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(h, buffer, sizeof buffer, &n, nullptr) && n > 0)
        text.append(buffer, n);
    CloseHandle(h);
    return text;
}
