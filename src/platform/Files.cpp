#include "platform/Files.h"

#include <fstream>
#include <system_error>

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty() || dir.back() == '/')
        return dir + name;
    return dir + "/" + name;
}

namespace {

template <typename Bytes>
ReadResult ReadInto(const std::filesystem::path& path, Bytes& data, std::size_t room, std::uint64_t limit)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return ReadResult::OpenFailed;
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in.is_open())
            return ReadResult::OpenFailed;
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size < 0)
            return ReadResult::ReadFailed;
        if (static_cast<std::uint64_t>(size) > limit || room > limit - static_cast<std::uint64_t>(size))
            return ReadResult::TooLarge;
        in.seekg(0, std::ios::beg);
        data.assign(static_cast<std::size_t>(size) + room, 0);
        if (size > 0 && !in.read(reinterpret_cast<char*>(data.data() + room), size))
            return ReadResult::ReadFailed;
        return ReadResult::Ok;
    } catch (const std::exception&) {
        return ReadResult::ReadFailed;   // the stream library reports some errors by exceptions
    }
}

} // namespace

ReadResult ReadWholeFile(const std::filesystem::path& path, std::vector<std::uint8_t>& data, std::size_t room,
                         std::uint64_t limit)
{
    return ReadInto(path, data, room, limit);
}

ReadResult ReadWholeFile(const std::filesystem::path& path, std::string& data, std::uint64_t limit)
{
    return ReadInto(path, data, 0, limit);
}
