#include "service/headsetapi.h"

#include "service/apicodes.h"
#include "service/byterange.h"
#include "service/connectionstream.h"
#include "service/devicename.h"
#include "service/jsonreply.h"
#include "service/listing.h"
#include "service/mediaurls.h"
#include "service/playability.h"
#include "service/subtitles.h"
#include "service/suffixfilter.h"
#include "service/timeseek.h"

#include <algorithm>
#include <memory>

#ifndef VELNOR_SERVICE_VERSION
#define VELNOR_SERVICE_VERSION "0"
#endif

namespace svc {
namespace {

const std::string MediaPrefix = "/media/";

// The body of a converted stream, as ffmpeg makes it (none for HEAD). Whoever stops reading
// ends the stream, and with it ffmpeg: the provider goes with the reply, the stream with the
// provider.
void sendConverted(httplib::Response &response, const std::string &mime,
                   std::shared_ptr<TranscodeStream> stream)
{
    response.set_chunked_content_provider(
        mime,
        [stream, buffer = std::vector<char>(64 * 1024)](size_t, httplib::DataSink &sink) mutable {
            for (;;) {
                const ssize_t got
                    = stream->read(buffer.data(), buffer.size(), std::chrono::seconds(1));
                if (got > 0)
                    return sink.write(buffer.data(), size_t(got));
                if (got == 0) {
                    // A stream ffmpeg did not finish ends without its last chunk: cut short,
                    // as the player must see it.
                    if (stream->failed())
                        return false;
                    sink.done();
                    return true;
                }
                if (!sink.is_writable())
                    return false;
            }
        });
}

} // namespace

HeadsetApi::HeadsetApi(Library &library, Transcoder &transcoder)
    : m_library(library)
    , m_transcoder(transcoder)
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
    // "<id>/t/<start>/<name>.ts": converted.
    if (const size_t mark = rest.find('/'); id && rest.compare(mark + 1, 2, "t/") == 0) {
        const std::string start = rest.substr(mark + 3, rest.find('/', mark + 3) - (mark + 3));
        converted(request, response, *id, start);
        return;
    }
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
    // Players that show subtitles from a header of the video's reply ask for it.
    if (request.get_header_value("getCaptionInfo.sec") == "1") {
        if (const auto entry = m_library.entry(*id)) {
            std::vector<std::string> names = entry->subtitles;
            names.push_back(entry->name);
            const auto sidecars = sidecarSubtitles(entry->realPath, names);
            for (size_t i = 0; i < sidecars.size(); ++i) {
                if (sidecars[i].format == SubtitleFormat::SubRip) {
                    response.set_header("CaptionInfo.sec",
                                        baseUrlOf(request)
                                            + subtitlePath(entry->id, i, sidecars[i].fileName));
                    break;
                }
            }
        }
    }
    response.set_header("Content-Type", videoContentType(found.video->name));
    response.set_header("Content-Length", std::to_string(length));
    if (request.method != "HEAD" && length > 0)
        connection.sendAfterHead({ found.video->file->fd(), first, length, found.video->file });
}

void HeadsetApi::converted(const httplib::Request &request, httplib::Response &response, int64_t id,
                           const std::string &start)
{
    const auto startMs = parseStartSegment(start);
    const auto entry = startMs ? m_library.entry(id) : std::nullopt;
    if (!entry || entry->type != EntryType::Video) {
        sendReply(response, 404, ApiCode::NotFound,
                  "no converted stream of video " + std::to_string(id));
        return;
    }
    const StreamFacts facts = streamFacts(entry->info);
    const Delivery delivery = decideDelivery(facts);
    if (delivery == Delivery::Direct) {
        sendReply(response, 404, ApiCode::NotFound,
                  "video " + std::to_string(id) + " plays as it is, at "
                      + mediaPath(entry->id, entry->name));
        return;
    }
    NptRange range { *startMs, std::nullopt };
    const std::string seek = request.get_header_value("TimeSeekRange.dlna.org");
    if (!seek.empty()) {
        const auto asked = parseNptRange(seek);
        if (!asked) {
            sendReply(response, 400, ApiCode::BadRequest, "not a time range: " + seek);
            return;
        }
        range.startMs = asked->startMs;
    }
    const int64_t durationMs = entry->info.durationMs;
    if (durationMs > 0 && range.startMs >= durationMs) {
        sendReply(response, 416, ApiCode::BadRequest,
                  "the video ends before " + formatSeconds(range.startMs) + " s");
        return;
    }
    // The stream has no length: it is sent whole, and seeking goes by time. "bytes=0-", which
    // players send to ask for what there is, means the whole stream.
    const std::string bytes = request.get_header_value("Range");
    if (!bytes.empty() && asciiLower(bytes) != "bytes=0-") {
        sendReply(response, 406, ApiCode::BadRequest,
                  "a converted stream is sent whole; seek by time (TimeSeekRange.dlna.org) or "
                  "by its URL");
        return;
    }
    const ConvertedType type = convertedType(facts, delivery);
    response.set_header("transferMode.dlna.org", "Streaming");
    response.set_header("contentFeatures.dlna.org", type.features);
    if (!seek.empty())
        response.set_header("TimeSeekRange.dlna.org", formatNptRange(range, durationMs));
    std::shared_ptr<TranscodeStream> stream;
    if (request.method != "HEAD") {
        Transcoder::Started started
            = m_transcoder.start(entry->realPath, facts, delivery, range.startMs);
        if (started.refusal != Transcoder::Refusal::None) {
            const bool busy = started.refusal == Transcoder::Refusal::Busy
                || started.refusal == Transcoder::Refusal::Stopping;
            response.headers.erase("TimeSeekRange.dlna.org");
            sendReply(response, busy ? 503 : 500,
                      busy ? ApiCode::BadRequest : ApiCode::InternalError, started.reason);
            return;
        }
        stream = std::move(started.stream);
    }
    response.status = 200;
    sendConverted(response, type.mime, std::move(stream));
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
