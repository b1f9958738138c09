#pragma once

#include "service/mediaurls.h"
#include "service/vrlayout.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace svc {

// The JSON interfaces of the VR players (DeoVR's and HereSphere's), built from plain data. Every
// URL in them is absolute, made of the base URL, "http://<Host of the request>", and a path of
// ours: players on a PC with two networks reach us by the address they asked, and DeoVR shows
// no cover at a relative address.
//
// Paths: the videos' own JSON at /deovr/<id> and /heresphere/<id>, HereSphere's events at
// /heresphere/events/<id>, covers at /covers/<id>.jpg, the file at /media/<id>/<file name>,
// subtitles at /subtitles/<id>/<n>/<file name> (n: the sidecar's place in the video's list).

// HereSphere reads this header on every reply of its interface, value "1".
constexpr const char *HereSphereVersionHeader = "HereSphere-JSON-Version";
// The section of the videos imported one by one, beside one for each imported folder.
constexpr const char *SingleVideosSection = "Single videos";

struct PlayerSubtitle
{
    std::string name; // the file's name; HereSphere tells the format by its end (".srt")
    std::string language;
    std::string path; // on our server, as subtitlePath gives it
};

// A second way to play the video, such as a stream converted for the headset.
struct PlayerStream
{
    std::string path; // on our server
    std::string name; // "h264"; its size is not known beforehand
};

struct PlayerVideo
{
    int64_t id = 0;
    std::string fileName; // makes the file's URL, whose end players read the layout from
    std::string title;
    int64_t durationMs = 0;
    int width = 0;
    int height = 0;
    int64_t size = 0;
    int64_t mtimeMs = 0;
    bool hasCover = false;
    VrLayout layout;
    std::string codec; // as libavcodec names it ("hevc")
    std::optional<PlayerStream> converted;
    bool favorite = false;
    double rating = 0; // 0 to 5; 0: not rated
    std::vector<PlayerSubtitle> subtitles;
};

// One imported folder (or the single videos), its videos in the library's order.
struct PlayerSection
{
    std::string name;
    std::vector<PlayerVideo> videos;
};

// Sections in the library's order; empty ones are left out.
std::string deoVrLibrary(const std::vector<PlayerSection> &sections, const std::string &baseUrl);
std::string deoVrVideo(const PlayerVideo &video, const std::string &baseUrl);
std::string hereSphereLibrary(const std::vector<PlayerSection> &sections,
                              const std::string &baseUrl);
// withMedia false (HereSphere's "needsMediaSource": false) leaves the sources out.
std::string hereSphereVideo(const PlayerVideo &video, const std::string &baseUrl, bool withMedia);

// What a HereSphere request for a video's JSON asks besides. Fields come as the players send
// them or close to it (a flag as 0/1 or "true"); one of a wrong type or out of range counts as
// not sent, so a garbled body changes nothing.
struct HereSphereRequest
{
    bool valid = true; // false: not a JSON object; nothing else in it was read
    bool needsMediaSource = true;
    std::optional<bool> favorite;
    std::optional<double> rating; // 0 to 5
    bool deleteFile = false; // asked for: never done, the PC's files are the person's
};
HereSphereRequest parseHereSphereRequest(std::string_view body);

// A playback event HereSphere posts to the eventServer. Neither player's JSON has a field for
// where to start a video, so a position kept from these waits for one that has.
struct HereSphereEvent
{
    enum class Kind { Open = 0, Play = 1, Pause = 2, Close = 3, Unknown = -1 };
    bool valid = false;
    Kind kind = Kind::Unknown;
    std::optional<int64_t> timeMs; // where playback stood

    // Opening a video to watch it counts a play; pausing or closing it leaves a place to resume.
    bool countsPlay() const { return kind == Kind::Open; }
    bool leavesPosition() const { return (kind == Kind::Pause || kind == Kind::Close) && timeMs; }
};
HereSphereEvent parseHereSphereEvent(std::string_view body);

// Where the next playback should start after one stopped at stoppedAtMs: from the start when it
// stopped in the last moments (the last 10 s, or the last 2% of a long video), else there.
// durationMs 0 means unknown.
int64_t resumePositionMs(int64_t stoppedAtMs, int64_t durationMs);

} // namespace svc
