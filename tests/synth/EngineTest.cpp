// The built library, loaded as the program loads it, driven through its entry points in the
// program's order. Songs are a few hundred milliseconds long, since playback keeps real time.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "SmafWriter.h"
#include "smaf/MaSound.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Api {
    PFN_MaSound_Initialize Initialize;
    PFN_MaSound_Create Create;
    PFN_MaSound_Load Load;
    PFN_MaSound_Open Open;
    PFN_MaSound_Standby Standby;
    PFN_MaSound_Start Start;
    PFN_MaSound_Seek Seek;
    PFN_MaSound_Control Control;
    PFN_MaSound_Stop Stop;
    PFN_MaSound_Close Close;
    PFN_MaSound_Unload Unload;
    PFN_MaSound_End End;
};

const Api& Library()
{
    static const Api api = [] {
        void* lib = dlopen(SYNTH_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(lib, nullptr) << dlerror();
        auto get = [&](const char* name) {
            void* p = lib ? dlsym(lib, name) : nullptr;
            EXPECT_NE(p, nullptr) << name;
            return p;
        };
        Api a;
        a.Initialize = reinterpret_cast<PFN_MaSound_Initialize>(get("MaSound_Initialize"));
        a.Create = reinterpret_cast<PFN_MaSound_Create>(get("MaSound_Create"));
        a.Load = reinterpret_cast<PFN_MaSound_Load>(get("MaSound_Load"));
        a.Open = reinterpret_cast<PFN_MaSound_Open>(get("MaSound_Open"));
        a.Standby = reinterpret_cast<PFN_MaSound_Standby>(get("MaSound_Standby"));
        a.Start = reinterpret_cast<PFN_MaSound_Start>(get("MaSound_Start"));
        a.Seek = reinterpret_cast<PFN_MaSound_Seek>(get("MaSound_Seek"));
        a.Control = reinterpret_cast<PFN_MaSound_Control>(get("MaSound_Control"));
        a.Stop = reinterpret_cast<PFN_MaSound_Stop>(get("MaSound_Stop"));
        a.Close = reinterpret_cast<PFN_MaSound_Close>(get("MaSound_Close"));
        a.Unload = reinterpret_cast<PFN_MaSound_Unload>(get("MaSound_Unload"));
        a.End = reinterpret_cast<PFN_MaSound_End>(get("MaSound_End"));
        return a;
    }();
    return api;
}

// What the callback saw.
std::mutex gMutex;
std::condition_variable gCalled;
std::vector<std::uint8_t> gEvents;
std::thread::id gCallbackThread;

void OnSoundEvent(std::uint8_t event)
{
    std::lock_guard lock(gMutex);
    gEvents.push_back(event);
    gCallbackThread = std::this_thread::get_id();
    gCalled.notify_all();
}

std::vector<std::uint8_t> SongBytes(std::uint32_t lengthMs)
{
    smaf::MobileSequence seq;
    seq.note(0, 0, 69, 100, lengthMs / 2);
    seq.end(lengthMs);
    smaf::ScoreTrack t{5, smaf::SequenceFormat::MobileUncompressed, 0x00, 0x00, {}, seq.bytes()};
    return smaf::BuildSmaf({t}, "engine");
}

// Standard error sent to a file while a test runs, so that nothing may appear there.
class StderrCapture {
public:
    StderrCapture()
    {
        std::fflush(stderr);
        file_ = std::tmpfile();
        saved_ = dup(2);
        dup2(fileno(file_), 2);
    }
    ~StderrCapture() { restore(); }
    std::string text()
    {
        restore();
        std::string out;
        std::rewind(file_);
        for (int c; (c = std::fgetc(file_)) != EOF;)
            out += char(c);
        return out;
    }

private:
    void restore()
    {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, 2);
            close(saved_);
            saved_ = -1;
        }
    }
    std::FILE* file_;
    int saved_;
};

class SynthEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::lock_guard lock(gMutex);
        gEvents.clear();
        gCallbackThread = {};
    }
    void TearDown() override { api.End(); }

    // Load, open, standby, control 5, control 0 with 100, start: as the program plays a file.
    int32_t Play(std::vector<std::uint8_t>& data)
    {
        api.Create(1);
        const int32_t id = api.Load(1, data.data(), int32_t(data.size()), 1, OnSoundEvent, nullptr);
        EXPECT_GT(id, 0);
        api.Open(1, id, 0, nullptr);
        api.Standby(1, id, nullptr);
        api.Control(1, id, 5, nullptr, nullptr);
        int32_t volume = 100;
        api.Control(1, id, 0, &volume, nullptr);
        EXPECT_EQ(api.Start(1, id, 1, nullptr), 0);
        return id;
    }

    // The program's StopPreview.
    void StopPreview(int32_t id)
    {
        api.Stop(1, id, nullptr);
        api.Seek(1, id, 0, 0, nullptr);
        api.Stop(1, id, nullptr);
        api.Close(1, id, nullptr);
        api.Unload(1, id, nullptr);
    }

    bool WaitForEvent(std::chrono::milliseconds limit)
    {
        std::unique_lock lock(gMutex);
        return gCalled.wait_for(lock, limit, [] { return !gEvents.empty(); });
    }

    std::vector<std::uint8_t> Events()
    {
        std::lock_guard lock(gMutex);
        return gEvents;
    }

    const Api& api = Library();
};

} // namespace

TEST_F(SynthEngine, PlaysToTheEndAndCallsBackOnceFromItsOwnThread)
{
    StderrCapture err;
    std::vector<std::uint8_t> data = SongBytes(300);
    api.Initialize();
    const auto started = Clock::now();
    const int32_t id = Play(data);
    ASSERT_TRUE(WaitForEvent(5s));
    EXPECT_GE(Clock::now() - started, 250ms); // played at real-time pace, not at once
    StopPreview(id);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Events(), std::vector<std::uint8_t>{127});
    {
        std::lock_guard lock(gMutex);
        EXPECT_NE(gCallbackThread, std::this_thread::get_id());
    }
    api.End();
    EXPECT_EQ(err.text(), "");
}

TEST_F(SynthEngine, StopBeforeTheEndGivesNoCallback)
{
    std::vector<std::uint8_t> data = SongBytes(300);
    api.Initialize();
    const int32_t id = Play(data);
    std::this_thread::sleep_for(50ms);
    StopPreview(id);
    EXPECT_FALSE(WaitForEvent(500ms));
}

TEST_F(SynthEngine, PlaysAgainAfterTheEnd)
{
    std::vector<std::uint8_t> data = SongBytes(100);
    api.Initialize();
    const int32_t id = Play(data);
    ASSERT_TRUE(WaitForEvent(5s));
    // Stopped by its end, the file is ready to start again without a new load.
    EXPECT_EQ(api.Seek(1, id, 0, 0, nullptr), 0);
    {
        std::lock_guard lock(gMutex);
        gEvents.clear();
    }
    EXPECT_EQ(api.Start(1, id, 1, nullptr), 0);
    ASSERT_TRUE(WaitForEvent(5s));
    StopPreview(id);
    EXPECT_EQ(Events(), std::vector<std::uint8_t>{127});
}

TEST_F(SynthEngine, CallsForFilesNotLoadedAreIgnored)
{
    api.Initialize();
    for (int32_t id : {0, 1, 77, -5}) {
        StopPreview(id); // as the program does before its first play
        EXPECT_EQ(api.Open(1, id, 0, nullptr), -1);
        EXPECT_EQ(api.Start(1, id, 1, nullptr), -1);
    }
    std::vector<std::uint8_t> data = SongBytes(300);
    const int32_t id = Play(data);
    StopPreview(id);
    StopPreview(id); // a second stop in a row
    EXPECT_EQ(api.Stop(1, id, nullptr), -1);
    EXPECT_EQ(api.Unload(1, id, nullptr), -1);
    EXPECT_FALSE(WaitForEvent(400ms));
}

TEST_F(SynthEngine, LoadRefusesDataWithNothingToPlay)
{
    api.Initialize();
    std::vector<std::uint8_t> text{'n', 'o', 't', ' ', 's', 'm', 'a', 'f'};
    EXPECT_EQ(api.Load(1, text.data(), int32_t(text.size()), 1, OnSoundEvent, nullptr), 0);
    EXPECT_EQ(api.Load(1, nullptr, 0, 1, OnSoundEvent, nullptr), 0);
    smaf::MobileSequence silent;
    silent.end(10);
    auto empty = smaf::BuildSmaf({{5, smaf::SequenceFormat::MobileUncompressed, 0x00, 0x00, {}, silent.bytes()}}, "e");
    EXPECT_EQ(api.Load(1, empty.data(), int32_t(empty.size()), 1, OnSoundEvent, nullptr), 0);
    // Truncated: the file chunk claims more than there is.
    std::vector<std::uint8_t> cut = SongBytes(300);
    cut.resize(cut.size() - 3);
    EXPECT_EQ(api.Load(1, cut.data(), int32_t(cut.size()), 1, OnSoundEvent, nullptr), 0);
}

TEST_F(SynthEngine, StatesMustComeInOrder)
{
    api.Initialize();
    std::vector<std::uint8_t> data = SongBytes(300);
    const int32_t id = api.Load(1, data.data(), int32_t(data.size()), 1, OnSoundEvent, nullptr);
    ASSERT_GT(id, 0);
    EXPECT_EQ(api.Start(1, id, 1, nullptr), -1);   // not open
    EXPECT_EQ(api.Standby(1, id, nullptr), -1);    // not open
    EXPECT_EQ(api.Open(1, id, 0, nullptr), 0);
    EXPECT_EQ(api.Open(1, id, 0, nullptr), -1);    // open already
    EXPECT_EQ(api.Start(1, id, 1, nullptr), -1);   // not standing by
    EXPECT_EQ(api.Standby(1, id, nullptr), 0);
    EXPECT_EQ(api.Control(1, id, 0, nullptr, nullptr), -1); // volume needs its value
    // A second file gets its own id; both go away with End.
    const int32_t other = api.Load(1, data.data(), int32_t(data.size()), 1, OnSoundEvent, nullptr);
    EXPECT_GT(other, 0);
    EXPECT_NE(other, id);
    api.End();
    EXPECT_EQ(api.Open(1, other, 0, nullptr), -1);
}

// A caller that stops and unloads right inside the callback, on the library's thread.
std::atomic<int32_t> gPlayingId{0};
std::atomic<bool> gStoppedInside{false};

void StopInsideCallback(std::uint8_t event)
{
    const Api& api = Library();
    const int32_t id = gPlayingId;
    api.Stop(1, id, nullptr);
    api.Seek(1, id, 0, 0, nullptr);
    api.Close(1, id, nullptr);
    gStoppedInside = api.Unload(1, id, nullptr) == 0;
    OnSoundEvent(event);
}

TEST_F(SynthEngine, CallbackMayStopAndUnloadAtOnce)
{
    std::vector<std::uint8_t> data = SongBytes(100);
    api.Initialize();
    gPlayingId = api.Load(1, data.data(), int32_t(data.size()), 1, StopInsideCallback, nullptr);
    api.Open(1, gPlayingId, 0, nullptr);
    api.Standby(1, gPlayingId, nullptr);
    api.Start(1, gPlayingId, 1, nullptr);
    ASSERT_TRUE(WaitForEvent(5s));
    EXPECT_TRUE(gStoppedInside);
    EXPECT_EQ(Events(), std::vector<std::uint8_t>{127});
}

TEST_F(SynthEngine, EndWhilePlayingStopsWithoutCallback)
{
    std::vector<std::uint8_t> data = SongBytes(300);
    api.Initialize();
    Play(data);
    std::this_thread::sleep_for(30ms);
    api.End();
    EXPECT_FALSE(WaitForEvent(400ms));
}
