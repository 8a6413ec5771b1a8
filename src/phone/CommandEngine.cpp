// Running commands: each goes through the channel and its operation waits for it with co_await;
// what a failed command does to the link (a refusal resets the handset, silence gives the link
// up); connect, close, questions.
#include <chrono>
#include <coroutine>
#include <iostream>
#include <thread>

#include "phone/Channel.h"
#include "phone/PhoneLink.h"
#include "protocol/Reply.h"
#include "protocol/Text.h"
#include "serial/CPDrv.h"
#include "serial/PortAdvice.h"

namespace {

// Waits for something that completes through a callback, which may be called at once (then the
// waiting coroutine goes on without suspending) or later (then it is resumed from there).
template <class T>
struct CallbackAwaiter {
    std::function<void(std::function<void(T)>)> start;
    struct State {
        T value{};
        bool done = false;
        std::coroutine_handle<> waiting;
    };
    std::shared_ptr<State> state = std::make_shared<State>();

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> waiting)
    {
        std::shared_ptr<State> s = state;
        start([s](T value) {
            if (s->done)
                return;   // answered twice: the first counts
            s->value = std::move(value);
            s->done = true;
            if (s->waiting)
                std::exchange(s->waiting, {}).resume();
        });
        if (s->done)
            return false;
        s->waiting = waiting;
        return true;
    }
    T await_resume() { return std::move(state->value); }
};

} // namespace

TPhoneLink::TPhoneLink(QObject* parent) : QObject(parent)
{
    channel_ = new TCommandChannel(this);
    TCommPortDriver& driver = channel_->Driver();
    // The configuration in effect until the first connect.
    driver.SetPort(pnCustom);
    driver.SetPortName("\\\\.\\COM1");
    driver.SetBaudRate(brCustom);
    driver.SetBaudRateValue(115200);
    driver.SetCheckLineStatus(true);
    connect(channel_, &TCommandChannel::LogRaw, this, &TPhoneLink::LogRaw);
    // A refusal or an overflow that belongs to no command is reported like a command's.
    connect(channel_, &TCommandChannel::Unclaimed, this, [this](const LinkResult& result) { CommandFailed(pcNone, result); });
    // A file's progress is also the progress of the queue it belongs to.
    connect(this, &TPhoneLink::Progress, this, [this](std::int64_t done, std::int64_t) { QueueFileProgress(done); });
}

TPhoneLink::~TPhoneLink()
{
    // The operations still waiting end now (Closed), so that none is left suspended; whoever
    // listened may be going too, so nothing more is signalled.
    closing_ = true;
    blockSignals(true);
    channel_->EndAll(LinkError::Closed);
}

void TPhoneLink::SetWatchdogIntervalForTests(int ms) { channel_->SetWatchdogInterval(ms); }

void TPhoneLink::SetBusy(bool busy)
{
    const bool was = Busy();
    busy_ = std::max(0, busy_ + (busy ? 1 : -1));
    if (Busy() != was)
        emit BusyChanged(Busy());
}

void TPhoneLink::Report(const LinkResult& result, const std::string& details)
{
    if (!closing_ && !ResultText(result).empty())
        emit Reported(result, details);
}

Task<LinkResult> TPhoneLink::Run(std::shared_ptr<TCommand> command, bool first)
{
    if (closing_)
        co_return Result(LinkError::Closed);
    const TPhoneCommand kind = command->Kind;
    CallbackAwaiter<LinkResult> ended{[this, command, kind, first](std::function<void(LinkResult)> done) {
        auto own = std::move(command->OnDone);
        command->OnDone = [this, own, kind, done](const LinkResult& r, std::span<const std::uint8_t> finalReply) {
            if (r.Ok())
                emit ProgressClosed();
            if (own)
                own(r, finalReply);
            // What the failure does to the link happens before the operation goes on.
            CommandFailed(kind, r);
            done(r);
        };
        channel_->SendCommand(command, first);
    }};
    const LinkResult result = co_await ended;
    co_return result;
}

void TPhoneLink::CommandFailed(TPhoneCommand kind, const LinkResult& result)
{
    switch (result.Error) {
    case LinkError::Refused:
        emit WaitEnded();
        emit ProgressClosed();
        // The handset is reset, unless the reset itself failed: that would only fail again, so
        // the link is given up instead.
        if (kind == pcATZ)
            GoOffline();
        Report(result);
        if (kind != pcATZ && !closing_)
            ResetHandset();
        break;
    case LinkError::Silence:
        emit WaitEnded();
        GoOffline();
        emit ProgressClosed();
        Report(result);
        break;
    case LinkError::WrongEcho:
    case LinkError::Overflow:
        emit WaitEnded();
        emit ProgressClosed();
        Report(result);
        break;
    case LinkError::SendFailed:
        Report(result);
        break;
    default:
        break;
    }
}

Task<LinkResult> TPhoneLink::SendATZ(bool first)
{
    auto command = std::make_shared<TCommand>();
    command->Kind = pcATZ;
    command->Text = CommandATZ();
    const LinkResult result = co_await Run(command, first);
    if (result.Ok()) {
        online_ = true;
        emit WentOnline();
    }
    co_return result;
}

Task<LinkResult> TPhoneLink::SendCGMM()
{
    auto command = std::make_shared<TCommand>();
    command->Kind = pcCGMM;
    command->Text = CommandCGMM();
    command->OnDone = [this](const LinkResult& r, std::span<const std::uint8_t> reply) {
        if (r.Ok()) {
            model_ = ExtractModel(AsText(reply));
            emit ModelKnown(model_);
        }
    };
    const LinkResult result = co_await Run(command);
    co_return result;
}

Task<LinkResult> TPhoneLink::SendFSIF()
{
    auto command = std::make_shared<TCommand>();
    command->Kind = pcFSIF;
    command->Text = CommandFSIF();
    const LinkResult result = co_await Run(command);
    if (result.Ok())
        emit FileSystemReady();
    co_return result;
}

void TPhoneLink::ResetHandset()
{
    // Ahead of every command queued meanwhile: nothing else is sent to a handset in doubt.
    SendATZ(true).Then({});
}

void TPhoneLink::GoOffline()
{
    online_ = false;
    channel_->Driver().Disconnect();
    emit WentOffline();
}

Task<LinkResult> TPhoneLink::Connect(std::string port, std::uint32_t baudRate, bool checkLineStatus, THwFlowControl hwFlow)
{
    TCommPortDriver& driver = channel_->Driver();
    driver.Disconnect();
    // Whatever was under way on the old port is over.
    channel_->EndAll(LinkError::Offline);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    phoneDir_.clear();
    handsetFolder_.clear();
    phoneRecords_.clear();
    ++listingNumber_;
    model_.clear();
    emit Reconnecting(port);

    driver.SetPortName("\\\\.\\" + port);
    driver.SetBaudRateValue(baudRate);
    driver.SetCheckLineStatus(checkLineStatus);
    driver.SetHwFlow(hwFlow);
    LinkResult opened;
    if (!driver.Connect()) {
        emit PortOpenFailed(driver.PortName());
        // The message keeps its fixed text; the reason and what to do go to standard error and
        // into its details.
        opened = Result(LinkError::PortOpenFailed);
        Report(opened, ReportPortOpenFailure(std::cerr, driver.PortName(), portAdvice_));
    }
    const TLineStatusSet lines = driver.LineStatus();
    emit LineStatusKnown(lines.Has(lsCTS), lines.Has(lsDSR));
    emit WentOffline();
    online_ = false;

    co_await SendATZ();
    co_await SendCGMM();
    co_await SendFSIF();
    if (!opened.Ok())
        co_return opened;
    co_return online_ ? LinkResult{} : Result(closing_ ? LinkError::Closed : LinkError::Offline);
}

void TPhoneLink::Close()
{
    closing_ = true;
    online_ = false;
    channel_->EndAll(LinkError::Closed);
    channel_->Driver().Disconnect();
}

Task<Prompts::Answer> TPhoneLink::Ask(Prompts::Kind kind, std::string text)
{
    if (closing_ || !asker_)
        co_return Prompts::Answer::No;
    CallbackAwaiter<Prompts::Answer> answered{
        [this, kind, text](std::function<void(Prompts::Answer)> answer) { asker_(kind, text, answer); }};
    const Prompts::Answer answer = co_await answered;
    co_return answer;
}

Task<LinkResult> TPhoneLink::Settle()
{
    CallbackAwaiter<LinkResult> settled{[this](std::function<void(LinkResult)> done) {
        auto mark = std::make_shared<TCommand>();
        mark->OnDone = [done](const LinkResult& r, std::span<const std::uint8_t>) { done(r); };
        channel_->SendCommand(mark);
    }};
    const LinkResult result = co_await settled;
    co_return result;
}

void TPhoneLink::InFolder(const std::shared_ptr<TCommand>& command, const std::string& folder)
{
    // Decided as the command goes out, when every command before it has ended: another client's
    // listing queued meanwhile cannot come between the folder's listing and the command.
    command->Prerequisite = [this, folder, weak = std::weak_ptr<TCommand>(command)]() -> std::shared_ptr<TCommand> {
        if (handsetFolder_ == folder)
            return nullptr;
        auto listing = std::make_shared<TCommand>();
        listing->Kind = pcFSDL;
        listing->Text = CommandFSDL(folder);
        listing->OnDone = [this, folder, weak](const LinkResult& result, std::span<const std::uint8_t>) {
            handsetFolder_ = result.Ok() ? folder : std::string();
            if (!result.Ok())
                if (const std::shared_ptr<TCommand> waiting = weak.lock())
                    channel_->Withdraw(waiting, result);
        };
        return listing;
    };
}
