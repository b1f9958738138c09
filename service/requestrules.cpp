#include "service/requestrules.h"

#include "service/suffixfilter.h"

#include <arpa/inet.h>

#include <limits>

namespace svc {
namespace {

bool isPort(const std::string &text)
{
    if (text.empty() || text.size() > 5
        || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const int port = std::stoi(text);
    return port > 0 && port <= 65535;
}

} // namespace

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isLoopbackHost(const std::string &host, int port)
{
    const std::string name = asciiLower(host);
    const std::string suffix = ":" + std::to_string(port);
    return name == "127.0.0.1" + suffix || name == "localhost" + suffix || name == "[::1]" + suffix;
}

bool isAddressLiteralHost(const std::string &host)
{
    std::string address;
    std::string rest;
    int family = AF_INET;
    if (!host.empty() && host[0] == '[') {
        const auto close = host.find(']');
        if (close == std::string::npos)
            return false;
        address = host.substr(1, close - 1);
        rest = host.substr(close + 1);
        family = AF_INET6;
    } else {
        const auto colon = host.find(':');
        address = host.substr(0, colon);
        rest = colon == std::string::npos ? std::string() : host.substr(colon);
    }
    if (!rest.empty() && (rest[0] != ':' || !isPort(rest.substr(1))))
        return false;
    unsigned char parsed[16];
    return inet_pton(family, address.c_str(), parsed) == 1;
}

bool isJsonContentType(const std::string &value)
{
    return asciiLower(trimmed(value.substr(0, value.find(';')))) == "application/json";
}

std::optional<uint64_t> parseContentLength(const std::string &value)
{
    if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    uint64_t length = 0;
    for (char c : value) {
        const uint64_t digit = uint64_t(c - '0');
        // Too large to be read; kept as the largest value, so it is refused as too large.
        if (length > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            return std::numeric_limits<uint64_t>::max();
        length = length * 10 + digit;
    }
    return length;
}

bool jsonShapeWithin(const std::string &text, size_t maxDepth, size_t maxItems)
{
    size_t depth = 0;
    // Each element after the first of an array or object follows a comma; each container
    // counts once, for its first.
    size_t items = 0;
    bool inString = false;
    bool escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > maxDepth || ++items > maxItems)
                return false;
        } else if (c == ',') {
            if (++items > maxItems)
                return false;
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return true;
}

} // namespace svc
