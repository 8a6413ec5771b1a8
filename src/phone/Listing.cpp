// Folder listings: each block's entries join PhoneRecords and are reported as they arrive.
#include <span>

#include "phone/PhoneLink.h"
#include "protocol/Listing.h"

void TPhoneLink::ListingBlock(const std::uint8_t* block, std::int32_t count)
{
    for (const TFileInfo& info : ParseListingBlock(std::span(block, static_cast<std::size_t>(count)))) {
        PhoneRecords.push_back(info);
        emit ListingEntry(info, PhoneRecords.size() - 1);
    }
}

void TPhoneLink::EndListing() { emit ListingEnded(); }
