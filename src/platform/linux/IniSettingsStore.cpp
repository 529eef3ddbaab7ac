#include "platform/linux/IniSettingsStore.h"

#include "common/FamilyPaths.h"
#include "common/StoredValues.h"
#include "platform/Files.h"

#include <QSettings>
#include <QString>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

namespace {

constexpr mode_t kPrivateFile = 0600;

} // namespace

IniSettingsStore::IniSettingsStore(std::string filePath)
    : m_filePath(std::move(filePath)) {}

IniSettingsStore::~IniSettingsStore() = default;

void IniSettingsStore::Open() {
    // Create the file private before QSettings ever writes it; its atomic rewrites
    // keep the mode of the file they replace.
    try {
        platform::MakePrivateDirectory(m_filePath.substr(0, m_filePath.rfind('/')));
    } catch (const paths::PathError& error) {
        throw SettingsError(error.what());
    }
    const int fd = ::open(m_filePath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, kPrivateFile);
    if (fd >= 0) {
        ::fchmod(fd, kPrivateFile);
        ::close(fd);
    }
    m_settings =
        std::make_unique<QSettings>(QString::fromStdString(m_filePath), QSettings::IniFormat);
    WatchFolder();
    m_seen = CurrentIdentity();
}

void IniSettingsStore::WatchFolder() {
    const std::size_t slash = m_filePath.rfind('/');
    m_fileName = m_filePath.substr(slash + 1);
    if (!m_watch.Valid()) {
        m_watch = UniqueFd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    }
    if (!m_watch.Valid()) {
        m_watchBroken = true;
        return;
    }
    if (m_watchedFolder >= 0) {
        ::inotify_rm_watch(m_watch.Get(), m_watchedFolder); // on a folder that moved away
    }
    // Writers replace the file (a rename into place) or write it in place.
    constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MODIFY | IN_ATTRIB | IN_CREATE |
                                      IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                      IN_MOVE_SELF;
    m_watchedFolder =
        ::inotify_add_watch(m_watch.Get(), m_filePath.substr(0, slash).c_str(), kEvents);
    m_watchBroken = m_watchedFolder < 0;
}

int IniSettingsStore::WatchDescriptorForLoop() {
    Store();
    m_loopWatches = m_watch.Valid();
    return m_watch.Valid() ? m_watch.Get() : -1;
}

void IniSettingsStore::WatchReadable() {
    const std::optional<bool> changed = ReadWatch();
    m_changeSeen = m_changeSeen || changed.value_or(true);
}

std::optional<bool> IniSettingsStore::WatchedChange() {
    if (!m_watch.Valid() || m_watchBroken) {
        if (m_watch.Valid() && CurrentIdentity() != m_seen) {
            WatchFolder(); // the file is back, and perhaps a folder to watch with it
        }
        return std::nullopt;
    }
    if (m_loopWatches) {
        return std::exchange(m_changeSeen, false);
    }
    return ReadWatch();
}

std::optional<bool> IniSettingsStore::ReadWatch() {
    if (!m_watch.Valid()) {
        return std::nullopt;
    }
    // Always drained to the end: what is left unread keeps a loop's wait readable.
    alignas(inotify_event) char buffer[4096];
    bool changed = false;
    bool folderGone = false;
    for (;;) {
        const ssize_t length = ::read(m_watch.Get(), buffer, sizeof buffer);
        if (length < 0 && errno == EINTR) {
            continue;
        }
        if (length <= 0) {
            break; // nothing more (EAGAIN)
        }
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            const bool ours = event->wd == m_watchedFolder;
            if (ours && (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF))) {
                folderGone = true;
            }
            // Lost events (a full queue) may have been the file's.
            changed = changed || (event->mask & IN_Q_OVERFLOW) ||
                      (ours && event->len > 0 && m_fileName == event->name);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (folderGone) {
        WatchFolder(); // the path again, if a folder stands there now
        return true;
    }
    if (m_watchBroken) {
        return std::nullopt;
    }
    return changed;
}

QSettings& IniSettingsStore::Store() {
    if (!m_settings) {
        Open();
    }
    return *m_settings;
}

IniSettingsStore::FileIdentity IniSettingsStore::CurrentIdentity() const {
    struct stat info {};
    if (::stat(m_filePath.c_str(), &info) != 0) {
        return {};
    }
    return {info.st_dev, info.st_ino, info.st_size,
            info.st_mtim.tv_sec * 1'000'000'000LL + info.st_mtim.tv_nsec,
            info.st_ctim.tv_sec * 1'000'000'000LL + info.st_ctim.tv_nsec};
}

void IniSettingsStore::SeeLatest() {
    Store(); // the first read opens the file and its watch
    if (const std::optional<bool> changed = WatchedChange(); changed && !*changed) {
        return;
    }
    const FileIdentity now = CurrentIdentity();
    if (now == m_seen) {
        return;
    }
    m_seen = now;
    m_cache.clear();
    // QSettings itself re-reads when the size or the millisecond time stamp differs.
    Store().sync();
}

const IniSettingsStore::StoredText& IniSettingsStore::Lookup(std::string_view name) {
    SeeLatest();
    if (const auto cached = m_cache.find(name); cached != m_cache.end()) {
        return cached->second;
    }
    const QVariant stored =
        Store().value(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    StoredText text; // a list, where one value belongs, reads as missing
    if (stored.typeId() == QMetaType::QString) {
        text = stored.toString().trimmed().toStdString();
    }
    return m_cache.emplace(std::string(name), std::move(text)).first->second;
}

void IniSettingsStore::Write(std::string_view name, const std::string& text) {
    // A value that could not be written before goes with this one: a full disk
    // loses no setting once it has room again.
    m_unwritten.insert_or_assign(std::string(name), text);
    WriteUnwritten();
}

bool IniSettingsStore::RetryUnwritten() {
    if (m_unwritten.empty()) {
        return true;
    }
    try {
        WriteUnwritten();
        return true;
    } catch (const SettingsError&) {
        return false;
    }
}

void IniSettingsStore::WriteUnwritten() {
    QSettings& store = Store();
    for (const auto& [unwrittenName, unwrittenText] : m_unwritten) {
        store.setValue(QString::fromStdString(unwrittenName),
                       QString::fromStdString(unwrittenText));
    }
    store.sync();
    m_cache.clear();
    const QSettings::Status status = store.status();
    if (status != QSettings::NoError) {
        // Qt's error status sticks to the store; a fresh one lets the next write try
        // again. A file of another program's garbage (FormatError) has been rewritten
        // with what Qt could read and these values, which the fresh store shows.
        m_settings =
            std::make_unique<QSettings>(QString::fromStdString(m_filePath), QSettings::IniFormat);
        const bool landed =
            status == QSettings::FormatError &&
            std::all_of(m_unwritten.begin(), m_unwritten.end(), [&](const auto& unwritten) {
                return m_settings->value(QString::fromStdString(unwritten.first)).toString() ==
                       QString::fromStdString(unwritten.second);
            });
        if (!landed) {
            throw SettingsError("Nie można zapisać ustawień w pliku " + m_filePath + ".");
        }
    }
    m_unwritten.clear();
    if (m_watchBroken) {
        WatchFolder(); // the write may have made the folder again
    }
    m_seen = CurrentIdentity();
}

void IniSettingsStore::WriteLong(std::string_view name, std::int32_t value) {
    Write(name, std::to_string(value));
}

void IniSettingsStore::WriteBool(std::string_view name, bool value) {
    Write(name, value ? "true" : "false");
}

void IniSettingsStore::WriteText(std::string_view name, const std::string& value) {
    Write(name, value);
}

std::vector<std::string> IniSettingsStore::Groups() {
    SeeLatest();
    std::vector<std::string> groups;
    for (const QString& group : Store().childGroups()) {
        groups.push_back(group.toStdString());
    }
    return groups;
}

void IniSettingsStore::RemoveGroup(std::string_view group) {
    const std::string prefix = std::string(group) + "/";
    std::erase_if(m_unwritten, [&](const auto& unwritten) {
        return unwritten.first.starts_with(prefix); // gone with its group
    });
    QSettings& store = Store();
    store.remove(QString::fromUtf8(group.data(), static_cast<qsizetype>(group.size())));
    // The other values still waiting go with the removal, as with any write.
    WriteUnwritten();
}

std::string IniSettingsStore::ReadText(std::string_view name, const std::string& defaultValue) {
    const StoredText& text = Lookup(name);
    return text ? *text : defaultValue;
}

std::int32_t IniSettingsStore::ReadLong(std::string_view name, std::int32_t defaultValue) {
    const StoredText& text = Lookup(name);
    if (!text) {
        return defaultValue;
    }
    return ParseStoredLong(*text).value_or(defaultValue);
}

bool IniSettingsStore::ReadBool(std::string_view name, bool defaultValue) {
    const StoredText& text = Lookup(name);
    return text ? ParseStoredBool(*text).value_or(defaultValue) : defaultValue;
}

} // namespace quantiro::platform::linux_impl
