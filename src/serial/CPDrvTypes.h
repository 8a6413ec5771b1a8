#pragma once
// The value types of the serial component: its enumerations, the line-status set, the bit-rate
// table and the device control block built from the settings. No Qt, no I/O.
#include <cstdint>

#include "platform/SerialDcb.h"

enum TPortNumber : std::uint8_t {
    pnCustom = 0, pnCOM1, pnCOM2, pnCOM3, pnCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8,
    pnCOM9, pnCOM10, pnCOM11, pnCOM12, pnCOM13, pnCOM14, pnCOM15, pnCOM16
};
enum TBaudRate : std::uint8_t {
    brCustom = 0, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
    br38400, br56000, br57600, br115200, br128000, br256000
};
enum TDataBits : std::uint8_t { db5BITS = 0, db6BITS, db7BITS, db8BITS };
enum TStopBits : std::uint8_t { sb1BITS = 0, sb1HALFBITS, sb2BITS };
enum TParity : std::uint8_t { ptNONE = 0, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl : std::uint8_t { hfNONE = 0, hfNONERTSON, hfRTSCTS };
enum TSwFlowControl : std::uint8_t { sfNONE = 0, sfXONXOFF };

enum TLineStatus : std::uint8_t { lsCTS = 0, lsDSR, lsRING, lsRLSD };
// A set over TLineStatus: bit (1 << member).
struct TLineStatusSet {
    std::uint8_t Bits = 0;
    bool Has(TLineStatus s) const { return (Bits >> s) & 1u; }
    void Add(TLineStatus s) { Bits = static_cast<std::uint8_t>(Bits | (1u << s)); }
    bool Empty() const { return Bits == 0; }
};

std::uint32_t BaudRateOf(TBaudRate rate);

struct TDcbInput {
    std::uint32_t BaudRateValue = 9600;
    bool EnableDTROnOpen = true;
    THwFlowControl HwFlow = hfNONERTSON;
    TSwFlowControl SwFlow = sfNONE;
    std::uint32_t InBufSize = 2048;
    TDataBits DataBits = db8BITS;
    TParity Parity = ptNONE;
    TStopBits StopBits = sb1BITS;
    bool CapXonLim = false;   // the platform caps XonLim at 4096 (NT 4.0 or later)
};
// The device control block for these settings (the XonLim rule included).
TDeviceControlBlock BuildDeviceControlBlock(const TDcbInput& in);
