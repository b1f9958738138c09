#include "service/suffixfilter.h"

#include <algorithm>

namespace svc {

std::string asciiLower(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

namespace {

// Every video the service takes, in the order the assistant lists them, with the type it is
// served as. The accepted suffixes and the served types both come from here.
const struct
{
    const char *suffix;
    const char *type;
} videoTypes[] = {
    { ".mkv", "video/x-matroska" }, { ".mp4", "video/mp4" },      { ".3gp", "video/3gpp" },
    { ".avi", "video/x-msvideo" },  { ".flv", "video/x-flv" },    { ".m4v", "video/mp4" },
    { ".mov", "video/quicktime" },  { ".mpeg", "video/mpeg" },    { ".mpg", "video/mpeg" },
    { ".webm", "video/webm" },      { ".wmv", "video/x-ms-wmv" },
};

bool endsWith(const std::string &lower, const std::string &suffix)
{
    // A file named only ".mp4" is a hidden file, not a video with an empty name.
    return lower.size() > suffix.size()
        && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

SuffixFilter SuffixFilter::standard()
{
    std::vector<std::string> suffixes;
    for (const auto &item : videoTypes)
        suffixes.emplace_back(item.suffix);
    return SuffixFilter(suffixes);
}

const char *videoContentType(const std::string &fileName)
{
    const std::string lower = asciiLower(fileName);
    for (const auto &item : videoTypes) {
        if (endsWith(lower, item.suffix))
            return item.type;
    }
    return "application/octet-stream";
}

std::vector<std::string> videoContentTypes()
{
    std::vector<std::string> list;
    for (const auto &item : videoTypes) {
        if (std::find(list.begin(), list.end(), item.type) == list.end())
            list.push_back(item.type);
    }
    return list;
}

SuffixFilter::SuffixFilter(const std::vector<std::string> &suffixes)
{
    for (const std::string &suffix : suffixes) {
        if (suffix.empty() || suffix == ".")
            continue;
        std::string normal = asciiLower(suffix[0] == '.' ? suffix : "." + suffix);
        if (std::find(m_suffixes.begin(), m_suffixes.end(), normal) == m_suffixes.end())
            m_suffixes.push_back(std::move(normal));
    }
}

bool SuffixFilter::isStandard() const
{
    std::vector<std::string> mine = m_suffixes;
    std::vector<std::string> standard = SuffixFilter::standard().m_suffixes;
    std::sort(mine.begin(), mine.end());
    std::sort(standard.begin(), standard.end());
    return mine == standard;
}

bool SuffixFilter::accepts(const std::string &fileName) const
{
    const std::string lower = asciiLower(fileName);
    for (const std::string &suffix : m_suffixes) {
        if (endsWith(lower, suffix))
            return true;
    }
    return false;
}

} // namespace svc
