// A stand-in for the synthesizer library. It records every call with its arguments. A variant
// built with WITHHOLD_<name> defined does not export that entry point at all.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "smaf/MaSound.h"
#include "SynthDouble.h"

#if defined(_WIN32)
#define DOUBLE_EXPORT extern "C" __declspec(dllexport)
#else
#define DOUBLE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::mutex lock;
std::string calls;
std::string callsCopy;
std::vector<uint8_t> loadedData;
int32_t loadedSize = -1;
int32_t loadResult = 7;
MaSoundEventCallback callback = nullptr;

std::string Ptr(const void* p, const char* role) { return p ? role : "0"; }

void Record(const std::string& call)
{
    std::lock_guard<std::mutex> guard(lock);
    calls += call;
    calls += '\n';
}

std::string Args(std::initializer_list<std::string> args)
{
    std::string text;
    for (const std::string& a : args) {
        if (!text.empty())
            text += ',';
        text += a;
    }
    return text;
}

std::string N(int32_t v) { return std::to_string(v); }

} // namespace

DOUBLE_EXPORT void Double_Reset(void)
{
    std::lock_guard<std::mutex> guard(lock);
    calls.clear();
    loadedData.clear();
    loadedSize = -1;
    loadResult = 7;
}

DOUBLE_EXPORT void Double_SetLoadResult(int32_t fileId)
{
    std::lock_guard<std::mutex> guard(lock);
    loadResult = fileId;
}

DOUBLE_EXPORT const char* Double_Calls(void)
{
    std::lock_guard<std::mutex> guard(lock);
    callsCopy = calls;
    return callsCopy.c_str();
}

DOUBLE_EXPORT int32_t Double_LoadedData(uint8_t* out, int32_t capacity)
{
    std::lock_guard<std::mutex> guard(lock);
    const std::size_t n = std::min(loadedData.size(), static_cast<std::size_t>(capacity > 0 ? capacity : 0));
    if (n)
        std::memcpy(out, loadedData.data(), n);
    return loadedSize;
}

DOUBLE_EXPORT int32_t Double_FireEvent(uint8_t event)
{
    MaSoundEventCallback cb;
    {
        std::lock_guard<std::mutex> guard(lock);
        cb = callback;
    }
    if (!cb)
        return 0;
    std::thread player([cb, event] { cb(event); });
    player.join();
    return 1;
}

#ifndef WITHHOLD_MaSound_Initialize
DOUBLE_EXPORT int32_t MaSound_Initialize(void)
{
    Record("Initialize()");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Create
DOUBLE_EXPORT int32_t MaSound_Create(int32_t instance)
{
    Record("Create(" + N(instance) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Load
DOUBLE_EXPORT int32_t MaSound_Load(int32_t instance, uint8_t* data, int32_t size, int32_t mode,
                                   MaSoundEventCallback cb, void* extra)
{
    Record("Load(" + Args({N(instance), Ptr(data, "data"), N(size), N(mode), Ptr(reinterpret_cast<void*>(cb), "callback"),
                           Ptr(extra, "ptr")}) + ")");
    std::lock_guard<std::mutex> guard(lock);
    loadedSize = size;
    loadedData.assign(data, data + (data && size > 0 ? size : 0));
    callback = cb;
    return loadResult;
}
#endif

#ifndef WITHHOLD_MaSound_Open
DOUBLE_EXPORT int32_t MaSound_Open(int32_t instance, int32_t fileId, int32_t mode, void* extra)
{
    Record("Open(" + Args({N(instance), N(fileId), N(mode), Ptr(extra, "ptr")}) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Standby
DOUBLE_EXPORT int32_t MaSound_Standby(int32_t instance, int32_t fileId, void* extra)
{
    Record("Standby(" + Args({N(instance), N(fileId), Ptr(extra, "ptr")}) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Start
DOUBLE_EXPORT int32_t MaSound_Start(int32_t instance, int32_t fileId, int32_t loops, void* extra)
{
    Record("Start(" + Args({N(instance), N(fileId), N(loops), Ptr(extra, "ptr")}) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Seek
DOUBLE_EXPORT int32_t MaSound_Seek(int32_t instance, int32_t fileId, int32_t position, int32_t flag, void* extra)
{
    Record("Seek(" + Args({N(instance), N(fileId), N(position), N(flag), Ptr(extra, "ptr")}) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Control
DOUBLE_EXPORT int32_t MaSound_Control(int32_t instance, int32_t fileId, int32_t control, void* param, void* extra)
{
    // The parameter is read during the call: a 32-bit integer.
    const std::string p = param ? "&" + N(*static_cast<const int32_t*>(param)) : "0";
    Record("Control(" + Args({N(instance), N(fileId), N(control), p, Ptr(extra, "ptr")}) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Stop
DOUBLE_EXPORT int32_t MaSound_Stop(int32_t instance, int32_t fileId, void* extra)
{
    Record("Stop(" + Args({N(instance), N(fileId), Ptr(extra, "ptr")}) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Close
DOUBLE_EXPORT int32_t MaSound_Close(int32_t instance, int32_t fileId, void* extra)
{
    Record("Close(" + Args({N(instance), N(fileId), Ptr(extra, "ptr")}) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_Unload
DOUBLE_EXPORT int32_t MaSound_Unload(int32_t instance, int32_t fileId, void* extra)
{
    Record("Unload(" + Args({N(instance), N(fileId), Ptr(extra, "ptr")}) + ")");
    return 0;
}
#endif

#ifndef WITHHOLD_MaSound_End
DOUBLE_EXPORT int32_t MaSound_End(void)
{
    Record("End()");
    return 0;
}
#endif
