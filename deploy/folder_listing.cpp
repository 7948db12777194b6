#include "deploy/folder_listing.h"

#include <algorithm>

#include "deploy/names.h"

namespace {

bool is_plain_ascii(StringView name) {
    return std::all_of(name.begin(), name.end(), [](char16_t unit) { return unit < 0x80; });
}

}  // namespace

FolderListing folder_listing(const std::vector<String>& names) {
    FolderListing listing;
    listing.complete = true;
    const String staged_key = comparison_key(staged_suffix);
    for (const String& name : names) {
        const String key = comparison_key(name);
        if (key.find(staged_key) != String::npos) listing.staged_names.push_back(name);
        listing.names.insert(key);
        listing.complete &= is_plain_ascii(name);
    }
    return listing;
}

bool listed_as_missing(const FolderListing& listing, StringView name) {
    return listing.complete && is_plain_ascii(name) && name.find(u'~') == StringView::npos &&
           !listing.names.count(comparison_key(name));
}
