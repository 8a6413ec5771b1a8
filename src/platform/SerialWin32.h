#pragma once
// Windows only: the Win32 device control block made from the platform-neutral one. Kept apart
// from SerialWin32.cpp so that the mapping can be checked field by field without a port.
#include <windows.h>

#include "platform/SerialDcb.h"

namespace SerialPlatform {

static_assert(sizeof(DCB) == 28, "the Win32 DCB is 28 bytes");

// A zero-filled DCB carrying every field of `dcb`; the flags word lands on the Win32 bitfields
// (the DCB_* bits are their positions).
DCB MakeWin32Dcb(const TDeviceControlBlock& dcb);

} // namespace SerialPlatform
