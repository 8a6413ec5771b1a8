#pragma once
// The virtual handset: opens a pseudo-terminal and answers the AT file-system commands on its
// master side exactly as a handset does, serving a folder of the PC as the handset's file
// system. Used by the demo (tarvel-handset) and by the tests (in-process, on its own thread).
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "protocol/WireTrace.h"

struct HandsetOptions {
    std::string Root;                  // the folder served as the handset's "/"
    std::string Model = "TV-1 Virtual";// the AT+CGMM answer (empty: a bare OK)
    bool Echo = true;                  // echo every command first
    bool EchoCrOnly = false;           // echo a CR LF command with its CR only
    bool WrongEcho = false;            // echo something else than the command
    int SilentAfter = -1;              // answer this many commands, then nothing (-1: never)
    std::string SilentOn;              // answer nothing to commands starting with this text
    std::string CmeErrorOn;            // "+CME ERROR: 4" to commands starting with this text
    std::string ErrorOn;               // a plain "ERROR" to commands starting with this text (a
                                       // handset without such a command)
    int CmeErrorAfterBlocks = -1;      // ... after this many blocks (or write prompts) of the
                                       // reply (-1 or 0: at once, right after the echo)
    bool CorruptReadByte = false;      // flip one data byte of a read (the CRC stays)
    int AnnouncedSizeDelta = 0;        // added to the size a read header announces
    bool ShortBlock = false;           // the first data block of a read lacks its last byte
    int LeadInBreaks = 2;              // line-break bytes (CR, LF, CR, ...) before "+FSFR:" of a
                                       // data block
    bool BlanksInLength = true;        // the data length field is padded with leading blanks
    int SplitWrites = 0;               // write every reply in pieces of this many bytes
    int SplitPauseMs = 0;              // pause between pieces (each piece waits until the PC
                                       // has read the one before, so it arrives on its own)
    int LineRate = 0;                  // pace output to this many bytes/s (0: as fast as it goes)
    int LinePiece = 0;                 // paced output goes out in pieces of this many bytes (0:
                                       // what the line carries in 20 ms)
    bool UnsolicitedBlock = false;     // after the next final reply, once the PC has read it,
                                       // send a stray "\r\n#OK#\r\n" block (then cleared)
    bool UnsolicitedPrompt = false;    // likewise a stray "\r\n##>\r\n" prompt (then cleared)
    bool HoldStray = false;            // the stray block or prompt waits: it goes out in front of
                                       // the echo of the next command line, or at ReleaseStray(),
                                       // whichever comes first (on its own either way)
    std::string Unsolicited;           // an unsolicited line ("RING", "+CMTI: \"SM\",3"), sent
                                       // between CR LF at each moment chosen below
    bool UnsolicitedBeforeEcho = false;    // in front of the echo of every command
    bool UnsolicitedBetweenBlocks = false; // in front of every block but the first, and of a
                                           // final reply that follows blocks
    bool UnsolicitedWithFinal = false;     // right behind every final reply, in the same write
    bool UnsolicitedAfterFinal = false;    // once the PC has read the final reply (it is idle)
    int ReadBlockSize = 2048;          // data bytes per read block (at most 4073)
    int EntriesPerBlock = 8;           // listing entries per block
    bool EntriesInFinal = false;       // a listing's last entries come in its final reply, in
                                       // front of "OK", instead of in a block of their own
    std::string ReadHeaderText;        // sent in place of a read's header block (empty: the real
                                       // one); a text not ending in "#OK#\r\n" ends the reply
    bool CodedNames = false;           // files on disk have coded names (HandsetWire.h's
                                       // DecodeDiskName): reads, erases and listings use the
                                       // decoded names, so hidden names and control bytes can be
                                       // served
    int ExtraWritePrompts = 0;         // prompts sent after a write's data are all in, before
                                       // the final reply (each takes no data)
    bool Trace = false;                // every byte received and sent to standard error
    std::vector<WireTrace::Record> Replay; // when not empty: play the handset's side of this
                                       // trace instead of serving Root (see Impl::Replay)
    // SilentOn, CmeErrorOn and ErrorOn match the start of the command line without regard to case,
    // with or without its leading "AT" ("+FSDL" matches AT+FSDL=...).
};

class VirtualHandset {
public:
    explicit VirtualHandset(HandsetOptions options);
    ~VirtualHandset();
    VirtualHandset(const VirtualHandset&) = delete;
    VirtualHandset& operator=(const VirtualHandset&) = delete;

    // Opens the pseudo-terminal (raw mode). Keeps its own slave descriptor open, so the PC side
    // can close and reopen the port. False with a reason on failure.
    bool Open(std::string* error = nullptr);
    const std::string& SlavePath() const { return slavePath_; }

    // Serves on a thread of its own until Stop (or destruction).
    void Start();
    void Stop();
    // Serves on the caller's thread until `stop` turns true.
    void Serve(const std::atomic<bool>& stop);

    // Closes the pseudo-terminal for good: the port vanishes under the PC.
    void Vanish();

    // Sends a stray block or prompt held back by HoldStray now, while the PC has no command
    // outstanding (returns at once; StrayPending tells when it has been read).
    void ReleaseStray();
    // True from the moment a stray block or prompt is owed (asked for, held back or on its way)
    // until the PC has read it.
    bool StrayPending() const;

    // True while the handset waits for the PC (for a command line, or for the acknowledgement
    // of a block) with nothing received left to take: a write whose data stopped has been
    // given up, and what came meanwhile has been answered.
    bool Idle() const;

    // Changes options between commands (thread-safe).
    void Update(const std::function<void(HandsetOptions&)>& change);
    HandsetOptions Options() const;

    // Everything received so far, and the command lines received (each with its terminator).
    // A long session keeps only the latest megabytes and lines.
    std::string Received() const;
    std::vector<std::string> Commands() const;
    void ClearLog();
    // Faults of the PC's side seen so far (data of a write sent before their prompt); each is
    // also reported on standard error.
    int ProtocolViolations() const;

private:
    struct Impl;
    Impl* impl_ = nullptr;
    std::string slavePath_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
};
