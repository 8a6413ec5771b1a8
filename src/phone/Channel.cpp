// The command channel (see Channel.h).
#include "phone/Channel.h"

#include <algorithm>
#include <cstring>

#include <QTimer>

#include "protocol/ReadBlock.h"
#include "protocol/Text.h"
#include "serial/CPDrv.h"

TCommandChannel::TCommandChannel(QObject* parent) : QObject(parent), buffer_(static_cast<std::size_t>(maxTempBuf))
{
    driver_ = new TCommPortDriver(this);
    driver_->setObjectName(QStringLiteral("CommPortDriver1"));
    driver_->OnReceiveData = [this](TCommPortDriver*, const std::uint8_t* data, std::uint32_t size) { Receive(data, size); };
    watchdog_ = new QTimer(this);
    watchdog_->setObjectName(QStringLiteral("WDTimer"));
    watchdog_->setSingleShot(true);
    connect(watchdog_, &QTimer::timeout, this, [this] { WatchdogFired(); });
}

TCommandChannel::~TCommandChannel()
{
    // Whoever is waiting for these commands is going too: they are dropped without completion.
    for (const auto& command : queue_)
        command->OnDone = nullptr;
    if (current_)
        current_->OnDone = nullptr;
}

void TCommandChannel::SendCommand(std::shared_ptr<TCommand> command, bool first)
{
    command->state = TCommand::State::Queued;
    if (first)
        queue_.push_front(std::move(command));
    else
        queue_.push_back(std::move(command));
    SendNext();
}

bool TCommandChannel::Withdraw(const std::shared_ptr<TCommand>& command, const LinkResult& result)
{
    const auto it = std::find(queue_.begin(), queue_.end(), command);
    if (it == queue_.end())
        return false;
    queue_.erase(it);
    command->state = TCommand::State::Done;
    if (command->OnDone)
        command->OnDone(result, {});
    return true;
}

void TCommandChannel::EndAll(LinkError error)
{
    std::deque<std::shared_ptr<TCommand>> ended;
    ended.swap(queue_);
    if (current_) {
        fill_ = 0;
        Finish(Result(error));
    }
    for (const auto& command : ended) {
        command->state = TCommand::State::Done;
        if (command->OnDone)
            command->OnDone(Result(error), {});
    }
}

void TCommandChannel::SendNext()
{
    while (!current_ && handling_ == 0 && !queue_.empty()) {
        current_ = std::move(queue_.front());
        queue_.pop_front();
        if (current_->Prerequisite)
            if (std::shared_ptr<TCommand> before = current_->Prerequisite()) {
                queue_.push_front(std::move(current_));
                current_ = std::move(before);
            }
        current_->state = TCommand::State::Sent;
        echoDue_ = true;
        if (current_->Text.empty()) {
            Finish(Result(LinkError::None));   // a mark in the queue: the commands before it are done
            return;
        }
        if (!driver_->Connected()) {
            Finish(Result(LinkError::Offline));
            return;   // Finish sends the next
        }
        if (!driver_->SendString(current_->Text)) {
            Finish(Result(LinkError::SendFailed));
            return;
        }
        overflowReported_ = false;
        ArmWatchdog();
    }
}

bool TCommandChannel::WriteData(std::span<const std::uint8_t> data)
{
    if (data.empty())
        return true;
    return driver_->SendData(data.data(), static_cast<std::uint32_t>(data.size())) == data.size();
}

void TCommandChannel::Finish(const LinkResult& result, std::span<const std::uint8_t> finalReply)
{
    std::shared_ptr<TCommand> command = std::move(current_);
    current_.reset();
    echoDue_ = false;
    watchdog_->stop();
    driver_->SetReadThreshold(1);
    if (command) {
        command->state = TCommand::State::Done;
        if (command->OnDone)
            command->OnDone(result, finalReply);
    }
    SendNext();
}

void TCommandChannel::ArmWatchdog()
{
    // It runs exactly while the handset owes an answer: a command is on the line and the PC is
    // not itself busy with a part of its reply.
    if (current_ && handling_ == 0) {
        watchdogFrom_ = std::chrono::steady_clock::now();
        watchdog_->start(current_->TimeoutMs > 0 ? current_->TimeoutMs : watchdogInterval_);
    } else {
        watchdog_->stop();
    }
}

void TCommandChannel::WatchdogFired()
{
    if (!current_)
        return;
    // Bytes that came since the watchdog was armed restart its count: it fires only after a
    // whole interval of silence. (Noted per delivery and looked at here, rather than restarting
    // the timer for every delivery.)
    const int interval = current_->TimeoutMs > 0 ? current_->TimeoutMs : watchdogInterval_;
    if (lastDelivery_ > watchdogFrom_) {
        watchdogFrom_ = lastDelivery_;
        const auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - lastDelivery_);
        if (silent.count() < interval) {
            watchdog_->start(interval - static_cast<int>(silent.count()));
            return;
        }
    }
    // The gathered bytes of the unanswered command are dropped too, so they can neither stand
    // in front of the next answer nor keep a full buffer refusing every later delivery.
    LinkResult result = Result(LinkError::Silence);
    result.Command = std::string(WatchdogName(current_->Kind));
    result.Detail = std::string(AsText(Gathered()));
    fill_ = 0;
    Finish(result);
}

void TCommandChannel::Acknowledge()
{
    if (!driver_->SendString(std::string(kBlockAck)) && current_)
        Finish(Result(LinkError::SendFailed));
}

void TCommandChannel::Overflow(const std::string& message)
{
    // What overflows the buffer is no reply this channel can take: the command on the line ends
    // and the buffer is emptied first, so that bytes arriving meanwhile start afresh. A device
    // that keeps streaming is told of once per command.
    fill_ = 0;
    const bool told = overflowReported_;
    overflowReported_ = true;
    LinkResult result = Result(LinkError::Overflow);
    result.Detail = message;
    if (current_)
        Finish(result);
    else if (!told)
        emit Unclaimed(result);
}

void TCommandChannel::DropUnsolicitedLines(const ReplyContext& ctx)
{
    std::string gathered(buffer_.begin(), buffer_.begin() + fill_);
    const std::vector<std::string> lines = DropUnsolicited(gathered, ctx);
    // While no command is on the line, the line breaks left around such lines are dropped too,
    // so that they cannot pile up in the buffer.
    if (!current_ && std::all_of(gathered.begin(), gathered.end(), [](char c) { return IsControlByte(static_cast<std::uint8_t>(c)); }))
        gathered.clear();
    std::copy(gathered.begin(), gathered.end(), buffer_.begin());
    fill_ = static_cast<std::int32_t>(gathered.size());
    for (const std::string& line : lines) {
        emit LogRaw(line);
        std::string bare = line;
        while (!bare.empty() && (bare.back() == '\n' || bare.back() == '\r'))
            bare.pop_back();
        for (const LineHandler& handler : lineHandlers_)
            handler(bare);
    }
}

void TCommandChannel::UpdateReadThreshold()
{
    // Inside a read data block whose length is known, the driver need not wake before the rest
    // of it is in.
    std::int32_t due = 1;
    if (current_ && current_->ReadDataExpected && fill_ > 0)
        due = std::max(DataBlockExtent(Gathered()) - fill_, 1);
    driver_->SetReadThreshold(static_cast<std::uint32_t>(due));
}

void TCommandChannel::Receive(const std::uint8_t* data, std::uint32_t size)
{
    if (size == 0)
        return;
    struct ThresholdAfter {
        TCommandChannel* channel;
        ~ThresholdAfter() { channel->UpdateReadThreshold(); }
    } thresholdAfter{this};
    // Bytes still arriving keep the command alive (the watchdog counts silence from here).
    lastDelivery_ = std::chrono::steady_clock::now();
    if (size > static_cast<std::uint32_t>(maxTempBuf)) {
        Overflow("Error: DataSize > maxTempBuf.");
        return;
    }
    if (static_cast<std::uint32_t>(fill_) + size > static_cast<std::uint32_t>(maxTempBuf)) {
        Overflow("Error: (TempBufPos+DataSize) > maxTempBuf.");
        return;
    }
    // The bytes the last delivery left are those the unsolicited-line pass has seen, unless the
    // buffer was emptied since.
    if (static_cast<std::size_t>(fill_) != unsolicitedSeen_.Seen)
        unsolicitedSeen_ = {};
    std::memcpy(buffer_.data() + fill_, data, size);
    fill_ += static_cast<std::int32_t>(size);

    ReplyContext ctx;
    ctx.Command = current_ ? current_->Kind : pcNone;
    ctx.Echo = current_ && echoDue_ ? std::string_view(current_->Text) : std::string_view();
    ctx.ReadDataExpected = current_ && current_->Kind == pcFSFR && current_->ReadDataExpected;
    // The pass runs when it can find something: a line completed since the last one (or, while
    // idle, always: the line breaks left there are dropped too).
    if (!current_ || UnsolicitedPassDue(Gathered(), ctx, unsolicitedSeen_))
        DropUnsolicitedLines(ctx);
    unsolicitedSeen_ = ScannedUpTo(static_cast<std::size_t>(fill_), ctx);
    const TReplyClass cls = ClassifyReply(Gathered(), ctx);

    if (cls == rcError) {
        LinkResult result = Result(LinkError::Refused);
        // The command is named while its echo is still due (as the message has always shown it).
        if (current_ && echoDue_)
            result.Command = current_->Text;
        const std::string_view text = AsText(Gathered());
        if (const std::size_t at = text.find("+CME ERROR:"); at != std::string_view::npos)
            ParseInt32(text.substr(at + 11, text.find_first_of("\r\n", at) - at - 11), result.Code);
        const EchoCheck echo = current_ && echoDue_ ? CheckEcho(Gathered(), current_->Text) : EchoCheck{};
        result.Detail = std::string(text.substr(static_cast<std::size_t>(echo.Match ? echo.Strip : 0)));
        fill_ = 0;
        if (current_)
            Finish(result);
        else
            emit Unclaimed(result);
        return;
    }
    if (cls != rcFinal && cls != rcBlock && cls != rcPrompt)
        return;
    if (current_ && echoDue_) {
        const EchoCheck echo = CheckEcho(Gathered(), current_->Text);
        if (!echo.Match) {
            LinkResult result = Result(LinkError::WrongEcho);
            result.Command = current_->Text;
            result.Detail = std::string(AsText(Gathered()));
            fill_ = 0;
            Finish(result);
            return;
        }
        std::memmove(buffer_.data(), buffer_.data() + echo.Strip, static_cast<std::size_t>(fill_ - echo.Strip));
        fill_ -= echo.Strip;
        echoDue_ = false;
    }
    // The reply is taken out and the buffer emptied before any handler runs: a handler may run
    // a nested event loop (a message box) that delivers the next bytes.
    const std::vector<std::uint8_t> reply(buffer_.begin(), buffer_.begin() + fill_);
    fill_ = 0;
    ProcessReply(cls, reply);
}

void TCommandChannel::ProcessReply(TReplyClass cls, std::span<const std::uint8_t> bytes)
{
    // The log shows the reply as text (up to a NUL byte).
    emit LogRaw(std::string(reinterpret_cast<const char*>(bytes.data()),
                            static_cast<std::size_t>(std::find(bytes.begin(), bytes.end(), 0) - bytes.begin())));
    if (!current_) {
        // A stray ending while idle: a block is still acknowledged, or the handset would wait.
        if (cls == rcBlock)
            Acknowledge();
        return;
    }
    if (cls == rcFinal) {
        Finish(Result(LinkError::None), bytes);
        return;
    }
    const std::shared_ptr<TCommand> command = current_;
    command->state = TCommand::State::Replying;
    ++handling_;
    watchdog_->stop();
    if (cls == rcBlock && command->OnBlock)
        command->OnBlock(*command, bytes);
    else if (cls == rcPrompt && command->OnPrompt)
        command->OnPrompt(*command);
    --handling_;
    if (current_ != command) {
        SendNext();   // ended meanwhile (the port closed)
        return;
    }
    if (cls == rcBlock)
        Acknowledge();
    if (current_ == command)
        ArmWatchdog();
}
