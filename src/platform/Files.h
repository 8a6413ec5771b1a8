#pragma once
// Saving a whole file so that a failure never destroys what was there before: the bytes go to
// a temporary file in the same folder, which then replaces the old file in one step. A file
// that is replaced keeps its permissions.
#include <cstddef>
#include <cstdint>
#include <string>

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
