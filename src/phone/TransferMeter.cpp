#include "phone/TransferMeter.h"

#include <cmath>
#include <cstdio>

namespace {
// The rate is taken over this much of the recent past, so that it follows a link that slows
// down or speeds up without jumping with every block.
constexpr std::int64_t kWindowMs = 5000;
}

void TransferMeter::Start(std::uint64_t total, std::int64_t nowMs)
{
    total_ = total;
    done_ = 0;
    samples_.clear();
    samples_.emplace_back(nowMs, 0);
}

void TransferMeter::Update(std::uint64_t done, std::int64_t nowMs)
{
    done_ = done;
    if (!samples_.empty() && nowMs < samples_.back().first)
        nowMs = samples_.back().first;   // a clock that goes back is taken as standing still
    samples_.emplace_back(nowMs, done);
    // Older samples go once a newer one still spans the window.
    while (samples_.size() > 2 && nowMs - samples_[1].first >= kWindowMs)
        samples_.pop_front();
}

double TransferMeter::Rate() const
{
    if (samples_.size() < 2)
        return 0;
    const auto& [t0, b0] = samples_.front();
    const auto& [t1, b1] = samples_.back();
    if (t1 <= t0 || b1 <= b0)
        return 0;
    return static_cast<double>(b1 - b0) * 1000.0 / static_cast<double>(t1 - t0);
}

std::int64_t TransferMeter::SecondsLeft() const
{
    const double rate = Rate();
    if (rate <= 0)
        return -1;
    const std::uint64_t left = total_ > done_ ? total_ - done_ : 0;
    return static_cast<std::int64_t>(std::ceil(static_cast<double>(left) / rate));
}

std::string FormatBytes(std::uint64_t bytes)
{
    if (bytes < 1024)
        return std::to_string(bytes) + " B";
    static const char* const units[] = {"KB", "MB", "GB", "TB"};
    double value = static_cast<double>(bytes) / 1024.0;
    int unit = 0;
    while (value >= 1024.0 && unit < 3) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
    return text;
}

std::string FormatRate(double bytesPerSecond)
{
    if (!(bytesPerSecond > 0))
        return {};
    return FormatBytes(static_cast<std::uint64_t>(std::llround(bytesPerSecond))) + "/s";
}

std::string FormatTimeLeft(std::int64_t seconds)
{
    if (seconds < 0)
        return {};
    char text[48];
    if (seconds >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld left", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    else
        std::snprintf(text, sizeof text, "%lld:%02lld left", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    return text;
}

std::string FormatTransferStatus(const TransferMeter& meter)
{
    std::string text = FormatBytes(meter.Done()) + " of " + FormatBytes(meter.Total());
    const std::string rate = FormatRate(meter.Rate());
    if (!rate.empty())
        text += ", " + rate + ", " + FormatTimeLeft(meter.SecondsLeft());
    return text;
}

std::string FormatCancelledQueue(std::size_t done, std::size_t files, const std::string& verb)
{
    return std::to_string(done) + " of " + std::to_string(files) + (files == 1 ? " file " : " files ") + verb
           + "; cancelled.";
}
