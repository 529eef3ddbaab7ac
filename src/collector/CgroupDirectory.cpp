#include "collector/CgroupDirectory.h"

#include <memory>
#include <sstream>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace quantiro::collector {

namespace {

// Deeper than any systemd hierarchy; stops a walk from going on without end.
constexpr int kDepthLimit = 32;
// Paths of removed cgroups kept for the counters that still name them.
constexpr std::size_t kKnownLimit = 65536;

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
    : m_root(std::move(root)) {}

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

const std::string* CgroupDirectory::PathOf(std::uint64_t id) {
    auto known = m_paths.find(id);
    if (known == m_paths.end() && !m_missing.contains(id)) {
        Walk("", 0);
        known = m_paths.find(id);
        if (known == m_paths.end()) {
            if (m_missing.size() >= kKnownLimit) {
                m_missing.clear();
            }
            m_missing.insert(id);
        }
    }
    return known == m_paths.end() ? nullptr : &known->second;
}

void CgroupDirectory::NoteName(std::uint64_t id, std::string_view name) {
    if (name.empty()) {
        return;
    }
    if (m_names.size() >= kKnownLimit) {
        m_names.clear(); // bounded; the oldest cgroups' names are the least wanted
    }
    m_names[id] = name;
}

const std::string* CgroupDirectory::NameOf(std::uint64_t id) const {
    const auto known = m_names.find(id);
    return known == m_names.end() ? nullptr : &known->second;
}

bool CgroupDirectory::Exists(std::uint64_t id) {
    const std::string* path = PathOf(id);
    struct stat status {};
    return path != nullptr && ::stat((m_root + *path).c_str(), &status) == 0 && status.st_ino == id;
}

void CgroupDirectory::ForgetRemoved() {
    if (m_paths.size() <= kKnownLimit) {
        return;
    }
    std::erase_if(m_paths, [this](const auto& entry) {
        struct stat status {};
        return ::stat((m_root + entry.second).c_str(), &status) != 0 ||
               status.st_ino != entry.first;
    });
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
        std::string child = relative + "/" + std::string(name);
        m_paths[entry->d_ino] = child;
        Walk(child, depth + 1);
    }
}

} // namespace quantiro::collector
