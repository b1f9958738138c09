#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace svc {

enum class SubtitleFormat { SubRip, WebVtt };

// A subtitle file beside a video, named after it: "Movie.srt", "Movie.vtt", "Movie.en.srt".
struct SidecarSubtitle
{
    std::string fileName;
    std::string language; // as the name gives it ("en", "pt-BR", "English"); empty when none
    SubtitleFormat format = SubtitleFormat::SubRip;
};

// The format of a subtitle file by its suffix, in any case; false for any other file.
bool subtitleFormat(std::string_view fileName, SubtitleFormat &format);

// "text/srt", the type DLNA players look for in protocolInfo (http-get:*:text/srt:*) and
// accept over HTTP; "text/vtt" for WebVTT.
const char *subtitleMimeType(SubtitleFormat format);

// The sidecars of the video at videoPath among the names of the files in its folder: the
// video's name without its suffix (exactly, as the file system spells it), then ".srt" or
// ".vtt", or a language between them. A name that is also another file's name without its
// suffix belongs to that file: "Movie.en.srt" goes with "Movie.en.mp4" where there is one.
// Without language first, then by language and name.
std::vector<SidecarSubtitle> sidecarSubtitles(std::string_view videoPath,
                                              const std::vector<std::string> &namesInFolder);

} // namespace svc
