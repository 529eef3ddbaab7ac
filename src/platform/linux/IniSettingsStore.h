#pragma once

#include "platform/Settings.h"
#include "platform/linux/UniqueFd.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include <sys/types.h>

class QSettings;

namespace quantiro::platform::linux_impl {

// The family's shared settings as a QSettings INI file (the family's paths name it:
// <config home>/Kestrova/Quantiro.conf), private to the user, made on first use.
// Integers are stored as decimal text and Booleans as true/false.
//
// Every read sees what another process wrote before it: an inotify watch on the
// file's folder tells of every change the moment it is made, and the file is re-read
// only then, which keeps the ten-per-second polls to one small read of the watch.
// Lost events (a full queue) count as a change. When the folder goes (renamed or
// removed) the watch is made again on its path; while there is none to be had each
// read compares the file's identity with one stat(), and the descriptor a loop waits
// on stays quiet. Every write is flushed at once and merged into the file under
// QSettings' lock, so it never drops another process's values; a write that failed
// is tried again by RetryUnwritten().
class IniSettingsStore final : public SettingsStore {
public:
    explicit IniSettingsStore(std::string filePath);
    ~IniSettingsStore() override;

    // Makes the file, private, when it is missing, and opens it; the first read or
    // write does this by itself. SettingsError when it cannot be had.
    void Open();

    void WriteLong(std::string_view name, std::int32_t value) override;
    void WriteBool(std::string_view name, bool value) override;
    std::int32_t ReadLong(std::string_view name, std::int32_t defaultValue) override;
    bool ReadBool(std::string_view name, bool defaultValue) override;
    void WriteText(std::string_view name, const std::string& value) override;
    std::string ReadText(std::string_view name, const std::string& defaultValue) override;

    // The folder's watch, for a program with an event loop (-1 without a watch).
    int WatchDescriptorForLoop() override;
    void WatchReadable() override;

    std::vector<std::string> Groups() override;
    void RemoveGroup(std::string_view group) override;

    bool RetryUnwritten() override;

private:
    struct FileIdentity {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = -1;
        long long modifiedNs = 0;
        long long changedNs = 0;
        bool operator==(const FileIdentity&) const = default;
    };

    // Text of a value as stored; nullopt when it is missing or not a single value.
    using StoredText = std::optional<std::string>;
    struct NameHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view name) const {
            return std::hash<std::string_view>{}(name);
        }
    };

    QSettings& Store();
    void SeeLatest();
    // Watches the file's folder on the one inotify descriptor, made once, so a loop
    // waiting on it keeps waiting on the right one after the folder was replaced.
    void WatchFolder();
    // Whether the watch saw the file change; nullopt when there is no watch.
    std::optional<bool> WatchedChange();
    // Drains the watch: whether the file changed; nullopt without a working watch.
    std::optional<bool> ReadWatch();
    const StoredText& Lookup(std::string_view name);
    void Write(std::string_view name, const std::string& text);
    // Writes every value waiting in m_unwritten; SettingsError when they still cannot be.
    void WriteUnwritten();
    FileIdentity CurrentIdentity() const;

    std::string m_filePath;
    std::unique_ptr<QSettings> m_settings;
    FileIdentity m_seen;
    UniqueFd m_watch;
    int m_watchedFolder = -1;   // the folder's watch on m_watch, -1 while none
    bool m_watchBroken = false; // no watch on the folder: every read compares the file
    bool m_loopWatches = false; // the event loop reads the watch
    bool m_changeSeen = false;  // by the loop, not yet looked at by a read
    std::string m_fileName;
    // Values read since the file last changed, so a poll costs one stat().
    std::unordered_map<std::string, StoredText, NameHash, std::equal_to<>> m_cache;
    // Values a failed write left out of the file, written with the next one.
    std::map<std::string, std::string> m_unwritten;
};

} // namespace quantiro::platform::linux_impl
