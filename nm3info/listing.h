// The listing's two forms, text for people and one JSON document for
// scripts, built piece by piece as the members are visited.
#pragma once

#include <string>

#include "nm3info/survey.h"

namespace nm3info {

struct ListingForm {
    std::string (*documentStart)();
    // Before an archive's members; `first` for the run's first archive.
    std::string (*archiveStart)(const std::string& path, bool first);
    std::string (*member)(const Member& member);
    // After its members: the summary and the verdict.
    std::string (*archiveEnd)(const Survey& survey);
    std::string (*documentEnd)();
};

extern const ListingForm textListing;
extern const ListingForm jsonListing;

}  // namespace nm3info
