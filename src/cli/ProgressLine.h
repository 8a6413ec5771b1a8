#pragma once
// The progress of the transfer under way on standard error: while that is a terminal, one
// line redrawn in place (file, bytes, per cent, speed, time left); otherwise, with --verbose,
// a line now and then and one at the end of each file.
#include <cstdint>
#include <string>

#include <QElapsedTimer>

#include "phone/TransferMeter.h"

class TPhoneLink;

class ProgressLine {
public:
    // `show`: progress wanted at all (not --quiet, not --trace); `verbose`: also when standard
    // error is not a terminal.
    ProgressLine(TPhoneLink& link, bool show, bool verbose);
    // Removes a line drawn in place, so that a message can take its place.
    void Clear();

private:
    void Shown(const std::string& name, std::int32_t size);
    void Update(std::int64_t done, std::int64_t size);
    void Closed();
    std::string Text() const;
    void WriteLine();

    bool terminal_ = false;
    bool enabled_ = false;
    bool drawn_ = false;
    bool active_ = false;
    std::string name_;
    TransferMeter meter_;
    QElapsedTimer clock_;
    std::int64_t lastDrawMs_ = -1;
    std::string lastLine_;   // the line written last (not in place)
};
