#pragma once

#include <cstdint>
#include <string>

namespace svc {

// What to send for a Range header against a file of the given size. Only single ranges are
// honoured; a list of ranges or another unit gets the whole file, which HTTP allows, and a
// malformed range is refused like one that lies beyond the end. The unit is matched without
// regard to case, and a last position beyond the end is the end. Every number is checked
// against the size here, so no offset can run past it.
struct RangeChoice
{
    enum class Kind { Whole, Partial, Unsatisfiable };
    Kind kind = Kind::Whole;
    uint64_t first = 0;
    uint64_t length = 0; // for Partial
};

RangeChoice chooseRange(const std::string &header, uint64_t size);

} // namespace svc
