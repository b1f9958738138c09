#include "service/pathutil.h"

#include <climits>
#include <cstdlib>
#include <vector>

namespace svc {

std::optional<std::string> normalizeLocalPath(const std::string &path, std::string &error)
{
    if (path.empty()) {
        error = "the path is empty";
        return std::nullopt;
    }
    if (path.find('\0') != std::string::npos) {
        error = "the path contains a NUL character";
        return std::nullopt;
    }
    if (path[0] != '/') {
        error = "the path is not absolute: " + path;
        return std::nullopt;
    }
    std::string result;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string segment = path.substr(start, end - start);
        start = end + 1;
        if (segment.empty() || segment == ".")
            continue;
        if (segment == "..") {
            error = "the path contains \"..\": " + path;
            return std::nullopt;
        }
        result += '/';
        result += segment;
    }
    if (result.empty())
        result = "/";
    return result;
}

std::string baseName(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string parentPath(const std::string &path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

bool isBelow(const std::string &path, const std::string &folder)
{
    if (folder == "/")
        return path.size() > 1 && path[0] == '/';
    return path.size() > folder.size() + 1 && path.compare(0, folder.size(), folder) == 0
        && path[folder.size()] == '/';
}

bool isSystemTree(const std::string &path)
{
    const auto refused = [](const std::string &candidate) {
        if (candidate == "/")
            return true;
        for (const char *tree : { "/proc", "/sys", "/dev", "/run" }) {
            if (candidate == tree || isBelow(candidate, tree))
                return true;
        }
        return false;
    };
    if (refused(path))
        return true;
    char canonical[PATH_MAX];
    return ::realpath(path.c_str(), canonical) && refused(canonical);
}

bool isValidUtf8(const std::string &text)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        size_t extra;
        unsigned int code;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= n)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not text.
        static const unsigned int minimum[] = { 0, 0x80, 0x800, 0x10000 };
        if (code < minimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

size_t utf8Length(const std::string &text)
{
    size_t count = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80)
            ++count;
    }
    return count;
}

} // namespace svc
