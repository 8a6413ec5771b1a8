#pragma once
// MA3_Drv: the SMAF synthesizer library, loaded once at program start and never unloaded.
// Each entry point has one function pointer, empty when the library or that name is missing;
// the wrappers in namespace MA3_Drv check their own pointer and do nothing when it is empty.
#include <cstdint>
#include <string>
#include <string_view>

#include "smaf/MaSound.h"

// The library's name without the platform's prefix and suffix (the error text keeps the
// Windows file name on every platform).
inline constexpr const char* kSynthLibraryStem = "ma3smwemu_gsm";
// Shown at start-up when the library cannot be loaded.
inline constexpr const char* kSynthLoadError = "Error load library - ma3smwemu_gsm.dll\r\nSMAF file not playing.";

// Process-wide state of the loader.
extern void* SynthLibrary;           // the library's handle, or null
extern bool SynthAvailable;          // the library was loaded
extern std::int32_t SoundFileId;     // what MaSound_Load returned for the file now loaded

// Loads the library from the program's folder, or else through the usual library search, and
// looks up its entry points. Returns SynthAvailable; the caller shows kSynthLoadError on false.
bool LoadSynthLibrary();

// For tests: the same, from exactly this file. Forgets a library loaded before (without
// unloading it).
bool LoadSynthLibraryFile(const std::string& path);

// What the preview makes of a PC file name: -1 when it is not a SMAF file, otherwise the number
// of bytes in front of the SMAF data (0 for ".MMF", 32 for a ".MEL" melody file). The extension
// is the text from the last "." on, in any letter case.
int SmafDataOffset(std::string_view fileName);

namespace MA3_Drv {

// The entry points, looked up in this order.
extern PFN_MaSound_Initialize pMaSound_Initialize;
extern PFN_MaSound_Create pMaSound_Create;
extern PFN_MaSound_Load pMaSound_Load;
extern PFN_MaSound_Open pMaSound_Open;
extern PFN_MaSound_Standby pMaSound_Standby;
extern PFN_MaSound_Start pMaSound_Start;
extern PFN_MaSound_Seek pMaSound_Seek;
extern PFN_MaSound_Control pMaSound_Control;
extern PFN_MaSound_Stop pMaSound_Stop;
extern PFN_MaSound_Close pMaSound_Close;
extern PFN_MaSound_Unload pMaSound_Unload;
extern PFN_MaSound_End pMaSound_End;

// Wrappers: the entry point's result, or 0 when it is missing (MaSound_Load: -1).
std::int32_t MaSound_Initialize();
std::int32_t MaSound_Create(std::int32_t instance);
std::int32_t MaSound_Load(std::int32_t instance, std::uint8_t* data, std::int32_t size, std::int32_t mode,
                          MaSoundEventCallback callback, void* extra);
std::int32_t MaSound_Open(std::int32_t instance, std::int32_t fileId, std::int32_t mode, void* extra);
std::int32_t MaSound_Standby(std::int32_t instance, std::int32_t fileId, void* extra);
std::int32_t MaSound_Start(std::int32_t instance, std::int32_t fileId, std::int32_t loops, void* extra);
std::int32_t MaSound_Seek(std::int32_t instance, std::int32_t fileId, std::int32_t position, std::int32_t flag,
                          void* extra);
std::int32_t MaSound_Control(std::int32_t instance, std::int32_t fileId, std::int32_t control, void* param,
                             void* extra);
std::int32_t MaSound_Stop(std::int32_t instance, std::int32_t fileId, void* extra);
std::int32_t MaSound_Close(std::int32_t instance, std::int32_t fileId, void* extra);
std::int32_t MaSound_Unload(std::int32_t instance, std::int32_t fileId, void* extra);
std::int32_t MaSound_End();

} // namespace MA3_Drv
