#pragma once
// What became of a command, a file or an operation of the link: a kind and what its message
// names. The link reports results (TPhoneLink::Reported) and completes its operations with them;
// whoever shows them words them with ResultText, so every client says the same.
#include <cstdint>
#include <string>

enum class LinkError {
    None,              // done
    Declined,          // the user answered No: left alone, no failure
    Cancelled,         // the queue was stopped between two files (Done of Files were done)
    Closed,            // whoever drives the link is ending: nothing more is sent
    Offline,           // the link is not online: nothing was sent
    PortOpenFailed,    // the port did not open (Detail: the reason and what to do)
    SendFailed,        // the command or an acknowledgement could not be written
    WrongEcho,         // the handset did not echo the command
    Refused,           // the handset answered ERROR or +CME ERROR (Code, when it named one)
    Silence,           // the handset did not answer within the watchdog's time
    Overflow,          // more bytes than a reply may hold (Detail: which check)
    NoFolder,          // a download with no PC folder to go to
    NotPcName,         // the handset's name cannot be a PC file name
    NotWireName,       // the PC name cannot be sent inside the command's quotes
    TooLarge,          // the PC file is too large for the handset's size field
    NoName,            // a file without a name: nothing was sent
    OpenFailed,        // the PC file could not be opened
    ReadFailed,        // the PC file could not be read
    WrongFile,         // the read's header named another file (Detail: its name)
    BadHeader,         // the read's header could not be read (Detail: why)
    NoHeader,          // the read ended without a header
    BadDataBlock,      // a data block could not be taken (Code: the extraction's code)
    SizeMismatch,      // Expected: the header's size, Actual: the bytes received
    CrcMismatch,       // Expected: the header's CRC, Actual: the CRC computed
    SaveSizeDifferent, // the PC file was written short
    SaveFailed,        // the PC file could not be written
    SameTarget,        // another handset file of this run went to the same PC file
};

struct LinkResult {
    LinkError Error = LinkError::None;
    std::string Command;   // the command text (echo, refusal) or its short name (silence)
    std::string Name;      // the file, as the PC shows it
    std::string Detail;    // more for whoever wants it; for a refusal, a wrong echo or silence, what came
    std::int64_t Expected = 0, Actual = 0;
    int Code = 0;
    std::size_t Done = 0, Files = 0;   // a cancelled queue: files done of files queued
    std::string Verb;                  // a cancelled queue: "downloaded", "uploaded", ...

    bool Ok() const { return Error == LinkError::None; }
    // Neither done nor left alone on purpose.
    bool Failed() const { return Error != LinkError::None && Error != LinkError::Declined && Error != LinkError::Cancelled; }
};

inline LinkResult Result(LinkError error)
{
    LinkResult result;
    result.Error = error;
    return result;
}

// The message for a result, exactly as the user has always been shown it ("" for None,
// Declined and Closed, which say nothing).
std::string ResultText(const LinkResult& result);
// Whether the message is a piece of information rather than an error (a cancelled queue).
bool ResultIsInformation(const LinkResult& result);
