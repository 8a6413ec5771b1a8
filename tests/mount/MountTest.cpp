// TPhoneMount without the kernel: its requests made directly, against the virtual handset on a
// pseudo-terminal; the rules of the phone folder as tables.
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <optional>

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "handset/VirtualHandset.h"
#include "mount/PhoneMount.h"
#include "protocol/PhoneTree.h"
#include "support/Files.h"
#include "support/Wait.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

TEST(MountRules, NamesErrorsAndOptions)
{
    const struct {
        const char* name;
        int error;
    } names[] = {
        {"tune.mmf", 0},
        {"123456789012345678901234.txt", 0},
        {"1234567890123456789012345.txt", ENAMETOOLONG},   // a 25-byte base would be shortened
        {"say \"hi\".txt", EINVAL},
        {"tab\there", EINVAL},
        {"bad%FF.txt", EINVAL},                             // not UTF-8 on the handset
    };
    for (const auto& c : names)
        EXPECT_EQ(CheckNewName(c.name), c.error) << c.name;
    for (const char* name : {".goutputstream-3GQ1Z2", ".tune.mmf.a1B2c3", "notes.txt~", ".notes.txt.swp", "4913"})
        EXPECT_TRUE(IsLocalOnlyName(name)) << name;
    for (const char* name : {"tune.mmf", ".hidden", ".a.b", "swp"})
        EXPECT_FALSE(IsLocalOnlyName(name)) << name;

    LinkResult full = Result(LinkError::Refused);
    full.Code = 20;
    LinkResult refused = Result(LinkError::Refused);
    refused.Code = 4;
    EXPECT_EQ(ErrnoFor(LinkResult{}), 0);
    EXPECT_EQ(ErrnoFor(full), ENOSPC);
    EXPECT_EQ(ErrnoFor(refused), EIO);
    EXPECT_EQ(ErrnoFor(Result(LinkError::Silence)), EIO);

    EXPECT_EQ(UnsentFolder("/s", "/h"), "/s/tarvel/unsent");
    EXPECT_EQ(UnsentFolder("relative", "/h"), "/h/.local/state/tarvel/unsent");
    EXPECT_EQ(UnsentFolder(nullptr, nullptr), "");

    const MountOptions o = ParseMountOptions("relist=9,allow_other,noauto_unmount,negative_timeout=0");
    EXPECT_EQ(o.RelistSeconds, 9);
    EXPECT_EQ(o.NegativeSeconds, 0);
    EXPECT_FALSE(o.AutoUnmount);
    EXPECT_EQ(o.Passed, std::vector<std::string>{"allow_other"});
    EXPECT_NE(ParseMountOptions("relist=soon").Error, "");
    EXPECT_NE(ParseMountOptions("fsname=x").Error, "");

    EXPECT_TRUE(HandsetDateSeconds("2024/03/05 14:07").has_value());
    EXPECT_EQ(*HandsetDateSeconds("2024/03/05 14:08") - *HandsetDateSeconds("2024/03/05 14:07"), 60);
    for (const char* bad : {"", "2024/13/05 14:07", "2024-03-05 14:07", "2024/03/05 14:7 "})
        EXPECT_FALSE(HandsetDateSeconds(bad).has_value()) << bad;
}

class MountTest : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    fs::path phone, unsent;
    HandsetOptions options;
    std::unique_ptr<VirtualHandset> handset;
    std::unique_ptr<TPhoneLink> link;
    std::unique_ptr<TPhoneMount> mount;
    const std::string content = PatternBytes(5000);

    void SetUp() override
    {
        phone = fs::path(tmp.path().toStdString()) / "phone";
        unsent = fs::path(tmp.path().toStdString()) / "unsent";
        for (const std::string& folder : PhoneTreeFolders())
            fs::create_directories(phone / folder.substr(1));
        WriteFile(phone / "user/sounds/tune.mmf", content);
        WriteFile(phone / "user/sounds/other.mmf", "other");
        options.Root = phone.string();
    }

    void Start()
    {
        handset = std::make_unique<VirtualHandset>(options);
        ASSERT_TRUE(handset->Open());
        handset->Start();
        link = std::make_unique<TPhoneLink>();
        ASSERT_TRUE(WaitFor(link->Connect(handset->SlavePath(), 115200, false, hfNONERTSON)).Ok());
        mount = std::make_unique<TPhoneMount>(*link, MountOptions{}, unsent.string());
    }

    void TearDown() override
    {
        mount.reset();
        link.reset();
        if (handset)
            handset->Stop();
    }

    int Sent(const std::string& start) const
    {
        int n = 0;
        for (const std::string& c : handset->Commands())
            n += c.rfind(start, 0) == 0;
        return n;
    }

    // A request made and waited for: its errno and what it gave.
    template <class T>
    struct Answer {
        std::optional<int> error;
        T value{};
    };
    Answer<MountAttr> Lookup(const std::string& folder, const std::string& name)
    {
        Answer<MountAttr> a;
        mount->Lookup(Folder(folder), name, [&a](int e, const MountAttr& attr) { a.error = e, a.value = attr; });
        EXPECT_TRUE(WaitUntil([&a] { return a.error.has_value(); }));
        return a;
    }
    std::uint64_t Folder(const std::string& path)
    {
        if (path == "/")
            return TPhoneMount::kRootIno;
        const std::size_t slash = path.rfind('/');
        Answer<MountAttr> parent = Lookup(slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1));
        return parent.value.Ino;
    }
    Answer<std::uint64_t> Open(const std::string& folder, const std::string& name, int flags = O_RDONLY)
    {
        Answer<std::uint64_t> a;
        mount->Open(Lookup(folder, name).value.Ino, flags, 0, [&a](int e, std::uint64_t h) { a.error = e, a.value = h; });
        EXPECT_TRUE(WaitUntil([&a] { return a.error.has_value(); }));
        return a;
    }
    Answer<std::uint64_t> Create(const std::string& folder, const std::string& name, const std::string& bytes)
    {
        Answer<std::uint64_t> a;
        mount->Create(Folder(folder), name, [&a](int e, const MountAttr&, std::uint64_t h) { a.error = e, a.value = h; });
        if (a.error == 0)
            mount->Write(a.value, bytes, 0, [](int e, std::size_t) { EXPECT_EQ(e, 0); });
        return a;
    }
    int Call(const std::function<void(TPhoneMount::Done)>& request)
    {
        std::optional<int> error;
        request([&error](int e) { error = e; });
        EXPECT_TRUE(WaitUntil([&error] { return error.has_value(); }));
        return error.value_or(-1);
    }
    std::string ReadAll(std::uint64_t handle)
    {
        std::string bytes;
        mount->Read(handle, 1 << 20, 0, [&bytes](int e, std::vector<char> b) {
            EXPECT_EQ(e, 0);
            bytes.assign(b.begin(), b.end());
        });
        return bytes;
    }
};

// Entries already listed answer at once while a download is on the line (here one the handset
// never answers); the same file opened twice is read from the handset once.
TEST_F(MountTest, MetadataAnswersDuringADownloadAndAFileIsReadOnce)
{
    Start();
    ASSERT_EQ(Lookup("/user/sounds", "tune.mmf").error, 0);
    const std::uint64_t ino = Lookup("/user/sounds", "tune.mmf").value.Ino;
    std::vector<int> opened;
    for (int i = 0; i < 2; ++i)
        mount->Open(ino, O_RDONLY, 0, [&opened](int e, std::uint64_t) { opened.push_back(e); });
    ASSERT_TRUE(WaitUntil([&] { return opened.size() == 2; }));
    EXPECT_EQ(opened, (std::vector<int>{0, 0}));
    EXPECT_EQ(Open("/user/sounds", "tune.mmf").error, 0);
    EXPECT_EQ(Sent("AT+FSFR"), 1);
    EXPECT_TRUE(SameBytes(ReadAll(Open("/user/sounds", "tune.mmf").value), content));

    handset->Update([](HandsetOptions& o) { o.SilentOn = "+FSFR"; });
    std::optional<int> held;
    mount->Open(Lookup("/user/sounds", "other.mmf").value.Ino, O_RDONLY, 0, [&held](int e, std::uint64_t) { held = e; });
    ASSERT_TRUE(WaitUntil([this] { return Sent("AT+FSFR") == 2; }));
    int answered = 0;
    mount->GetAttr(ino, [&answered](int e, const MountAttr& a) { answered += e == 0 && a.Size == 5000; });
    mount->Lookup(Folder("/user/sounds"), "tune.mmf", [&answered](int e, const MountAttr&) { answered += e == 0; });
    mount->OpenDir(Folder("/user/sounds"), [&answered](int e, std::vector<MountDirEntry> entries) { answered += e == 0 && entries.size() == 2; });
    EXPECT_EQ(answered, 3);
    EXPECT_FALSE(held.has_value());
}

// A read whose caller gave up before its download started is never sent; files too large to
// read and names the handset would change are refused with nothing sent.
TEST_F(MountTest, InterruptedAndImpossibleRequestsSendNothing)
{
    WriteFile(phone / "user/sounds/huge.bin", "");
    fs::resize_file(phone / "user/sounds/huge.bin", 600000);
    Start();
    const std::uint64_t tune = Lookup("/user/sounds", "tune.mmf").value.Ino;
    const std::uint64_t other = Lookup("/user/sounds", "other.mmf").value.Ino;
    std::optional<int> first, second;
    mount->Open(tune, O_RDONLY, 1, [&first](int e, std::uint64_t) { first = e; });
    mount->Open(other, O_RDONLY, 2, [&second](int e, std::uint64_t) { second = e; });
    mount->Interrupt(2);
    EXPECT_EQ(second, EINTR);
    ASSERT_TRUE(WaitUntil([&first] { return first.has_value(); }));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(Open("/user/sounds", "huge.bin").error, EFBIG);
    EXPECT_EQ(Create("/user/sounds", "1234567890123456789012345.mmf", "x").error, ENAMETOOLONG);
    EXPECT_EQ(Create("/user/sounds", "a\"b.mmf", "x").error, EINVAL);
    ASSERT_TRUE(WaitUntil([this] { return mount->Idle(); }));
    EXPECT_EQ(Sent("AT+FSFR"), 1);
    EXPECT_EQ(Sent("AT+FSFW"), 0);
}

// One upload per flush of a changed file; a write the handset refuses reaches close() as EIO
// and the bytes are kept with the unsent files.
TEST_F(MountTest, FlushUploadsOnceAndARefusalKeepsTheBytes)
{
    Start();
    const Answer<std::uint64_t> made = Create("/user/sounds", "new.mmf", "new bytes");
    ASSERT_EQ(made.error, 0);
    EXPECT_EQ(Call([&](auto done) { mount->Flush(made.value, done); }), 0);
    EXPECT_EQ(Call([&](auto done) { mount->Flush(made.value, done); }), 0);
    EXPECT_EQ(Call([&](auto done) { mount->Release(made.value, done); }), 0);
    EXPECT_EQ(Sent("AT+FSFW"), 1);
    EXPECT_EQ(ReadFile(phone / "user/sounds/new.mmf"), "new bytes");
    EXPECT_EQ(Lookup("/user/sounds", "new.mmf").value.Size, 9);

    handset->Update([](HandsetOptions& o) { o.CmeErrorOn = "+FSFW"; });
    const Answer<std::uint64_t> refused = Create("/user/sounds", "kept.mmf", "keep me");
    EXPECT_EQ(Call([&](auto done) { mount->Flush(refused.value, done); }), EIO);
    EXPECT_EQ(mount->FailedUploads(), 1);
    EXPECT_EQ(ReadFile(unsent / "kept.mmf"), "keep me");
    EXPECT_FALSE(fs::exists(phone / "user/sounds/kept.mmf"));
}

// An editor's temporary is never uploaded itself, and renamed over a file it is uploaded under
// that name; a file already on the handset cannot be renamed there; the tree is fixed.
TEST_F(MountTest, RenameAndTreeRules)
{
    Start();
    const std::uint64_t sounds = Folder("/user/sounds");
    const Answer<std::uint64_t> temp = Create("/user/sounds", ".goutputstream-AB12CD", "edited");
    EXPECT_EQ(Call([&](auto done) { mount->Flush(temp.value, done); }), 0);
    EXPECT_EQ(Call([&](auto done) { mount->Release(temp.value, done); }), 0);
    EXPECT_EQ(Sent("AT+FSFW"), 0);
    EXPECT_EQ(Call([&](auto done) { mount->Rename(sounds, ".goutputstream-AB12CD", sounds, "tune.mmf", false, false, done); }), 0);
    EXPECT_EQ(Sent("AT+FSFE"), 1);
    EXPECT_EQ(Sent("AT+FSFW"), 1);
    EXPECT_EQ(ReadFile(phone / "user/sounds/tune.mmf"), "edited");
    EXPECT_EQ(Lookup("/user/sounds", ".goutputstream-AB12CD").error, ENOENT);

    EXPECT_EQ(Call([&](auto done) { mount->Rename(sounds, "other.mmf", sounds, "moved.mmf", false, false, done); }), EXDEV);
    EXPECT_EQ(Call([&](auto done) { mount->Rename(sounds, "other.mmf", Folder("/user"), "sounds", false, false, done); }), EPERM);
    EXPECT_EQ(TPhoneMount::RefuseTreeChange(), EPERM);
    EXPECT_EQ(Call([&](auto done) { mount->Unlink(sounds, "other.mmf", done); }), 0);
    EXPECT_FALSE(fs::exists(phone / "user/sounds/other.mmf"));
}

} // namespace
