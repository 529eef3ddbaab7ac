#pragma once

#include "fakes/FakeClock.h"
#include "fakes/RecordingNotifier.h"
#include "fakes/TempDir.h"
#include "platform/linux/IniRegistrySettings.h"
#include "platform/linux/SqliteDatabase.h"
#include "records/HourlyRecords.h"
#include "records/RecordFields.h"
#include "shell/RegistryValues.h"

#include <memory>

namespace quantiro::testing {

inline platform::LocalDateTime At(int year, int month, int day, int hour, int minute = 0) {
    return {year, month, day, hour, minute, 0};
}

// A meter's records on a real database file and a real settings file in a
// temporary directory, with the clock in the test's hands.
struct RecordsFixture {
    // The database lives in `where`, or in the temporary directory when none is given.
    explicit RecordsFixture(const std::filesystem::path& where = {})
        : directory(where.empty() ? dir.Path() : where) {
        settings.SetKeyPath(std::string(values::kKeyPath));
        settings.SetRootKey(platform::kHkeyCurrentUser);
    }

    std::string DbPath() const { return (directory / "qub.db").string(); }

    // Opens the database and positions on the current hour, as start-up does.
    void Start(const platform::LocalDateTime& now) {
        clock.SetNow(now);
        state = {};
        database = platform::linux_impl::OpenTrafficDatabase(DbPath());
        records = database->OpenRecordset(records::kTrafficTable);
        hours =
            std::make_unique<records::HourlyRecords>(*database, *records, state, clock, notifier);
        hours->OpenCurrentHour();
    }

    void Stop() {
        hours.reset();
        records.reset();
        database.reset();
    }

    TempDir dir;
    std::filesystem::path directory;
    platform::linux_impl::IniRegistrySettings settings{(dir.Path() / "config").string()};
    FakeClock clock;
    sampling::SamplingState state;
    RecordingNotifier notifier;
    std::unique_ptr<platform::Database> database;
    std::unique_ptr<platform::RecordSet> records;
    std::unique_ptr<records::HourlyRecords> hours;
};

} // namespace quantiro::testing
