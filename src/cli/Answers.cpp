#include "cli/Answers.h"

#include <iostream>
#include <string>

#include <unistd.h>

#include "phone/Prompts.h"
#include "protocol/Text.h"

namespace CliAnswers {

namespace {

Policy g_policy;
std::function<void()> g_beforeOutput;
Question g_question = Question::Overwrite;
int g_failures = 0;

Prompts::Answer Yes(Prompts::Kind kind)
{
    return kind == Prompts::Kind::YesNoYesToAll ? Prompts::Answer::YesToAll : Prompts::Answer::Yes;
}

// Asks on the terminal: y, n, or a (yes to all, where the question offers it).
Prompts::Answer AskTerminal(Prompts::Kind kind, const std::string& text)
{
    const bool all = kind == Prompts::Kind::YesNoYesToAll;
    for (;;) {
        std::cerr << PrintableName(OneLine(text)) << (all ? " [y]es, [n]o, [a]ll: " : " [y]es, [n]o: ") << std::flush;
        std::string line;
        if (!std::getline(std::cin, line)) {
            std::cerr << "\n";
            ++g_failures;
            return Prompts::Answer::No;
        }
        if (line == "y" || line == "Y" || line == "yes")
            return Prompts::Answer::Yes;
        if (line == "n" || line == "N" || line == "no")
            return Prompts::Answer::No;
        if (all && (line == "a" || line == "A" || line == "all"))
            return Prompts::Answer::YesToAll;
    }
}

Prompts::Answer Answer(Prompts::Kind kind, const std::string& text)
{
    if (g_beforeOutput)
        g_beforeOutput();
    switch (kind) {
    case Prompts::Kind::Error:
        ++g_failures;
        Complain(OneLine(text));
        return Prompts::Answer::Ok;
    case Prompts::Kind::Information:
    case Prompts::Kind::Plain:
        if (!g_policy.Quiet)
            Complain(OneLine(text));
        return Prompts::Answer::Ok;
    case Prompts::Kind::YesNo:
    case Prompts::Kind::YesNoYesToAll:
        break;
    }
    if (g_policy.Yes)
        return Yes(kind);
    if (g_question == Question::Overwrite && g_policy.OnExisting == Overwrite::Yes)
        return Yes(kind);
    if (g_question == Question::Overwrite && g_policy.OnExisting == Overwrite::No)
        return Prompts::Answer::No;
    if (::isatty(STDIN_FILENO) && ::isatty(STDERR_FILENO))
        return AskTerminal(kind, text);
    ++g_failures;
    Complain(OneLine(text) + " -- not answered without a terminal; "
             + (g_question == Question::Overwrite ? "--overwrite, --skip-existing or --yes" : "--yes") + " answers it");
    return Prompts::Answer::No;
}

} // namespace

void Install(const Policy& policy, std::function<void()> beforeOutput)
{
    g_policy = policy;
    g_beforeOutput = std::move(beforeOutput);
    Prompts::SetFallback(Answer);
}

std::string OneLine(std::string text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        out += text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
    }
    return out;
}

void SetQuestion(Question question) { g_question = question; }

int Failures() { return g_failures; }

void Complain(const std::string& text)
{
    if (g_beforeOutput)
        g_beforeOutput();
    std::cerr << "tarvel-cli: " << PrintableName(text) << std::endl;
}

} // namespace CliAnswers
