// What the basis cache needs to know about the file system that holds its database.
#pragma once

#include <filesystem>
#include <optional>

namespace tavrin {

// True when `directory` lies on a network or user-space file system (NFS, SMB/CIFS, Lustre,
// GPFS, BeeGFS, CephFS, AFS, 9p, FUSE mounts, ...), where SQLite's write-ahead log is unsafe:
// its shared memory index does not work across hosts. A directory that cannot be examined
// counts as a network one, the safe answer.
bool is_network_file_system(const std::filesystem::path& directory);

// For tests: makes is_network_file_system answer `answer` for every directory until it is
// called again with nothing.
void override_network_file_system_detection(std::optional<bool> answer);

}  // namespace tavrin
