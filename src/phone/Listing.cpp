// Folder listings: each block's entries are gathered (and, for the folder on show, join
// PhoneRecords and are reported as they arrive).
#include <span>
#include <string>
#include <vector>

#include "phone/Channel.h"
#include "phone/PhoneLink.h"
#include "protocol/Listing.h"

Task<TPhoneLink::Listing> TPhoneLink::RunListing(std::string folder, bool shown)
{
    Listing listing;
    if (folder.empty())
        co_return listing;
    // Entries join the list on show only while it is still this listing's.
    const std::uint64_t number = listingNumber_;
    auto records = std::make_shared<std::vector<TFileInfo>>();
    // A named handler: a temporary one in the co_await expression would be destroyed twice.
    std::function<void(std::span<const std::uint8_t>)> onBlock = [this, folder, shown, number, records](std::span<const std::uint8_t> block) {
        std::vector<std::string> refused;
        for (const TFileInfo& info : ParseListingBlock(block, &refused)) {
            records->push_back(info);
            if (shown && listingNumber_ == number) {
                phoneRecords_.push_back(info);
                emit ListingEntry(info, phoneRecords_.size() - 1);
            }
        }
        // An entry that cannot be read is not listed, but never passed over in silence.
        for (const std::string& line : refused) {
            emit LogLine("Listing entry not understood: " + line);
            emit ListingEntryRefused(folder, line);
        }
    };
    listing.Result = co_await SendFSDL(folder, std::move(onBlock));
    if (listing.Result.Ok() && shown && listingNumber_ == number)
        emit ListingEnded();
    listing.Records = std::move(*records);
    co_return listing;
}

Task<LinkResult> TPhoneLink::SendFSDL(std::string folder, std::function<void(std::span<const std::uint8_t>)> onBlock)
{
    auto command = std::make_shared<TCommand>();
    command->Kind = pcFSDL;
    command->Text = CommandFSDL(folder);
    command->OnBlock = [onBlock](TCommand&, std::span<const std::uint8_t> block) { onBlock(block); };
    const LinkResult result = co_await Run(command);
    // The handset's folder is this one once it has listed it; after a failure it is not known.
    handsetFolder_ = result.Ok() ? folder : std::string();
    co_return result;
}

Task<TPhoneLink::Listing> TPhoneLink::List(std::string folder)
{
    Listing listing = co_await RunListing(folder, false);
    co_return listing;
}

Task<LinkResult> TPhoneLink::ListFolder(std::string path)
{
    phoneDir_ = path;
    phoneRecords_.clear();
    ++listingNumber_;
    const Listing listing = co_await RunListing(path, true);
    co_return listing.Result;
}

Task<LinkResult> TPhoneLink::Relist()
{
    phoneRecords_.clear();
    ++listingNumber_;
    emit ListingCleared();
    const Listing listing = co_await RunListing(phoneDir_, true);
    co_return listing.Result;
}
