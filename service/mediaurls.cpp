#include "service/mediaurls.h"

#include "service/timeseek.h"

#include <ctime>

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

std::string streamPath(int64_t id, int64_t startMs, const std::string &fileName)
{
    const size_t dot = fileName.rfind('.');
    const std::string stem
        = dot == std::string::npos || dot == 0 ? fileName : fileName.substr(0, dot);
    return "/media/" + std::to_string(id) + "/t/" + formatStartSegment(startMs) + "/"
        + percentEncode(stem + ".ts");
}

std::string dateText(int64_t mtimeMs)
{
    const time_t seconds = time_t(mtimeMs / 1000);
    struct tm parts
    {
    };
    char text[16] = {};
    if (gmtime_r(&seconds, &parts))
        std::strftime(text, sizeof text, "%Y-%m-%d", &parts);
    return text;
}

std::string coverPath(int64_t id)
{
    return "/covers/" + std::to_string(id) + ".jpg";
}

std::string serverBaseUrl(const std::string &address, int port)
{
    const bool v6 = address.find(':') != std::string::npos;
    return "http://" + (v6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

std::string deoVrLibraryPath()
{
    return "/deovr";
}

std::string hereSphereLibraryPath()
{
    return "/heresphere";
}

std::string deoVrVideoPath(int64_t id)
{
    return "/deovr/" + std::to_string(id);
}

std::string hereSphereVideoPath(int64_t id)
{
    return "/heresphere/" + std::to_string(id);
}

std::string hereSphereEventsPath(int64_t id)
{
    return "/heresphere/events/" + std::to_string(id);
}

std::string subtitlePath(int64_t id, size_t index, const std::string &fileName)
{
    return "/subtitles/" + std::to_string(id) + "/" + std::to_string(index) + "/"
        + percentEncode(fileName);
}

} // namespace svc
