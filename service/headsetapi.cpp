#include "service/headsetapi.h"

#include "service/apicodes.h"
#include "service/byterange.h"
#include "service/connectionstream.h"
#include "service/devicename.h"
#include "service/jsonreply.h"
#include "service/listing.h"
#include "service/mediaurls.h"
#include "service/suffixfilter.h"

#include <algorithm>
#include <memory>

#ifndef VELNOR_SERVICE_VERSION
#define VELNOR_SERVICE_VERSION "0"
#endif

namespace svc {
namespace {

const std::string MediaPrefix = "/media/";

} // namespace

HeadsetApi::HeadsetApi(Library &library)
    : m_library(library)
    , m_files(library)
{
}

void HeadsetApi::install(HttpServer &server)
{
    const auto bind
        = [this](void (HeadsetApi::*handler)(const httplib::Request &, httplib::Response &)) {
              return httplib::Server::Handler(
                  [this, handler](const httplib::Request &request, httplib::Response &response) {
                      (this->*handler)(request, response);
                  });
          };
    server.Get("/api/info", bind(&HeadsetApi::info));
    server.Get("/api/files", bind(&HeadsetApi::files));
    // GET handlers answer HEAD as well, without the body.
    server.addStreamRoute(
        MediaPrefix,
        [this](const httplib::Request &request, httplib::Response &response,
               ConnectionStream &connection) { media(request, response, connection); });
    server.Get(R"(/covers/([^/]+)\.jpg)", bind(&HeadsetApi::cover));
}

void HeadsetApi::info(const httplib::Request &, httplib::Response &response)
{
    // The update id lets a player that keeps listings know whether they are still current.
    sendReply(response, 200, ApiCode::Ok, std::string(),
              { { "deviceName", deviceNameSetting(m_library) },
                { "version", VELNOR_SERVICE_VERSION },
                { "systemUpdateId", m_library.updateId() } });
}

void HeadsetApi::files(const httplib::Request &request, httplib::Response &response)
{
    auto entries = folderListing(m_library, request, response);
    if (!entries)
        return;
    // The PC's own paths are of no use to a player and stay on the PC.
    for (nlohmann::json &entry : *entries) {
        entry.erase("real_path");
        if (entry.value("type", std::string()) == "video")
            entry["stream_url"] = MediaPrefix + std::to_string(entry.value("id", int64_t(0)));
    }
    sendReply(response, 200, ApiCode::Ok, std::string(), *entries);
}

void HeadsetApi::media(const httplib::Request &request, httplib::Response &response,
                       ConnectionStream &connection)
{
    // "/media/<id>" or "/media/<id>/<file name>": the name is there for the players, the id
    // alone finds the video.
    const std::string rest = request.path.substr(MediaPrefix.size());
    const std::string idText = rest.substr(0, rest.find('/'));
    const auto id = parseId(idText);
    // The file a player's last request opened serves its next one, while it is still the file.
    const auto recent = std::static_pointer_cast<const OpenVideoCache::Video>(connection.kept());
    const OpenVideoCache::Result found = id ? m_files.open(*id, recent) : OpenVideoCache::Result();
    connection.keep(found.video);
    if (found.outcome == OpenVideoCache::Outcome::NoVideo) {
        sendReply(response, 404, ApiCode::NotFound, "no video " + idText);
        return;
    }
    if (found.outcome == OpenVideoCache::Outcome::Gone) {
        sendReply(response, 404, ApiCode::NotFound, "the file of video " + idText + " is gone");
        return;
    }
    const uint64_t size = found.size;
    const RangeChoice range = chooseRange(request.get_header_value("Range"), size);
    response.set_header("Accept-Ranges", "bytes");
    response.set_header("transferMode.dlna.org", "Streaming");
    response.set_header("contentFeatures.dlna.org", VideoFeatures);
    if (range.kind == RangeChoice::Kind::Unsatisfiable) {
        sendReply(response, 416, ApiCode::BadRequest, "range not satisfiable");
        response.set_header("Content-Range", "bytes */" + std::to_string(size));
        return;
    }
    uint64_t first = 0;
    uint64_t length = size;
    response.status = 200;
    if (range.kind == RangeChoice::Kind::Partial) {
        first = range.first;
        length = range.length;
        response.status = 206;
        response.set_header("Content-Range",
                            "bytes " + std::to_string(first) + "-"
                                + std::to_string(first + length - 1) + "/" + std::to_string(size));
    }
    // The head says how long the body is; the connection sends the body itself, piece by
    // piece from the page cache, so a long video is never held in memory. A file cut short
    // meanwhile cannot fill the promised length: the connection is dropped.
    response.set_header("Content-Type", videoContentType(found.video->name));
    response.set_header("Content-Length", std::to_string(length));
    if (request.method != "HEAD" && length > 0)
        connection.sendAfterHead({ found.video->file->fd(), first, length, found.video->file });
}

void HeadsetApi::cover(const httplib::Request &request, httplib::Response &response)
{
    sendCover(m_library, request.matches[1], response);
    // A cover's reply keeps its status unset (-1) until the library sends it; a failure has one.
    if (response.status == -1 || response.status == 200) {
        response.set_header("transferMode.dlna.org", "Interactive");
        response.set_header("contentFeatures.dlna.org", CoverFeatures);
    }
}

} // namespace svc
