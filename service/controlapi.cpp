#include "service/controlapi.h"

#include "service/apicodes.h"
#include "service/devicename.h"
#include "service/httpserver.h"
#include "service/jsonreply.h"
#include "service/lanaddresses.h"
#include "service/listing.h"
#include "service/log.h"
#include "service/pathutil.h"
#include "service/requestrules.h"

namespace svc {
namespace {

using nlohmann::json;

// Our bodies nest two deep and hold a dozen values; a parser given a megabyte of brackets
// builds a million arrays, tens of megabytes that the allocator keeps.
constexpr size_t MaxBodyDepth = 8;
constexpr size_t MaxBodyItems = 1000;

// A request body that must be a JSON object; nothing when it is not (the reply is written).
std::optional<json> objectBody(const httplib::Request &request, httplib::Response &response)
{
    if (!jsonShapeWithin(request.body, MaxBodyDepth, MaxBodyItems)) {
        sendFailure(response, ApiCode::BadRequest,
                    "the body nests deeper or holds more than any request of ours");
        return std::nullopt;
    }
    json body = json::parse(request.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        sendFailure(response, ApiCode::BadRequest, "the body is not a JSON object");
        return std::nullopt;
    }
    return body;
}

bool isMissing(const json &body, const char *key)
{
    const auto found = body.find(key);
    return found == body.end() || found->is_null();
}

} // namespace

ControlApi::ControlApi(Library &library, Importer &importer, RequestRegistry &requests)
    : m_library(library)
    , m_importer(importer)
    , m_requests(requests)
{
}

void ControlApi::install(HttpServer &server)
{
    ListenerRules rules;
    rules.host = HostRule::Loopback;
    rules.assistantOnly = true;
    // Every client is this PC, the assistant among them.
    rules.connectionsPerClient = 0;
    server.setRules(rules);
    const auto bind
        = [this](void (ControlApi::*handler)(const httplib::Request &, httplib::Response &)) {
              return httplib::Server::Handler(
                  [this, handler](const httplib::Request &request, httplib::Response &response) {
                      (this->*handler)(request, response);
                  });
          };
    server.Post("/files", bind(&ControlApi::postFiles));
    server.Get("/files", bind(&ControlApi::listFiles));
    server.Delete(R"(/files/([^/]*))", bind(&ControlApi::deleteFile));
    server.Get("/settings/?", bind(&ControlApi::getSettings));
    server.Put("/settings/?", bind(&ControlApi::putSettings));
    server.Delete(R"(/requests/([^/]+))", bind(&ControlApi::cancelRequest));
    server.Get(R"(/covers/([^/]+)\.jpg)", bind(&ControlApi::getCover));
    server.Get("/lan/addresses", bind(&ControlApi::lanAddresses));
}

namespace {

// The import a POST /files body asks for; nothing when it asks for none (the reply is written).
std::optional<ImportRequest> importRequestOf(const json &body, httplib::Response &response)
{
    const auto path = body.find("path");
    if (path == body.end() || !path->is_string() || path->get_ref<const std::string &>().empty()) {
        sendFailure(response, ApiCode::BadRequest, "\"path\" must be a non-empty string");
        return std::nullopt;
    }
    ImportRequest import;
    import.byPerson = true;
    std::string error;
    const auto normal = normalizeLocalPath(path->get<std::string>(), error);
    if (!normal) {
        sendFailure(response, ApiCode::BadRequest, error);
        return std::nullopt;
    }
    import.path = *normal;
    if (isSystemTree(import.path)) {
        sendFailure(response, ApiCode::NotAccepted,
                    "the file system root and the system's own trees cannot be imported: "
                        + import.path);
        return std::nullopt;
    }
    if (!isMissing(body, "filters")) {
        const json &filters = body.at("filters");
        std::vector<std::string> suffixes;
        bool valid = filters.is_array();
        for (const json &item : valid ? filters : json::array()) {
            valid = valid && item.is_string();
            if (valid)
                suffixes.push_back(item.get<std::string>());
        }
        if (!valid) {
            sendFailure(response, ApiCode::BadRequest, "\"filters\" must be an array of suffixes");
            return std::nullopt;
        }
        if (!suffixes.empty())
            import.filter = SuffixFilter(suffixes);
    }
    if (!isMissing(body, "pid")) {
        const json &pid = body.at("pid");
        if (!pid.is_number_integer() || (!pid.is_number_unsigned() && pid.get<int64_t>() < 0)) {
            sendFailure(response, ApiCode::BadRequest, "\"pid\" must be a folder id (0 or more)");
            return std::nullopt;
        }
        import.pid = pid.is_number_unsigned()
            ? int64_t(std::min<uint64_t>(pid.get<uint64_t>(), uint64_t(INT64_MAX)))
            : pid.get<int64_t>();
    }
    // The whole tree is always imported, so "depth" is accepted but not used.
    if (!isMissing(body, "depth") && !body.at("depth").is_number()) {
        sendFailure(response, ApiCode::BadRequest, "\"depth\" must be a number");
        return std::nullopt;
    }
    return import;
}

void sendOutcome(const ImportRequest &import, const ImportOutcome &outcome,
                 httplib::Response &response)
{
    switch (outcome.status) {
    case ImportOutcome::Status::Cancelled:
        // The assistant has given up waiting; an empty reply makes it show nothing.
        logInfo("import of ", import.path, " cancelled");
        response.status = 204;
        return;
    case ImportOutcome::Status::AlreadyInLibrary:
        sendReply(response, 200, ApiCode::AlreadyInLibrary, "the file is already in the library",
                  { { "pid", outcome.pid }, { "id", outcome.id } });
        return;
    case ImportOutcome::Status::Failed:
        logWarning("import of ", import.path, " failed: ", outcome.message);
        sendFailure(response, outcome.code, outcome.message);
        return;
    case ImportOutcome::Status::Imported:
        break;
    }
    if (outcome.folder) {
        sendSuccess(response,
                    { { "type", "directory" },
                      { "successCount", outcome.successCount },
                      { "failureCount", outcome.failureCount },
                      { "pid", outcome.pid },
                      { "id", outcome.id } });
    } else {
        sendSuccess(response,
                    { { "type", "video" }, { "pid", outcome.pid }, { "id", outcome.id } });
    }
}

} // namespace

void ControlApi::postFiles(const httplib::Request &request, httplib::Response &response)
{
    const auto body = objectBody(request, response);
    const auto import = body ? importRequestOf(*body, response) : std::nullopt;
    if (!import)
        return;
    ImportOutcome outcome;
    {
        const RequestRegistry::Scope running(m_requests, request.get_param_value("reqId"));
        outcome = m_importer.run(*import, running.cancelled());
    }
    sendOutcome(*import, outcome, response);
}

void ControlApi::listFiles(const httplib::Request &request, httplib::Response &response)
{
    if (auto entries = folderListing(m_library, request, response))
        sendSuccess(response, *entries);
}

void ControlApi::deleteFile(const httplib::Request &request, httplib::Response &response)
{
    const auto id = parseId(request.matches[1]);
    if (!id || *id == 0) {
        sendFailure(response, ApiCode::BadRequest,
                    "invalid entry id: " + std::string(request.matches[1]));
        return;
    }
    if (!m_library.remove(*id)) {
        sendFailure(response, ApiCode::NotFound, "no entry with id " + std::to_string(*id));
        return;
    }
    logInfo("removed entry ", *id, " from the library");
    sendSuccess(response, { { "id", *id } });
}

void ControlApi::getSettings(const httplib::Request &, httplib::Response &response)
{
    sendSuccess(response, { { DeviceNameKey, deviceNameSetting(m_library) } });
}

void ControlApi::putSettings(const httplib::Request &request, httplib::Response &response)
{
    const auto body = objectBody(request, response);
    if (!body)
        return;
    const auto name = body->find(DeviceNameKey);
    if (name == body->end() || !name->is_string()) {
        sendFailure(response, ApiCode::BadRequest, "\"deviceName\" must be a string");
        return;
    }
    std::string error;
    const auto valid = validDeviceName(name->get<std::string>(), error);
    if (!valid) {
        sendFailure(response, ApiCode::BadRequest, error);
        return;
    }
    m_library.setSetting(DeviceNameKey, *valid);
    sendSuccess(response, { { DeviceNameKey, *valid } });
}

void ControlApi::cancelRequest(const httplib::Request &request, httplib::Response &response)
{
    const std::string reqId = request.matches[1];
    if (!m_requests.cancel(reqId)) {
        sendFailure(response, ApiCode::NotFound, "no running request " + reqId);
        return;
    }
    logInfo("cancelling request ", reqId);
    sendSuccess(response, { { "reqId", reqId } });
}

void ControlApi::getCover(const httplib::Request &request, httplib::Response &response)
{
    sendCover(m_library, request.matches[1], response);
}

void ControlApi::lanAddresses(const httplib::Request &, httplib::Response &response)
{
    // Where a person points a headset's player: the assistant shows
    // http://<first address>:<port>/deovr. Read at each request: addresses come and go.
    sendSuccess(response, { { "port", m_lanPort.load() }, { "addresses", svc::lanAddresses() } });
}

} // namespace svc
