#include "common/permissions.h"

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace test {

namespace fs = std::filesystem;

Read_only_dir::Read_only_dir(const fs::path& dir) : dir(dir) {
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                             fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
}

Read_only_dir::~Read_only_dir() {
    std::error_code ignored;
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::add, ignored);
}

std::string obey_permissions() {
    if (geteuid() != 0) return {};
    auto failed = [](const char* what) { return std::string(what) + ": " + std::strerror(errno); };
    // Writing past the bits, and reading or searching past them. Out of the
    // bounding set, so that the programs run from here don't get them back when
    // they start as root.
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        if (prctl(PR_CAPBSET_DROP, cap, 0, 0, 0) != 0) return failed("PR_CAPBSET_DROP");
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return failed("capget");
    const unsigned bit = 1u << CAP_DAC_OVERRIDE | 1u << CAP_DAC_READ_SEARCH;  // in the first word
    data[0].effective &= ~bit;
    data[0].permitted &= ~bit;
    data[0].inheritable &= ~bit;
    if (syscall(SYS_capset, &header, data) != 0) return failed("capset");
    return {};
}

std::string become_player() {
    if (setgroups(0, nullptr) == 0 && setgid(_player) == 0 && setuid(_player) == 0) return {};
    return std::strerror(errno);
}

std::string give_to_player(const fs::path& root) {
    auto give = [](const fs::path& p) { return lchown(p.c_str(), _player, _player) == 0; };
    if (!give(root)) return root.string() + ": " + std::strerror(errno);
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root))
        if (!give(e.path())) return e.path().string() + ": " + std::strerror(errno);
    return {};
}

}  // namespace test
