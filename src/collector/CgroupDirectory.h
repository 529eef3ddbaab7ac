#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace quantiro::collector {

// The cgroup v2 hierarchy by id. On cgroup2 a cgroup's id is its directory's inode
// number, so a walk of the hierarchy (readdir alone) finds any id that still exists;
// the paths found are kept, and a cgroup removed later is still known by its path.
class CgroupDirectory {
public:
    // `root`: where cgroup2 is mounted.
    explicit CgroupDirectory(std::string root);

    // The cgroup2 mount point in /proc/self/mountinfo text; nullopt without one.
    static std::optional<std::string> FindMount(std::string_view mountinfo);

    const std::string& Root() const { return m_root; }

    // The path below the root ("/user.slice/..."; "/" for the root itself); walks the
    // hierarchy when the id is not known yet. Nullptr when it is nowhere.
    const std::string* PathOf(std::uint64_t id);

    // The name of the cgroup's own directory, as the BPF program read it when the
    // cgroup's first socket was made: what is left of a cgroup gone before its path
    // was looked up. Nullptr when none was noted.
    void NoteName(std::uint64_t id, std::string_view name);
    const std::string* NameOf(std::uint64_t id) const;

    // Whether the cgroup still exists.
    bool Exists(std::uint64_t id);

    // Drops removed cgroups beyond a bound, so the memory stays bounded.
    void ForgetRemoved();

private:
    void Walk(const std::string& relative, int depth);

    std::string m_root;
    std::unordered_map<std::uint64_t, std::string> m_paths;
    // Ids a walk did not find: gone before they were looked up, and gone for good,
    // since ids are never reused; kept so they cost one walk, not one a request.
    std::unordered_set<std::uint64_t> m_missing;
    std::unordered_map<std::uint64_t, std::string> m_names;
};

} // namespace quantiro::collector
