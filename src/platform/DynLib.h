#pragma once
// Run-time loading of shared libraries. A library handle stays valid until the process ends:
// nothing here unloads a library.
#include <string>

namespace DynLib {

using Handle = void*;

// The file name of the shared library `stem` on this platform: "lib<stem>.so" on Linux,
// "<stem>.dll" on Windows.
std::string LibraryFileName(const std::string& stem);

// The folder that holds the running program, without a trailing separator ("" if unknown).
std::string ProgramDir();

// Loads exactly the file at `path`; null when it cannot be loaded.
Handle OpenFile(const std::string& path);

// Loads a library by its file name: from `firstDir` when that folder holds it, otherwise
// through the platform's usual library search. Null when both fail.
Handle OpenLibrary(const std::string& fileName, const std::string& firstDir);

// The address of an exported symbol, or null when the library does not export it.
void* Symbol(Handle library, const char* name);

// The loader's reason for the last failure, for whoever runs the program from a terminal.
std::string LastError();

} // namespace DynLib
