#pragma once

#include "service/suffixfilter.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace svc {

struct ScannedFile
{
    std::string realPath;
    std::string name;
    int64_t size = 0;
    int64_t mtimeMs = 0;
};

struct ScannedDir
{
    std::string realPath;
    std::string name;
    int parent = -1; // index into FolderScan::dirs; -1 for the scanned folder itself
    int64_t mtimeMs = 0;
    std::vector<ScannedFile> files;
    // The subtitle files in the folder (".srt", ".vtt"), by name: the videos' sidecars.
    std::vector<std::string> subtitles;
};

struct FolderScan
{
    // Parents come before their children; the scanned folder is dirs[0].
    std::vector<ScannedDir> dirs;
    // Folders that could not be listed: what the library holds below them is left alone.
    std::vector<std::string> unreadable;
    // Accepted files whose names cannot be written as text.
    int badNames = 0;
    bool cancelled = false;
};

// Walks a folder tree for files the filter accepts. Symbolic links are followed, but a folder
// reached twice (a link loop or a second link) is walked once; hidden entries, anything but
// regular files and folders, and the paths in excluded (and so what they hold) are skipped.
FolderScan scanFolder(const std::string &root, const SuffixFilter &filter,
                      const std::atomic<bool> &cancel, const std::set<std::string> &excluded = {});

int64_t modificationMs(const struct stat &info);

// The names of the subtitle files in folder.
std::vector<std::string> subtitlesIn(const std::string &folder);

} // namespace svc
