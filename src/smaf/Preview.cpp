// Play MMF / Stop MMF: a SMAF file of the PC pane played through the synthesizer library.
// One synthesizer instance, number 1, serves every call.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>

#include <QCoreApplication>
#include <QMetaObject>
#include <QTreeWidget>

#include "smaf/MA3_Drv.h"
#include "ui/Main.h"

namespace {

constexpr std::int32_t kInstance = 1;

// Counts the stops. The library reports the end of a song on a thread of its own, and the stop
// reaches the window later through its event queue; an end that was reported before the last
// stop belongs to a song already stopped and must not stop the one playing now.
std::atomic<unsigned> StopCount{0};

// The SMAF data of a file: everything from `offset` on. Null when the file cannot be read or
// holds nothing after the offset.
std::unique_ptr<std::vector<std::uint8_t>> ReadSoundData(const std::string& path, int offset)
{
    std::error_code ec;
    const std::filesystem::path file(path);
    if (!std::filesystem::is_regular_file(file, ec))
        return nullptr;
    const std::uintmax_t fileSize = std::filesystem::file_size(file, ec);
    if (ec || fileSize <= static_cast<std::uintmax_t>(offset))
        return nullptr;
    const std::uintmax_t size = fileSize - static_cast<std::uintmax_t>(offset);
    // The library takes the size as a signed 32-bit number.
    if (size > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max()))
        return nullptr;

    std::ifstream in(file, std::ios::binary);
    if (!in || !in.seekg(offset))
        return nullptr;
    auto data = std::make_unique<std::vector<std::uint8_t>>(static_cast<std::size_t>(size));
    if (!in.read(reinterpret_cast<char*>(data->data()), static_cast<std::streamsize>(size)))
        return nullptr;
    return data;
}

QTreeWidgetItem* FirstSelectedItem(const QTreeWidget* list)
{
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (QTreeWidgetItem* item = list->topLevelItem(i); item->isSelected())
            return item;
    return nullptr;
}

} // namespace

// Called by the library, possibly on its own thread: the end of the song (127) stops the
// preview on the GUI thread. Other events are of no interest.
extern "C" void OnSoundEvent(std::uint8_t event)
{
    if (event != 127)
        return;
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    const unsigned stops = StopCount.load();
    QMetaObject::invokeMethod(
        app,
        [stops] {
            if (Form_Main && stops == StopCount.load())
                Form_Main->StopPreview();
        },
        Qt::QueuedConnection);
}

void TForm_Main::SynthInitialize() { MA3_Drv::MaSound_Initialize(); }

void TForm_Main::SynthShutdown() { MA3_Drv::MaSound_End(); }

void TForm_Main::Action_PlayMMFExecute()
{
    StopPreview();

    const QTreeWidgetItem* item = FirstSelectedItem(ListView_PCFiles);
    if (!item)
        return;
    const std::string caption = PCItemName(item);
    const int offset = SmafDataOffset(caption);
    if (offset < 0)
        return;
    std::string path = PCDir;
    if (path.empty() || path.back() != std::filesystem::path::preferred_separator)
        path += std::filesystem::path::preferred_separator;
    path += caption;

    SoundData = ReadSoundData(path, offset);
    if (!SoundData)
        return;

    MA3_Drv::MaSound_Create(kInstance);
    SoundFileId = MA3_Drv::MaSound_Load(kInstance, SoundData->data(), static_cast<std::int32_t>(SoundData->size()),
                                        1, OnSoundEvent, nullptr);
    // 0: nothing playable. The data stay until the next stop.
    if (SoundFileId == 0)
        return;

    if (MA3_Drv::pMaSound_Open && MA3_Drv::pMaSound_Standby && MA3_Drv::pMaSound_Control && MA3_Drv::pMaSound_Start) {
        MA3_Drv::MaSound_Open(kInstance, SoundFileId, 0, nullptr);
        MA3_Drv::MaSound_Standby(kInstance, SoundFileId, nullptr);
        MA3_Drv::MaSound_Control(kInstance, SoundFileId, 5, nullptr, nullptr);
        std::int32_t volume = 100;
        MA3_Drv::MaSound_Control(kInstance, SoundFileId, 0, &volume, nullptr);
        MA3_Drv::MaSound_Start(kInstance, SoundFileId, 1, nullptr);
    }
    MMFPlaying = true;
    UpdatePlayActions();
}

void TForm_Main::Action_StopMMFExecute() { StopPreview(); }

void TForm_Main::StopPreview()
{
    MMFPlaying = false;
    UpdatePlayActions();

    // Made with the last file id even when nothing is loaded; the library ignores them then.
    if (MA3_Drv::pMaSound_Stop && MA3_Drv::pMaSound_Seek) {
        MA3_Drv::MaSound_Stop(kInstance, SoundFileId, nullptr);
        MA3_Drv::MaSound_Seek(kInstance, SoundFileId, 0, 0, nullptr);
    }
    if (MA3_Drv::pMaSound_Stop && MA3_Drv::pMaSound_Close && MA3_Drv::pMaSound_Unload) {
        MA3_Drv::MaSound_Stop(kInstance, SoundFileId, nullptr);
        MA3_Drv::MaSound_Close(kInstance, SoundFileId, nullptr);
        MA3_Drv::MaSound_Unload(kInstance, SoundFileId, nullptr);
    }
    // The library plays from the data until the file is unloaded.
    SoundData.reset();
    ++StopCount;
}
