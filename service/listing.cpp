#include "service/listing.h"

#include "service/jsonreply.h"
#include "service/mediaurls.h"

namespace svc {

using nlohmann::json;

std::optional<int64_t> parseId(const std::string &text)
{
    if (text.empty() || text.size() > 18)
        return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

json entryJson(const Entry &entry, const std::string &folderPath)
{
    json item { { "id", entry.id },
                { "pid", entry.parentId },
                { "name", entry.name },
                { "real_path", entry.realPath },
                { "path", folderPath + "/" + entry.name },
                { "create_time", entry.mtimeMs } };
    if (entry.type == EntryType::Folder) {
        item["type"] = "directory";
        item["size"] = 0;
    } else {
        item["type"] = "video";
        item["size"] = entry.size;
        item["metadata"]
            = { { "height", entry.info.height },
                { "width", entry.info.width },
                { "duration", entry.info.durationMs },
                { "codec", entry.info.codec },
                { "cover_img", entry.hasCover ? coverPath(entry.id) : std::string() } };
    }
    return item;
}

std::optional<json> folderListing(Library &library, const httplib::Request &request,
                                  httplib::Response &response)
{
    int64_t id = 0;
    if (request.has_param("id")) {
        const auto parsed = parseId(request.get_param_value("id"));
        if (!parsed) {
            sendFailure(response, ApiCode::BadRequest,
                        "invalid folder id: " + request.get_param_value("id"));
            return std::nullopt;
        }
        id = *parsed;
    }
    if (id != 0) {
        const auto folder = library.entry(id);
        if (!folder) {
            sendFailure(response, ApiCode::NotFound, "no folder with id " + std::to_string(id));
            return std::nullopt;
        }
        if (folder->type != EntryType::Folder) {
            sendFailure(response, ApiCode::BadRequest,
                        "entry " + std::to_string(id) + " is not a folder");
            return std::nullopt;
        }
    }
    const std::string folderPath = library.libraryPath(id);
    json entries = json::array();
    for (const Entry &entry : library.children(id))
        entries.push_back(entryJson(entry, folderPath));
    return entries;
}

std::string baseUrlOf(const httplib::Request &request)
{
    // The listener answers only Hosts that are address literals, so this is one.
    if (request.has_header("Host"))
        return "http://" + request.get_header_value("Host");
    return serverBaseUrl(request.local_addr, request.local_port);
}

void sendCover(Library &library, const std::string &idText, httplib::Response &response)
{
    const auto id = parseId(idText);
    const auto jpeg = id ? library.cover(*id) : std::nullopt;
    if (!jpeg) {
        sendFailure(response, ApiCode::NotFound, "no cover " + idText);
        return;
    }
    // A rescan may replace a cover under the same id.
    response.set_header("Cache-Control", "no-cache");
    response.set_content(reinterpret_cast<const char *>(jpeg->data()), jpeg->size(), "image/jpeg");
}

} // namespace svc
