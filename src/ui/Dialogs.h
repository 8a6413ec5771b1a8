#pragma once
// Every message box of the program goes through here, so that tests can replace the boxes with
// a recorder that answers from a script and keeps the exact texts.
// Texts keep their CR LF line joins; the Qt boxes show them with plain line feeds.
#include <functional>
#include <string>
#include <vector>

namespace Dialogs {

enum class Kind { Error, Information, Plain, YesNo, YesNoYesToAll };
enum class Answer { Ok, Yes, No, YesToAll, Closed };   // Closed: shut without a button

using Handler = std::function<Answer(Kind kind, const std::string& text)>;

// Replaces the real boxes (an empty handler restores them).
void SetHandler(Handler handler);

// `details` (when not empty) is the box's detailed text, behind its Show Details button.
Answer Show(Kind kind, const std::string& text, const std::string& details = {});
// The details of the box being shown (for a handler; "" outside Show).
const std::string& ShowingDetails();
inline void ErrorBox(const std::string& text, const std::string& details = {}) { Show(Kind::Error, text, details); }
inline void InfoBox(const std::string& text) { Show(Kind::Information, text); }
inline void PlainBox(const std::string& text) { Show(Kind::Plain, text); }
inline Answer YesNo(const std::string& text) { return Show(Kind::YesNo, text); }
inline Answer YesNoYesToAll(const std::string& text) { return Show(Kind::YesNoYesToAll, text); }

// The folder chooser: the chosen folder's path, or empty when the user cancelled.
using FolderHandler = std::function<std::string(const std::string& title)>;
void SetFolderHandler(FolderHandler handler);
std::string ChooseFolder(const std::string& title);
// The file chooser for saving: the chosen file's path, or empty when the user cancelled. A test
// handler gets the title.
void SetSaveFileHandler(FolderHandler handler);
std::string ChooseSaveFile(const std::string& title, const std::string& suggestedName);

// A recorder for tests: answers from a script (Ok/Yes when the script is used up) and keeps
// every box shown, in order. Installs itself on construction, restores the real boxes after.
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

} // namespace Dialogs

// The wait cursor: the hourglass, and back to the normal arrow. Safe to call in any order and
// any number of times (the arrow is restored without a matching hourglass).
namespace WaitCursor {
void Hourglass();
void Arrow();
bool Showing();
} // namespace WaitCursor
