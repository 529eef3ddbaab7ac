#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace quantiro::collector {

// The cgroup v2 hierarchy by id. On cgroup2 a cgroup's id is its directory's inode
// number, so one walk at the start finds every cgroup there is; a cgroup made later is
// placed from its ancestors' ids and its own name, which the BPF program tells when its
// first socket is made, so the tree is never walked again. A cgroup removed later is
// still known by its path while counters name it.
class CgroupDirectory {
public:
    // `root`: where cgroup2 is mounted; walked once, now.
    explicit CgroupDirectory(std::string root);

    // The cgroup2 mount point in /proc/self/mountinfo text; nullopt without one.
    static std::optional<std::string> FindMount(std::string_view mountinfo);

    const std::string& Root() const { return m_root; }

    // A cgroup a socket was made in: its own directory's name (empty when unknown) and
    // the ids from the root down to it. Its path is found below the nearest ancestor
    // known, reading only the directories between them, and only where its name does
    // not tell it.
    void Learn(std::uint64_t id, std::string_view name, std::span<const std::uint64_t> ancestors);

    // The path below the root ("/user.slice/..."; "/" for the root itself); nullptr when
    // the cgroup was never found.
    const std::string* PathOf(std::uint64_t id) const;

    // The name of the cgroup's own directory, as the BPF program read it when the
    // cgroup's first socket was made: what is left of a cgroup gone before its path
    // was found. Nullptr when none was noted.
    const std::string* NameOf(std::uint64_t id) const;

    // Whether the cgroup still exists.
    bool Exists(std::uint64_t id) const;

    // Past a bound, drops what it knows of removed cgroups no counter in `referenced`
    // names any more, so the memory stays bounded however many scopes come and go.
    void ForgetRemoved(const std::unordered_set<std::uint64_t>& referenced);

    // How many cgroups it knows a path or a name of.
    std::size_t Known() const { return m_paths.size() + m_names.size(); }

private:
    void Walk(const std::string& relative, int depth);
    // The path of the child of `parent` whose id is `id`, read from the parent's
    // directory, noted; nullptr when it is not there (removed meanwhile).
    const std::string* FindChild(const std::string& parent, std::uint64_t id);
    bool IsAt(const std::string& path, std::uint64_t id) const;

    std::string m_root;
    std::unordered_map<std::uint64_t, std::string> m_paths;
    std::unordered_map<std::uint64_t, std::string> m_names;
    std::size_t m_pruneAbove; // the size past which removed cgroups are dropped
};

} // namespace quantiro::collector
