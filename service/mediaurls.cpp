#include "service/mediaurls.h"

namespace svc {

std::string percentEncode(const std::string &text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z')
            || (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.'
            || byte == '~') {
            encoded += c;
        } else {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 15];
        }
    }
    return encoded;
}

std::string mediaPath(int64_t id, const std::string &fileName)
{
    return "/media/" + std::to_string(id) + "/" + percentEncode(fileName);
}

std::string coverPath(int64_t id)
{
    return "/covers/" + std::to_string(id) + ".jpg";
}

bool nameHasLayoutToken(const std::string &stem)
{
    static const char *const tokens[]
        = { "LR",  "RL",  "TB",  "BT",      "SBS",     "OU",     "TAB",   "3DH",
            "3DV", "180", "360", "180X180", "FISHEYE", "MKX200", "VR180", "VR360" };
    const std::string upper = [&] {
        std::string text = stem;
        for (char &c : text)
            c = char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        return text;
    }();
    size_t start = 0;
    while (start <= upper.size()) {
        size_t end = upper.find_first_of("_-. []()", start);
        if (end == std::string::npos)
            end = upper.size();
        const std::string token = upper.substr(start, end - start);
        for (const char *known : tokens) {
            if (token == known)
                return true;
        }
        start = end + 1;
    }
    return false;
}

std::string videoTitle(const std::string &fileName, const std::string &layout)
{
    const size_t dot = fileName.rfind('.');
    const std::string stem
        = dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
    if (layout.empty() || nameHasLayoutToken(stem))
        return stem;
    return stem + layout;
}

} // namespace svc
