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
        m_open.amounts.time += m_saved.time;
        m_open.amounts.download += m_saved.download;
        m_open.amounts.upload += m_saved.upload;
        for (const platform::ApplicationAmounts& stored : opened.applications) {
            if (stored.application != applications::kUnattributed) {
                ApplicationKb& kb = m_open.applications[{stored.network, stored.application}];
                kb.download += static_cast<double>(stored.download);
                kb.upload += static_cast<double>(stored.upload);
                kb.localDownload += static_cast<double>(stored.localDownload);
                kb.localUpload += static_cast<double>(stored.localUpload);
            }
        }
        for (const platform::NetworkAmounts& stored : opened.networks) {
            NetworkKb& kb = m_open.networks[stored.network.id];
            kb.download += stored.download;
            kb.upload += stored.upload;
            kb.localDownload += static_cast<double>(stored.localDownload);
            kb.localUpload += static_cast<double>(stored.localUpload);
        }
        m_openHour = OpenHour{opened.key, now.hour, FormatRecordDate(now)};
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

namespace {

// An hour's kilobytes after adding `kb`: never below zero, whatever a counter did.
std::int32_t AddToHour(std::int32_t hour, double kb) {
    return std::max(RoundToInt32(hour + kb), 0);
}

// Brings the programs' whole kilobytes one way down to what the hour holds, where
// they came to more (the service reads a moment after the link): each loses its
// share of the excess, the largest remainders first, so the rows never add up to
// more than their record.
void FitToHour(std::vector<platform::ApplicationAmounts>& rows,
               std::int64_t platform::ApplicationAmounts::*amount, std::int64_t hour) {
    std::int64_t sum = 0;
    for (const auto& row : rows) {
        sum += row.*amount;
    }
    if (sum <= hour) {
        return;
    }
    const double scale =
        static_cast<double>(std::max<std::int64_t>(hour, 0)) / static_cast<double>(sum);
    std::int64_t kept = 0;
    std::vector<std::pair<double, std::size_t>> remainders;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const double scaled = static_cast<double>(rows[i].*amount) * scale;
        rows[i].*amount = static_cast<std::int64_t>(scaled);
        kept += rows[i].*amount;
        remainders.emplace_back(scaled - static_cast<double>(rows[i].*amount), i);
    }
    std::sort(remainders.begin(), remainders.end(), std::greater<>());
    for (std::size_t i = 0; kept < hour && i < remainders.size(); ++i, ++kept) {
        ++(rows[remainders[i].second].*amount);
    }
}

// The known networks' rows one way kept within the hour's amount that way: none
// below zero, and an excess (the hour fell by more than the network a tick was on
// held) taken off the largest rows, so they never add up to more than the hour.
void KeepWithinHour(std::vector<std::int64_t*> rows, std::int64_t hour) {
    std::int64_t sum = 0;
    for (std::int64_t* row : rows) {
        *row = std::max<std::int64_t>(*row, 0);
        sum += *row;
    }
    std::sort(rows.begin(), rows.end(), [](auto* a, auto* b) { return *a > *b; });
    for (std::int64_t* row : rows) {
        if (sum <= hour) {
            break;
        }
        const std::int64_t taken = std::min(*row, sum - hour);
        *row -= taken;
        sum -= taken;
    }
}

} // namespace

void HourlyRecords::AddToAmounts(Hour& hour, const std::string& network, double downloadKb,
                                 double uploadKb) {
    platform::HourAmounts& amounts = hour.amounts;
    const std::int32_t download = AddToHour(amounts.download, downloadKb);
    const std::int32_t upload = AddToHour(amounts.upload, uploadKb);
    const std::int64_t downloadStep = download - amounts.download;
    const std::int64_t uploadStep = upload - amounts.upload;
    amounts.download = download;
    amounts.upload = upload;
    if (downloadStep == 0 && uploadStep == 0) {
        return;
    }
    // The run's totals keep the traffic of no known network too, under no id. They
    // never fall, as the run's totals keep a rejected tick: a counter that fell
    // would read as a reset.
    NetworkTotal& total = m_networkTotals[network];
    total.receivedKb += static_cast<double>(std::max<std::int64_t>(downloadStep, 0));
    total.sentKb += static_cast<double>(std::max<std::int64_t>(uploadStep, 0));
    if (network.empty()) {
        return;
    }
    NetworkKb& row = hour.networks[network];
    row.download += downloadStep;
    row.upload += uploadStep;
    if (downloadStep < 0 || uploadStep < 0) {
        std::vector<std::int64_t*> downloads, uploads;
        for (auto& [id, kb] : hour.networks) {
            downloads.push_back(&kb.download);
            uploads.push_back(&kb.upload);
        }
        KeepWithinHour(downloads, amounts.download);
        KeepWithinHour(uploads, amounts.upload);
    }
}

void HourlyRecords::TakeOverOtherId(Hour& hour, const platform::Network& network) {
    // The hour read back names a network by the id its row in "sieci" has, which may
    // be the one seen beside this network's own: its rows go on under this one, so
    // the hour keeps one row for it.
    if (network.otherId.empty()) {
        return;
    }
    if (auto stored = hour.networks.extract(network.otherId)) {
        NetworkKb& kb = hour.networks[network.id];
        kb.download += stored.mapped().download;
        kb.upload += stored.mapped().upload;
        kb.localDownload += stored.mapped().localDownload;
        kb.localUpload += stored.mapped().localUpload;
    }
    for (auto it = hour.applications.lower_bound({network.otherId, std::string()});
         it != hour.applications.end() && it->first.first == network.otherId;) {
        ApplicationKb& kb = hour.applications[{network.id, it->first.second}];
        kb.download += it->second.download;
        kb.upload += it->second.upload;
        kb.localDownload += it->second.localDownload;
        kb.localUpload += it->second.localUpload;
        it = hour.applications.erase(it);
    }
}

void HourlyRecords::Count(double downloadKb, double uploadKb, std::uint32_t onlineMs,
                          const platform::Network& network) {
    platform::HourAmounts& hour = m_open.amounts;
    if (onlineMs != 0) {
        hour.time = RoundToInt32(static_cast<double>(hour.time) + onlineMs);
    }
    if (network.Known()) {
        // The name and the metered flag as last seen are what the rows note.
        auto [total, added] = m_networkTotals.try_emplace(network.id);
        if (added || !(total->second.network == network)) {
            m_networkUnsaved = m_networkUnsaved || added;
            total->second.network = network;
            TakeOverOtherId(m_open, network);
        }
    }
    AddToAmounts(m_open, network.id, downloadKb, uploadKb);
}

void HourlyRecords::Reject(double downloadKb, double uploadKb, const std::string& network) {
    // Counting exactly, the tick never reached the hour; counting by ticks over
    // 1 kB, it is taken off whatever the earlier ticks added.
    if (!m_exactCounting) {
        AddToAmounts(m_open, network, -downloadKb, -uploadKb);
    }
}

HourlyRecords::Hour& HourlyRecords::HourNumbered(std::uint64_t hour) {
    if (m_closed && hour + 1 == m_openNumber) {
        m_closed->unsaved = true;
        return m_closed->hour;
    }
    m_applicationsCounted = true;
    return m_open;
}

void HourlyRecords::CountLate(std::uint64_t hour, const std::string& network, double downloadKb,
                              double uploadKb) {
    AddToAmounts(HourNumbered(hour), network, downloadKb, uploadKb);
}

void HourlyRecords::CountLocal(std::uint64_t hour, const std::string& network, double downloadKb,
                               double uploadKb) {
    if (network.empty() || (downloadKb == 0 && uploadKb == 0)) {
        return;
    }
    NetworkKb& kb = HourNumbered(hour).networks[network];
    kb.localDownload += downloadKb;
    kb.localUpload += uploadKb;
}

void HourlyRecords::CountApplication(std::uint64_t hour, const std::string& network,
                                     const std::string& application, double downloadKb,
                                     double uploadKb, double localDownloadKb,
                                     double localUploadKb) {
    ApplicationKb& kb = HourNumbered(hour).applications[{network, application}];
    kb.download += downloadKb;
    kb.upload += uploadKb;
    kb.localDownload += localDownloadKb;
    kb.localUpload += localUploadKb;
}

std::vector<platform::ApplicationAmounts> HourlyRecords::ApplicationRowsOf(const Hour& hour) {
    std::vector<platform::ApplicationAmounts> rows;
    if (hour.applications.empty()) {
        return rows;
    }
    // Each network's applications are fitted to that network's part of the hour and
    // get its own unattributed row; what no known network holds is the part of the
    // ticks on none (every tick's, without a network watch).
    std::map<std::string, std::pair<std::int64_t, std::int64_t>, std::less<>> parts;
    std::int64_t knownDownload = 0;
    std::int64_t knownUpload = 0;
    for (const auto& [network, kb] : hour.networks) {
        parts[network] = {kb.download, kb.upload};
        knownDownload += kb.download;
        knownUpload += kb.upload;
    }
    parts[""] = {std::max<std::int64_t>(hour.amounts.download - knownDownload, 0),
                 std::max<std::int64_t>(hour.amounts.upload - knownUpload, 0)};
    for (const auto& [network, part] : parts) {
        std::vector<platform::ApplicationAmounts> networkRows;
        for (auto it = hour.applications.lower_bound({network, std::string()});
             it != hour.applications.end() && it->first.first == network; ++it) {
            const ApplicationKb& kb = it->second;
            networkRows.push_back({.application = it->first.second,
                                   .download = RoundToInt32(kb.download),
                                   .upload = RoundToInt32(kb.upload),
                                   .localDownload = RoundToInt32(kb.localDownload),
                                   .localUpload = RoundToInt32(kb.localUpload),
                                   .network = network});
        }
        FitToHour(networkRows, &platform::ApplicationAmounts::download, part.first);
        FitToHour(networkRows, &platform::ApplicationAmounts::upload, part.second);
        std::int64_t download = 0;
        std::int64_t upload = 0;
        for (const auto& row : networkRows) {
            download += row.download;
            upload += row.upload;
        }
        // What the link carried beyond every program's share.
        networkRows.push_back({.application = std::string(applications::kUnattributed),
                               .download = part.first - download,
                               .upload = part.second - upload,
                               .network = network});
        rows.insert(rows.end(), networkRows.begin(), networkRows.end());
    }
    // A row with nothing in it (a program that only looked something up) says
    // nothing; it is not written.
    std::erase_if(rows, [](const platform::ApplicationAmounts& row) {
        return row.download == 0 && row.upload == 0 && row.localDownload == 0 &&
               row.localUpload == 0;
    });
    return rows;
}

std::vector<platform::NetworkAmounts> HourlyRecords::NetworkRowsOf(const Hour& hour) const {
    std::vector<platform::NetworkAmounts> rows;
    for (const auto& [id, kb] : hour.networks) {
        const auto seen = m_networkTotals.find(id);
        platform::NetworkAmounts row{.network = seen != m_networkTotals.end()
                                                    ? seen->second.network
                                                    : platform::Network{.id = id},
                                     .download = kb.download,
                                     .upload = kb.upload,
                                     .localDownload = RoundToInt32(kb.localDownload),
                                     .localUpload = RoundToInt32(kb.localUpload)};
        if (row.download != 0 || row.upload != 0 || row.localDownload != 0 ||
            row.localUpload != 0) {
            rows.push_back(std::move(row));
        }
    }
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
        // What came late for the hour before goes first: it is dropped below.
        SaveClosedHour();
        next = m_store.StartNextHour(m_openHour->key, m_open.amounts, RowsOf(m_open),
                                     FormatRecordDate(now), now.hour);
    } catch (const platform::DatabaseError& error) {
        DelayNextTry();
        ShowWriteFailureOnce(error);
        return;
    }
    m_closed = ClosedHour{.key = m_openHour->key, .hour = std::move(m_open)};
    ++m_openNumber;
    m_openHour = OpenHour{next, now.hour, FormatRecordDate(now)};
    m_writeFailureShown = false;
    m_open = {};
    m_saved = {};
    m_applicationsCounted = false;
}

void HourlyRecords::SaveClosedHour() {
    if (m_closed && m_closed->unsaved) {
        m_store.SaveHour(m_closed->key, m_closed->hour.amounts, RowsOf(m_closed->hour));
        m_closed->unsaved = false;
    }
}

void HourlyRecords::ShowWriteFailureOnce(const platform::DatabaseError& error) {
    if (!m_writeFailureShown) {
        m_writeFailureShown = true;
        m_notifier.ShowMessage(error.what());
    }
}

void HourlyRecords::SaveHour() {
    SaveClosedHour();
    const platform::HourAmounts& hour = m_open.amounts;
    const bool counted = m_exactCounting ? hour.download > 0 || hour.upload > 0
                                         : hour.download > 0 && hour.upload > 0 && hour.time > 0;
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
    if (!TryDue()) {
        return;
    }
    // What came late for the hour closed last is written at once: its record is
    // otherwise never written again.
    const std::uint32_t now = m_clock.TickMilliseconds();
    if (now - m_lastSave >= static_cast<std::uint32_t>(kSaveInterval / 1ms) ||
        (m_closed && m_closed->unsaved) || m_networkUnsaved) {
        SaveNow();
    }
}

void HourlyRecords::SaveNow() {
    if (!m_openHour) {
        return;
    }
    m_lastSave = m_clock.TickMilliseconds();
    try {
        SaveClosedHour();
        if (!(m_open.amounts == m_saved) || m_applicationsCounted) {
            SaveAccumulators();
        }
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
    m_store.SaveHour(m_openHour->key, m_open.amounts, RowsOf(m_open));
    m_saved = m_open.amounts;
    m_applicationsCounted = false;
    m_networkUnsaved = false;
}

} // namespace quantiro::records
