#pragma once
// How the command line answers the link's messages and questions (phone/Prompts.h): messages
// go to standard error, one line each; a question is answered by an option (--yes,
// --overwrite, --skip-existing), else asked on the terminal, else refused.
#include <functional>
#include <string>

namespace CliAnswers {

enum class Question { Overwrite, Confirm };   // what the questions of the command under way ask
enum class Overwrite { Ask, Yes, No };

struct Policy {
    bool Yes = false;                        // --yes: yes to every question
    Overwrite OnExisting = Overwrite::Ask;   // --overwrite / --skip-existing
    bool Quiet = false;                      // --quiet: no notes (errors still show)
};

// Installs the answerer as the prompts' fallback. `beforeOutput` runs before anything is
// written to standard error (it clears a progress line).
void Install(const Policy& policy, std::function<void()> beforeOutput);
void SetQuestion(Question question);
// Errors shown and questions refused so far: either makes the exit status 1.
int Failures();
// Writes one line of standard error, "tarvel-cli: " in front.
void Complain(const std::string& text);
// A message on one line: its CR LF joins become blanks.
std::string OneLine(std::string text);

} // namespace CliAnswers
