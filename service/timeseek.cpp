#include "service/timeseek.h"

#include <cstdio>

namespace svc {
namespace {

// Times beyond a hundred thousand hours are no video's; the bound also keeps every sum below
// overflow.
constexpr int64_t MaxMs = int64_t(100000) * 3600 * 1000;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits at text[pos], at most maxDigits of them (and at least one), as a number.
std::optional<int64_t> digits(const std::string &text, size_t &pos, size_t maxDigits)
{
    const size_t begin = pos;
    int64_t value = 0;
    while (pos < text.size() && isDigit(text[pos])) {
        if (pos - begin == maxDigits)
            return std::nullopt;
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    if (pos == begin)
        return std::nullopt;
    return value;
}

// An optional ".fff…" at text[pos] as milliseconds; digits past the third are cut.
std::optional<int64_t> fraction(const std::string &text, size_t &pos)
{
    if (pos >= text.size() || text[pos] != '.')
        return 0;
    ++pos;
    int64_t ms = 0;
    int64_t scale = 100;
    const size_t begin = pos;
    while (pos < text.size() && isDigit(text[pos])) {
        ms += (text[pos] - '0') * scale;
        scale /= 10;
        ++pos;
    }
    // "90." is taken, as players write it; a dot followed by anything but digits is not.
    if (pos == begin && pos < text.size() && text[pos] != '-' && text[pos] != '/')
        return std::nullopt;
    return ms;
}

// One npt time: "90", "90.25", "1:02:03.5". A clock time needs two-digit minutes and seconds.
std::optional<int64_t> nptTime(const std::string &text, size_t &pos)
{
    const auto first = digits(text, pos, 10);
    if (!first)
        return std::nullopt;
    int64_t ms = 0;
    if (pos < text.size() && text[pos] == ':') {
        ++pos;
        const size_t minutesAt = pos;
        const auto minutes = digits(text, pos, 2);
        if (!minutes || pos - minutesAt != 2 || *minutes > 59 || pos >= text.size()
            || text[pos] != ':')
            return std::nullopt;
        ++pos;
        const size_t secondsAt = pos;
        const auto seconds = digits(text, pos, 2);
        if (!seconds || pos - secondsAt != 2 || *seconds > 59)
            return std::nullopt;
        ms = ((*first * 60 + *minutes) * 60 + *seconds) * 1000;
    } else {
        ms = *first * 1000;
    }
    const auto part = fraction(text, pos);
    if (!part)
        return std::nullopt;
    ms += *part;
    if (ms > MaxMs)
        return std::nullopt;
    return ms;
}

std::string trimmed(const std::string &text)
{
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return {};
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

} // namespace

std::optional<NptRange> parseNptRange(const std::string &value)
{
    const std::string text = trimmed(value);
    if (text.size() < 4 || (text.compare(0, 4, "npt=") != 0 && text.compare(0, 4, "NPT=") != 0))
        return std::nullopt;
    size_t pos = 4;
    NptRange range;
    const auto start = nptTime(text, pos);
    if (!start || pos >= text.size() || text[pos] != '-')
        return std::nullopt;
    range.startMs = *start;
    ++pos;
    if (pos < text.size()) {
        const auto end = nptTime(text, pos);
        if (!end || *end <= range.startMs)
            return std::nullopt;
        range.endMs = end;
    }
    if (pos != text.size())
        return std::nullopt;
    return range;
}

std::string formatSeconds(int64_t ms)
{
    if (ms < 0)
        ms = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::string formatNptRange(const NptRange &range, int64_t durationMs)
{
    if (durationMs <= 0) {
        return "npt=" + formatSeconds(range.startMs) + "-"
            + (range.endMs ? formatSeconds(*range.endMs) : std::string()) + "/*";
    }
    int64_t end = range.endMs ? *range.endMs : durationMs;
    if (end > durationMs)
        end = durationMs;
    return "npt=" + formatSeconds(range.startMs) + "-" + formatSeconds(end) + "/"
        + formatSeconds(durationMs);
}

std::string formatStartSegment(int64_t ms)
{
    std::string text = formatSeconds(ms);
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.')
        text.pop_back();
    return text;
}

std::optional<int64_t> parseStartSegment(const std::string &segment)
{
    size_t pos = 0;
    const auto seconds = digits(segment, pos, 10);
    if (!seconds)
        return std::nullopt;
    int64_t ms = *seconds * 1000;
    if (pos < segment.size()) {
        if (segment[pos] != '.' || pos + 1 == segment.size())
            return std::nullopt;
        const auto part = fraction(segment, pos);
        if (!part || pos != segment.size())
            return std::nullopt;
        ms += *part;
    }
    if (ms > MaxMs)
        return std::nullopt;
    return ms;
}

} // namespace svc
