#pragma once
// Saving a whole file so that a failure never destroys what was there before: the bytes go to
// a temporary file in the same folder, which then replaces the old file in one step.
#include <cstddef>
#include <cstdint>
#include <string>

enum class SaveResult {
    Ok,
    AccessFail,      // the file could not be created, written or put in place
    SizeDifferent,   // fewer bytes went into the file than asked
};

SaveResult SaveFileReplacing(const std::string& path, const std::uint8_t* data, std::size_t size);
