#pragma once
// The command channel: the serial driver, the receive buffer, the watchdog and the queue of
// commands. One command is on the line at a time; the others wait in the queue in the order
// they came (a command put first goes next). The channel gathers the reply, checks the echo,
// classifies it (protocol/Reply.h), hands blocks and prompts to the command and acknowledges
// blocks, and completes the command with its result. Lines that are no part of any reply go to
// the handlers registered for them (and to the log). QtCore only.
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <QObject>

#include "phone/LinkResult.h"
#include "protocol/Reply.h"

class QTimer;
class TCommPortDriver;

// A command: its text and what to do with its reply. The handlers run on the event loop's thread
// and may submit further commands.
struct TCommand {
    enum class State { Queued, Sent, Replying, Done };

    TPhoneCommand Kind = pcNone;
    std::string Text;
    int TimeoutMs = 0;   // silence that ends it; 0: the channel's watchdog interval
    // A block of the reply (after the echo); the channel acknowledges it when the handler returns.
    std::function<void(TCommand&, std::span<const std::uint8_t>)> OnBlock;
    // The handset asks for data: the handler writes them (TCommandChannel::WriteData).
    std::function<void(TCommand&)> OnPrompt;
    // The end: the result and, when the handset ended it with "OK", that final reply (after the
    // echo). Called once, after the command has left the channel.
    std::function<void(const LinkResult&, std::span<const std::uint8_t>)> OnDone;
    // The blocks now due are a read's data blocks (set by the read once its header is in).
    bool ReadDataExpected = false;
    // Asked as the command is about to go out: a command that must go first (a listing that
    // makes the command's folder the handset's), or none. The command waits behind it, and is
    // asked again when it has ended.
    std::function<std::shared_ptr<TCommand>()> Prerequisite;

    State state = State::Queued;
};

class TCommandChannel : public QObject {
    Q_OBJECT
public:
    explicit TCommandChannel(QObject* parent = nullptr);
    ~TCommandChannel() override;

    TCommPortDriver& Driver() { return *driver_; }

    // Queues a command (first: ahead of those waiting). It goes out when the ones before it are
    // done; with the port closed it completes at once with Offline. A command without text is a
    // mark: it completes (None) as soon as the commands queued before it are done.
    void SendCommand(std::shared_ptr<TCommand> command, bool first = false);
    // A command still in the queue leaves it unsent and completes with `result` (Cancelled);
    // false when it has gone out already (it then runs to its end).
    bool Withdraw(const std::shared_ptr<TCommand>& command, const LinkResult& result = Result(LinkError::Cancelled));
    // The command on the line and every queued one complete with `error` (the port is closing).
    void EndAll(LinkError error);
    // Raw bytes for the command on the line (the data a prompt asked for).
    bool WriteData(std::span<const std::uint8_t> data);

    // Nothing on the line and nothing queued.
    bool Idle() const { return !current_ && queue_.empty(); }
    const TCommand* Current() const { return current_.get(); }

    // Every line that is no part of a reply (an unsolicited result code, a status line), without
    // its CR LF.
    using LineHandler = std::function<void(const std::string& line)>;
    void OnUnsolicited(LineHandler handler) { lineHandlers_.push_back(std::move(handler)); }

    void SetWatchdogInterval(int ms) { watchdogInterval_ = ms; }
    int WatchdogInterval() const { return watchdogInterval_; }

    // Bytes as the driver delivers them (the driver calls it; tests and the fuzzer feed it).
    void Receive(const std::uint8_t* data, std::uint32_t size);
    // The bytes gathered and not yet taken as a reply.
    std::int32_t Pending() const { return fill_; }

signals:
    // The replies as received (after the echo), and the lines dropped as unsolicited.
    void LogRaw(const std::string& text);
    // A result that belongs to no command: an overflow while none is outstanding.
    void Unclaimed(const LinkResult& result);

private:
    void SendNext();
    // A whole reply (after the echo) takes effect: a block goes to the command and is
    // acknowledged, a prompt goes to the command, "OK" completes it.
    void ProcessReply(TReplyClass cls, std::span<const std::uint8_t> reply);
    // The command on the line ends: it leaves the channel, then its OnDone runs.
    void Finish(const LinkResult& result, std::span<const std::uint8_t> finalReply = {});
    void Overflow(const std::string& message);
    void DropUnsolicitedLines(const ReplyContext& ctx);
    void ArmWatchdog();
    void WatchdogFired();
    void Acknowledge();
    // Tells the driver how many bytes to gather before it wakes the channel.
    void UpdateReadThreshold();
    std::span<const std::uint8_t> Gathered() const { return std::span(buffer_).first(static_cast<std::size_t>(fill_)); }

    TCommPortDriver* driver_ = nullptr;
    std::deque<std::shared_ptr<TCommand>> queue_;
    std::shared_ptr<TCommand> current_;
    bool echoDue_ = false;
    std::vector<std::uint8_t> buffer_;
    std::int32_t fill_ = 0;
    UnsolicitedScan unsolicitedSeen_;
    bool overflowReported_ = false;
    // A handler of the command on the line is running: the watchdog is held (the PC, not the
    // handset, owes the next step) and the next command waits until it has returned.
    int handling_ = 0;
    std::vector<LineHandler> lineHandlers_;

    QTimer* watchdog_ = nullptr;
    int watchdogInterval_ = 4000;
    std::chrono::steady_clock::time_point lastDelivery_{};
    std::chrono::steady_clock::time_point watchdogFrom_{};
};
