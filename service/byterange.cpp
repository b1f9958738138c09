#include "service/byterange.h"

#include "service/requestrules.h"
#include "service/suffixfilter.h"

#include <limits>

namespace svc {
namespace {

// Digits only; values too large for 64 bits saturate, which makes them unsatisfiable.
bool parseNumber(const std::string &text, uint64_t &value)
{
    if (text.empty())
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const uint64_t digit = uint64_t(c - '0');
        if (value > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            value = std::numeric_limits<uint64_t>::max();
        else
            value = value * 10 + digit;
    }
    return true;
}

} // namespace

RangeChoice chooseRange(const std::string &header, uint64_t size)
{
    RangeChoice whole;
    RangeChoice unsatisfiable;
    unsatisfiable.kind = RangeChoice::Kind::Unsatisfiable;
    const std::string value = trimmed(header);
    const std::string unit = "bytes=";
    // A unit we do not know must be ignored.
    if (value.size() < unit.size() || asciiLower(value.substr(0, unit.size())) != unit)
        return whole;
    const std::string rangeText = trimmed(value.substr(unit.size()));
    if (rangeText.find(',') != std::string::npos)
        return whole;
    const auto dash = rangeText.find('-');
    if (dash == std::string::npos)
        return unsatisfiable;
    const std::string from = trimmed(rangeText.substr(0, dash));
    const std::string to = trimmed(rangeText.substr(dash + 1));

    RangeChoice partial;
    partial.kind = RangeChoice::Kind::Partial;
    uint64_t first = 0;
    uint64_t last = 0;
    if (from.empty()) {
        // The last n bytes.
        if (!parseNumber(to, last) || last == 0 || size == 0)
            return unsatisfiable;
        partial.first = last >= size ? 0 : size - last;
        partial.length = size - partial.first;
        return partial;
    }
    if (!parseNumber(from, first))
        return unsatisfiable;
    if (to.empty()) {
        last = size == 0 ? 0 : size - 1;
    } else {
        if (!parseNumber(to, last) || last < first)
            return unsatisfiable;
    }
    if (first >= size)
        return unsatisfiable;
    // A last position past the end means the end.
    if (last >= size)
        last = size - 1;
    partial.first = first;
    partial.length = last - first + 1;
    return partial;
}

} // namespace svc
