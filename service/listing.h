#pragma once

#include "service/library.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace svc {

// What every interface shows of the library the same way: listings, covers, ids.

// Reads a decimal id as a request carries it: digits only, no sign, no more than fits.
std::optional<int64_t> parseId(const std::string &text);

// One listing element; folderPath is the library path of the folder that holds it.
nlohmann::json entryJson(const Entry &entry, const std::string &folderPath);

// The entries of the folder named by the request's "id" (the root when there is none), each
// made by entryJson; on a bad or unknown id the error reply is written instead.
std::optional<nlohmann::json> folderListing(Library &library, const httplib::Request &request,
                                            httplib::Response &response);

// What URLs given to a player start with: "http://<Host of the request>", or the address the
// request came in on when it names none (HTTP/1.0).
std::string baseUrlOf(const httplib::Request &request);

// The cover of the entry idText names, or a 404 reply.
void sendCover(Library &library, const std::string &idText, httplib::Response &response);

} // namespace svc
