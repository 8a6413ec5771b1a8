#include "cli/ProgressLine.h"

#include <cstdio>

#include <unistd.h>

#include "phone/PhoneLink.h"
#include "protocol/Text.h"

ProgressLine::ProgressLine(TPhoneLink& link, bool show, bool verbose)
    : terminal_(::isatty(STDERR_FILENO) != 0), enabled_(show && (terminal_ || verbose))
{
    clock_.start();
    QObject::connect(&link, &TPhoneLink::TransferShown, &link,
                     [this](TPhoneCommand, const std::string& name, std::int32_t size) { Shown(name, size); });
    QObject::connect(&link, &TPhoneLink::Progress, &link,
                     [this](std::int64_t done, std::int64_t size) { Update(done, size); });
    QObject::connect(&link, &TPhoneLink::ProgressClosed, &link, [this] { Closed(); });
}

void ProgressLine::Clear()
{
    if (!drawn_)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

void ProgressLine::Shown(const std::string& name, std::int32_t size)
{
    name_ = PrintableName(name);
    meter_.Start(static_cast<std::uint64_t>(size > 0 ? size : 0), clock_.elapsed());
    active_ = true;
    lastDrawMs_ = -1;
}

void ProgressLine::Update(std::int64_t done, std::int64_t size)
{
    if (!active_ || size <= 0)
        return;
    const std::int64_t now = clock_.elapsed();
    meter_.Update(static_cast<std::uint64_t>(done > 0 ? done : 0), now);
    // A terminal is redrawn a few times a second, a log once a second.
    if (!enabled_ || (lastDrawMs_ >= 0 && now - lastDrawMs_ < (terminal_ ? 100 : 1000)))
        return;
    lastDrawMs_ = now;
    if (terminal_) {
        std::fprintf(stderr, "\r\033[K%s", Text().c_str());
        drawn_ = true;
        std::fflush(stderr);
    } else {
        WriteLine();
    }
}

void ProgressLine::WriteLine()
{
    const std::string line = Text();
    if (line == lastLine_)
        return;
    lastLine_ = line;
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void ProgressLine::Closed()
{
    if (!active_)
        return;
    active_ = false;
    Clear();
    if (enabled_ && !terminal_ && meter_.Total() > 0)
        WriteLine();
}

std::string ProgressLine::Text() const
{
    return name_ + "  " + std::to_string(ProgressPercent(static_cast<std::int64_t>(meter_.Done()),
                                                          static_cast<std::int64_t>(meter_.Total())))
        + "%  " + FormatTransferStatus(meter_);
}
