#include "phone/Prompts.h"

#include <iostream>

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

bool IsQuestion(Kind kind) { return kind == Kind::YesNo || kind == Kind::YesNoYesToAll; }

} // namespace

void SetHandler(Handler handler) { Current() = std::move(handler); }
void SetFallback(Handler handler) { Fallback() = std::move(handler); }

Answer Show(Kind kind, const std::string& text)
{
    if (Current())
        return Current()(kind, text);
    if (Fallback())
        return Fallback()(kind, text);
    std::cerr << text << '\n';
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
    shown_.push_back({kind, text});
    if (next_ < answers_.size())
        return answers_[next_++];
    return IsQuestion(kind) ? Answer::Yes : Answer::Ok;
}

} // namespace Prompts
