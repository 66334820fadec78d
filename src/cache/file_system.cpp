#include "cache/file_system.hpp"

#include <sys/vfs.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>

namespace tavrin {
namespace {

// statfs magic numbers of file systems shared between hosts or served from user space.
constexpr std::array<std::uint64_t, 16> kNetworkMagics{
    0x6969,      // NFS
    0x517B,      // SMB
    0xFF534D42,  // CIFS
    0xFE534D42,  // SMB2
    0x0BD00BD0,  // Lustre
    0x47504653,  // GPFS
    0x19830326,  // BeeGFS
    0x00C36400,  // CephFS
    0x65735546,  // FUSE
    0x5346414F,  // AFS
    0x6B414653,  // kAFS
    0x01021997,  // 9p (v9fs)
    0x01161970,  // GFS2
    0x7461636F,  // OCFS2
    0xAAD7AAEA,  // PanFS
    0x013111A8,  // IBRIX
};

// 0: detect, 1: report local, 2: report network.
std::atomic<int> detection_override{0};

}  // namespace

bool is_network_file_system(const std::filesystem::path& directory) {
    if (const int forced = detection_override.load(); forced != 0) return forced == 2;
    struct statfs info {};
    const std::filesystem::path examined = directory.empty() ? "." : directory;
    if (::statfs(examined.c_str(), &info) != 0) return true;
    const auto magic = static_cast<std::uint64_t>(static_cast<std::uint32_t>(info.f_type));
    return std::find(kNetworkMagics.begin(), kNetworkMagics.end(), magic) != kNetworkMagics.end();
}

void override_network_file_system_detection(std::optional<bool> answer) {
    detection_override.store(!answer ? 0 : (*answer ? 2 : 1));
}

}  // namespace tavrin
