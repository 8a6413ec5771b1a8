// Folder listings: each block's entries become items of the phone list as they arrive.
#include <QLocale>
#include <QTreeWidget>

#include "protocol/Listing.h"
#include "protocol/Text.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"

namespace {

// A phone list item owns the record it was made from.
class PhoneFileItem : public QTreeWidgetItem {
public:
    explicit PhoneFileItem(const TFileInfo& record) : QTreeWidgetItem(UserType + 1), Record(record) {}
    TFileInfo Record;
};

} // namespace

TFileInfo* PhoneItemRecord(QTreeWidgetItem* item)
{
    if (!item || item->type() != QTreeWidgetItem::UserType + 1)
        return nullptr;
    return &static_cast<PhoneFileItem*>(item)->Record;
}

void TForm_Main::ListingBlock(const std::uint8_t* block, std::int32_t count)
{
    for (const TFileInfo& info : ParseListingBlock(block, count))
        AddPhoneFileItem(info);
}

void TForm_Main::AddPhoneFileItem(const TFileInfo& info)
{
    auto* item = new PhoneFileItem(info);
    // The record keeps the whole name as the handset sent it; only the caption is cut.
    item->setText(0, QString::fromStdString(ListedName(info.Name)));
    item->setToolTip(0, QString::fromStdString(ShowableName(info.Name)));
    item->setText(1, QString::number(info.FileType));
    item->setText(2, QLocale().toString(static_cast<qlonglong>(info.Size)));
    item->setText(3, QString::fromStdString(info.Date));
    item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setTextAlignment(3, Qt::AlignRight | Qt::AlignVCenter);
    ListView_PNFiles->addTopLevelItem(item);
}

void TForm_Main::EndListing()
{
    TreeView_PNDir->setEnabled(true);
    // The "Name" column stretches to fill the list, so nothing needs laying out again here.
    WaitCursor::Arrow();
}
