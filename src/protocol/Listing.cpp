#include "protocol/Listing.h"

#include "protocol/Reply.h"
#include "protocol/Text.h"

namespace {

constexpr std::string_view kFsdl = "+FSDL:";

} // namespace

std::string_view Unquote(std::string_view field)
{
    return field.size() >= 2 ? field.substr(1, field.size() - 2) : std::string_view();
}

EntryFields CutFields(std::string_view text, std::size_t count)
{
    EntryFields f;
    f.Rest = std::string(text);
    for (std::size_t i = 0; i < count; ++i)
        f.Field.push_back(TakeField(f.Rest));
    return f;
}

std::string TakeField(std::string& text)
{
    // A quoted field runs to its closing quote, the first one after the opening quote that is
    // followed by a comma or ends the text, so a comma inside a name stays in the name. A quote
    // that is never closed so leaves the field cut at its first comma.
    std::size_t from = 0;
    if (text.starts_with('"')) {
        for (auto quote = text.find('"', 1); quote != std::string::npos; quote = text.find('"', quote + 1)) {
            if (quote + 1 == text.size() || text[quote + 1] == ',') {
                from = quote + 1;
                break;
            }
        }
    }
    const auto comma = text.find(',', from);
    if (comma == std::string::npos)
        return {};
    std::string field = text.substr(0, comma);
    text.erase(0, comma + 1);
    return field;
}

std::optional<TFileInfo> ParseDirEntry(std::string_view entry)
{
    // Fields: 2 the name, 3 the type, 7 the size, 9 the date; the others are ignored.
    const EntryFields f = CutFields(entry, 9);
    const std::string& name = f.Field[1];
    const std::string& type = f.Field[2];
    const std::string& size = f.Field[6];
    const std::string& date = f.Field[8];
    TFileInfo info;

    if (!ParseInt32(TrimCtl(type), info.FileType) || !ParseInt32(TrimCtl(size), info.Size))
        return std::nullopt;
    info.Name = NameFromWire(Unquote(name));
    info.Date = std::string(Unquote(date));
    info.Kind = info.Size != 0 ? 1 : 2;
    return info;
}

std::vector<TFileInfo> ParseListingBlock(std::span<const std::uint8_t> bytes, std::vector<std::string>* refused)
{
    std::vector<TFileInfo> entries;
    const std::string_view block = AsText(bytes);
    std::size_t start = 0;
    for (auto cr = block.find('\r'); cr != std::string_view::npos; cr = block.find('\r', start)) {
        const std::string_view line = TrimCtl(block.substr(start, cr + 1 - start));
        start = cr + 1;
        if (!line.starts_with(kFsdl))
            continue;
        // Drop "+FSDL:" with the blank after it, and the line's last character.
        const std::string_view entry =
            line.size() > kFsdl.size() + 1 ? line.substr(kFsdl.size() + 1, line.size() - kFsdl.size() - 2)
                                           : std::string_view();
        if (auto info = ParseDirEntry(entry))
            entries.push_back(std::move(*info));
        else if (refused)
            refused->emplace_back(line);
    }
    return entries;
}
