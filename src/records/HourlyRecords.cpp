#include "records/HourlyRecords.h"

#include "common/ApplicationNames.h"
#include "common/Rounding.h"
#include "records/RecordFields.h"

#include <algorithm>
#include <chrono>

namespace quantiro::records {

namespace {

using namespace std::chrono_literals;

constexpr auto kRetryWait = 10s;
constexpr auto kSaveInterval = 5min;
constexpr int kSaveAttempts = 20;
constexpr auto kSaveRetryWait = 100ms;

} // namespace

HourlyRecords::HourlyRecords(platform::HourStore& store, platform::Clock& clock,
                             platform::Notifier& notifier)
    : m_store(store)
    , m_clock(clock)
    , m_notifier(notifier)
    , m_lastSave(clock.TickMilliseconds()) {}

bool HourlyRecords::TryOpenCurrentHour() {
    // A search that fails is not a search that found nothing: adding a record then
    // would split the hour in two. Nothing opens; a later tick tries again.
    try {
        const platform::LocalDateTime now = m_clock.Now();
        const platform::OpenedHour opened = m_store.OpenHour(FormatRecordDate(now), now.hour);
        // What this run counted so far goes on top of what the record holds.
        m_saved = {.time = FieldToInt32(opened.time),
                   .download = FieldToInt32(opened.download),
                   .upload = FieldToInt32(opened.upload)};
        m_hour.time += m_saved.time;
        m_hour.download += m_saved.download;
        m_hour.upload += m_saved.upload;
        for (const platform::ApplicationAmounts& stored : opened.applications) {
            if (stored.application != applications::kUnattributed) {
                ApplicationKb& kb = m_applications[stored.application];
                kb.download += static_cast<double>(stored.download);
                kb.upload += static_cast<double>(stored.upload);
                kb.localDownload += static_cast<double>(stored.localDownload);
                kb.localUpload += static_cast<double>(stored.localUpload);
            }
        }
        m_openHour = OpenHour{opened.key, now.hour};
        return true;
    } catch (const platform::DatabaseError&) {
        m_openHour.reset();
        return false;
    }
}

void HourlyRecords::DelayNextTry() {
    m_retryAfter = m_clock.TickMilliseconds() + static_cast<std::uint32_t>(kRetryWait / 1ms);
}

bool HourlyRecords::TryDue() const {
    // A signed difference, so the comparison holds across the tick count's wrap.
    return !m_retryAfter ||
           static_cast<std::int32_t>(m_clock.TickMilliseconds() - *m_retryAfter) >= 0;
}

void HourlyRecords::OpenCurrentHour() {
    if (!TryOpenCurrentHour()) {
        DelayNextTry();
    }
}

void HourlyRecords::Count(double downloadKb, double uploadKb, std::uint32_t onlineMs) {
    if (onlineMs != 0) {
        m_hour.time = RoundToInt32(static_cast<double>(m_hour.time) + onlineMs);
    }
    m_hour.download = RoundToInt32(m_hour.download + downloadKb);
    m_hour.upload = RoundToInt32(m_hour.upload + uploadKb);
}

void HourlyRecords::TakeBack(double downloadKb, double uploadKb) {
    m_hour.download = RoundToInt32(m_hour.download - downloadKb);
    m_hour.upload = RoundToInt32(m_hour.upload - uploadKb);
}

void HourlyRecords::CountApplication(const std::string& application, double downloadKb,
                                     double uploadKb, double localDownloadKb,
                                     double localUploadKb) {
    ApplicationKb& kb = m_applications[application];
    kb.download += downloadKb;
    kb.upload += uploadKb;
    kb.localDownload += localDownloadKb;
    kb.localUpload += localUploadKb;
    m_applicationsCounted = true;
}

std::vector<platform::ApplicationAmounts> HourlyRecords::ApplicationRows() const {
    std::vector<platform::ApplicationAmounts> rows;
    if (m_applications.empty()) {
        return rows;
    }
    std::int64_t download = 0;
    std::int64_t upload = 0;
    for (const auto& [application, kb] : m_applications) {
        rows.push_back({.application = application,
                        .download = RoundToInt32(kb.download),
                        .upload = RoundToInt32(kb.upload),
                        .localDownload = RoundToInt32(kb.localDownload),
                        .localUpload = RoundToInt32(kb.localUpload)});
        download += rows.back().download;
        upload += rows.back().upload;
    }
    // What the link carried beyond every program's share: never below zero, where
    // rounding put the programs a kilobyte above the hour.
    rows.push_back({.application = std::string(applications::kUnattributed),
                    .download = std::max<std::int64_t>(m_hour.download - download, 0),
                    .upload = std::max<std::int64_t>(m_hour.upload - upload, 0)});
    return rows;
}

bool HourlyRecords::HourChanged() {
    // Only the hour is compared: a machine resumed a day later in the same hour
    // goes on adding to yesterday's record.
    return !m_openHour || m_openHour->hour != m_clock.Now().hour;
}

void HourlyRecords::StartNextHour() {
    if (!TryDue()) {
        return;
    }
    m_retryAfter.reset();
    if (!m_openHour) {
        if (!TryOpenCurrentHour()) {
            DelayNextTry();
        }
        return;
    }
    // The old hour's amounts and the new hour's record are saved together or not at
    // all. On failure the accumulators keep counting and a later counting tick tries
    // again, so nothing is lost to a full disk or a locked file.
    const platform::LocalDateTime now = m_clock.Now();
    platform::HourKey next = 0;
    try {
        next = m_store.StartNextHour(m_openHour->key, m_hour, ApplicationRows(),
                                     FormatRecordDate(now), now.hour);
    } catch (const platform::DatabaseError& error) {
        DelayNextTry();
        ShowWriteFailureOnce(error);
        return;
    }
    m_openHour = OpenHour{next, now.hour};
    m_writeFailureShown = false;
    m_saved = m_hour = {};
    m_applications.clear();
    m_applicationsCounted = false;
}

void HourlyRecords::ShowWriteFailureOnce(const platform::DatabaseError& error) {
    if (!m_writeFailureShown) {
        m_writeFailureShown = true;
        m_notifier.ShowMessage(error.what());
    }
}

void HourlyRecords::SaveHour() {
    const bool counted = m_exactCounting
                             ? m_hour.download > 0 || m_hour.upload > 0
                             : m_hour.download > 0 && m_hour.upload > 0 && m_hour.time > 0;
    if (!counted) {
        return;
    }
    if (!m_openHour && !TryOpenCurrentHour()) {
        throw platform::DatabaseError("Nie można zapisać bieżącej godziny w bazie danych.");
    }
    // Writes fail at once while another program holds the file: here, outside the
    // tick, they are tried again for up to two seconds.
    for (int attempt = 1;; ++attempt) {
        try {
            SaveAccumulators();
            return;
        } catch (const platform::DatabaseError&) {
            if (attempt == kSaveAttempts) {
                throw;
            }
            m_clock.Sleep(kSaveRetryWait);
        }
    }
}

void HourlyRecords::SaveIfDue() {
    const std::uint32_t now = m_clock.TickMilliseconds();
    if (now - m_lastSave < static_cast<std::uint32_t>(kSaveInterval / 1ms) || !TryDue()) {
        return;
    }
    SaveNow();
}

void HourlyRecords::SaveNow() {
    if (!m_openHour) {
        return;
    }
    m_lastSave = m_clock.TickMilliseconds();
    if (m_hour == m_saved && !m_applicationsCounted) {
        return;
    }
    try {
        SaveAccumulators();
        m_writeFailureShown = false;
    } catch (const platform::DatabaseError& error) {
        DelayNextTry();
        ShowWriteFailureOnce(error);
    }
}

std::optional<std::int32_t> HourlyRecords::StoredDownload() {
    try {
        if (m_openHour) {
            return FieldToInt32(m_store.StoredDownload(m_openHour->key));
        }
    } catch (const platform::DatabaseError&) {
    }
    return std::nullopt;
}

void HourlyRecords::SaveAccumulators() {
    // Each field receives the accumulator, never a sum: opening the hour loaded the
    // accumulators from this record, so an hour continued later keeps its amounts.
    m_store.SaveHour(m_openHour->key, m_hour, ApplicationRows());
    m_saved = m_hour;
    m_applicationsCounted = false;
}

} // namespace quantiro::records
