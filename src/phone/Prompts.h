#pragma once
// The link's messages and questions, with no widgets: whoever drives the link answers them. The
// window answers with message boxes (ui/Dialogs), tests with the Recorder below, which answers
// from a script and keeps the exact texts.
// Texts keep their CR LF line joins; whoever shows them may turn those into plain line feeds.
#include <functional>
#include <string>
#include <vector>

namespace Prompts {

enum class Kind { Error, Information, Plain, YesNo, YesNoYesToAll };
enum class Answer { Ok, Yes, No, YesToAll, Closed };   // Closed: dismissed without a button

using Handler = std::function<Answer(Kind kind, const std::string& text)>;

// The answerer for now (a Recorder in tests); an empty handler hands back to the fallback.
void SetHandler(Handler handler);
// The standing answerer (the window's message boxes), used while no handler is set.
void SetFallback(Handler handler);

// Without any answerer the text goes to standard error: a question then counts as dismissed.
// `details` (when not empty) is more for whoever wants it: a message box's detailed text.
Answer Show(Kind kind, const std::string& text, const std::string& details = {});
// The details of the prompt being answered (for an answerer; "" outside Show).
const std::string& ShowingDetails();
inline void ErrorBox(const std::string& text, const std::string& details = {}) { Show(Kind::Error, text, details); }
inline void InfoBox(const std::string& text) { Show(Kind::Information, text); }
inline void PlainBox(const std::string& text) { Show(Kind::Plain, text); }
inline Answer YesNo(const std::string& text) { return Show(Kind::YesNo, text); }
inline Answer YesNoYesToAll(const std::string& text) { return Show(Kind::YesNoYesToAll, text); }

// The question before a file that exists is replaced (a download, an upload, a backup).
inline std::string OverwriteQuestion(const std::string& name) { return "File: " + name + "\r\nexists. Owerwrite?"; }

// A recorder for tests: answers from a script (Ok/Yes when the script is used up) and keeps
// every prompt, in order. Installs itself on construction, hands back to the fallback after.
class Recorder {
public:
    struct Entry {
        Kind kind;
        std::string text;
        std::string details;
    };
    Recorder();
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void Script(std::vector<Answer> answers) { answers_ = std::move(answers); next_ = 0; }
    const std::vector<Entry>& Shown() const { return shown_; }
    std::vector<std::string> Texts() const;
    void Clear() { shown_.clear(); }

private:
    Answer Answer_(Kind kind, const std::string& text);
    std::vector<Answer> answers_;
    std::size_t next_ = 0;
    std::vector<Entry> shown_;
};

} // namespace Prompts
