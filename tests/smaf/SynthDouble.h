#pragma once
// The test double of the synthesizer library: besides the entry points (less those a variant
// withholds) it exports these functions, looked up by the tests through DynLib.
#include <stdint.h>

extern "C" {
// Forgets every call and the data seen (not the callback); MaSound_Load returns 7 again.
typedef void (*PFN_Double_Reset)(void);
// What MaSound_Load returns from now on.
typedef void (*PFN_Double_SetLoadResult)(int32_t fileId);
// Every call since the last reset, one a line, e.g. "Control(1,7,0,&100,0)"; pointers are
// written as 0 when null and by role otherwise ("data", "callback", "&<value>", "ptr").
typedef const char* (*PFN_Double_Calls)(void);
// Copies up to `capacity` bytes of the data seen by the last MaSound_Load into `out`; returns
// the size that MaSound_Load was given (-1 before any load).
typedef int32_t (*PFN_Double_LoadedData)(uint8_t* out, int32_t capacity);
// Calls the callback of the last MaSound_Load with `event` from a thread of its own and waits
// for that thread; returns 0 when no callback is known.
typedef int32_t (*PFN_Double_FireEvent)(uint8_t event);
}
