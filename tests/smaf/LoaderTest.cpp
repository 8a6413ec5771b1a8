// The synthesizer library loader: finding the library, the entry points, the wrappers.
#include <filesystem>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "DoubleControl.h"

namespace {

using namespace MA3_Drv;

// Every entry point pointer with its name, in the order of the lookup.
std::vector<std::pair<std::string, void*>> EntryPoints()
{
    return {{"Initialize", reinterpret_cast<void*>(pMaSound_Initialize)},
            {"Create", reinterpret_cast<void*>(pMaSound_Create)},
            {"Load", reinterpret_cast<void*>(pMaSound_Load)},
            {"Open", reinterpret_cast<void*>(pMaSound_Open)},
            {"Standby", reinterpret_cast<void*>(pMaSound_Standby)},
            {"Start", reinterpret_cast<void*>(pMaSound_Start)},
            {"Seek", reinterpret_cast<void*>(pMaSound_Seek)},
            {"Control", reinterpret_cast<void*>(pMaSound_Control)},
            {"Stop", reinterpret_cast<void*>(pMaSound_Stop)},
            {"Close", reinterpret_cast<void*>(pMaSound_Close)},
            {"Unload", reinterpret_cast<void*>(pMaSound_Unload)},
            {"End", reinterpret_cast<void*>(pMaSound_End)}};
}

// Calls every wrapper once with distinct argument values.
void CallEveryWrapper(std::int32_t& loadResult)
{
    std::uint8_t data[3] = {1, 2, 3};
    std::int32_t value = 42;
    MA3_Drv::MaSound_Initialize();
    MA3_Drv::MaSound_Create(1);
    loadResult = MA3_Drv::MaSound_Load(1, data, 3, 1, [](std::uint8_t) {}, nullptr);
    MA3_Drv::MaSound_Open(1, 7, 0, nullptr);
    MA3_Drv::MaSound_Standby(1, 7, nullptr);
    MA3_Drv::MaSound_Control(1, 7, 0, &value, nullptr);
    MA3_Drv::MaSound_Start(1, 7, 1, nullptr);
    MA3_Drv::MaSound_Seek(1, 7, 2, 3, nullptr);
    MA3_Drv::MaSound_Stop(1, 7, nullptr);
    MA3_Drv::MaSound_Close(1, 7, nullptr);
    MA3_Drv::MaSound_Unload(1, 7, nullptr);
    MA3_Drv::MaSound_End();
}

TEST(SynthLoader, TheStartUpErrorTextIsTwoLinesWordForWord)
{
    EXPECT_STREQ(kSynthLoadError, "Error load library - ma3smwemu_gsm.dll\r\nSMAF file not playing.");
    EXPECT_EQ(DynLib::LibraryFileName(kSynthLibraryStem), "libma3smwemu_gsm.so");
}

TEST(SynthLoader, WithoutALibraryNothingIsAvailableAndEveryWrapperDoesNothing)
{
    // The test program's folder holds no synthesizer library.
    EXPECT_FALSE(LoadSynthLibrary());
    EXPECT_FALSE(LoadSynthLibraryFile("/nonexistent/libma3smwemu_gsm.so"));
    EXPECT_FALSE(SynthAvailable);
    EXPECT_EQ(SynthLibrary, nullptr);
    for (const auto& [name, pointer] : EntryPoints())
        EXPECT_EQ(pointer, nullptr) << name;
    std::int32_t loadResult = 0;
    CallEveryWrapper(loadResult);
    EXPECT_EQ(loadResult, -1);
}

TEST(SynthLoader, TheWrappersPassTheirArgumentsThrough)
{
    ASSERT_TRUE(LoadSynthLibraryFile(DoublePath("")));
    EXPECT_TRUE(SynthAvailable);
    for (const auto& [name, pointer] : EntryPoints())
        EXPECT_NE(pointer, nullptr) << name;
    DoubleControl::Reset();
    DoubleControl::SetLoadResult(12);
    std::int32_t loadResult = 0;
    CallEveryWrapper(loadResult);
    EXPECT_EQ(loadResult, 12);
    EXPECT_EQ(DoubleControl::Calls(),
              "Initialize()\nCreate(1)\nLoad(1,data,3,1,callback,0)\nOpen(1,7,0,0)\nStandby(1,7,0)\n"
              "Control(1,7,0,&42,0)\nStart(1,7,1,0)\nSeek(1,7,2,3,0)\nStop(1,7,0)\nClose(1,7,0)\n"
              "Unload(1,7,0)\nEnd()\n");
    EXPECT_EQ(DoubleControl::LoadedData(), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST(SynthLoader, AMissingEntryPointLeavesOnlyItsOwnPointerEmpty)
{
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"no_load", "Load"},   {"no_open", "Open"},   {"no_standby", "Standby"}, {"no_control", "Control"},
        {"no_start", "Start"}, {"no_stop", "Stop"},   {"no_seek", "Seek"},       {"no_close", "Close"},
        {"no_unload", "Unload"}};
    for (const auto& [variant, missing] : variants) {
        ASSERT_TRUE(LoadSynthLibraryFile(DoublePath(variant))) << variant;
        EXPECT_TRUE(SynthAvailable);
        for (const auto& [name, pointer] : EntryPoints())
            EXPECT_EQ(pointer == nullptr, name == missing) << variant << ": " << name;
        DoubleControl::Reset();
        std::int32_t loadResult = 0;
        CallEveryWrapper(loadResult);
        EXPECT_EQ(DoubleControl::Calls().find(missing + "("), std::string::npos) << variant;
        EXPECT_EQ(loadResult, missing == "Load" ? -1 : 7) << variant;
    }
}

TEST(SynthLoader, ALibraryInTheGivenFolderComesFirst)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString();
    std::filesystem::copy_file(DoublePath(""), folder + "/" + DynLib::LibraryFileName(kSynthLibraryStem));

    DynLib::Handle h = DynLib::OpenLibrary(DynLib::LibraryFileName(kSynthLibraryStem), folder);
    ASSERT_NE(h, nullptr) << DynLib::LastError();
    EXPECT_NE(DynLib::Symbol(h, "Double_Calls"), nullptr);
    EXPECT_EQ(DynLib::Symbol(h, "NoSuchEntryPoint"), nullptr);

    QTemporaryDir empty;
    EXPECT_EQ(DynLib::OpenLibrary(DynLib::LibraryFileName(kSynthLibraryStem), empty.path().toStdString()), nullptr);
}

TEST(SynthLoader, TheProgramFolderIsTheRunningProgramsOwn)
{
    EXPECT_EQ(DynLib::ProgramDir(), QCoreApplication::applicationDirPath().toStdString());
}

TEST(SmafDataOffset, ByExtensionInAnyLetterCase)
{
    const std::vector<std::pair<std::string, int>> cases = {
        {"song.mmf", 0},     {"SONG.MMF", 0},  {"Song.MmF", 0},     {"song.mel", 32},   {"tune.MEL", 32},
        {"a.b.Mel", 32},     {".mel", 32},     {"song.mmf.txt", -1}, {"song.mm", -1},   {"songmmf", -1},
        {"song.mmf ", -1},   {"song.", -1},    {"", -1},             {"mel", -1}};
    for (const auto& [name, offset] : cases)
        EXPECT_EQ(SmafDataOffset(name), offset) << name;
}

} // namespace
