// MA3_Drv: loading the SMAF synthesizer library and calling its entry points.
#include "smaf/MA3_Drv.h"

#include <cctype>
#include <cstdio>

#include "platform/DynLib.h"

void* SynthLibrary = nullptr;
bool SynthAvailable = false;
std::int32_t SoundFileId = 0;

namespace MA3_Drv {

PFN_MaSound_Initialize pMaSound_Initialize = nullptr;
PFN_MaSound_Create pMaSound_Create = nullptr;
PFN_MaSound_Load pMaSound_Load = nullptr;
PFN_MaSound_Open pMaSound_Open = nullptr;
PFN_MaSound_Standby pMaSound_Standby = nullptr;
PFN_MaSound_Start pMaSound_Start = nullptr;
PFN_MaSound_Seek pMaSound_Seek = nullptr;
PFN_MaSound_Control pMaSound_Control = nullptr;
PFN_MaSound_Stop pMaSound_Stop = nullptr;
PFN_MaSound_Close pMaSound_Close = nullptr;
PFN_MaSound_Unload pMaSound_Unload = nullptr;
PFN_MaSound_End pMaSound_End = nullptr;

namespace {

template <typename F>
void Bind(F& pointer, const char* name)
{
    pointer = reinterpret_cast<F>(DynLib::Symbol(SynthLibrary, name));
}

// Takes the handle (null: no library) and looks up every entry point in order; a missing
// name leaves its pointer empty.
bool Attach(DynLib::Handle library)
{
    SynthLibrary = library;
    SoundFileId = 0;
    SynthAvailable = library != nullptr;
    Bind(pMaSound_Initialize, "MaSound_Initialize");
    Bind(pMaSound_Create, "MaSound_Create");
    Bind(pMaSound_Load, "MaSound_Load");
    Bind(pMaSound_Open, "MaSound_Open");
    Bind(pMaSound_Standby, "MaSound_Standby");
    Bind(pMaSound_Start, "MaSound_Start");
    Bind(pMaSound_Seek, "MaSound_Seek");
    Bind(pMaSound_Control, "MaSound_Control");
    Bind(pMaSound_Stop, "MaSound_Stop");
    Bind(pMaSound_Close, "MaSound_Close");
    Bind(pMaSound_Unload, "MaSound_Unload");
    Bind(pMaSound_End, "MaSound_End");
    if (!SynthAvailable)
        std::fprintf(stderr, "tarvel: %s\n", DynLib::LastError().c_str());
    return SynthAvailable;
}

} // namespace

std::int32_t MaSound_Initialize() { return pMaSound_Initialize ? pMaSound_Initialize() : 0; }

std::int32_t MaSound_Create(std::int32_t instance) { return pMaSound_Create ? pMaSound_Create(instance) : 0; }

std::int32_t MaSound_Load(std::int32_t instance, std::uint8_t* data, std::int32_t size, std::int32_t mode,
                          MaSoundEventCallback callback, void* extra)
{
    return pMaSound_Load ? pMaSound_Load(instance, data, size, mode, callback, extra) : -1;
}

std::int32_t MaSound_Open(std::int32_t instance, std::int32_t fileId, std::int32_t mode, void* extra)
{
    return pMaSound_Open ? pMaSound_Open(instance, fileId, mode, extra) : 0;
}

std::int32_t MaSound_Standby(std::int32_t instance, std::int32_t fileId, void* extra)
{
    return pMaSound_Standby ? pMaSound_Standby(instance, fileId, extra) : 0;
}

std::int32_t MaSound_Start(std::int32_t instance, std::int32_t fileId, std::int32_t loops, void* extra)
{
    return pMaSound_Start ? pMaSound_Start(instance, fileId, loops, extra) : 0;
}

std::int32_t MaSound_Seek(std::int32_t instance, std::int32_t fileId, std::int32_t position, std::int32_t flag,
                          void* extra)
{
    return pMaSound_Seek ? pMaSound_Seek(instance, fileId, position, flag, extra) : 0;
}

std::int32_t MaSound_Control(std::int32_t instance, std::int32_t fileId, std::int32_t control, void* param,
                             void* extra)
{
    return pMaSound_Control ? pMaSound_Control(instance, fileId, control, param, extra) : 0;
}

std::int32_t MaSound_Stop(std::int32_t instance, std::int32_t fileId, void* extra)
{
    return pMaSound_Stop ? pMaSound_Stop(instance, fileId, extra) : 0;
}

std::int32_t MaSound_Close(std::int32_t instance, std::int32_t fileId, void* extra)
{
    return pMaSound_Close ? pMaSound_Close(instance, fileId, extra) : 0;
}

std::int32_t MaSound_Unload(std::int32_t instance, std::int32_t fileId, void* extra)
{
    return pMaSound_Unload ? pMaSound_Unload(instance, fileId, extra) : 0;
}

std::int32_t MaSound_End() { return pMaSound_End ? pMaSound_End() : 0; }

} // namespace MA3_Drv

bool LoadSynthLibrary()
{
    return MA3_Drv::Attach(DynLib::OpenLibrary(DynLib::LibraryFileName(kSynthLibraryStem), DynLib::ProgramDir()));
}

bool LoadSynthLibraryFile(const std::string& path) { return MA3_Drv::Attach(DynLib::OpenFile(path)); }

int SmafDataOffset(std::string_view fileName)
{
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos)
        return -1;
    std::string ext(fileName.substr(dot));
    for (char& c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (ext == ".MMF")
        return 0;
    if (ext == ".MEL")
        return 32;
    return -1;
}
