// Folder listings against the virtual handset: blocks, their acknowledgements, the entries the
// phone list shows and the ones it leaves out.
#include <QAbstractItemModel>

#include "FsopsFixture.h"

using namespace fsops;

namespace {

class ListingTest : public FsopsTest {};

TEST_F(ListingTest, EntriesArriveBlockByBlockAndEveryBlockIsAcknowledged)
{
    for (int i = 0; i < 20; ++i)
        WriteFile(phone / "images" / ("p" + std::to_string(100 + i) + ".jpg"), std::string(2048 + i, 'x'));
    StartOnline();
    // The list's size each time items are added, and whether the listing was still running.
    std::vector<std::pair<int, bool>> growth;
    QObject::connect(win->ListView_PNFiles->model(), &QAbstractItemModel::rowsInserted, win, [&] {
        growth.emplace_back(win->ListView_PNFiles->topLevelItemCount(), !win->Link->Channel().Idle());
    });
    handset->ClearLog();
    OpenPhoneFolder("/images");

    EXPECT_EQ(Count(handset->Received(), "##>\r\n"), 3);   // blocks of 8, 8 and 4 entries
    ASSERT_EQ(PhoneCaptions().size(), 20u);
    EXPECT_EQ(PhoneCaptions().front(), "p100.jpg");
    EXPECT_EQ(PhoneCaptions().back(), "p119.jpg");
    ASSERT_FALSE(growth.empty());
    EXPECT_EQ(growth.front(), std::make_pair(1, true));
    EXPECT_EQ(growth[7], std::make_pair(8, true));   // the first block is in before the rest came

    QTreeWidgetItem* item = PhoneItem("p103.jpg");
    EXPECT_EQ(item->text(1).toStdString(), "106");
    EXPECT_EQ(item->text(2).toStdString(), "2,051");
    EXPECT_EQ(item->text(3).toStdString().size(), 16u);   // "yyyy/mm/dd hh:mm" as the handset sent it
    const TFileInfo* record = PhoneItemRecord(item);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->Name, "p103.jpg");
    EXPECT_EQ(record->FileType, 106);
    EXPECT_EQ(record->Size, 2051);
    EXPECT_EQ(record->Kind, 1);
    EXPECT_EQ(record->Crc, 0u);
    EXPECT_EQ(record->Date, item->text(3).toStdString());

    EXPECT_TRUE(win->TreeView_PNDir->isEnabled());
    EXPECT_FALSE(WaitCursor::Showing());
    EXPECT_TRUE(Texts().empty());
}

TEST_F(ListingTest, EntriesOfTheFinalReplyAreNotListed)
{
    for (int i = 0; i < 10; ++i)
        WriteFile(phone / "java" / ("m" + std::to_string(i) + ".bin"), "abc");
    options.EntriesInFinal = true;   // 8 in a block, the last 2 in front of the final "OK"
    StartOnline();
    OpenPhoneFolder("/java");
    EXPECT_EQ(PhoneCaptions().size(), 8u);
    EXPECT_EQ(PhoneCaptions().back(), "m7.bin");
    EXPECT_TRUE(Texts().empty());
}

TEST_F(ListingTest, EmptyFolderLeavesTheListEmptyAndTheTreeUsable)
{
    StartOnline();
    WriteFile(phone / "x.txt", "x");
    OpenPhoneFolder("/");
    ASSERT_EQ(PhoneCaptions().size(), 1u);
    handset->ClearLog();
    OpenPhoneFolder("/java");
    EXPECT_TRUE(PhoneCaptions().empty());
    EXPECT_EQ(Count(handset->Received(), "##>\r\n"), 0);
    EXPECT_TRUE(win->TreeView_PNDir->isEnabled());
    EXPECT_FALSE(WaitCursor::Showing());
    EXPECT_TRUE(Texts().empty());
}

TEST_F(ListingTest, NamesAsTheListShowsThem)
{
    const std::string longName = std::string(70, 'n') + ".txt";
    WriteFile(phone / "user" / longName, "1");
    WriteFile(phone / "user" / "a,b.txt", "12");               // a comma inside the quotes
    WriteFile(phone / "user" / "empty.dat", "");                // size 0
    WriteFile(phone / "user" / "bad\xFF\xFEname.bin", "123");   // not UTF-8
    WriteFile(phone / "user" / "x+CME ERROR.txt", "1234");      // not at the start of a line
    WriteFile(phone / "user" / "ok.txt", "12345");
    StartOnline();
    OpenPhoneFolder("/user");

    // Sorted by the handset as bytes: "a,b", "bad\xFF", "empty", "nnn...", "ok", "x+CME". Only the
    // captions are cut and made showable; the records keep the names as the handset sent them.
    EXPECT_EQ(PhoneCaptions(), (std::vector<std::string>{"a,b.txt", "bad\uFFFD\uFFFDname.bin", "empty.dat",
                                                         std::string(56, 'n'), "ok.txt", "x+CME ERROR.txt"}));
    const TFileInfo* invalid = PhoneItemRecord(win->ListView_PNFiles->topLevelItem(1));
    ASSERT_NE(invalid, nullptr);
    EXPECT_EQ(invalid->Name, "bad\xFF\xFEname.bin");
    EXPECT_EQ(invalid->Size, 3);
    const TFileInfo* empty = PhoneItemRecord(PhoneItem("empty.dat"));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Size, 0);
    EXPECT_EQ(empty->Kind, 2);
    EXPECT_EQ(PhoneItemRecord(PhoneItem("ok.txt"))->Kind, 1);
    EXPECT_EQ(PhoneItemRecord(PhoneItem(std::string(56, 'n')))->Name, longName);
    EXPECT_TRUE(Texts().empty());
}

} // namespace
