#pragma once

#include <string>
#include <vector>

namespace svc {

// The file suffixes an import accepts, compared without regard to ASCII letter case.
class SuffixFilter
{
public:
    // The suffixes the assistant sends; used when a request names none.
    static SuffixFilter standard();

    // Each suffix may be given with or without its leading dot.
    explicit SuffixFilter(const std::vector<std::string> &suffixes);

    bool accepts(const std::string &fileName) const;
    // Whether it takes exactly the standard suffixes, in whatever order.
    bool isStandard() const;
    const std::vector<std::string> &suffixes() const { return m_suffixes; }

private:
    std::vector<std::string> m_suffixes;
};

std::string asciiLower(std::string text);

// The Content-Type of a video file, by its suffix.
const char *videoContentType(const std::string &fileName);
// Every Content-Type a video is served with.
std::vector<std::string> videoContentTypes();

} // namespace svc
