#include "phone/LinkResult.h"

#include "phone/TransferMeter.h"

std::string ResultText(const LinkResult& r)
{
    const std::string file = "File: " + r.Name + "\r\n";
    switch (r.Error) {
    case LinkError::None:
    case LinkError::Declined:
    case LinkError::Closed:
        return {};
    case LinkError::Cancelled: return FormatCancelledQueue(r.Done, r.Files, r.Verb);
    case LinkError::Offline: return "The phone is offline.";
    case LinkError::PortOpenFailed: return "Error open port.";
    case LinkError::SendFailed: return "Send Error.";
    case LinkError::WrongEcho: return "Respond incorrect.\r\nCommand: " + r.Command;
    case LinkError::Refused: return "Command error.\r\nCommand: " + r.Command;
    case LinkError::Silence: return "Phone not respond.\r\nCommand: " + r.Command;
    case LinkError::Overflow: return r.Detail;
    case LinkError::NoFolder: return "Choose a folder on the PC first.";
    case LinkError::NotPcName: return file + "This name cannot be a file name on the PC; the file is not downloaded.";
    case LinkError::NotWireName:
        return file + "The name holds a double quote or a control character and cannot be sent to the phone.";
    case LinkError::TooLarge: return file + "The file is too large to be sent to the phone.";
    case LinkError::NoName: return "A file without a name cannot be read, written or erased on the phone.";
    case LinkError::OpenFailed: return file + "The file cannot be opened.";
    case LinkError::ReadFailed: return file + "The file cannot be read.";
    case LinkError::WrongFile: return file + "The phone sent another file (" + r.Detail + "); nothing is saved.";
    case LinkError::BadHeader: return file + r.Detail;
    case LinkError::NoHeader: return file + "The handset sent no file header; nothing is saved.";
    case LinkError::BadDataBlock: return "Extract data error code:" + std::to_string(r.Code);
    case LinkError::SizeMismatch:
        return file + "Size error.\r\nFile size: " + std::to_string(r.Expected) + "\r\nRecv size: " + std::to_string(r.Actual);
    case LinkError::CrcMismatch:
        return file + "CRC error.\r\nCalc CRC: " + std::to_string(r.Actual) + "\r\nRecv CRC: " + std::to_string(r.Expected);
    case LinkError::SaveSizeDifferent: return file + "Write error -> size different.";
    case LinkError::SaveFailed: return file + "Write error -> file access fail.";
    case LinkError::SameTarget: return file + "Another file of the phone is backed up to this PC file; this one is not.";
    }
    return {};
}

bool ResultIsInformation(const LinkResult& result) { return result.Error == LinkError::Cancelled; }
