#include "service/vrplayersapi.h"

#include "service/apicodes.h"
#include "service/jsonreply.h"
#include "service/listing.h"
#include "service/log.h"
#include "service/mediaurls.h"
#include "service/pathutil.h"
#include "service/playability.h"
#include "service/subtitles.h"

#include <fstream>
#include <sstream>

namespace svc {
namespace {

// Whatever a player sends, a library of ten thousand videos and a few players' addresses.
constexpr size_t KeptTexts = 16;
// Subtitles are small; a file this large is not one.
constexpr std::streamoff MaxSubtitleBytes = 16 << 20;

const char *const JsonType = "application/json; charset=utf-8";

std::string stem(const std::string &fileName)
{
    const size_t dot = fileName.rfind('.');
    return dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
}

std::optional<Entry> videoOf(Library &library, const std::string &idText)
{
    const auto id = parseId(idText);
    auto entry = id ? library.entry(*id) : std::nullopt;
    if (!entry || entry->type != EntryType::Video)
        return std::nullopt;
    return entry;
}

void sendHereSphere(httplib::Response &response, const std::string &text)
{
    response.set_header(HereSphereVersionHeader, "1");
    response.set_content(text, JsonType);
}

} // namespace

PlayerVideo playerVideo(const Entry &entry)
{
    PlayerVideo video;
    video.id = entry.id;
    video.fileName = entry.name;
    video.title = stem(entry.name);
    video.durationMs = entry.info.durationMs;
    video.width = entry.info.width;
    video.height = entry.info.height;
    video.size = entry.size;
    video.mtimeMs = entry.mtimeMs;
    video.hasCover = entry.hasCover;
    video.layout = videoLayout(entry.name, entry.info.layout);
    video.codec = entry.info.codec;
    const StreamFacts facts = streamFacts(entry.info);
    if (decideDelivery(facts) != Delivery::Direct)
        video.converted = PlayerStream { streamPath(entry.id, 0, entry.name), "h264" };
    video.favorite = entry.playback.favorite;
    video.rating = entry.playback.rating;
    std::vector<std::string> names = entry.subtitles;
    names.push_back(entry.name);
    const std::vector<SidecarSubtitle> sidecars = sidecarSubtitles(entry.realPath, names);
    for (size_t i = 0; i < sidecars.size(); ++i)
        video.subtitles.push_back({ sidecars[i].fileName, sidecars[i].language,
                                    subtitlePath(entry.id, i, sidecars[i].fileName) });
    return video;
}

VrPlayersApi::VrPlayersApi(Library &library)
    : m_library(library)
{
}

void VrPlayersApi::install(HttpServer &server)
{
    const auto bind
        = [this](void (VrPlayersApi::*handler)(const httplib::Request &, httplib::Response &)) {
              return httplib::Server::Handler(
                  [this, handler](const httplib::Request &request, httplib::Response &response) {
                      (this->*handler)(request, response);
                  });
          };
    // The players ask with GET or POST (HereSphere always posts); GET answers HEAD too.
    for (const auto &[pattern, handler] :
         std::initializer_list<std::pair<const char *, httplib::Server::Handler>> {
             { "/deovr/?", bind(&VrPlayersApi::deoVrLibrary) },
             { R"(/deovr/(\d+))", bind(&VrPlayersApi::deoVrVideo) },
             { "/heresphere/?", bind(&VrPlayersApi::hereSphereLibrary) },
             { R"(/heresphere/(\d+))", bind(&VrPlayersApi::hereSphereVideo) } }) {
        server.Get(pattern, handler);
        server.Post(pattern, handler);
    }
    server.Post(R"(/heresphere/events/(\d+))", bind(&VrPlayersApi::hereSphereEvent));
    server.Get(R"(/subtitles/(\d+)/(\d+)/[^/]*)", bind(&VrPlayersApi::subtitle));
}

std::vector<PlayerSection> VrPlayersApi::sections()
{
    // One section per top-level folder, in the library's order, and one for the videos
    // imported on their own, where the first of them stands.
    std::vector<PlayerSection> sections;
    std::map<int64_t, size_t> byTop;
    for (const Entry &top : m_library.children(0)) {
        if (top.type == EntryType::Folder) {
            byTop[top.id] = sections.size();
            sections.push_back({ top.name, {} });
        }
    }
    std::optional<size_t> singles;
    for (auto &[top, entry] : m_library.videosByTree()) {
        auto section = byTop.find(top);
        if (section == byTop.end()) {
            if (!singles) {
                singles = sections.size();
                sections.push_back({ SingleVideosSection, {} });
            }
            sections[*singles].videos.push_back(playerVideo(entry));
            continue;
        }
        sections[section->second].videos.push_back(playerVideo(entry));
    }
    return sections;
}

std::string VrPlayersApi::libraryText(const std::string &player, const std::string &baseUrl)
{
    const uint64_t generation = m_library.generation();
    const std::string key = player + '\n' + baseUrl;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto kept = m_kept.find(key);
        if (kept != m_kept.end() && kept->second.generation == generation)
            return kept->second.text;
    }
    const std::vector<PlayerSection> all = sections();
    std::string text = player == "deovr" ? svc::deoVrLibrary(all, baseUrl)
                                         : svc::hereSphereLibrary(all, baseUrl);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_kept.size() >= KeptTexts)
        m_kept.clear();
    m_kept[key] = { generation, text };
    return text;
}

void VrPlayersApi::deoVrLibrary(const httplib::Request &request, httplib::Response &response)
{
    response.set_content(libraryText("deovr", baseUrlOf(request)), JsonType);
}

void VrPlayersApi::deoVrVideo(const httplib::Request &request, httplib::Response &response)
{
    const auto entry = videoOf(m_library, request.matches[1]);
    if (!entry) {
        sendFailure(response, ApiCode::NotFound, "no video " + std::string(request.matches[1]));
        return;
    }
    response.set_content(svc::deoVrVideo(playerVideo(*entry), baseUrlOf(request)), JsonType);
}

void VrPlayersApi::hereSphereLibrary(const httplib::Request &request, httplib::Response &response)
{
    sendHereSphere(response, libraryText("heresphere", baseUrlOf(request)));
}

void VrPlayersApi::hereSphereVideo(const httplib::Request &request, httplib::Response &response)
{
    const HereSphereRequest asked = parseHereSphereRequest(request.body);
    auto entry = videoOf(m_library, request.matches[1]);
    if (!entry) {
        sendFailure(response, ApiCode::NotFound, "no video " + std::string(request.matches[1]));
        response.set_header(HereSphereVersionHeader, "1");
        return;
    }
    // The person's files are theirs: nothing on the network deletes one.
    if (asked.deleteFile) {
        logWarning("a player on ", request.remote_addr, " asked to delete ", entry->realPath,
                   "; refused");
        sendFailure(response, ApiCode::NotAccepted, "files are not deleted from here");
        response.status = 403;
        response.set_header(HereSphereVersionHeader, "1");
        return;
    }
    if (asked.favorite || asked.rating) {
        m_library.changePlayback(entry->id, [&asked](Playback &playback) {
            if (asked.favorite)
                playback.favorite = *asked.favorite;
            if (asked.rating)
                playback.rating = *asked.rating;
        });
        entry = m_library.entry(entry->id);
    }
    sendHereSphere(
        response,
        svc::hereSphereVideo(playerVideo(*entry), baseUrlOf(request), asked.needsMediaSource));
}

void VrPlayersApi::hereSphereEvent(const httplib::Request &request, httplib::Response &response)
{
    response.set_header(HereSphereVersionHeader, "1");
    const HereSphereEvent event = parseHereSphereEvent(request.body);
    const auto entry = videoOf(m_library, request.matches[1]);
    if (!entry || !event.valid) {
        sendFailure(response, entry ? ApiCode::BadRequest : ApiCode::NotFound,
                    entry ? "not a playback event" : "no such video");
        return;
    }
    if (event.countsPlay() || event.leavesPosition()) {
        const int64_t duration = entry->info.durationMs;
        m_library.changePlayback(entry->id, [&event, duration](Playback &playback) {
            if (event.countsPlay())
                ++playback.playCount;
            if (event.leavesPosition())
                playback.positionMs = resumePositionMs(*event.timeMs, duration);
        });
    }
    sendSuccess(response, nullptr);
}

void VrPlayersApi::subtitle(const httplib::Request &request, httplib::Response &response)
{
    const auto entry = videoOf(m_library, request.matches[1]);
    const auto index = parseId(request.matches[2]);
    if (!entry || !index || *index >= int64_t(entry->subtitles.size())) {
        sendFailure(response, ApiCode::NotFound, "no such subtitles");
        return;
    }
    std::vector<std::string> names = entry->subtitles;
    names.push_back(entry->name);
    const std::vector<SidecarSubtitle> sidecars = sidecarSubtitles(entry->realPath, names);
    if (size_t(*index) >= sidecars.size()) {
        sendFailure(response, ApiCode::NotFound, "no such subtitles");
        return;
    }
    const SidecarSubtitle &sidecar = sidecars[size_t(*index)];
    // The library names the file, beside its video; nothing of the request's path is used.
    std::ifstream file(parentPath(entry->realPath) + "/" + sidecar.fileName, std::ios::binary);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf()) || text.tellp() > MaxSubtitleBytes) {
        sendFailure(response, ApiCode::NotFound, "the subtitles are gone");
        return;
    }
    response.set_header("Cache-Control", "no-cache");
    response.set_content(text.str(), subtitleMimeType(sidecar.format));
}

} // namespace svc
