#include "platform/linux/SqliteDatabase.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quantiro::platform::linux_impl {

namespace {

struct ConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

struct StatementFinalizer {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// How long a write waits for a reader of the family to let go of the file.
constexpr int kBusyTimeoutMs = 2000;
// How long the meter's writes wait for another writer, once it runs.
constexpr int kTickBusyTimeoutMs = 20;

std::string Message(sqlite3* db) {
    return db ? sqlite3_errmsg(db) : "brak pamięci";
}

Statement Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
        throw DatabaseError("Błąd bazy danych: " + Message(db));
    }
    return Statement(statement);
}

void Execute(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string text = error ? error : Message(db);
        sqlite3_free(error);
        throw DatabaseError("Błąd bazy danych: " + text);
    }
}

FieldValue Column(sqlite3_stmt* statement, int index) {
    switch (sqlite3_column_type(statement, index)) {
    case SQLITE_INTEGER:
        return static_cast<std::int64_t>(sqlite3_column_int64(statement, index));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, index);
    case SQLITE_NULL:
        return std::monostate{};
    default: {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        return std::string(text ? text : "",
                           static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
    }
    }
}

void BindText(sqlite3_stmt* statement, int index, std::string_view text) {
    sqlite3_bind_text(statement, index, text.data(), static_cast<int>(text.size()),
                      SQLITE_TRANSIENT);
}

// Runs a statement that returns no rows, and leaves it ready for the next run.
void Run(sqlite3* db, sqlite3_stmt* statement, const char* failure) {
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    if (result != SQLITE_DONE) {
        throw DatabaseError(failure + Message(db));
    }
}

constexpr const char* kWriteFailure = "Nie można zapisać rekordu w bazie danych: ";
constexpr const char* kReadFailure = "Błąd odczytu bazy danych: ";

// Runs `work` as one transaction, rolled back when it throws.
template <typename Work> auto InTransaction(sqlite3* db, Work&& work) {
    Execute(db, "BEGIN IMMEDIATE");
    try {
        auto result = work();
        Execute(db, "COMMIT");
        return result;
    } catch (const DatabaseError&) {
        if (!sqlite3_get_autocommit(db)) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        }
        throw;
    }
}

// The local network's columns: a table another program made may lack them, and
// reads as if they held 0.
bool HasLocalColumns(sqlite3* db) {
    Statement probe = Prepare(db, "SELECT 1 FROM pragma_table_info('aplikacje') "
                                  "WHERE name = 'DownloadLokalny'");
    return sqlite3_step(probe.get()) == SQLITE_ROW;
}

std::string LocalColumns(sqlite3* db) {
    return HasLocalColumns(db) ? "DownloadLokalny, UploadLokalny" : "0, 0";
}

bool HasApplicationsTable(sqlite3* db) {
    Statement probe = Prepare(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND "
                                  "name = 'aplikacje'");
    return sqlite3_step(probe.get()) == SQLITE_ROW;
}

bool HasColumn(sqlite3* db, const char* table, const char* column) {
    Statement probe = Prepare(db, "SELECT 1 FROM pragma_table_info(?1) WHERE name = ?2");
    BindText(probe.get(), 1, table);
    BindText(probe.get(), 2, column);
    return sqlite3_step(probe.get()) == SQLITE_ROW;
}

// The networks' tables as this meter writes them, both there with every column and
// "aplikacje" able to say which network a row was on.
bool HasNetworkTables(sqlite3* db) {
    return HasColumn(db, "sieci", "InnyId") && HasColumn(db, "ruch_sieci", "UploadLokalny") &&
           HasColumn(db, "aplikacje", "Siec");
}

// Adds the networks' tables, and the column an older "aplikacje" lacks; false when the
// database cannot take them now (busy, full disk, read-only), which leaves the hours
// recorded as before, without their networks.
bool AddNetworkTables(sqlite3* db) {
    try {
        Execute(db, "CREATE TABLE IF NOT EXISTS sieci (Id TEXT, Nazwa TEXT, Rodzaj TEXT, "
                    "Taryfowana INTEGER, Pierwsza TEXT, Ostatnia TEXT, InnyId TEXT)");
        if (!HasColumn(db, "sieci", "InnyId")) {
            Execute(db, "ALTER TABLE sieci ADD COLUMN InnyId TEXT");
        }
        Execute(db, "CREATE TABLE IF NOT EXISTS ruch_sieci (Data TEXT, Godzina INTEGER, "
                    "Siec TEXT, Download INTEGER, Upload INTEGER, "
                    "DownloadLokalny INTEGER DEFAULT 0, UploadLokalny INTEGER DEFAULT 0)");
        Execute(db, "CREATE INDEX IF NOT EXISTS ruch_sieci_godzina ON ruch_sieci (Data, Godzina)");
        if (!HasColumn(db, "aplikacje", "Siec")) {
            Execute(db, "ALTER TABLE aplikacje ADD COLUMN Siec TEXT");
        }
        return true;
    } catch (const DatabaseError&) {
        return HasNetworkTables(db);
    }
}

class SqliteHourStore final : public HourStore {
public:
    SqliteHourStore(Connection connection, bool applicationsTable, bool networkTables)
        : m_connection(std::move(connection))
        , m_applicationsTable(applicationsTable)
        , m_networkTables(networkTables) {}

    OpenedHour OpenHour(std::string_view date, std::int32_t hour) override {
        sqlite3* db = m_connection.get();
        Prepared(m_find, "SELECT rowid, Czas, Download, Upload FROM trafic "
                         "WHERE Data = ?1 AND Godzina = ?2 ORDER BY rowid LIMIT 1");
        BindText(m_find.get(), 1, date);
        sqlite3_bind_int64(m_find.get(), 2, hour);
        const int result = sqlite3_step(m_find.get());
        if (result == SQLITE_ROW) {
            OpenedHour found{.key = sqlite3_column_int64(m_find.get(), 0),
                             .time = Column(m_find.get(), 1),
                             .download = Column(m_find.get(), 2),
                             .upload = Column(m_find.get(), 3)};
            sqlite3_reset(m_find.get());
            found.applications = HourApplications(date, hour);
            found.networks = HourNetworks(date, hour);
            return found;
        }
        sqlite3_reset(m_find.get());
        if (result != SQLITE_DONE) {
            throw DatabaseError(kReadFailure + Message(db));
        }
        return {.key = AddHour(date, hour),
                .time = std::int64_t{0},
                .download = std::int64_t{0},
                .upload = std::int64_t{0}};
    }

    void SaveHour(HourKey hour, const HourAmounts& amounts, const HourRows& rows) override {
        if (!SavesRows(rows)) {
            SaveAmounts(hour, amounts); // as the family always wrote it
            return;
        }
        InTransaction(m_connection.get(), [&] {
            SaveAmounts(hour, amounts);
            SaveRows(hour, rows);
            return 0;
        });
    }

    HourKey StartNextHour(HourKey ending, const HourAmounts& amounts, const HourRows& rows,
                          std::string_view date, std::int32_t hour) override {
        return InTransaction(m_connection.get(), [&] {
            SaveAmounts(ending, amounts);
            if (SavesRows(rows)) {
                SaveRows(ending, rows);
            }
            return AddHour(date, hour);
        });
    }

    FieldValue StoredDownload(HourKey hour) override {
        Prepared(m_download, "SELECT Download FROM trafic WHERE rowid = ?1");
        sqlite3_bind_int64(m_download.get(), 1, hour);
        const int result = sqlite3_step(m_download.get());
        FieldValue download;
        if (result == SQLITE_ROW) {
            download = Column(m_download.get(), 0);
        }
        sqlite3_reset(m_download.get());
        if (result == SQLITE_DONE) {
            throw DatabaseError("Rekord nie istnieje.");
        }
        if (result != SQLITE_ROW) {
            throw DatabaseError(kReadFailure + Message(m_connection.get()));
        }
        return download;
    }

    void ReadRecords(std::string_view firstDate, std::string_view lastDate,
                     const std::function<void(const StoredRecord&)>& each) override {
        const bool bounded = !firstDate.empty() && !lastDate.empty();
        Statement statement =
            Prepare(m_connection.get(),
                    std::string("SELECT Data, Godzina, Czas, Download, Upload FROM trafic") +
                        (bounded ? " WHERE Data BETWEEN ?1 AND ?2" : ""));
        if (bounded) {
            BindText(statement.get(), 1, firstDate);
            BindText(statement.get(), 2, lastDate);
        }
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
            each({Column(statement.get(), 0), Column(statement.get(), 1),
                  Column(statement.get(), 2), Column(statement.get(), 3),
                  Column(statement.get(), 4)});
        }
        if (result != SQLITE_DONE) {
            throw DatabaseError("Błąd bazy danych: " + Message(m_connection.get()));
        }
    }

    void ReadApplications(std::string_view firstDate, std::string_view lastDate,
                          const std::function<void(const StoredApplication&)>& each) override {
        if (!m_applicationsTable && !HasApplicationsTable(m_connection.get())) {
            return; // no meter has recorded applications here yet
        }
        m_applicationsTable = true;
        sqlite3* db = m_connection.get();
        const bool networks = m_networkTables || HasColumn(db, "aplikacje", "Siec");
        Statement statement = Prepare(db, "SELECT Data, Godzina, Aplikacja, Download, Upload, " +
                                              LocalColumns(db) + (networks ? ", Siec" : ", NULL") +
                                              " FROM aplikacje WHERE Data BETWEEN ?1 AND ?2");
        BindText(statement.get(), 1, firstDate);
        BindText(statement.get(), 2, lastDate);
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
            each({.date = Text(statement.get(), 0),
                  .hour = sqlite3_column_int(statement.get(), 1),
                  .amounts = AmountsAt(statement.get(), 2)});
        }
        if (result != SQLITE_DONE) {
            throw DatabaseError("Błąd bazy danych: " + Message(db));
        }
    }

    std::vector<StoredNetwork> ReadNetworks(std::string_view firstDate,
                                            std::string_view lastDate) override {
        std::vector<StoredNetwork> found;
        sqlite3* db = m_connection.get();
        if (!m_networkTables && !HasNetworkTables(db)) {
            return found; // no meter has recorded networks here yet
        }
        Statement statement = Prepare(
            db, "SELECT s.Id, s.InnyId, s.Nazwa, s.Rodzaj, s.Taryfowana, s.Pierwsza, s.Ostatnia, "
                "COALESCE(SUM(r.Download), 0), COALESCE(SUM(r.Upload), 0), "
                "COALESCE(SUM(r.DownloadLokalny), 0), COALESCE(SUM(r.UploadLokalny), 0) "
                "FROM sieci s LEFT JOIN ruch_sieci r ON r.Siec = s.Id AND r.Data BETWEEN ?1 AND ?2 "
                "GROUP BY s.rowid ORDER BY s.rowid");
        BindText(statement.get(), 1, firstDate);
        BindText(statement.get(), 2, lastDate);
        sqlite3_stmt* row = statement.get();
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(row)) == SQLITE_ROW) {
            found.push_back({.network = {.id = Text(row, 0),
                                         .otherId = Text(row, 1),
                                         .name = Text(row, 2),
                                         .kind = KindOfWord(Text(row, 3)),
                                         .metered = sqlite3_column_int(row, 4) != 0},
                             .first = Text(row, 5),
                             .last = Text(row, 6),
                             .download = sqlite3_column_int64(row, 7),
                             .upload = sqlite3_column_int64(row, 8),
                             .localDownload = sqlite3_column_int64(row, 9),
                             .localUpload = sqlite3_column_int64(row, 10)});
        }
        if (result != SQLITE_DONE) {
            throw DatabaseError("Błąd bazy danych: " + Message(db));
        }
        return found;
    }

    void ReadNetworkHours(std::string_view networkId, std::string_view firstDate,
                          std::string_view lastDate,
                          const std::function<void(const StoredRecord&)>& each) override {
        sqlite3* db = m_connection.get();
        if (!m_networkTables && !HasNetworkTables(db)) {
            return;
        }
        Statement statement = Prepare(db, "SELECT Data, Godzina, Download, Upload FROM ruch_sieci "
                                          "WHERE Siec = ?1 AND Data BETWEEN ?2 AND ?3");
        BindText(statement.get(), 1, networkId);
        BindText(statement.get(), 2, firstDate);
        BindText(statement.get(), 3, lastDate);
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement.get())) == SQLITE_ROW) {
            each({.date = Column(statement.get(), 0),
                  .hour = Column(statement.get(), 1),
                  .time = std::int64_t{0},
                  .download = Column(statement.get(), 2),
                  .upload = Column(statement.get(), 3)});
        }
        if (result != SQLITE_DONE) {
            throw DatabaseError("Błąd bazy danych: " + Message(db));
        }
    }

private:
    // Statements are prepared on first use and kept, so a tick's write parses no SQL.
    void Prepared(Statement& statement, const char* sql) {
        if (!statement) {
            statement = Prepare(m_connection.get(), sql);
        }
    }

    static std::string Text(sqlite3_stmt* statement, int index) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        return std::string(text ? text : "",
                           static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
    }

    // An application's row from column `first` on: Aplikacja, Download, Upload,
    // DownloadLokalny, UploadLokalny, Siec.
    static ApplicationAmounts AmountsAt(sqlite3_stmt* statement, int first) {
        return {.application = Text(statement, first),
                .download = sqlite3_column_int64(statement, first + 1),
                .upload = sqlite3_column_int64(statement, first + 2),
                .localDownload = sqlite3_column_int64(statement, first + 3),
                .localUpload = sqlite3_column_int64(statement, first + 4),
                .network = Text(statement, first + 5)};
    }

    bool SavesRows(const HourRows& rows) const {
        return (!rows.applications.empty() && m_applicationsTable) ||
               (!rows.networks.empty() && m_networkTables);
    }

    // The networks first: they say which row of "sieci" each id stands for, and the
    // applications' rows name that row's id.
    void SaveRows(HourKey hour, const HourRows& rows) {
        std::map<std::string, std::string, std::less<>> rowIds;
        if (!rows.networks.empty() && m_networkTables) {
            SaveNetworks(hour, rows.networks, rowIds);
        }
        if (!rows.applications.empty() && m_applicationsTable) {
            SaveApplications(hour, rows.applications, rowIds);
        }
    }

    // The id of the row of "sieci" that is `network`'s by either of its ids, noting
    // the network there (its name and kind as now, the days it was seen) unless only
    // its id is known; a network seen for the first time gets a row of its own.
    std::string NoteNetwork(const Network& network, const std::string& date) {
        sqlite3* db = m_connection.get();
        // Its own row, or the row of its other identity (the Wi-Fi or the gateway it
        // was seen as without NetworkManager) unless that row is already another
        // connection's: two NetworkManager connections are two networks, even behind
        // one router.
        Prepared(m_findNetwork, "SELECT Id FROM sieci WHERE Id = ?1 OR InnyId = ?1 OR (Id = ?2 AND "
                                "(COALESCE(InnyId, '') = '' OR InnyId NOT LIKE 'nm:%')) "
                                "ORDER BY Id = ?1 DESC, rowid LIMIT 1");
        sqlite3_stmt* find = m_findNetwork.get();
        BindText(find, 1, network.id);
        if (network.otherId.empty()) {
            sqlite3_bind_null(find, 2);
        } else {
            BindText(find, 2, network.otherId);
        }
        const int result = sqlite3_step(find);
        std::string rowId = result == SQLITE_ROW ? Text(find, 0) : std::string();
        sqlite3_reset(find);
        if (result != SQLITE_ROW && result != SQLITE_DONE) {
            throw DatabaseError(kWriteFailure + Message(db));
        }
        if (network.name.empty()) {
            return rowId.empty() ? network.id : rowId;
        }
        if (rowId.empty()) {
            Prepared(m_addNetwork, "INSERT INTO sieci (Id, Nazwa, Rodzaj, Taryfowana, Pierwsza, "
                                   "Ostatnia, InnyId) VALUES (?1, ?2, ?3, ?4, ?5, ?5, ?6)");
            sqlite3_stmt* add = m_addNetwork.get();
            BindText(add, 1, network.id);
            BindText(add, 2, network.name);
            BindText(add, 3, KindWord(network.kind));
            sqlite3_bind_int(add, 4, network.metered ? 1 : 0);
            BindText(add, 5, date);
            if (network.otherId.empty()) {
                sqlite3_bind_null(add, 6);
            } else {
                BindText(add, 6, network.otherId);
            }
            Run(db, add, kWriteFailure);
            return network.id;
        }
        // The identity the row does not hold yet is kept beside it, unless it keeps
        // one already; the first day stays, the last moves on.
        const std::string& otherId = rowId == network.id ? network.otherId : network.id;
        Prepared(
            m_updateNetwork,
            "UPDATE sieci SET Nazwa = ?2, Rodzaj = COALESCE(NULLIF(?3, ''), Rodzaj), "
            "Taryfowana = ?4, "
            "Pierwsza = CASE WHEN Pierwsza IS NULL OR Pierwsza > ?5 THEN ?5 ELSE Pierwsza END, "
            "Ostatnia = CASE WHEN Ostatnia IS NULL OR Ostatnia < ?5 THEN ?5 ELSE Ostatnia END, "
            "InnyId = COALESCE(NULLIF(InnyId, ''), NULLIF(?6, '')) WHERE Id = ?1");
        sqlite3_stmt* update = m_updateNetwork.get();
        BindText(update, 1, rowId);
        BindText(update, 2, network.name);
        BindText(update, 3, KindWord(network.kind));
        sqlite3_bind_int(update, 4, network.metered ? 1 : 0);
        BindText(update, 5, date);
        BindText(update, 6, otherId);
        Run(db, update, kWriteFailure);
        return rowId;
    }

    std::string HourDate(HourKey hour) {
        Prepared(m_hourDate, "SELECT Data FROM trafic WHERE rowid = ?1");
        sqlite3_bind_int64(m_hourDate.get(), 1, hour);
        const int result = sqlite3_step(m_hourDate.get());
        std::string date = result == SQLITE_ROW ? Text(m_hourDate.get(), 0) : std::string();
        sqlite3_reset(m_hourDate.get());
        if (result != SQLITE_ROW) {
            throw DatabaseError("Rekord nie istnieje.");
        }
        return date;
    }

    // Each network's row holds the hour's whole amount, as the applications' rows do;
    // two ids that turn out to be one network's make one row.
    void SaveNetworks(HourKey hour, const std::vector<NetworkAmounts>& networks,
                      std::map<std::string, std::string, std::less<>>& rowIds) {
        sqlite3* db = m_connection.get();
        const std::string date = HourDate(hour);
        std::vector<NetworkAmounts> merged;
        for (const NetworkAmounts& network : networks) {
            const std::string rowId = NoteNetwork(network.network, date);
            rowIds[network.network.id] = rowId;
            auto same = std::find_if(merged.begin(), merged.end(), [&](const NetworkAmounts& row) {
                return row.network.id == rowId;
            });
            if (same == merged.end()) {
                merged.push_back({.network = {.id = rowId}});
                same = std::prev(merged.end());
            }
            same->download += network.download;
            same->upload += network.upload;
            same->localDownload += network.localDownload;
            same->localUpload += network.localUpload;
        }
        Prepared(m_clearNetworks,
                 "DELETE FROM ruch_sieci WHERE rowid IN (SELECT r.rowid FROM ruch_sieci r, "
                 "trafic t WHERE t.rowid = ?1 AND r.Data = t.Data AND r.Godzina = t.Godzina)");
        sqlite3_bind_int64(m_clearNetworks.get(), 1, hour);
        Run(db, m_clearNetworks.get(), kWriteFailure);
        Prepared(m_addNetworkHour,
                 "INSERT INTO ruch_sieci (Data, Godzina, Siec, Download, Upload, "
                 "DownloadLokalny, UploadLokalny) "
                 "SELECT Data, Godzina, ?2, ?3, ?4, ?5, ?6 FROM trafic WHERE rowid = ?1");
        sqlite3_stmt* add = m_addNetworkHour.get();
        for (const NetworkAmounts& network : merged) {
            sqlite3_bind_int64(add, 1, hour);
            BindText(add, 2, network.network.id);
            sqlite3_bind_int64(add, 3, network.download);
            sqlite3_bind_int64(add, 4, network.upload);
            sqlite3_bind_int64(add, 5, network.localDownload);
            sqlite3_bind_int64(add, 6, network.localUpload);
            Run(db, add, kWriteFailure);
        }
    }

    std::vector<NetworkAmounts> HourNetworks(std::string_view date, std::int32_t hour) {
        std::vector<NetworkAmounts> found;
        if (!m_networkTables) {
            return found;
        }
        Prepared(m_findNetworkHours,
                 "SELECT Siec, Download, Upload, DownloadLokalny, UploadLokalny "
                 "FROM ruch_sieci WHERE Data = ?1 AND Godzina = ?2");
        sqlite3_stmt* statement = m_findNetworkHours.get();
        BindText(statement, 1, date);
        sqlite3_bind_int64(statement, 2, hour);
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            found.push_back({.network = {.id = Text(statement, 0)},
                             .download = sqlite3_column_int64(statement, 1),
                             .upload = sqlite3_column_int64(statement, 2),
                             .localDownload = sqlite3_column_int64(statement, 3),
                             .localUpload = sqlite3_column_int64(statement, 4)});
        }
        sqlite3_reset(statement);
        if (result != SQLITE_DONE) {
            throw DatabaseError(kReadFailure + Message(m_connection.get()));
        }
        return found;
    }

    void SaveAmounts(HourKey hour, const HourAmounts& amounts) {
        sqlite3* db = m_connection.get();
        Prepared(m_save,
                 "UPDATE trafic SET Czas = ?1, Download = ?2, Upload = ?3 WHERE rowid = ?4");
        sqlite3_bind_int64(m_save.get(), 1, amounts.time);
        sqlite3_bind_int64(m_save.get(), 2, amounts.download);
        sqlite3_bind_int64(m_save.get(), 3, amounts.upload);
        sqlite3_bind_int64(m_save.get(), 4, hour);
        // One statement is one transaction: it is saved whole or not at all.
        Run(db, m_save.get(), kWriteFailure);
        if (sqlite3_changes(db) == 0) {
            throw DatabaseError("Rekord nie istnieje.");
        }
    }

    // The hour's rows replace those it had: each holds the hour's whole amount, as
    // the hour's record does, so a restart within the hour counts nothing twice.
    void SaveApplications(HourKey hour, const std::vector<ApplicationAmounts>& applications,
                          const std::map<std::string, std::string, std::less<>>& rowIds) {
        sqlite3* db = m_connection.get();
        Prepared(m_clearApplications,
                 "DELETE FROM aplikacje WHERE rowid IN (SELECT a.rowid FROM aplikacje a, trafic t "
                 "WHERE t.rowid = ?1 AND a.Data = t.Data AND a.Godzina = t.Godzina)");
        sqlite3_bind_int64(m_clearApplications.get(), 1, hour);
        Run(db, m_clearApplications.get(), kWriteFailure);
        // A row's network is named by the id its row of "sieci" has; rows that name
        // one network by both of its ids are one row.
        std::vector<ApplicationAmounts> merged;
        for (const ApplicationAmounts& application : applications) {
            const auto rowId = rowIds.find(application.network);
            const std::string& network =
                rowId == rowIds.end() ? application.network : rowId->second;
            auto same = std::find_if(merged.begin(), merged.end(), [&](const auto& row) {
                return row.network == network && row.application == application.application;
            });
            if (same == merged.end()) {
                merged.push_back({.application = application.application, .network = network});
                same = std::prev(merged.end());
            }
            same->download += application.download;
            same->upload += application.upload;
            same->localDownload += application.localDownload;
            same->localUpload += application.localUpload;
        }
        if (m_networkTables) {
            Prepared(m_addApplication,
                     "INSERT INTO aplikacje (Data, Godzina, Aplikacja, Download, Upload, "
                     "DownloadLokalny, UploadLokalny, Siec) "
                     "SELECT Data, Godzina, ?2, ?3, ?4, ?5, ?6, NULLIF(?7, '') "
                     "FROM trafic WHERE rowid = ?1");
        } else {
            Prepared(m_addApplication,
                     "INSERT INTO aplikacje (Data, Godzina, Aplikacja, Download, Upload, "
                     "DownloadLokalny, UploadLokalny) "
                     "SELECT Data, Godzina, ?2, ?3, ?4, ?5, ?6 FROM trafic WHERE rowid = ?1");
        }
        sqlite3_stmt* add = m_addApplication.get();
        for (const ApplicationAmounts& application : merged) {
            sqlite3_bind_int64(add, 1, hour);
            BindText(add, 2, application.application);
            sqlite3_bind_int64(add, 3, application.download);
            sqlite3_bind_int64(add, 4, application.upload);
            sqlite3_bind_int64(add, 5, application.localDownload);
            sqlite3_bind_int64(add, 6, application.localUpload);
            if (m_networkTables) {
                BindText(add, 7, application.network);
            }
            Run(db, add, kWriteFailure);
        }
    }

    std::vector<ApplicationAmounts> HourApplications(std::string_view date, std::int32_t hour) {
        std::vector<ApplicationAmounts> found;
        if (!m_applicationsTable) {
            return found;
        }
        Prepared(m_findApplications,
                 m_networkTables
                     ? "SELECT Aplikacja, Download, Upload, DownloadLokalny, "
                       "UploadLokalny, Siec FROM aplikacje WHERE Data = ?1 AND Godzina = ?2"
                     : "SELECT Aplikacja, Download, Upload, DownloadLokalny, "
                       "UploadLokalny, NULL FROM aplikacje WHERE Data = ?1 AND Godzina = ?2");
        sqlite3_stmt* statement = m_findApplications.get();
        BindText(statement, 1, date);
        sqlite3_bind_int64(statement, 2, hour);
        int result = SQLITE_ROW;
        while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
            found.push_back(AmountsAt(statement, 0));
        }
        sqlite3_reset(statement);
        if (result != SQLITE_DONE) {
            throw DatabaseError(kReadFailure + Message(m_connection.get()));
        }
        return found;
    }

    HourKey AddHour(std::string_view date, std::int32_t hour) {
        sqlite3* db = m_connection.get();
        Prepared(m_add, "INSERT INTO trafic (Data, Godzina, Czas, Download, Upload) "
                        "VALUES (?1, ?2, 0, 0, 0)");
        BindText(m_add.get(), 1, date);
        sqlite3_bind_int64(m_add.get(), 2, hour);
        Run(db, m_add.get(), kWriteFailure);
        return sqlite3_last_insert_rowid(db);
    }

    Connection m_connection;
    bool m_applicationsTable = false;
    bool m_networkTables = false;
    Statement m_find, m_save, m_add, m_download;
    Statement m_clearApplications, m_addApplication, m_findApplications;
    Statement m_findNetwork, m_addNetwork, m_updateNetwork, m_hourDate;
    Statement m_clearNetworks, m_addNetworkHour, m_findNetworkHours;
};

bool HasTable(sqlite3* db, const char* table) {
    Statement probe = Prepare(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    BindText(probe.get(), 1, table);
    return sqlite3_step(probe.get()) == SQLITE_ROW;
}

bool HasNetworkColumn(sqlite3* db) {
    Statement probe =
        Prepare(db, "SELECT 1 FROM pragma_table_info('aplikacje') WHERE name = 'Siec'");
    return sqlite3_step(probe.get()) == SQLITE_ROW;
}

// Steps a statement through its rows; a read that cannot go on is an error.
void EachRow(sqlite3* db, sqlite3_stmt* statement, const std::function<void()>& row) {
    int result = SQLITE_ROW;
    while ((result = sqlite3_step(statement)) == SQLITE_ROW) {
        row();
    }
    if (result != SQLITE_DONE) {
        throw DatabaseError(kReadFailure + Message(db));
    }
}

std::string ColumnText(sqlite3_stmt* statement, int index) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
    return std::string(text ? text : "",
                       static_cast<std::size_t>(sqlite3_column_bytes(statement, index)));
}

class SqliteNetworkRecords final : public NetworkRecords {
public:
    explicit SqliteNetworkRecords(Connection connection)
        : m_connection(std::move(connection)) {}

    std::vector<StoredNetwork> ReadNetworks() override {
        sqlite3* db = m_connection.get();
        std::vector<StoredNetwork> networks;
        if (!HasTable(db, "sieci")) {
            return networks;
        }
        Statement statement = Prepare(db, "SELECT Id, InnyId, Nazwa, Rodzaj, Taryfowana, "
                                          "Pierwsza, Ostatnia FROM sieci ORDER BY Pierwsza, rowid");
        sqlite3_stmt* row = statement.get();
        EachRow(db, row, [&] {
            networks.push_back({.network = {.id = ColumnText(row, 0),
                                            .otherId = ColumnText(row, 1),
                                            .name = ColumnText(row, 2),
                                            .kind = KindOfWord(ColumnText(row, 3)),
                                            .metered = sqlite3_column_int(row, 4) != 0},
                                .first = ColumnText(row, 5),
                                .last = ColumnText(row, 6)});
        });
        return networks;
    }

    void SumNetwork(std::string_view network, std::string_view firstDate, std::string_view lastDate,
                    std::string_view hourDate, std::int32_t hour, NetworkTraffic& otherHours,
                    NetworkTraffic& inHour) override {
        sqlite3* db = m_connection.get();
        otherHours = inHour = {};
        if (!HasTable(db, "ruch_sieci")) {
            return;
        }
        Statement statement =
            Prepare(db, "SELECT Data = ?4 AND Godzina = ?5, TOTAL(Download), TOTAL(Upload) "
                        "FROM ruch_sieci WHERE Siec = ?1 AND Data BETWEEN ?2 AND ?3 "
                        "GROUP BY Data = ?4 AND Godzina = ?5");
        sqlite3_stmt* row = statement.get();
        BindText(row, 1, network);
        BindText(row, 2, firstDate);
        BindText(row, 3, lastDate);
        BindText(row, 4, hourDate);
        sqlite3_bind_int64(row, 5, hour);
        EachRow(db, row, [&] {
            NetworkTraffic& sum = sqlite3_column_int(row, 0) ? inHour : otherHours;
            sum.download = static_cast<std::int64_t>(sqlite3_column_double(row, 1));
            sum.upload = static_cast<std::int64_t>(sqlite3_column_double(row, 2));
        });
    }

    void
    ReadNetworkApplications(std::string_view network, std::string_view firstDate,
                            std::string_view lastDate,
                            const std::function<void(const StoredApplication&)>& each) override {
        sqlite3* db = m_connection.get();
        if (!HasTable(db, "aplikacje") || !HasNetworkColumn(db)) {
            return;
        }
        Statement statement =
            Prepare(db, "SELECT Data, Godzina, Aplikacja, Download, Upload, " + LocalColumns(db) +
                            " FROM aplikacje WHERE Siec = ?1 AND Data BETWEEN ?2 AND ?3");
        sqlite3_stmt* row = statement.get();
        BindText(row, 1, network);
        BindText(row, 2, firstDate);
        BindText(row, 3, lastDate);
        EachRow(db, row, [&] {
            each({.date = ColumnText(row, 0),
                  .hour = sqlite3_column_int(row, 1),
                  .amounts = {.application = ColumnText(row, 2),
                              .download = sqlite3_column_int64(row, 3),
                              .upload = sqlite3_column_int64(row, 4),
                              .localDownload = sqlite3_column_int64(row, 5),
                              .localUpload = sqlite3_column_int64(row, 6)}});
        });
    }

    void MergeNetworks(std::string_view kept, std::string_view merged) override {
        sqlite3* db = m_connection.get();
        if (!HasTable(db, "sieci")) {
            throw DatabaseError("Baza danych nie zna jeszcze żadnej sieci.");
        }
        const bool applications = HasTable(db, "aplikacje") && HasNetworkColumn(db);
        const bool hours = HasTable(db, "ruch_sieci");
        InTransaction(db, [&] {
            auto run = [&](const char* sql) {
                Statement statement = Prepare(db, sql);
                BindText(statement.get(), 1, kept);
                BindText(statement.get(), 2, merged);
                Run(db, statement.get(), kWriteFailure);
            };
            if (hours) {
                run("UPDATE ruch_sieci SET Siec = ?1 WHERE Siec = ?2");
            }
            if (applications) {
                run("UPDATE aplikacje SET Siec = ?1 WHERE Siec = ?2");
            }
            // An "nm:" identity beside the kept one would take the place NetworkManager's
            // own; a Wi-Fi or gateway one is what the network is seen as without it.
            run("UPDATE sieci SET "
                "InnyId = CASE WHEN COALESCE(InnyId, '') = '' AND ?2 NOT LIKE 'nm:%' "
                "THEN ?2 ELSE InnyId END, "
                "Pierwsza = MIN(Pierwsza, (SELECT MIN(Pierwsza) FROM sieci WHERE Id = ?2)), "
                "Ostatnia = MAX(Ostatnia, (SELECT MAX(Ostatnia) FROM sieci WHERE Id = ?2)) "
                "WHERE Id = ?1 AND EXISTS (SELECT 1 FROM sieci WHERE Id = ?2)");
            run("DELETE FROM sieci WHERE Id = ?2 AND ?1 <> ?2");
            return true;
        });
    }

private:
    Connection m_connection;
};

Connection OpenConnection(const std::string& path, int flags) {
    sqlite3* db = nullptr;
    const int result = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection connection(db);
    if (result != SQLITE_OK) {
        throw DatabaseError("Nie można otworzyć bazy danych " + path + ": " + Message(db));
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    return connection;
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void SyncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Reads one record, so that a file that is no database of ours (no table "trafic"
// with its fields, or no SQLite at all) is told as such before anything else.
void ProbeTrafficTable(sqlite3* db, const std::string& path) {
    try {
        Statement probe =
            Prepare(db, "SELECT Data, Godzina, Czas, Download, Upload FROM trafic LIMIT 1");
        const int result = sqlite3_step(probe.get());
        if (result != SQLITE_ROW && result != SQLITE_DONE) {
            throw DatabaseError(Message(db));
        }
    } catch (const DatabaseError& error) {
        throw DatabaseError("Plik " + path + " nie jest bazą danych programu z tabelą trafic (" +
                            std::string(error.what()) + ").");
    }
}

// Builds the new database under a temporary name and renames it into place, so a
// failure (a full disk, a read-only directory) never leaves a half-made file.
void CreateDatabase(const std::string& path) {
    const std::string draft = path + ".new";
    auto removeDraft = [&] {
        for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
            ::unlink((draft + suffix).c_str());
        }
    };
    removeDraft();
    try {
        Connection connection = OpenConnection(draft, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
        Execute(connection.get(), "PRAGMA journal_mode=WAL");
        Execute(connection.get(), "CREATE TABLE trafic (Data TEXT, Godzina INTEGER, Czas INTEGER, "
                                  "Download INTEGER, Upload INTEGER)");
        connection.reset(); // the last close folds the log into the file
        if (::rename(draft.c_str(), path.c_str()) != 0) {
            throw DatabaseError(std::string("Nie można utworzyć pliku: ") + std::strerror(errno));
        }
        SyncDirectory(DirectoryOf(path));
    } catch (const DatabaseError& error) {
        removeDraft();
        throw DatabaseError("Nie można utworzyć bazy danych " + path + ". " + error.what());
    }
}

} // namespace

std::unique_ptr<HourStore> OpenTrafficDatabase(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        CreateDatabase(path);
    }
    // Nothing may be written before the file has shown itself to be ours, and
    // nothing at all when the meter could not go on writing it.
    if (::access(path.c_str(), W_OK) != 0 || ::access(DirectoryOf(path).c_str(), W_OK) != 0) {
        throw DatabaseError("Nie można zapisywać bazy danych " + path + ": " +
                            std::strerror(errno));
    }
    Connection connection = OpenConnection(path, SQLITE_OPEN_READWRITE);
    ProbeTrafficTable(connection.get(), path);
    Execute(connection.get(), "PRAGMA journal_mode=WAL");
    // Every saved hour survives a crash or a power cut.
    Execute(connection.get(), "PRAGMA synchronous=FULL");
    // Lets the reports read a month of a long history without scanning all of it;
    // the records themselves stay as they are. A database that cannot take the index
    // now (busy, full disk) is read the slow way.
    try {
        Execute(connection.get(), "CREATE INDEX IF NOT EXISTS trafic_data ON trafic (Data)");
    } catch (const DatabaseError&) {
    }
    // The applications beside each hour; a database that cannot take the table now
    // keeps its hours as before, without them.
    bool applicationsTable = false;
    try {
        Execute(connection.get(),
                "CREATE TABLE IF NOT EXISTS aplikacje (Data TEXT, Godzina INTEGER, "
                "Aplikacja TEXT, Download INTEGER, Upload INTEGER, "
                "DownloadLokalny INTEGER DEFAULT 0, UploadLokalny INTEGER DEFAULT 0)");
        if (!HasLocalColumns(connection.get())) {
            Execute(connection.get(),
                    "ALTER TABLE aplikacje ADD COLUMN DownloadLokalny INTEGER DEFAULT 0");
            Execute(connection.get(),
                    "ALTER TABLE aplikacje ADD COLUMN UploadLokalny INTEGER DEFAULT 0");
        }
        Execute(connection.get(),
                "CREATE INDEX IF NOT EXISTS aplikacje_godzina ON aplikacje (Data, Godzina)");
        applicationsTable = true;
    } catch (const DatabaseError&) {
        applicationsTable =
            HasApplicationsTable(connection.get()) && HasLocalColumns(connection.get());
    }
    const bool networkTables = applicationsTable && AddNetworkTables(connection.get());
    // From now on the meter writes from its tick, which must never stall on another
    // writer of the family: a busy database fails at once and is tried again later.
    sqlite3_busy_timeout(connection.get(), kTickBusyTimeoutMs);
    return std::make_unique<SqliteHourStore>(std::move(connection), applicationsTable,
                                             networkTables);
}

std::unique_ptr<NetworkRecords> OpenNetworkRecords(const std::string& path, bool forMerging) {
    Connection connection =
        OpenConnection(path, forMerging ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY);
    ProbeTrafficTable(connection.get(), path);
    return std::make_unique<SqliteNetworkRecords>(std::move(connection));
}

std::unique_ptr<HourStore> OpenTrafficDatabaseForReading(const std::string& path) {
    Connection connection = OpenConnection(path, SQLITE_OPEN_READONLY);
    ProbeTrafficTable(connection.get(), path);
    const bool applicationsTable = HasApplicationsTable(connection.get());
    return std::make_unique<SqliteHourStore>(std::move(connection), applicationsTable,
                                             applicationsTable &&
                                                 HasNetworkTables(connection.get()));
}

} // namespace quantiro::platform::linux_impl
