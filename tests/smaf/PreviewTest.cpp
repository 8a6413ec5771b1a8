// Play MMF / Stop MMF in the main window, against the test double of the synthesizer library.
#include <filesystem>
#include <fstream>

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "DoubleControl.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "settings/Unit_Init.h"

namespace {

// The calls StopPreview makes with a file id, each group when its entry points are there.
std::string StopCalls(int id)
{
    const std::string i = std::to_string(id);
    return "Stop(1," + i + ",0)\nSeek(1," + i + ",0,0,0)\nStop(1," + i + ",0)\nClose(1," + i + ",0)\nUnload(1," + i + ",0)\n";
}

std::string StartCalls(int id, int size)
{
    const std::string i = std::to_string(id);
    return "Create(1)\nLoad(1,data," + std::to_string(size) + ",1,callback,0)\nOpen(1," + i + ",0,0)\nStandby(1," + i +
           ",0)\nControl(1," + i + ",5,0,0)\nControl(1," + i + ",0,&100,0)\nStart(1," + i + ",1,0)\n";
}

std::vector<std::uint8_t> Bytes(int count, int first = 0)
{
    std::vector<std::uint8_t> b(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first + i);
    return b;
}

class Preview : public ::testing::Test {
protected:
    void Open(const std::string& variant)
    {
        ASSERT_TRUE(dir.isValid());
        SettingsDir = dir.path().toStdString();
        ResetSettingsToDefaults();
        if (variant == "none")
            LoadSynthLibraryFile(dir.path().toStdString() + "/libma3smwemu_gsm.so");
        else
            ASSERT_TRUE(LoadSynthLibraryFile(DoublePath(variant)));
        if (SynthAvailable)
            DoubleControl::Reset();
        form = std::make_unique<TForm_Main>();
        form->PCDir = dir.path().toStdString();
    }
    void SetUp() override { Open(""); }
    void TearDown() override
    {
        form.reset();
        // Queued stops of a window that is gone find nothing to do.
        QCoreApplication::processEvents();
    }

    // A file in the PC folder and its item in the PC list.
    QTreeWidgetItem* AddFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        std::ofstream(dir.path().toStdString() + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return AddItem(name);
    }
    QTreeWidgetItem* AddItem(const std::string& name)
    {
        return new QTreeWidgetItem(form->ListView_PCFiles, QStringList{QString::fromStdString(name)});
    }
    void Select(QTreeWidgetItem* item)
    {
        form->ListView_PCFiles->clearSelection();
        item->setSelected(true);
    }
    void PlayFile(const std::string& name, const std::vector<std::uint8_t>& bytes)
    {
        Select(AddFile(name, bytes));
        form->Action_PlayMMFExecute();
    }
    bool Playing() const { return form->MMFPlaying && form->Action_StopMMF->isEnabled(); }

    QTemporaryDir dir;
    std::unique_ptr<TForm_Main> form;
    Dialogs::Recorder boxes;
};

TEST_F(Preview, CreatingTheWindowInitializesTheSynthesizerAndShowsBothActions)
{
    EXPECT_EQ(DoubleControl::Calls(), "Initialize()\n");
    EXPECT_TRUE(form->Action_PlayMMF->isVisible());
    EXPECT_TRUE(form->Action_StopMMF->isVisible());
    EXPECT_FALSE(form->Action_StopMMF->isEnabled());
}

TEST_F(Preview, WithoutALibraryBothActionsAreHidden)
{
    form.reset();
    Open("none");
    EXPECT_FALSE(SynthAvailable);
    EXPECT_FALSE(form->Action_PlayMMF->isVisible());
    EXPECT_FALSE(form->Action_StopMMF->isVisible());
}

TEST_F(Preview, PlaysTheSmafDataOfTheSelectedFile)
{
    struct Case {
        std::string name;
        int fileSize;
        int offset;
    };
    const std::vector<Case> cases = {
        {"song.MEL", 40, 32}, {"song.mmf", 40, 0}, {"Tune.mEl", 33, 32}, {"RING.MMF", 1, 0}, {"big.mmf", 70000, 0}};
    int id = 20;
    for (const Case& c : cases) {
        const int previous = SoundFileId;
        DoubleControl::Reset();
        DoubleControl::SetLoadResult(++id);
        PlayFile(c.name, Bytes(c.fileSize));
        const int size = c.fileSize - c.offset;
        EXPECT_EQ(DoubleControl::Calls(), StopCalls(previous) + StartCalls(id, size)) << c.name;
        EXPECT_EQ(DoubleControl::LoadedData(), Bytes(size, c.offset)) << c.name;
        ASSERT_TRUE(form->SoundData) << c.name;
        EXPECT_EQ(*form->SoundData, Bytes(size, c.offset)) << c.name;
        EXPECT_TRUE(Playing()) << c.name;
        EXPECT_EQ(SoundFileId, id);
    }
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Preview, FilesWithoutPlayableDataPlayNothingAndShowNothing)
{
    std::filesystem::create_directory(dir.path().toStdString() + "/folder.mmf");
    AddItem("folder.mmf");
    AddItem("missing.mmf");
    AddFile("short.mel", Bytes(32));
    AddFile("tiny.MEL", Bytes(5));
    AddFile("empty.mmf", {});
    AddFile("song.wav", Bytes(100));
    AddFile("noext", Bytes(100));
    for (int i = 0; i < form->ListView_PCFiles->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = form->ListView_PCFiles->topLevelItem(i);
        DoubleControl::Reset();
        Select(item);
        form->Action_PlayMMFExecute();
        EXPECT_EQ(DoubleControl::Calls(), StopCalls(0)) << item->text(0).toStdString();
        EXPECT_FALSE(form->MMFPlaying);
        EXPECT_FALSE(form->SoundData);
    }
    DoubleControl::Reset();
    form->ListView_PCFiles->clearSelection();
    form->Action_PlayMMFExecute();
    EXPECT_EQ(DoubleControl::Calls(), StopCalls(0));
    EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(Preview, TheFirstSelectedItemInListOrderIsPlayed)
{
    QTreeWidgetItem* a = AddFile("a.mmf", Bytes(10, 1));
    QTreeWidgetItem* b = AddFile("b.mmf", Bytes(20, 2));
    b->setSelected(true);
    a->setSelected(true);
    form->Action_PlayMMFExecute();
    EXPECT_EQ(DoubleControl::LoadedData(), Bytes(10, 1));
}

TEST_F(Preview, PlayWhilePlayingStopsUnloadsAndStartsTheNewFile)
{
    DoubleControl::SetLoadResult(7);
    PlayFile("first.mmf", Bytes(50));
    DoubleControl::Reset();
    DoubleControl::SetLoadResult(9);
    PlayFile("second.MEL", Bytes(64));
    EXPECT_EQ(DoubleControl::Calls(),
              "Stop(1,7,0)\nSeek(1,7,0,0,0)\nStop(1,7,0)\nClose(1,7,0)\nUnload(1,7,0)\n"
              "Create(1)\nLoad(1,data,32,1,callback,0)\nOpen(1,9,0,0)\nStandby(1,9,0)\n"
              "Control(1,9,5,0,0)\nControl(1,9,0,&100,0)\nStart(1,9,1,0)\n");
    EXPECT_TRUE(Playing());
}

TEST_F(Preview, StopMMFStopsAndReleasesTheData)
{
    PlayFile("song.mmf", Bytes(50));
    ASSERT_TRUE(Playing());
    DoubleControl::Reset();
    form->Action_StopMMFExecute();
    EXPECT_EQ(DoubleControl::Calls(), StopCalls(7));
    EXPECT_FALSE(form->MMFPlaying);
    EXPECT_FALSE(form->Action_StopMMF->isEnabled());
    EXPECT_FALSE(form->SoundData);
}

TEST_F(Preview, TheEndOfTheSongFromAnotherThreadStopsThePreview)
{
    PlayFile("song.mmf", Bytes(50));
    DoubleControl::Reset();
    // Other events are of no interest.
    for (std::uint8_t event : {0, 1, 126, 128, 255})
        ASSERT_EQ(DoubleControl::Fire(event), 1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Playing());
    EXPECT_EQ(DoubleControl::Calls(), "");

    ASSERT_EQ(DoubleControl::Fire(127), 1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(form->MMFPlaying);
    EXPECT_FALSE(form->Action_StopMMF->isEnabled());
    EXPECT_FALSE(form->SoundData);
    EXPECT_EQ(DoubleControl::Calls(), StopCalls(7));
}

TEST_F(Preview, AnEndReportedBeforeTheNextPlayDoesNotStopTheNewSong)
{
    PlayFile("first.mmf", Bytes(50));
    ASSERT_EQ(DoubleControl::Fire(127), 1);   // queued, not yet handled
    DoubleControl::SetLoadResult(8);
    PlayFile("second.mmf", Bytes(60));
    DoubleControl::Reset();
    QCoreApplication::processEvents();
    EXPECT_TRUE(Playing());
    EXPECT_EQ(DoubleControl::Calls(), "");
}

TEST_F(Preview, ALoadThatFindsNothingPlayableLeavesThePreviewStopped)
{
    DoubleControl::SetLoadResult(0);
    PlayFile("broken.mmf", Bytes(50));
    EXPECT_EQ(DoubleControl::Calls(), "Initialize()\n" + StopCalls(0) + "Create(1)\nLoad(1,data,50,1,callback,0)\n");
    EXPECT_FALSE(form->MMFPlaying);
    EXPECT_FALSE(form->Action_StopMMF->isEnabled());
    // The data stay until the next stop.
    EXPECT_TRUE(form->SoundData);
    form->Action_StopMMFExecute();
    EXPECT_FALSE(form->SoundData);
}

TEST_F(Preview, MissingEntryPointsSkipTheirStepsOnly)
{
    struct Case {
        std::string variant;
        bool stopSeek;   // Stop and Seek are there
        bool unload;     // Stop, Close and Unload are there
        bool start;      // Open, Standby, Control and Start are there
    };
    const std::vector<Case> cases = {
        {"no_open", true, true, false},  {"no_standby", true, true, false}, {"no_control", true, true, false},
        {"no_start", true, true, false}, {"no_stop", false, false, true},   {"no_seek", false, true, true},
        {"no_close", true, false, true}, {"no_unload", true, false, true},
    };
    for (const Case& c : cases) {
        auto stops = [&c](int id) {
            const std::string i = std::to_string(id);
            return (c.stopSeek ? "Stop(1," + i + ",0)\nSeek(1," + i + ",0,0,0)\n" : std::string())
                 + (c.unload ? "Stop(1," + i + ",0)\nClose(1," + i + ",0)\nUnload(1," + i + ",0)\n" : std::string());
        };
        form.reset();
        Open(c.variant);
        DoubleControl::Reset();
        PlayFile("song.mmf", Bytes(50));
        EXPECT_TRUE(Playing()) << c.variant;
        form->Action_StopMMFExecute();
        const std::string started = c.start ? StartCalls(7, 50) : "Create(1)\nLoad(1,data,50,1,callback,0)\n";
        EXPECT_EQ(DoubleControl::Calls(), stops(0) + started + stops(7)) << c.variant;
        EXPECT_FALSE(form->SoundData) << c.variant;
    }
}

TEST_F(Preview, WithoutTheLoadEntryPointTheFileIdIsMinusOne)
{
    form.reset();
    Open("no_load");
    DoubleControl::Reset();
    PlayFile("song.mmf", Bytes(50));
    EXPECT_EQ(SoundFileId, -1);
    EXPECT_EQ(DoubleControl::Calls(), StopCalls(0) + "Create(1)\nOpen(1,-1,0,0)\nStandby(1,-1,0)\n"
                                      "Control(1,-1,5,0,0)\nControl(1,-1,0,&100,0)\nStart(1,-1,1,0)\n");
}

TEST_F(Preview, ADoubleClickPlaysOnlyWhenPlayMMFIsEnabled)
{
    Select(AddFile("song.mmf", Bytes(50)));
    DoubleControl::Reset();
    form->Action_PlayMMF->setEnabled(false);
    form->ListView_PCFilesDblClick();
    EXPECT_EQ(DoubleControl::Calls(), "");
    form->Action_PlayMMF->setEnabled(true);
    form->ListView_PCFilesDblClick();
    EXPECT_TRUE(form->MMFPlaying);
}

TEST_F(Preview, ClosingTheWindowStopsThePreviewThenEndsTheSynthesizer)
{
    PlayFile("song.mmf", Bytes(50));
    DoubleControl::Reset();
    form->close();
    EXPECT_EQ(DoubleControl::Calls(), StopCalls(7) + "End()\n");
    EXPECT_FALSE(form->SoundData);
}

} // namespace
