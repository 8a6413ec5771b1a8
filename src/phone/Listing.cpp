// Folder listings: each block's entries are reported as they arrive.
#include "phone/PhoneLink.h"
#include "protocol/Listing.h"

void TPhoneLink::ListingBlock(const std::uint8_t* block, std::int32_t count)
{
    for (const TFileInfo& info : ParseListingBlock(block, count))
        emit ListingEntry(info);
}

void TPhoneLink::EndListing() { emit ListingEnded(); }
