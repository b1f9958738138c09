#include "service/vrplayers.h"

#include "service/mediaurls.h"
#include "service/requestrules.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <ctime>
#include <functional>

namespace svc {
namespace {

using Json = nlohmann::ordered_json;

// The length of the valid UTF-8 sequence at text[i], or 0: overlong forms, surrogates and code
// points past U+10FFFF are not valid.
size_t utf8Sequence(std::string_view text, size_t i)
{
    const auto byte = [&text](size_t at) { return static_cast<unsigned char>(text[at]); };
    const unsigned char lead = byte(i);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (i + length > text.size() || byte(i + 1) < low || byte(i + 1) > high)
        return 0;
    for (size_t k = 2; k < length; ++k) {
        if (byte(i + k) < 0x80 || byte(i + k) > 0xbf)
            return 0;
    }
    return length;
}

bool plainJsonByte(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 && byte < 0x80 && c != '"' && c != '\\';
}

// The text as the inside of a JSON string. A byte that is not UTF-8 becomes U+FFFD: one stray
// byte in a file name must not make the whole library unreadable to the player.
void appendEscaped(std::string &out, std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    size_t i = 0;
    while (i < text.size()) {
        size_t end = i;
        while (end < text.size() && plainJsonByte(text[end]))
            ++end;
        out.append(text.data() + i, end - i);
        if (end == text.size())
            break;
        i = end;
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
            ++i;
        } else if (c < 0x20) {
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
            ++i;
        } else if (const size_t length = utf8Sequence(text, i)) {
            out.append(text.data() + i, length);
            i += length;
        } else {
            out += "\xef\xbf\xbd";
            ++i;
        }
    }
}

void appendString(std::string &out, std::string_view text)
{
    out += '"';
    appendEscaped(out, text);
    out += '"';
}

int64_t seconds(int64_t ms)
{
    return ms <= 0 ? 0 : (ms + 500) / 1000;
}

// The names the players give codecs in their lists of encodings.
std::string encodingName(const std::string &codec)
{
    if (codec == "hevc")
        return "h265";
    return codec.empty() ? "original" : codec;
}

// The file itself, and the converted stream where there is one: DeoVR's "encodings" and
// HereSphere's "media", which differ only in the name of their list of sources.
Json streamsOf(const PlayerVideo &video, const std::string &baseUrl, const char *sourcesKey)
{
    const auto stream = [&](const std::string &name, const std::string &url, bool sized) {
        Json source;
        source["resolution"] = video.height;
        source["height"] = video.height;
        source["width"] = video.width;
        if (sized)
            source["size"] = video.size;
        source["url"] = url;
        Json entry;
        entry["name"] = name;
        entry[sourcesKey] = Json::array({ std::move(source) });
        return entry;
    };
    Json streams = Json::array();
    streams.push_back(
        stream(encodingName(video.codec), baseUrl + mediaPath(video.id, video.fileName), true));
    if (video.converted)
        streams.push_back(stream(video.converted->name, baseUrl + video.converted->path, false));
    return streams;
}

std::string dump(const Json &document)
{
    return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool sameTextNoCase(std::string_view text, std::string_view lower)
{
    return text.size() == lower.size()
        && std::equal(text.begin(), text.end(), lower.begin(), [](char a, char b) {
               return (a >= 'A' && a <= 'Z' ? char(a - 'A' + 'a') : a) == b;
           });
}

std::optional<double> numberOf(const Json &value)
{
    if (value.is_number())
        return value.get<double>();
    if (!value.is_string())
        return std::nullopt;
    const std::string &text = value.get_ref<const std::string &>();
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(number))
        return std::nullopt;
    return number;
}

std::optional<bool> flagOf(const Json &value)
{
    if (value.is_boolean())
        return value.get<bool>();
    if (value.is_string()) {
        const std::string &text = value.get_ref<const std::string &>();
        if (sameTextNoCase(text, "true"))
            return true;
        if (sameTextNoCase(text, "false"))
            return false;
    }
    const std::optional<double> number = numberOf(value);
    if (number && (*number == 0 || *number == 1))
        return *number == 1;
    return std::nullopt;
}

// The body as a JSON object, or null when it is none. Bodies come from the LAN: their shape is
// checked before they are parsed, so that nesting cannot run the parser out of stack.
std::optional<Json> objectOf(std::string_view body)
{
    if (!jsonShapeWithin(std::string(body), 8, 1000))
        return std::nullopt;
    Json parsed = Json::parse(body.begin(), body.end(), nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object())
        return std::nullopt;
    return parsed;
}

bool blank(std::string_view body)
{
    return std::all_of(body.begin(), body.end(),
                       [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; });
}

} // namespace

// The libraries are written by hand: ten thousand videos through a JSON tree cost several times
// what the text itself does, and the list is asked for each time a player opens the server.
namespace {

// The sections of a library reply, "[{"name":…,"list":[…]},…]" without the brackets' owner:
// each video written by video, the empty sections left out.
void appendSections(std::string &out, const std::vector<PlayerSection> &sections,
                    const std::function<void(std::string &, const PlayerVideo &)> &video)
{
    bool firstSection = true;
    for (const PlayerSection &section : sections) {
        if (section.videos.empty())
            continue;
        if (!firstSection)
            out += ',';
        firstSection = false;
        out += R"({"name":)";
        appendString(out, section.name);
        out += R"(,"list":[)";
        bool firstVideo = true;
        for (const PlayerVideo &each : section.videos) {
            if (!firstVideo)
                out += ',';
            firstVideo = false;
            video(out, each);
        }
        out += "]}";
    }
}

size_t videoCount(const std::vector<PlayerSection> &sections)
{
    size_t videos = 0;
    for (const PlayerSection &section : sections)
        videos += section.videos.size();
    return videos;
}

} // namespace

std::string deoVrLibrary(const std::vector<PlayerSection> &sections, const std::string &baseUrl)
{
    std::string base;
    appendEscaped(base, baseUrl);
    std::string out;
    out.reserve(64 + videoCount(sections) * (160 + 2 * base.size()));
    out += R"({"authorized":"1","scenes":[)";
    appendSections(out, sections, [&base](std::string &to, const PlayerVideo &video) {
        const std::string id = std::to_string(video.id);
        to += R"({"title":)";
        appendString(to, video.title);
        to += R"(,"videoLength":)";
        to += std::to_string(seconds(video.durationMs));
        if (video.hasCover) {
            to += R"(,"thumbnailUrl":")";
            to += base;
            to += "/covers/";
            to += id;
            to += ".jpg\"";
        }
        to += R"(,"video_url":")";
        to += base;
        to += "/deovr/";
        to += id;
        to += "\"}";
    });
    out += "]}";
    return out;
}

std::string hereSphereLibrary(const std::vector<PlayerSection> &sections,
                              const std::string &baseUrl)
{
    std::string base;
    appendEscaped(base, baseUrl);
    std::string out;
    out.reserve(64 + videoCount(sections) * (32 + base.size()));
    out += R"({"access":1,"library":[)";
    appendSections(out, sections, [&base](std::string &to, const PlayerVideo &video) {
        to += '"';
        to += base;
        to += "/heresphere/";
        to += std::to_string(video.id);
        to += '"';
    });
    out += "]}";
    return out;
}

std::string deoVrVideo(const PlayerVideo &video, const std::string &baseUrl)
{
    Json doc;
    doc["id"] = video.id;
    doc["title"] = video.title;
    doc["authorized"] = "1";
    doc["videoLength"] = seconds(video.durationMs);
    if (video.hasCover)
        doc["thumbnailUrl"] = baseUrl + coverPath(video.id);
    const DeoVrLayout layout = deoVrLayout(video.layout);
    doc["is3d"] = layout.is3d;
    if (layout.screenType)
        doc["screenType"] = layout.screenType;
    if (layout.stereoMode)
        doc["stereoMode"] = layout.stereoMode;
    doc["encodings"] = streamsOf(video, baseUrl, "videoSources");
    doc["fullVideoReady"] = true;
    doc["fullAccess"] = true;
    return dump(doc);
}

std::string hereSphereVideo(const PlayerVideo &video, const std::string &baseUrl, bool withMedia)
{
    Json doc;
    doc["access"] = 1;
    doc["title"] = video.title;
    if (video.hasCover)
        doc["thumbnailImage"] = baseUrl + coverPath(video.id);
    if (video.mtimeMs > 0)
        doc["dateAdded"] = dateText(video.mtimeMs);
    doc["duration"] = std::max<int64_t>(video.durationMs, 0);
    doc["isFavorite"] = video.favorite;
    if (video.rating > 0)
        doc["rating"] = video.rating;
    const HereSphereLayout layout = hereSphereLayout(video.layout);
    doc["projection"] = layout.projection;
    doc["stereo"] = layout.stereo;
    doc["isEyeSwapped"] = layout.eyesSwapped;
    if (layout.fov > 0)
        doc["fov"] = layout.fov;
    doc["lens"] = layout.lens;
    doc["eventServer"] = baseUrl + hereSphereEventsPath(video.id);
    if (!video.subtitles.empty()) {
        Json subtitles = Json::array();
        for (const PlayerSubtitle &subtitle : video.subtitles)
            subtitles.push_back({ { "name", subtitle.name },
                                  { "language", subtitle.language },
                                  { "url", baseUrl + subtitle.path } });
        doc["subtitles"] = std::move(subtitles);
    }
    if (withMedia)
        doc["media"] = streamsOf(video, baseUrl, "sources");
    doc["writeFavorite"] = true;
    doc["writeRating"] = true;
    return dump(doc);
}

HereSphereRequest parseHereSphereRequest(std::string_view body)
{
    HereSphereRequest request;
    if (blank(body))
        return request;
    const std::optional<Json> object = objectOf(body);
    if (!object) {
        request.valid = false;
        return request;
    }
    const auto field = [&object](const char *name) -> const Json * {
        const auto found = object->find(name);
        return found == object->end() ? nullptr : &*found;
    };
    if (const Json *value = field("needsMediaSource"))
        request.needsMediaSource = flagOf(*value).value_or(true);
    if (const Json *value = field("isFavorite"))
        request.favorite = flagOf(*value);
    if (const Json *value = field("rating")) {
        const std::optional<double> rating = numberOf(*value);
        if (rating && *rating >= 0 && *rating <= 5)
            request.rating = rating;
    }
    if (const Json *value = field("deleteFile"))
        request.deleteFile = flagOf(*value).value_or(false);
    return request;
}

HereSphereEvent parseHereSphereEvent(std::string_view body)
{
    HereSphereEvent event;
    const std::optional<Json> object = objectOf(body);
    if (!object)
        return event;
    event.valid = true;
    const auto kind = object->find("event");
    if (kind != object->end()) {
        const std::optional<double> number = numberOf(*kind);
        if (number && *number >= 0 && *number <= 3 && *number == std::floor(*number))
            event.kind = HereSphereEvent::Kind(int(*number));
    }
    const auto time = object->find("time");
    if (time != object->end()) {
        // Milliseconds; more than a century is not a position in any video.
        const std::optional<double> ms = numberOf(*time);
        if (ms && *ms >= 0 && *ms < 3.2e12)
            event.timeMs = std::llround(*ms);
    }
    return event;
}

int64_t resumePositionMs(int64_t stoppedAtMs, int64_t durationMs)
{
    if (stoppedAtMs <= 0)
        return 0;
    if (durationMs <= 0)
        return stoppedAtMs;
    // Starting again a few seconds before the end would only show the end.
    const int64_t tail = std::max<int64_t>(10000, durationMs / 50);
    return stoppedAtMs >= durationMs - tail ? 0 : stoppedAtMs;
}

} // namespace svc
