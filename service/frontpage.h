#pragma once

#include "service/httpserver.h"

#include <string>

namespace svc {

// GET / on the headset API's port: a page for a person who opened this PC's address in a
// browser, such as the one built into DeoVR or HereSphere, that says where each player finds
// the library. In English and Chinese on one page; the players' browsers send no language.

// The page for a server at baseUrl ("http://<the address the browser used>").
std::string frontPage(const std::string &baseUrl);

void installFrontPage(HttpServer &server);

} // namespace svc
