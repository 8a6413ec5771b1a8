#include "serial/CPDrvTypes.h"

#include <algorithm>

std::uint32_t BaudRateOf(TBaudRate rate)
{
    static constexpr std::uint32_t kRates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                               14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rate <= br256000 ? kRates[rate] : 0;
}

TDeviceControlBlock BuildDeviceControlBlock(const TDcbInput& in)
{
    TDeviceControlBlock dcb;
    dcb.BaudRate = in.BaudRateValue;
    dcb.Flags = DCB_fBinary;
    if (in.EnableDTROnOpen)
        dcb.Flags |= DCB_fDtrControlEnable;
    switch (in.HwFlow) {
    case hfNONERTSON:
        dcb.Flags |= DCB_fRtsControlEnable;
        break;
    case hfRTSCTS:
        dcb.Flags |= DCB_fOutxCtsFlow | DCB_fRtsControlHandshake;
        break;
    default:   // hfNONE, and any value outside the enumeration, act as none
        break;
    }
    if (in.SwFlow == sfXONXOFF)
        dcb.Flags |= DCB_fOutX | DCB_fInX;
    std::uint32_t xonLim = in.InBufSize / 4;
    if (in.CapXonLim)
        xonLim = std::min<std::uint32_t>(xonLim, 4096);
    dcb.XonLim = static_cast<std::uint16_t>(xonLim);
    dcb.XoffLim = dcb.XonLim;
    dcb.ByteSize = static_cast<std::uint8_t>(5 + in.DataBits);
    dcb.Parity = in.Parity;
    dcb.StopBits = in.StopBits;
    return dcb;
}
