#pragma once

#include <set>
#include <vector>

#include "common/strings.h"

// A folder read in one look, so that a name can be known missing without a
// look of its own: under Wine each name not found makes it read the whole
// folder. The names are those folder_entry_names gives (platform/deploy/file_entries.h).

struct FolderListing {
    std::vector<String> staged_names;  // those carrying the staged suffix (deploy/plan.h)
    std::set<String> names;            // every long and short name, as compared (comparison_key)
    bool complete = false;             // every name plain ASCII, so compared the same by any case rule
};

FolderListing folder_listing(const std::vector<String>& names);

// Whether the listing shows that nothing answers to the name. A name that is
// not plain ASCII, or with a "~" (a short name perhaps), is looked at itself.
bool listed_as_missing(const FolderListing& listing, StringView name);
