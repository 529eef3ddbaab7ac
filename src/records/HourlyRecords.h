#pragma once

#include "platform/Clock.h"
#include "platform/HourStore.h"
#include "platform/Notifier.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quantiro::records {

// The records of counted hours, and the open hour among them: the one the
// accumulators belong to. When no record could be found or added (a database
// locked by another program), no hour is open and the accumulators go on counting
// in memory until a later counting tick opens one.
//
// Each hour opened gets a number, so that traffic known only seconds after its
// ticks (the counting service's answer) still reaches the record those ticks went
// to: the hour just closed is kept, and what comes late for it is written into its
// record.
class HourlyRecords final {
public:
    HourlyRecords(platform::HourStore& store, platform::Clock& clock, platform::Notifier& notifier);

    // Start-up: finds the current hour's record (adding it when there is none) and
    // loads the accumulators from it.
    void OpenCurrentHour();

    // Adds a counting tick's kilobytes to the open hour, and `onlineMs` milliseconds
    // on line (0 for a tick that counts only by the exact rule), on the network the
    // tick was on (not `Known()`: none is). The hour never goes below zero.
    void Count(double downloadKb, double uploadKb, std::uint32_t onlineMs,
               const platform::Network& network = {});
    // An implausible tick, whose kilobytes were never added: with exact counting it
    // changes nothing; else they are taken off the open hour, down to zero at most.
    void Reject(double downloadKb, double uploadKb, const std::string& network = {});
    bool CountsEveryKilobyte() const { return m_exactCounting; }
    void SetExactCounting(bool exact) { m_exactCounting = exact; }
    // The open hour's amounts: milliseconds on line and kilobytes, the record's and
    // what this run counted since.
    const platform::HourAmounts& Amounts() const { return m_open.amounts; }

    // Which hour counting goes to now; the next hour opened has the next number.
    std::uint64_t OpenHourNumber() const { return m_openNumber; }
    // Whole kilobytes known late for the hour numbered `hour`: the open one, or the
    // one closed just before it (its record is written again); anything older goes
    // to the open hour, so nothing is lost.
    // `network`: the id of the network its ticks were on, which `Count` was told of.
    void CountLate(std::uint64_t hour, const std::string& network, double downloadKb,
                   double uploadKb);
    // The local network's part of a network's traffic in the hour numbered `hour`
    // (as CountLate picks it): within its kilobytes, or beside them when only billed
    // traffic counts. Kept in the network's row, not in the hour's amounts.
    void CountLocal(std::uint64_t hour, const std::string& network, double downloadKb,
                    double uploadKb);
    // Adds what one application moved on a network to the hour numbered `hour` (as
    // CountLate picks it), in kilobytes as the hour counts them, and what it
    // exchanged with the local network. Saved with the hour, under its rules.
    void CountApplication(std::uint64_t hour, const std::string& network,
                          const std::string& application, double downloadKb, double uploadKb,
                          double localDownloadKb, double localUploadKb);
    // The open hour's applications as they are saved: whole kilobytes, and what the
    // hour's amounts hold beyond them as the unattributed row, so the rows add up
    // to the hour. Empty while no application was counted in the hour.
    std::vector<platform::ApplicationAmounts> ApplicationRows() const {
        return ApplicationRowsOf(m_open);
    }
    // The open hour's networks as they are saved: whole kilobytes that add up to the
    // hour's amounts but for the traffic of ticks on no known network.
    std::vector<platform::NetworkAmounts> NetworkRows() const { return NetworkRowsOf(m_open); }
    // The open hour's date ("yyyy-mm-dd") and hour; empty while no hour is open.
    std::string OpenHourDate() const { return m_openHour ? m_openHour->date : std::string(); }
    int OpenHourOfDay() const { return m_openHour ? m_openHour->hour : 0; }

    // What each network carried this run, in kB: what reached its hours, a tick
    // taken off again kept (as the run's totals keep it); under an empty id what no
    // known network did.
    struct NetworkTotal {
        platform::Network network;
        double receivedKb = 0;
        double sentKb = 0;
    };
    const std::map<std::string, NetworkTotal, std::less<>>& NetworkTotals() const {
        return m_networkTotals;
    }

    // True when the open record belongs to another hour, or when no hour is open.
    bool HourChanged();
    // Saves the open hour and adds the current one, both or neither. With no hour
    // open it opens the current one, keeping what the accumulators hold.
    void StartNextHour();

    // Writes what came late for the hour closed last, then the accumulators into the
    // open record, only when all three are above 0 (with exact counting: when the
    // download or the upload is). Errors are thrown.
    void SaveHour();
    // Writes what came late for the hour closed last, and what the open hour counted
    // since the last write: at once when something came late or a network was
    // counted for the first time this run, else once five minutes have passed. A
    // failure waits for the next try and is told once.
    void SaveIfDue();
    // The same writes at once, whatever the time: the system is about to sleep.
    void SaveNow();
    // The open record's download as stored; nullopt when it cannot be read.
    std::optional<std::int32_t> StoredDownload();

private:
    struct OpenHour {
        platform::HourKey key;
        int hour; // 0..23, as the record's Godzina holds it
        std::string date;
    };

    struct ApplicationKb {
        double download = 0;
        double upload = 0;
        double localDownload = 0;
        double localUpload = 0;
    };
    // One known network's part of an hour: whole kilobytes, moved with every change
    // of the hour's amounts so that the rows add up to them exactly.
    struct NetworkKb {
        std::int64_t download = 0;
        std::int64_t upload = 0;
        double localDownload = 0;
        double localUpload = 0;
    };
    // An application's row: the network's id (empty: none known) and its name.
    using ApplicationKey = std::pair<std::string, std::string>;
    // An hour's amounts, its applications and its known networks, the record's and
    // this run's, without the unattributed rows, which are worked out at each save;
    // what the amounts hold beyond the networks' rows was on no known network.
    struct Hour {
        platform::HourAmounts amounts;
        std::map<ApplicationKey, ApplicationKb> applications;
        std::map<std::string, NetworkKb, std::less<>> networks;
    };
    // The hour closed last, while what comes late for it is still written.
    struct ClosedHour {
        platform::HourKey key = 0;
        Hour hour;
        bool unsaved = false;
    };

    static std::vector<platform::ApplicationAmounts> ApplicationRowsOf(const Hour& hour);
    std::vector<platform::NetworkAmounts> NetworkRowsOf(const Hour& hour) const;
    platform::HourRows RowsOf(const Hour& hour) const {
        return {.applications = ApplicationRowsOf(hour), .networks = NetworkRowsOf(hour)};
    }
    // Moves the hour's kilobytes by a tick's, and the network's row by the same whole
    // kilobytes; a fall no row can take comes off the largest rows.
    void AddToAmounts(Hour& hour, const std::string& network, double downloadKb, double uploadKb);
    static void TakeOverOtherId(Hour& hour, const platform::Network& network);
    // The hour numbered `hour`, or the open one when that one is gone.
    Hour& HourNumbered(std::uint64_t hour);
    bool TryOpenCurrentHour();
    void SaveAccumulators();
    // Writes the closed hour's record again when something came late for it.
    void SaveClosedHour();
    void ShowWriteFailureOnce(const platform::DatabaseError& error);
    // A failed write is tried again only after a wait, so a locked database does
    // not stall every tick for the length of its busy timeout.
    void DelayNextTry();
    bool TryDue() const;

    platform::HourStore& m_store;
    Hour m_open;
    std::uint64_t m_openNumber = 1;
    std::optional<ClosedHour> m_closed;
    bool m_applicationsCounted = false; // since the last save
    // A network first counted this run and not written yet: until it is, the
    // options and the reports do not know it, so a plan cannot be set for it.
    bool m_networkUnsaved = false;
    bool m_exactCounting = false;
    platform::Clock& m_clock;
    platform::Notifier& m_notifier;
    std::optional<OpenHour> m_openHour;
    std::optional<std::uint32_t> m_retryAfter;
    std::map<std::string, NetworkTotal, std::less<>> m_networkTotals;
    std::uint32_t m_lastSave = 0; // tick count of the last write of the open hour
    // What the open record holds as far as this run knows, so an idle hour is not
    // written again and again.
    platform::HourAmounts m_saved;
    bool m_writeFailureShown = false;
};

} // namespace quantiro::records
