#include "service/jsonreply.h"

namespace svc {

std::string replyText(int code, const std::string &msg, const nlohmann::json &data)
{
    const nlohmann::json reply { { "code", code }, { "msg", msg }, { "data", data } };
    // File names need not be UTF-8; a listing must still be valid JSON.
    return reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void sendReply(httplib::Response &response, int status, int code, const std::string &msg,
               const nlohmann::json &data)
{
    response.status = status;
    response.set_content(replyText(code, msg, data), "application/json; charset=utf-8");
}

void sendFailure(httplib::Response &response, ApiCode code, const std::string &msg)
{
    sendReply(response, httpStatus(code), code, msg);
}

void sendSuccess(httplib::Response &response, const nlohmann::json &data)
{
    sendReply(response, 200, ApiCode::Ok, std::string(), data);
}

int httpStatus(ApiCode code)
{
    switch (code) {
    case ApiCode::Ok:
    case ApiCode::AlreadyInLibrary:
        return 200;
    case ApiCode::BadRequest:
        return 400;
    case ApiCode::NotFound:
        return 404;
    case ApiCode::NotAccepted:
        return 415;
    case ApiCode::Unreadable:
        return 422;
    case ApiCode::InternalError:
        return 500;
    }
    return 500;
}

} // namespace svc
