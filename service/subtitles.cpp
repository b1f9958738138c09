#include "service/subtitles.h"

#include "service/naturalorder.h"

#include <algorithm>
#include <unordered_set>

namespace svc {
namespace {

bool endsWithNoCase(std::string_view text, std::string_view suffix)
{
    if (text.size() < suffix.size())
        return false;
    const std::string_view end = text.substr(text.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        char c = end[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != suffix[i])
            return false;
    }
    return true;
}

std::string_view stemOf(std::string_view name)
{
    const size_t dot = name.rfind('.');
    return dot == std::string_view::npos || dot == 0 ? name : name.substr(0, dot);
}

// What may stand between the video's name and the suffix as a language: one word, no dots, no
// blanks or control characters, not longer than any language's name.
bool looksLikeLanguage(std::string_view text)
{
    if (text.empty() || text.size() > 32)
        return false;
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte <= ' ' || byte == 0x7f || c == '.';
    });
}

} // namespace

bool subtitleFormat(std::string_view fileName, SubtitleFormat &format)
{
    // ".srt" alone is a hidden file, not a subtitle of anything.
    if (fileName.size() <= 4)
        return false;
    if (endsWithNoCase(fileName, ".srt"))
        format = SubtitleFormat::SubRip;
    else if (endsWithNoCase(fileName, ".vtt"))
        format = SubtitleFormat::WebVtt;
    else
        return false;
    return true;
}

const char *subtitleMimeType(SubtitleFormat format)
{
    return format == SubtitleFormat::WebVtt ? "text/vtt" : "text/srt";
}

std::vector<SidecarSubtitle> sidecarSubtitles(std::string_view videoPath,
                                              const std::vector<std::string> &namesInFolder)
{
    const size_t slash = videoPath.rfind('/');
    const std::string_view videoName
        = slash == std::string_view::npos ? videoPath : videoPath.substr(slash + 1);
    const std::string_view videoStem = stemOf(videoName);
    std::vector<SidecarSubtitle> found;
    if (videoStem.empty())
        return found;

    std::unordered_set<std::string_view> otherStems;
    for (const std::string &name : namesInFolder) {
        SubtitleFormat format;
        if (name != videoName && !subtitleFormat(name, format))
            otherStems.insert(stemOf(name));
    }
    for (const std::string &name : namesInFolder) {
        SubtitleFormat format;
        if (!subtitleFormat(name, format))
            continue;
        const std::string_view stem = std::string_view(name).substr(0, name.size() - 4);
        if (stem == videoStem) {
            found.push_back({ name, {}, format });
            continue;
        }
        if (stem.size() <= videoStem.size() + 1 || stem.substr(0, videoStem.size()) != videoStem
            || stem[videoStem.size()] != '.' || otherStems.count(stem))
            continue;
        const std::string_view language = stem.substr(videoStem.size() + 1);
        if (looksLikeLanguage(language))
            found.push_back({ name, std::string(language), format });
    }
    std::sort(found.begin(), found.end(), [](const SidecarSubtitle &a, const SidecarSubtitle &b) {
        if (a.language.empty() != b.language.empty())
            return a.language.empty();
        const int languages = naturalCompare(a.language, b.language);
        return languages != 0 ? languages < 0 : naturalCompare(a.fileName, b.fileName) < 0;
    });
    return found;
}

} // namespace svc
