#pragma once

#include "service/apicodes.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <string>

namespace svc {

// Every JSON reply of the service, on either interface, is one object {"code", "msg", "data"}:
// "code" 0 for success, a negative ApiCode saying why not, "msg" the reason in words.
std::string replyText(int code, const std::string &msg, const nlohmann::json &data = nullptr);

// Writes the reply object with the given HTTP status.
void sendReply(httplib::Response &response, int status, int code, const std::string &msg,
               const nlohmann::json &data = nullptr);
// The same with the HTTP status that goes with code.
void sendFailure(httplib::Response &response, ApiCode code, const std::string &msg);
void sendSuccess(httplib::Response &response, const nlohmann::json &data);

int httpStatus(ApiCode code);

} // namespace svc
