#pragma once

#include <cstdint>
#include <string_view>

namespace svc {

// The order people expect of names in a listing: digit runs compare as numbers ("clip 2" before
// "clip 10"), letters without regard to case (ASCII and Latin-1), other characters by code
// point. Names that differ only in case or in leading zeros are told apart afterwards (fewer
// zeros first, then by their bytes), so the order is total: 0 only for equal names.
int naturalCompare(std::string_view a, std::string_view b);

// Where an entry stands in a listing: folders first, then by name as above; the id settles
// entries of equal names (single files with one name imported from two folders).
struct ListingKey
{
    bool folder = false;
    std::string_view name;
    int64_t id = 0;
};
bool listedBefore(const ListingKey &a, const ListingKey &b);

} // namespace svc
