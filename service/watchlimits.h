#pragma once

#include <cstddef>
#include <string>

namespace svc {

// How many folders the service may watch with inotify: the system's limit for the user, less
// room for the other programs of the session, which share it.
size_t inotifyWatchBudget();

// The kind of file system folder is on when that kind tells nothing of changes made elsewhere
// (network shares, most FUSE file systems), so watching it would miss them; empty otherwise.
std::string eventlessFileSystem(const std::string &folder);

} // namespace svc
