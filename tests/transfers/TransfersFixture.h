#pragma once
// The transfer commands driven as the user drives them: files selected in the lists, the
// command run, its questions answered by the dialog recorder, and the result checked on both
// sides of the link and in the command stream the handset received.
#include <algorithm>

#include "protocol/CRC.h"
#include "support/WindowFixture.h"

namespace transfers {

using namespace testsupport;
using Dialogs::Answer;

inline std::string Quoted(const std::string& verb, const std::string& name) { return verb + "\"" + name + "\"\r\n"; }
inline std::string ReadCmd(const std::string& name) { return Quoted("AT+FSFR= -1,", name); }
inline std::string EraseCmd(const std::string& name) { return Quoted("AT+FSFE= -1,", name); }
inline std::string ListCmd(const std::string& folder) { return Quoted("AT+FSDL=", folder); }
inline std::string WriteCmd(const std::string& name, int type, const std::string& content)
{
    return "AT+FSFW=-1,\"" + name + "\"," + std::to_string(type) + ",\" \"," + std::to_string(content.size()) + ","
           + std::to_string(CalcCRC(content)) + "\r\n";
}
inline std::string Overwrite(const std::string& name) { return "File: " + name + "\r\nexists. Owerwrite?"; }

class TransfersTest : public WindowTest {
protected:
    // Online with the root listed and the handset's log emptied.
    int startupCommands = 0;   // commands the handset had answered when the test began

    void Online()
    {
        StartOnline();
        startupCommands = static_cast<int>(handset->Commands().size());
        handset->ClearLog();
    }

    std::vector<std::string> Commands() const { return handset->Commands(); }

    // The commands of one kind ("AT+FSFR"), in order.
    std::vector<std::string> CommandsOf(const std::string& verb) const
    {
        std::vector<std::string> out;
        for (const std::string& c : handset->Commands())
            if (c.rfind(verb, 0) == 0)
                out.push_back(c);
        return out;
    }

    // Every box from now on: its text kept in `seen`, its answer from `answer` (which may look
    // at the window while the box is open).
    std::vector<std::string> seen;
    void Answering(std::function<Answer(const std::string& text)> answer)
    {
        seen.clear();
        Dialogs::SetHandler([this, answer](Dialogs::Kind, const std::string& text) {
            seen.push_back(text);
            return answer(text);
        });
    }

    bool PanesEnabled() const { return win->Panel_PC->isEnabled() && win->Panel_Phone->isEnabled(); }

    // Upload (or Uplod As Melody) of these PC files, then the listing that ends it.
    void Upload(const std::vector<std::string>& names, bool asMelody = false)
    {
        RefreshPC();
        SelectPC(names);
        if (asMelody)
            win->Action_UplodAsMelodyExecute();
        else
            win->Action_UploadExecute();
        ASSERT_TRUE(WaitIdle());
    }

    void Download(const std::vector<std::string>& names)
    {
        SelectPhone(names);
        win->Action_DownloadExecute();
        ASSERT_TRUE(WaitIdle());
    }
};

} // namespace transfers
