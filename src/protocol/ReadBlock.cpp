#include "protocol/ReadBlock.h"

#include "protocol/Listing.h"
#include "protocol/Reply.h"
#include "protocol/Text.h"

namespace {

constexpr std::string_view kFsfr = "+FSFR:";
constexpr std::string_view kBlockEnd = "#OK#";

// Offsets inside the 19-byte data header.
constexpr std::size_t kLengthOffset = 6;
constexpr std::size_t kLengthSize = 7;
constexpr std::size_t kSecondOffset = 14;
constexpr std::size_t kSecondSize = 4;

// A decimal number in a fixed-width field, blanks allowed in front of it.
bool ParseBlankPadded(std::string_view field, std::int32_t& out)
{
    while (!field.empty() && field.front() == ' ')
        field.remove_prefix(1);
    return ParseInt32(field, out);
}

// Leading control bytes of a data block, looking at no more than kMaxLeadIn of them.
std::size_t LeadIn(std::string_view s)
{
    std::size_t n = 0;
    while (n < s.size() && n < static_cast<std::size_t>(kMaxLeadIn) &&
           IsControlByte(static_cast<std::uint8_t>(s[n])))
        ++n;
    return n;
}

ReadHeader Refuse(std::string error, TFileInfo partial = {})
{
    ReadHeader h;
    h.Error = std::move(error);
    h.Info = std::move(partial);
    return h;
}

} // namespace

ReadHeader ParseReadHeader(std::string_view reply)
{
    const std::string_view text = TrimCtl(reply);
    const auto at = text.find(kFsfr);
    if (at == std::string_view::npos)
        return Refuse("The file header from the phone holds no \"+FSFR:\".");

    // From the second character after the colon up to the "#OK#" at the end.
    std::string_view header;
    const std::size_t from = at + kFsfr.size() + 1;
    if (text.size() >= kBlockEnd.size() && from < text.size() - kBlockEnd.size())
        header = TrimCtl(text.substr(from, text.size() - kBlockEnd.size() - from));

    // Fields: 2 the name, 3 the type, 6 the size, 9 the date, the CRC after the tenth comma.
    const EntryFields f = CutFields(header, 10);
    const std::string& name = f.Field[1];
    const std::string& type = f.Field[2];
    const std::string& size = f.Field[5];
    const std::string& date = f.Field[8];
    const std::string& rest = f.Rest;
    TFileInfo info;
    info.Name = NameFromWire(Unquote(name));
    info.Date = std::string(Unquote(date));
    if (!ParseInt32(TrimCtl(type), info.FileType))
        return Refuse("The file type in the file header from the phone is not a number.");
    if (!ParseInt32(TrimCtl(size), info.Size))
        return Refuse("The file size in the file header from the phone is not a number.");
    if (info.Size < 0)
        return Refuse("The file size in the file header from the phone is negative.");
    if (info.Size > kMaxReadSize)
        return Refuse("The file is larger than " + FormatGrouped(kMaxReadSize, ",") +
                      " bytes, the most a read can take.", info);
    if (!ParseUInt32(TrimCtl(rest), info.Crc))
        return Refuse("The CRC in the file header from the phone is not a number.");
    info.Kind = info.Size != 0 ? 1 : 2;

    ReadHeader h;
    h.Ok = true;
    h.Info = std::move(info);
    return h;
}

ReadData ExtractReadData(std::span<const std::uint8_t> block)
{
    std::string_view s = AsText(block);
    while (!s.empty() && IsControlByte(static_cast<std::uint8_t>(s.back())))
        s.remove_suffix(1);
    if (s.size() > 3) {
        if (!s.ends_with(kBlockEnd))
            return {-1};
        s.remove_suffix(kBlockEnd.size());
    }
    const std::size_t lead = LeadIn(s);
    if (s.size() < lead + kDataHeaderSize || s.substr(lead, kFsfr.size()) != kFsfr)
        return {-1};
    const std::string_view dataHeader = s.substr(lead, kDataHeaderSize);
    std::int32_t length = 0;
    std::int32_t second = 0;
    if (!ParseBlankPadded(dataHeader.substr(kLengthOffset, kLengthSize), length))
        return {-3};
    if (!ParseBlankPadded(dataHeader.substr(kSecondOffset, kSecondSize), second))
        return {-4};
    const std::size_t offset = lead + kDataHeaderSize;
    if (length < 0 || s.size() - offset != static_cast<std::size_t>(length))
        return {-2};
    return {0, static_cast<std::int32_t>(offset), length};
}

std::int32_t DataBlockExtent(std::span<const std::uint8_t> bytes)
{
    const std::string_view s = AsText(bytes);
    const std::size_t lead = LeadIn(s);
    if (s.size() < lead + kDataHeaderSize || s.substr(lead, kFsfr.size()) != kFsfr)
        return -1;
    std::int32_t length = 0;
    if (!ParseBlankPadded(s.substr(lead + kLengthOffset, kLengthSize), length) || length < 0)
        return -1;
    // At most 41 + 19 + 9999999 + 4, well inside the range of the result.
    return static_cast<std::int32_t>(lead) + kDataHeaderSize + length +
           static_cast<std::int32_t>(kBlockEnd.size());
}
