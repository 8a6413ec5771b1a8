// Tarvel with our own synthesizer library: the preview is offered and a ringtone plays to its end.
#include <filesystem>

#include <QAction>
#include <QTreeWidget>

#include "smaf/MA3_Drv.h"
#include "support/WindowFixture.h"
#include "SmafWriter.h"

using namespace testsupport;

namespace {

// Four short notes at 4 ms ticks: about 400 ms of music.
std::string ShortTune()
{
    smaf::HpsSequence seq;
    const int keys[] = {60, 64, 67, 72};
    for (int i = 0; i < 4; ++i)
        seq.note(i == 0 ? 0 : 25, 0, keys[i], 20);
    seq.end(25);
    smaf::ScoreTrack track;
    track.sequence = seq.bytes();
    const std::vector<std::uint8_t> file = smaf::BuildSmaf({track}, "Short");
    return std::string(file.begin(), file.end());
}

class RealSynth : public WindowTest {
protected:
    void SetUp() override
    {
        WindowTest::SetUp();
        ASSERT_TRUE(LoadSynthLibraryFile(SYNTH_LIBRARY));
    }
};

TEST_F(RealSynth, ActionsShowAndAShortSongPlaysToItsEnd)
{
    // A short tune of our own, so the test does not wait for the whole demo ringtone.
    WriteFile(pc / "short.mmf", ShortTune());
    StartOnline();
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(win->Action_PlayMMF->isVisible());
    EXPECT_TRUE(win->Action_StopMMF->isVisible());

    SelectPC({"short.mmf"});
    win->Action_PlayMMFExecute();
    EXPECT_TRUE(win->MMFPlaying);
    EXPECT_TRUE(win->Action_StopMMF->isEnabled());
    ASSERT_TRUE(WaitUntil([this] { return !win->MMFPlaying; }, 5000));
    EXPECT_FALSE(win->Action_StopMMF->isEnabled());
    EXPECT_EQ(win->SoundData, nullptr);
}

TEST_F(RealSynth, TheDemoRingtoneStartsAndStops)
{
    std::filesystem::copy_file(DEMO_TUNE, pc / "demo-tune.mmf");
    StartOnline();
    SelectPC({"demo-tune.mmf"});
    win->Action_PlayMMFExecute();
    EXPECT_TRUE(win->MMFPlaying);
    EXPECT_GT(SoundFileId, 0);
    Pump(200);
    win->Action_StopMMFExecute();
    EXPECT_FALSE(win->MMFPlaying);
    EXPECT_FALSE(win->Action_StopMMF->isEnabled());
}

} // namespace
