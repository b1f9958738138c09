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

SuffixFilter SuffixFilter::standard()
{
    return SuffixFilter({ ".mkv", ".mp4", ".3gp", ".avi", ".flv", ".m4v", ".mov", ".mpeg", ".mpg",
                          ".webm", ".wmv" });
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

bool SuffixFilter::accepts(const std::string &fileName) const
{
    const std::string lower = asciiLower(fileName);
    for (const std::string &suffix : m_suffixes) {
        // A file named only ".mp4" is a hidden file, not a video with an empty name.
        if (lower.size() > suffix.size()
            && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0)
            return true;
    }
    return false;
}

} // namespace svc
