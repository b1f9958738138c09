#include "service/folderscanner.h"

#include "service/pathutil.h"
#include "service/subtitles.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

namespace svc {

int64_t modificationMs(const struct stat &info)
{
    return int64_t(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000;
}

FolderScan scanFolder(const std::string &root, const SuffixFilter &filter,
                      const std::atomic<bool> &cancel, const std::set<std::string> &excluded)
{
    FolderScan scan;
    std::set<std::pair<dev_t, ino_t>> visited;
    struct stat rootInfo
    {
    };
    if (stat(root.c_str(), &rootInfo) != 0 || !S_ISDIR(rootInfo.st_mode)) {
        scan.unreadable.push_back(root);
        return scan;
    }
    visited.insert({ rootInfo.st_dev, rootInfo.st_ino });
    scan.dirs.push_back({ root, baseName(root), -1, modificationMs(rootInfo), {}, {} });
    char resolved[PATH_MAX];
    const std::string canonicalRoot = ::realpath(root.c_str(), resolved) ? resolved : root;
    // A link to a folder elsewhere is followed (a folder kept on another drive), but not one
    // into the system's trees or to a folder that holds this one: either would take in every
    // video on the machine.
    const auto leadsAway = [&canonicalRoot](const std::string &link) {
        char target[PATH_MAX];
        if (!::realpath(link.c_str(), target))
            return true;
        return isSystemTree(target) || canonicalRoot == target || isBelow(canonicalRoot, target);
    };

    // Breadth first, so that every parent is stored before its children.
    for (size_t current = 0; current < scan.dirs.size(); ++current) {
        if (cancel.load()) {
            scan.cancelled = true;
            return scan;
        }
        const std::string folder = scan.dirs[current].realPath;
        DIR *dir = opendir(folder.c_str());
        if (!dir) {
            scan.unreadable.push_back(folder);
            continue;
        }
        std::vector<std::pair<std::string, bool>> names; // and whether it may be a link
        while (const dirent *item = readdir(dir)) {
            if (item->d_name[0] != '.')
                names.emplace_back(item->d_name,
                                   item->d_type == DT_LNK || item->d_type == DT_UNKNOWN);
        }
        closedir(dir);
        std::sort(names.begin(), names.end());

        std::vector<ScannedDir> children;
        for (const auto &[name, mayBeLink] : names) {
            const std::string path = folder == "/" ? "/" + name : folder + "/" + name;
            if (excluded.count(path))
                continue;
            struct stat info
            {
            };
            if (stat(path.c_str(), &info) != 0)
                continue; // dangling link or gone meanwhile
            if (S_ISDIR(info.st_mode)) {
                if (!isValidUtf8(name) || (mayBeLink && leadsAway(path))
                    || !visited.insert({ info.st_dev, info.st_ino }).second)
                    continue;
                children.push_back({ path, name, int(current), modificationMs(info), {}, {} });
            } else if (SubtitleFormat format;
                       S_ISREG(info.st_mode) && subtitleFormat(name, format)) {
                scan.dirs[current].subtitles.push_back(name);
            } else if (S_ISREG(info.st_mode) && filter.accepts(name)) {
                if (!isValidUtf8(name)) {
                    ++scan.badNames;
                    continue;
                }
                scan.dirs[current].files.push_back(
                    { path, name, int64_t(info.st_size), modificationMs(info) });
            }
        }
        for (ScannedDir &child : children)
            scan.dirs.push_back(std::move(child));
    }
    return scan;
}

std::vector<std::string> subtitlesIn(const std::string &folder)
{
    std::vector<std::string> names;
    DIR *dir = opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent *item = readdir(dir)) {
        SubtitleFormat format;
        if (item->d_name[0] != '.' && subtitleFormat(item->d_name, format))
            names.emplace_back(item->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace svc
