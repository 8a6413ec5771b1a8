#pragma once
// Every message box of the program goes through here: the prompts interface of the link
// (phone/Prompts.h) answered with message boxes, so that tests can replace the boxes with a
// recorder that answers from a script and keeps the exact texts.
// Texts keep their CR LF line joins; the Qt boxes show them with plain line feeds.
#include <functional>
#include <string>
#include <vector>

#include "phone/Prompts.h"

namespace Dialogs {

// The prompts of the whole program are the link's prompts interface; here they are answered
// with message boxes.
using Prompts::Answer;
using Prompts::Handler;
using Prompts::Kind;
using Prompts::Recorder;

// Replaces the real boxes (an empty handler restores them).
inline void SetHandler(Handler handler) { Prompts::SetHandler(std::move(handler)); }
// Makes the message boxes the standing answer of every prompt.
void UseMessageBoxes();

// `details` (when not empty) is the box's detailed text, behind its Show Details button.
Answer Show(Kind kind, const std::string& text, const std::string& details = {});
using Prompts::ShowingDetails;
inline void ErrorBox(const std::string& text, const std::string& details = {}) { Dialogs::Show(Kind::Error, text, details); }
inline void InfoBox(const std::string& text) { Dialogs::Show(Kind::Information, text); }
inline void PlainBox(const std::string& text) { Dialogs::Show(Kind::Plain, text); }
inline Answer YesNo(const std::string& text) { return Dialogs::Show(Kind::YesNo, text); }
inline Answer YesNoYesToAll(const std::string& text) { return Dialogs::Show(Kind::YesNoYesToAll, text); }

// The folder chooser: the chosen folder's path, or empty when the user cancelled.
using FolderHandler = std::function<std::string(const std::string& title)>;
void SetFolderHandler(FolderHandler handler);
std::string ChooseFolder(const std::string& title);
// The file chooser for saving: the chosen file's path, or empty when the user cancelled. A test
// handler gets the title.
void SetSaveFileHandler(FolderHandler handler);
std::string ChooseSaveFile(const std::string& title, const std::string& suggestedName);

} // namespace Dialogs

// The wait cursor: the hourglass, and back to the normal arrow. Safe to call in any order and
// any number of times (the arrow is restored without a matching hourglass).
namespace WaitCursor {
void Hourglass();
void Arrow();
bool Showing();
} // namespace WaitCursor
