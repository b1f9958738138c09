#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace svc {

// A DLNA time range, in milliseconds.
struct NptRange
{
    int64_t startMs = 0;
    std::optional<int64_t> endMs; // none: to the end
};

// The value of a TimeSeekRange.dlna.org request header: "npt=<start>-[<end>]", each time either
// seconds ("90", "90.25") or "h:mm:ss[.fff]" ("0:01:30.25"). Fractions finer than a millisecond
// are cut. None for anything else: another unit, "now", a negative or missing start, minutes or
// seconds past 59, an end not after the start.
std::optional<NptRange> parseNptRange(const std::string &value);

// The reply's TimeSeekRange.dlna.org value, "npt=<start>-<end>/<duration>" in seconds with
// milliseconds; an open or too long range ends at the duration. A duration of 0 (unknown) is
// written "*", and an open end is then left open.
std::string formatNptRange(const NptRange &range, int64_t durationMs);

// Seconds with milliseconds, as ffmpeg and the reply take them: "90.250".
std::string formatSeconds(int64_t ms);

// The start segment of "/media/<id>/t/<start>/<name>.ts", for players that cannot send the
// header: seconds, with a fraction only where there is one ("90", "90.25").
std::string formatStartSegment(int64_t ms);
// Plain decimal seconds, as formatStartSegment writes them; none for anything else.
std::optional<int64_t> parseStartSegment(const std::string &segment);

} // namespace svc
