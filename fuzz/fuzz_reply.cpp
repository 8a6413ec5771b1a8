// Reply classification, unsolicited lines and the echo check over arbitrary bytes. The first byte sets the length
// of the command line the echo is checked against (taken from the bytes behind it).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "protocol/Reply.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > static_cast<std::size_t>(maxTempBuf) + 1)
        return 0;
    const std::size_t echoLen = std::min<std::size_t>(data[0], size - 1);
    const std::span<const std::uint8_t> b(data + 1, size - 1);
    const auto n = static_cast<std::int32_t>(size - 1);

    for (bool readData : {false, true}) {
        ReplyContext ctx;
        ctx.ReadDataExpected = readData;
        const TReplyClass cls = ClassifyReply(b, ctx);
        if (cls > rcError)
            std::abort();
        if (n == 0 && cls != rcEmpty)
            std::abort();
        // Unsolicited lines are only ever taken out whole: nothing is lost or made up.
        std::string bytes(AsText(b));
        std::size_t dropped = 0;
        for (const std::string& line : DropUnsolicited(bytes, ctx))
            dropped += line.size();
        if (bytes.size() + dropped != static_cast<std::size_t>(n))
            std::abort();
    }
    const std::string_view echo = AsText(b).substr(0, echoLen);
    for (std::string_view e : {echo, std::string_view("AT+FSFR= -1,\"a.mmf\"\r\n"), std::string_view("ATZ\r")}) {
        const EchoCheck check = CheckEcho(b, e);
        if (check.Strip < 0 || check.Strip > n)
            std::abort();
        if (!check.Match && check.Strip != 0)
            std::abort();
    }
    return 0;
}
