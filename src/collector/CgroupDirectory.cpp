#include "collector/CgroupDirectory.h"

#include "collector/bpf/traffic_counter.h"

#include <algorithm>
#include <memory>
#include <sstream>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace quantiro::collector {

namespace {

// Deeper than any systemd hierarchy; stops a walk from going on without end.
constexpr int kDepthLimit = 32;
// Cgroups known before removed ones are looked for and dropped.
constexpr std::size_t kPruneFloor = 16384;
// A name this long may have been cut by the BPF program.
constexpr std::size_t kCutNameSize = bpf::TRAFFIC_CGROUP_NAME_SIZE - 1;

std::string Join(const std::string& parent, std::string_view name) {
    return (parent == "/" ? std::string() : parent) + "/" + std::string(name);
}

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// mountinfo escapes a space in a path as \040 (and a tab, newline and backslash).
std::string UnescapeMountPath(std::string_view text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 3 < text.size()) {
            out += static_cast<char>((text[at + 1] - '0') * 64 + (text[at + 2] - '0') * 8 +
                                     (text[at + 3] - '0'));
            at += 3;
        } else {
            out += text[at];
        }
    }
    return out;
}

} // namespace

CgroupDirectory::CgroupDirectory(std::string root)
    : m_root(std::move(root))
    , m_pruneAbove(kPruneFloor) {
    Walk("", 0);
}

std::optional<std::string> CgroupDirectory::FindMount(std::string_view mountinfo) {
    std::istringstream lines{std::string(mountinfo)};
    for (std::string line; std::getline(lines, line);) {
        // id parent major:minor root mountpoint options [optional...] - type source options
        std::istringstream fields(line);
        std::vector<std::string> words;
        for (std::string word; fields >> word;) {
            words.push_back(word);
        }
        for (std::size_t at = 5; at + 1 < words.size(); ++at) {
            if (words[at] == "-") {
                if (words[at + 1] == "cgroup2" && words.size() > 4) {
                    return UnescapeMountPath(words[4]);
                }
                break;
            }
        }
    }
    return std::nullopt;
}

void CgroupDirectory::Learn(std::uint64_t id, std::string_view name,
                            std::span<const std::uint64_t> ancestors) {
    if (!name.empty()) {
        m_names[id] = name;
    }
    const auto level = std::ranges::find(ancestors, id);
    if (m_paths.contains(id) || level == ancestors.end()) {
        return; // known, or deeper than the levels told
    }
    auto known = level;
    while (known != ancestors.begin() && !m_paths.contains(*known)) {
        --known;
    }
    const auto found = m_paths.find(*known);
    if (found == m_paths.end()) {
        return;
    }
    std::string path = found->second;
    for (auto step = known + 1; step <= level; ++step) {
        // The cgroup's own name places it without a look, even once it is gone; a name
        // the program had to cut, and the ancestors between, are read from their parents.
        if (step == level && !name.empty() && name.size() < kCutNameSize) {
            m_paths[id] = Join(path, name);
            return;
        }
        const std::string* child = FindChild(path, *step);
        if (child == nullptr) {
            return; // removed meanwhile
        }
        path = *child;
    }
}

const std::string* CgroupDirectory::PathOf(std::uint64_t id) const {
    const auto known = m_paths.find(id);
    return known == m_paths.end() ? nullptr : &known->second;
}

const std::string* CgroupDirectory::NameOf(std::uint64_t id) const {
    const auto known = m_names.find(id);
    return known == m_names.end() ? nullptr : &known->second;
}

bool CgroupDirectory::IsAt(const std::string& path, std::uint64_t id) const {
    struct stat status {};
    return ::stat((m_root + path).c_str(), &status) == 0 && status.st_ino == id;
}

bool CgroupDirectory::Exists(std::uint64_t id) const {
    const std::string* path = PathOf(id);
    return path != nullptr && IsAt(*path, id);
}

void CgroupDirectory::ForgetRemoved(const std::unordered_set<std::uint64_t>& referenced) {
    if (Known() <= m_pruneAbove) {
        return;
    }
    std::erase_if(m_paths, [&](const auto& entry) {
        return !referenced.contains(entry.first) && !IsAt(entry.second, entry.first);
    });
    std::erase_if(m_names, [&](const auto& entry) {
        return !referenced.contains(entry.first) && !m_paths.contains(entry.first);
    });
    // Doubling the bound keeps the checks' cost a constant share of each cgroup learnt.
    m_pruneAbove = std::max(kPruneFloor, 2 * Known());
}

const std::string* CgroupDirectory::FindChild(const std::string& parent, std::uint64_t id) {
    const std::unique_ptr<DIR, DirectoryCloser> directory(::opendir((m_root + parent).c_str()));
    if (!directory) {
        return nullptr;
    }
    while (const dirent* entry = ::readdir(directory.get())) {
        if (entry->d_type == DT_DIR && entry->d_ino == id) {
            return &(m_paths[id] = Join(parent, entry->d_name));
        }
    }
    return nullptr;
}

void CgroupDirectory::Walk(const std::string& relative, int depth) {
    const std::string path = m_root + relative;
    if (depth == 0) {
        struct stat status {};
        if (::stat(path.c_str(), &status) == 0) {
            m_paths[status.st_ino] = "/";
        }
    }
    if (depth >= kDepthLimit) {
        return;
    }
    const std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(path.c_str()));
    if (!directory) {
        return; // removed meanwhile
    }
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string_view name = entry->d_name;
        if (entry->d_type != DT_DIR || name == "." || name == "..") {
            continue;
        }
        std::string child = Join(relative.empty() ? "/" : relative, name);
        m_paths[entry->d_ino] = child;
        Walk(child, depth + 1);
    }
}

} // namespace quantiro::collector
