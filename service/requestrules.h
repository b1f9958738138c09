#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace svc {

// Small judgements of request headers and bodies that the listeners make before any route runs.

// A header value without the blanks and tabs around it.
std::string trimmed(const std::string &text);

// A Host header that names the loopback interface on port: 127.0.0.1, localhost or [::1], each
// with that port. A page in a browser can reach the loopback through a name of its own (DNS
// rebinding), but the Host it sends is then that name.
bool isLoopbackHost(const std::string &host, int port);

// A Host header that is an address literal (dotted IPv4 or bracketed IPv6), with or without a
// port: what players on the LAN send, and what no rebound name can be.
bool isAddressLiteralHost(const std::string &host);

// application/json, with or without parameters such as a charset.
bool isJsonContentType(const std::string &value);

// A Content-Length as HTTP writes it: decimal digits only, no more than fits.
std::optional<uint64_t> parseContentLength(const std::string &value);

// Whether the arrays and objects of a JSON text nest no deeper than maxDepth and hold no more
// than maxItems elements in all. A cheap scan that tells nothing about validity, made so that a
// body of a million brackets, which a parser would build into a million arrays, is refused
// before it is parsed.
bool jsonShapeWithin(const std::string &text, size_t maxDepth, size_t maxItems);

} // namespace svc
