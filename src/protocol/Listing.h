#pragma once
// Folder listings: "+FSDL:" entry lines inside the blocks of an AT+FSDL reply.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/FileInfo.h"

// Cuts the next comma-separated field off the front of `text`. A field that starts with a quote
// runs to its closing quote: the first later quote that is followed by a comma or ends the text
// (commas before it belong to the field). When no comma is left after the field, the field is
// empty and `text` stays as it is.
std::string TakeField(std::string& text);

// The first `count` fields of an entry text, cut as TakeField does, and the text after them.
struct EntryFields {
    std::vector<std::string> Field;   // Field[0] is field 1
    std::string Rest;
};
EntryFields CutFields(std::string_view text, std::size_t count);

// A quoted field's text: its first and last character (the quotes) dropped.
std::string_view Unquote(std::string_view field);

// One entry text (the line without "+FSDL: " and without its last character). Fields: 2 name in
// quotes, 3 type, 7 size, 9 date in quotes. Returns nothing when the type or size is not a
// valid integer (the entry is skipped).
std::optional<TFileInfo> ParseDirEntry(std::string_view entry);

// All entries of one block, in order. Lines end at each CR; bytes after the last CR are not
// looked at; lines that do not start with "+FSDL:" are skipped. Entry lines that cannot be
// parsed are not listed; `refused` (optional) gets each of them, trimmed.
std::vector<TFileInfo> ParseListingBlock(std::span<const std::uint8_t> block,
                                         std::vector<std::string>* refused = nullptr);
