#pragma once

#include "platform/Clock.h"
#include "platform/HourStore.h"
#include "platform/Notifier.h"
#include "sampling/TickCollaborators.h"

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
class HourlyRecords final : public sampling::HourRecords {
public:
    HourlyRecords(platform::HourStore& store, platform::Clock& clock, platform::Notifier& notifier);

    // Start-up: finds the current hour's record (adding it when there is none) and
    // loads the accumulators from it.
    void OpenCurrentHour();

    void Count(double downloadKb, double uploadKb, std::uint32_t onlineMs) override;
    void TakeBack(double downloadKb, double uploadKb) override;
    bool CountsEveryKilobyte() const override { return m_exactCounting; }
    void SetExactCounting(bool exact) { m_exactCounting = exact; }
    // The open hour's amounts: milliseconds on line and kilobytes, the record's and
    // what this run counted since.
    const platform::HourAmounts& Amounts() const { return m_hour; }

    // Adds what one application moved since the last reading to the open hour, in
    // kilobytes as the hour counts them, and what it exchanged with the local
    // network. Saved with the hour, under its rules.
    void CountApplication(const std::string& application, double downloadKb, double uploadKb,
                          double localDownloadKb, double localUploadKb);
    // The open hour's applications as they are saved: whole kilobytes, and what the
    // hour's amounts hold beyond them as the unattributed row, so the rows add up
    // to the hour. Empty while no application was counted in the hour.
    std::vector<platform::ApplicationAmounts> ApplicationRows() const;

    // True when the open record belongs to another hour, or when no hour is open.
    bool HourChanged() override;
    // Saves the open hour and adds the current one, both or neither. With no hour
    // open it opens the current one, keeping what the accumulators hold.
    void StartNextHour() override;

    // Writes the accumulators into the open record, only when all three are above 0
    // (with exact counting: when the download or the upload is). Errors are thrown.
    void SaveHour();
    // Writes what the open hour counted since the last write, once five minutes
    // have passed since then; a failure waits for the next try and is told once.
    void SaveIfDue();
    // The same write at once, whatever the time: the system is about to sleep.
    void SaveNow();
    // The open record's download as stored; nullopt when it cannot be read.
    std::optional<std::int32_t> StoredDownload();

private:
    struct OpenHour {
        platform::HourKey key;
        int hour; // 0..23, as the record's Godzina holds it
    };

    bool TryOpenCurrentHour();
    void SaveAccumulators();
    void ShowWriteFailureOnce(const platform::DatabaseError& error);
    // A failed write is tried again only after a wait, so a locked database does
    // not stall every tick for the length of its busy timeout.
    void DelayNextTry();
    bool TryDue() const;

    struct ApplicationKb {
        double download = 0;
        double upload = 0;
        double localDownload = 0;
        double localUpload = 0;
    };

    platform::HourStore& m_store;
    platform::HourAmounts m_hour;
    // The open hour's applications, the record's and this run's, without the
    // unattributed row, which is worked out at each save.
    std::map<std::string, ApplicationKb, std::less<>> m_applications;
    bool m_applicationsCounted = false; // since the last save
    bool m_exactCounting = false;
    platform::Clock& m_clock;
    platform::Notifier& m_notifier;
    std::optional<OpenHour> m_openHour;
    std::optional<std::uint32_t> m_retryAfter;
    std::uint32_t m_lastSave = 0; // tick count of the last write of the open hour
    // What the open record holds as far as this run knows, so an idle hour is not
    // written again and again.
    platform::HourAmounts m_saved;
    bool m_writeFailureShown = false;
};

} // namespace quantiro::records
