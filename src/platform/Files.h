#pragma once
// Files of the PC: a path joined from a folder and a name, a whole file read, and a whole file
// saved so that a failure never destroys what was there before. The parts that are the same on
// every platform are in Files.cpp, the save in FilesPosix.cpp and FilesWin32.cpp.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

// The path of `name` in the folder `dir`: one '/' between them, none added behind a folder that
// ends in one (the root); an empty folder gives the name alone.
std::string JoinPath(const std::string& dir, const std::string& name);

enum class ReadResult {
    Ok,
    OpenFailed,   // not there, not a regular file, or not to be opened
    ReadFailed,   // opened, but its bytes could not all be read
    TooLarge,     // longer than the limit asked for (nothing read)
};

// Reads the whole of a regular file (or of the one a link names) into `data`, behind `room`
// bytes left zero at its start (for a header the caller puts there). Anything else is
// OpenFailed without being opened: a named pipe would wait for a writer, and a folder or a
// device has no content to take. With the room, `data` would never exceed `limit` bytes.
ReadResult ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& data, std::size_t room = 0,
                         std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());
ReadResult ReadWholeFile(const std::filesystem::path& path, std::string& data,
                         std::uint64_t limit = std::numeric_limits<std::uint64_t>::max());

// The bytes go to a temporary file in the same folder, written through to the disk, which then
// replaces the old file in one step. A file that is replaced keeps its permissions.

enum class SaveResult {
    Ok,
    AccessFail,      // the file could not be created, written or put in place
    SizeDifferent,   // fewer bytes went into the file than asked
};

// With `inPlaceFallback`, a file that exists and may be written is still saved when its folder
// refuses the temporary file (a writable file in a read-only folder): it is written in place,
// and a write that fails leaves its old contents whole (see the implementation).
SaveResult SaveFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size,
                             bool inPlaceFallback = false);
