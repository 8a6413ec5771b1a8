// Folder listings: each block's entries join PhoneRecords and are reported as they arrive.
#include <span>
#include <string>
#include <vector>

#include "phone/PhoneLink.h"
#include "protocol/Listing.h"

void TPhoneLink::ListingBlock(const std::uint8_t* block, std::int32_t count)
{
    std::vector<std::string> refused;
    for (const TFileInfo& info : ParseListingBlock(std::span(block, static_cast<std::size_t>(count)), &refused)) {
        PhoneRecords.push_back(info);
        emit ListingEntry(info, PhoneRecords.size() - 1);
    }
    // An entry that cannot be read is not listed, but never passed over in silence.
    for (const std::string& line : refused) {
        emit LogLine("Listing entry not understood: " + line);
        emit ListingEntryRefused(PhoneDir, line);
    }
}

void TPhoneLink::EndListing() { emit ListingEnded(); }
