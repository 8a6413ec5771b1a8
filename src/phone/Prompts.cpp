#include "phone/Prompts.h"

#include <iostream>
#include <utility>

namespace Prompts {

namespace {

Handler& Current()
{
    static Handler handler;
    return handler;
}

Handler& Fallback()
{
    static Handler handler;
    return handler;
}

std::string& CurrentDetails()
{
    static std::string details;
    return details;
}

bool IsQuestion(Kind kind) { return kind == Kind::YesNo || kind == Kind::YesNoYesToAll; }

} // namespace

void SetHandler(Handler handler) { Current() = std::move(handler); }
void SetFallback(Handler handler) { Fallback() = std::move(handler); }

const std::string& ShowingDetails() { return CurrentDetails(); }

Answer Show(Kind kind, const std::string& text, const std::string& details)
{
    // Kept for the length of the call only; a prompt shown from within an answer has its own.
    struct Scope {
        std::string before;
        explicit Scope(const std::string& d) : before(std::exchange(CurrentDetails(), d)) {}
        ~Scope() { CurrentDetails() = std::move(before); }
    } scope(details);
    if (Current())
        return Current()(kind, text);
    if (Fallback())
        return Fallback()(kind, text);
    std::cerr << text << '\n';
    if (!details.empty())
        std::cerr << details << '\n';
    return IsQuestion(kind) ? Answer::Closed : Answer::Ok;
}

Recorder::Recorder()
{
    SetHandler([this](Kind kind, const std::string& text) { return Answer_(kind, text); });
}

Recorder::~Recorder() { SetHandler({}); }

std::vector<std::string> Recorder::Texts() const
{
    std::vector<std::string> texts;
    for (const Entry& e : shown_)
        texts.push_back(e.text);
    return texts;
}

Answer Recorder::Answer_(Kind kind, const std::string& text)
{
    shown_.push_back({kind, text, CurrentDetails()});
    if (next_ < answers_.size())
        return answers_[next_++];
    return IsQuestion(kind) ? Answer::Yes : Answer::Ok;
}

} // namespace Prompts
