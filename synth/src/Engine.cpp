// The library's twelve entry points over one engine: the loaded files, their states, and one
// render thread that plays the file that was started.
//
// A file goes Loaded -> Open -> Ready (standby) -> Playing. Stop returns a playing file to
// Ready, Close to Loaded, Unload forgets it. Calls for a file that is not loaded, or that is
// not in the state a call needs, do nothing and return -1. When a song plays to its end the
// file's callback gets 127, once, on the render thread; a Stop (or a newer Start, Unload, End)
// before that moment means no callback for that play.
#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "AudioOut.h"
#include "SmafReader.h"
#include "Synth.h"
#include "smaf/MaSound.h"

namespace {

using smaf::Player;
using smaf::Song;

constexpr std::uint8_t kEventEndOfSong = 127;
constexpr std::size_t kBlockFrames = smaf::kSampleRate / 50; // 20 ms
constexpr int kControlVolume = 0;
constexpr int kDefaultVolume = 100;

enum class FileState { Loaded, Open, Ready, Playing };

struct LoadedFile {
    std::shared_ptr<const Song> song;
    MaSoundEventCallback callback = nullptr;
    FileState state = FileState::Loaded;
    std::uint32_t startMs = 0;
};

class Engine {
public:
    int32_t load(const std::uint8_t* data, int32_t size, MaSoundEventCallback callback)
    {
        if (!data || size <= 0)
            return 0;
        const smaf::Bytes bytes = smaf::SkipMelodyHeader(smaf::Bytes(data, std::size_t(size)));
        auto song = smaf::ReadSmaf(bytes);
        if (!song || !song->playable())
            return 0;
        std::lock_guard lock(m_);
        do
            lastId_ = lastId_ >= INT32_MAX - 1 ? 1 : lastId_ + 1;
        while (files_.count(lastId_));
        LoadedFile& f = files_[lastId_];
        f.song = std::make_shared<const Song>(std::move(*song));
        f.callback = callback;
        return lastId_;
    }

    // Moves a file from one state to the next; -1 when it is not loaded or not in `from`.
    int32_t advance(int32_t id, FileState from, FileState to)
    {
        std::lock_guard lock(m_);
        LoadedFile* f = find(id);
        if (!f || f->state != from)
            return -1;
        f->state = to;
        return 0;
    }

    int32_t start(int32_t id, int32_t loops)
    {
        std::lock_guard lock(m_);
        LoadedFile* f = find(id);
        if (!f || f->state != FileState::Ready)
            return -1;
        stopPlayingLocked();
        player_ = std::make_unique<Player>(f->song);
        player_->setMasterVolume(volume_);
        player_->seek(f->startMs);
        loopsLeft_ = std::max(loops, 1);
        playing_ = id;
        f->state = FileState::Playing;
        ++session_;
        if (!worker_.joinable())
            worker_ = std::thread([this, generation = generation_] { run(generation); });
        wake_.notify_all();
        return 0;
    }

    int32_t stop(int32_t id)
    {
        std::lock_guard lock(m_);
        LoadedFile* f = find(id);
        if (!f || f->state != FileState::Playing)
            return -1;
        stopPlayingLocked();
        return 0;
    }

    int32_t seek(int32_t id, int32_t positionMs)
    {
        std::lock_guard lock(m_);
        LoadedFile* f = find(id);
        if (!f || f->state == FileState::Loaded)
            return -1;
        f->startMs = std::uint32_t(std::max(positionMs, 0));
        if (f->state == FileState::Playing && player_)
            player_->seek(f->startMs);
        return 0;
    }

    int32_t control(int32_t id, int32_t control, const void* param)
    {
        std::lock_guard lock(m_);
        if (!find(id))
            return -1;
        if (control != kControlVolume)
            return 0; // other controls have no effect here
        if (!param)
            return -1;
        volume_ = std::clamp(*static_cast<const int32_t*>(param), 0, 127);
        if (player_)
            player_->setMasterVolume(volume_);
        return 0;
    }

    int32_t close(int32_t id)
    {
        std::lock_guard lock(m_);
        LoadedFile* f = find(id);
        if (!f || f->state == FileState::Loaded)
            return -1;
        if (f->state == FileState::Playing)
            stopPlayingLocked();
        f->state = FileState::Loaded;
        return 0;
    }

    int32_t unload(int32_t id)
    {
        std::lock_guard lock(m_);
        LoadedFile* f = find(id);
        if (!f)
            return -1;
        if (f->state == FileState::Playing)
            stopPlayingLocked();
        files_.erase(id);
        return 0;
    }

    // Stops everything, ends the render thread and forgets every file.
    int32_t end()
    {
        std::thread worker;
        {
            std::lock_guard lock(m_);
            stopPlayingLocked();
            files_.clear();
            volume_ = kDefaultVolume;
            ++generation_; // tells the render thread to end
            wake_.notify_all();
            worker = std::move(worker_);
        }
        if (worker.joinable()) {
            if (worker.get_id() == std::this_thread::get_id())
                worker.detach(); // End from inside the callback: the thread ends on its own
            else
                worker.join();
        }
        return 0;
    }

private:
    LoadedFile* find(int32_t id)
    {
        auto it = files_.find(id);
        return it == files_.end() ? nullptr : &it->second;
    }

    void stopPlayingLocked()
    {
        if (!player_)
            return;
        if (LoadedFile* f = find(playing_))
            f->state = FileState::Ready;
        player_.reset();
        playing_ = 0;
        ++session_;
        wake_.notify_all();
    }

    void run(std::uint64_t generation)
    {
        std::vector<std::int16_t> block(kBlockFrames * smaf::kOutputChannels);
        std::unique_lock lock(m_);
        while (generation_ == generation) {
            if (!player_) {
                wake_.wait(lock);
                continue;
            }
            const std::uint64_t session = session_;
            auto current = [&] { return generation_ == generation && session_ == session; };

            lock.unlock();
            std::unique_ptr<smaf::AudioOut> out = smaf::OpenDeviceOutput(smaf::kSampleRate);
            if (!out)
                out = smaf::OpenClockOutput(smaf::kSampleRate);
            lock.lock();

            bool ended = false;
            while (current()) {
                std::size_t n = player_->render(block.data(), kBlockFrames);
                while (n < kBlockFrames && loopsLeft_ > 1) {
                    --loopsLeft_;
                    player_->seek(0);
                    n += player_->render(block.data() + n * smaf::kOutputChannels, kBlockFrames - n);
                }
                if (n == 0) {
                    ended = true;
                    break;
                }
                lock.unlock();
                if (!out->write(block.data(), n))
                    out = smaf::OpenClockOutput(smaf::kSampleRate); // the device went away
                lock.lock();
            }

            MaSoundEventCallback callback = nullptr;
            if (ended) {
                lock.unlock();
                out->finish([&] {
                    std::lock_guard again(m_);
                    return !current();
                });
                lock.lock();
                if (current()) { // played to the end with nobody stopping it
                    LoadedFile* f = find(playing_);
                    if (f)
                        callback = f->callback;
                    stopPlayingLocked();
                }
            }
            lock.unlock();
            out.reset();
            if (callback)
                callback(kEventEndOfSong);
            lock.lock();
        }
    }

    std::mutex m_;
    std::condition_variable wake_;
    std::map<int32_t, LoadedFile> files_;
    int32_t lastId_ = 0;
    int volume_ = kDefaultVolume;
    std::thread worker_;
    std::uint64_t generation_ = 0; // of the render thread; End moves it on
    int32_t playing_ = 0;
    std::uint64_t session_ = 0;
    std::unique_ptr<Player> player_;
    int loopsLeft_ = 0;
};

// Never destroyed: the render thread may still run while the process exits.
Engine& TheEngine()
{
    static Engine* engine = new Engine;
    return *engine;
}

} // namespace

extern "C" {

int32_t MaSound_Initialize(void)
{
    TheEngine();
    return 0;
}

int32_t MaSound_Create(int32_t) { return 0; }

int32_t MaSound_Load(int32_t, uint8_t* data, int32_t size, int32_t, MaSoundEventCallback callback, void*)
{
    return TheEngine().load(data, size, callback);
}

int32_t MaSound_Open(int32_t, int32_t fileId, int32_t, void*)
{
    return TheEngine().advance(fileId, FileState::Loaded, FileState::Open);
}

int32_t MaSound_Standby(int32_t, int32_t fileId, void*)
{
    return TheEngine().advance(fileId, FileState::Open, FileState::Ready);
}

int32_t MaSound_Start(int32_t, int32_t fileId, int32_t loops, void*) { return TheEngine().start(fileId, loops); }

int32_t MaSound_Seek(int32_t, int32_t fileId, int32_t position, int32_t, void*)
{
    return TheEngine().seek(fileId, position);
}

int32_t MaSound_Control(int32_t, int32_t fileId, int32_t control, void* param, void*)
{
    return TheEngine().control(fileId, control, param);
}

int32_t MaSound_Stop(int32_t, int32_t fileId, void*) { return TheEngine().stop(fileId); }
int32_t MaSound_Close(int32_t, int32_t fileId, void*) { return TheEngine().close(fileId); }
int32_t MaSound_Unload(int32_t, int32_t fileId, void*) { return TheEngine().unload(fileId); }
int32_t MaSound_End(void) { return TheEngine().end(); }

} // extern "C"
