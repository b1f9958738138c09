#include "service/watchlimits.h"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace svc {
namespace {

constexpr long FuseMagic = 0x65735546;

const char *networkFileSystem(long type)
{
    switch (type) {
    case 0x6969:
        return "nfs";
    case 0x517B:
        return "smb";
    case long(0xFF534D42):
        return "cifs";
    case long(0xFE534D42):
        return "smb2";
    case 0x01021997:
        return "9p";
    case 0x5346414F:
    case 0x6B414653:
        return "afs";
    case 0x00C36400:
        return "ceph";
    case 0x73757245:
        return "coda";
    case 0x564C:
        return "ncp";
    case 0x0BD00BD0:
        return "lustre";
    }
    return nullptr;
}

// The type column of /proc/self/mountinfo for the mount of device.
std::string mountType(dev_t device)
{
    std::ifstream mounts("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id, parent, numbers;
        fields >> id >> parent >> numbers;
        const auto separator = line.find(" - ");
        if (numbers != wanted || separator == std::string::npos)
            continue;
        std::istringstream tail(line.substr(separator + 3));
        std::string type;
        tail >> type;
        return type;
    }
    return {};
}

} // namespace

size_t inotifyWatchBudget()
{
    size_t limit = 8192; // the kernel's old default, should the file be unreadable
    std::ifstream("/proc/sys/fs/inotify/max_user_watches") >> limit;
    const size_t margin = std::max<size_t>(1024, limit / 10);
    return limit > margin ? limit - margin : 0;
}

std::string eventlessFileSystem(const std::string &folder)
{
    struct statfs info
    {
    };
    if (statfs(folder.c_str(), &info) != 0)
        return {};
    if (const char *name = networkFileSystem(long(info.f_type)))
        return name;
    if (long(info.f_type) != FuseMagic)
        return {};
    // A FUSE driver of a local disk (NTFS, exFAT) sees every change, for they all come through
    // this machine; sshfs, rclone or a desktop's network folders do not.
    struct stat status
    {
    };
    if (stat(folder.c_str(), &status) != 0)
        return "fuse";
    const std::string type = mountType(status.st_dev);
    return type == "fuseblk" ? std::string() : type.empty() ? std::string("fuse") : type;
}

} // namespace svc
