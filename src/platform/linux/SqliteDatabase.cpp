#include "platform/linux/SqliteDatabase.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
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

constexpr std::string_view kTable = "trafic";
constexpr std::array<std::string_view, 5> kFields{"Data", "Godzina", "Czas", "Download", "Upload"};
constexpr const char* kColumns = "rowid, Data, Godzina, Czas, Download, Upload";
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

void Bind(sqlite3_stmt* statement, int index, const FieldValue& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        sqlite3_bind_int64(statement, index, *number);
    } else if (const auto* real = std::get_if<double>(&value)) {
        sqlite3_bind_double(statement, index, *real);
    } else if (const auto* text = std::get_if<std::string>(&value)) {
        sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()),
                          SQLITE_TRANSIENT);
    } else {
        sqlite3_bind_null(statement, index);
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

std::size_t FieldIndex(std::string_view name) {
    for (std::size_t i = 0; i < kFields.size(); ++i) {
        if (kFields[i] == name) {
            return i;
        }
    }
    throw DatabaseError("Tabela " + std::string(kTable) + " nie ma pola " + std::string(name) +
                        ".");
}

struct Row {
    std::int64_t rowid = 0;
    std::array<FieldValue, kFields.size()> fields;
};

class SqliteRecordSet final : public RecordSet {
public:
    explicit SqliteRecordSet(sqlite3* db)
        : m_db(db)
        , m_scan(Prepare(db, std::string("SELECT ") + kColumns +
                                 " FROM trafic WHERE rowid > ?1 ORDER BY rowid"))
        , m_first(Prepare(db, std::string("SELECT ") + kColumns +
                                  " FROM trafic ORDER BY rowid LIMIT 1"))
        , m_last(Prepare(db, std::string("SELECT ") + kColumns +
                                 " FROM trafic ORDER BY rowid DESC LIMIT 1"))
        , m_byRowid(
              Prepare(db, std::string("SELECT ") + kColumns + " FROM trafic WHERE rowid = ?1"))
        , m_find(Prepare(
              db, std::string("SELECT ") + kColumns +
                      " FROM trafic WHERE Data = ?1 AND Godzina = ?2 ORDER BY rowid LIMIT 1")) {
        // Like a freshly opened record set: on the first record, or at the end of an
        // empty table.
        m_atEnd = !Fetch(m_first.get());
    }

    void MoveFirst() override { Position(m_first.get()); }
    void MoveLast() override { Position(m_last.get()); }

    void MoveNext() override {
        RequireCurrent();
        if (!m_scanOnCurrent) {
            sqlite3_reset(m_scan.get());
            sqlite3_bind_int64(m_scan.get(), 1, m_row.rowid);
        }
        const int result = sqlite3_step(m_scan.get());
        if (result == SQLITE_ROW) {
            Load(m_scan.get());
            m_scanOnCurrent = true;
            return;
        }
        sqlite3_reset(m_scan.get());
        m_scanOnCurrent = false;
        if (result != SQLITE_DONE) {
            throw DatabaseError("Błąd odczytu bazy danych: " + Message(m_db));
        }
        m_hasCurrent = false;
        m_atEnd = true;
    }

    bool AtEnd() const override { return m_atEnd; }

    void FindFirst(std::string_view date, std::int32_t hour) override {
        sqlite3_bind_text(m_find.get(), 1, date.data(), static_cast<int>(date.size()),
                          SQLITE_TRANSIENT);
        sqlite3_bind_int64(m_find.get(), 2, hour);
        m_noMatch = !Fetch(m_find.get());
    }

    bool NoMatch() const override { return m_noMatch; }

    void Edit() override {
        RequireCurrent();
        StartChange(Change::Editing);
    }

    void AddNew() override { StartChange(Change::Adding); }

    void SetField(std::string_view name, FieldValue value) override {
        if (m_change == Change::None) {
            throw DatabaseError("Rekord nie jest edytowany.");
        }
        m_pending[FieldIndex(name)] = std::move(value);
    }

    void Update() override {
        if (m_change == Change::None) {
            throw DatabaseError("Rekord nie jest edytowany.");
        }
        const Change change = std::exchange(m_change, Change::None);
        std::string names;
        std::string values;
        for (std::size_t i = 0; i < kFields.size(); ++i) {
            if (!m_pending[i]) {
                continue;
            }
            const std::string placeholder = "?" + std::to_string(i + 1);
            names += (names.empty() ? "" : ", ") + std::string(kFields[i]);
            values += (values.empty() ? "" : ", ") +
                      (change == Change::Editing ? std::string(kFields[i]) + " = " + placeholder
                                                 : placeholder);
        }
        if (names.empty()) {
            return;
        }
        const std::string sql = change == Change::Editing
                                    ? "UPDATE trafic SET " + values + " WHERE rowid = ?6"
                                    : "INSERT INTO trafic (" + names + ") VALUES (" + values + ")";
        Statement statement = Prepare(m_db, sql);
        for (std::size_t i = 0; i < kFields.size(); ++i) {
            if (m_pending[i]) {
                Bind(statement.get(), static_cast<int>(i + 1), *m_pending[i]);
            }
        }
        if (change == Change::Editing) {
            sqlite3_bind_int64(statement.get(), 6, m_row.rowid);
        }
        // A running scan must not see the table change under it.
        ResetReads();
        // One statement is one transaction: it is saved whole or not at all.
        if (sqlite3_step(statement.get()) != SQLITE_DONE) {
            throw DatabaseError("Nie można zapisać rekordu w bazie danych: " + Message(m_db));
        }
        if (change == Change::Editing) {
            SetBookmark(m_row.rowid); // read back what was stored
        }
    }

    FieldValue GetField(std::string_view name) override {
        RequireCurrent();
        return m_row.fields[FieldIndex(name)];
    }

    Bookmark GetBookmark() const override {
        RequireCurrent();
        return m_row.rowid;
    }

    void SetBookmark(Bookmark bookmark) override {
        sqlite3_bind_int64(m_byRowid.get(), 1, bookmark);
        if (!Fetch(m_byRowid.get())) {
            throw DatabaseError("Rekord nie istnieje.");
        }
        m_atEnd = false;
    }

private:
    enum class Change { None, Editing, Adding };

    void RequireCurrent() const {
        if (!m_hasCurrent) {
            throw DatabaseError("Brak bieżącego rekordu.");
        }
    }

    void StartChange(Change change) {
        m_change = change;
        m_pending = {};
    }

    void ResetReads() {
        sqlite3_reset(m_scan.get());
        m_scanOnCurrent = false;
    }

    void Load(sqlite3_stmt* statement) {
        m_row.rowid = sqlite3_column_int64(statement, 0);
        for (std::size_t i = 0; i < kFields.size(); ++i) {
            m_row.fields[i] = Column(statement, static_cast<int>(i + 1));
        }
        m_hasCurrent = true;
    }

    // Runs a one-row query; on a row, it becomes the current record.
    bool Fetch(sqlite3_stmt* statement) {
        ResetReads();
        const int result = sqlite3_step(statement);
        const bool found = result == SQLITE_ROW;
        if (found) {
            Load(statement);
        }
        sqlite3_reset(statement);
        if (!found && result != SQLITE_DONE) {
            throw DatabaseError("Błąd odczytu bazy danych: " + Message(m_db));
        }
        return found;
    }

    void Position(sqlite3_stmt* statement) {
        if (Fetch(statement)) {
            m_atEnd = false;
            return;
        }
        m_hasCurrent = false;
        m_atEnd = true;
        throw DatabaseError("Brak bieżącego rekordu.");
    }

    sqlite3* m_db;
    Statement m_scan, m_first, m_last, m_byRowid, m_find;
    bool m_scanOnCurrent = false;
    Row m_row;
    bool m_hasCurrent = false;
    bool m_atEnd = false;
    bool m_noMatch = false;
    Change m_change = Change::None;
    std::array<std::optional<FieldValue>, kFields.size()> m_pending;
};

class SqliteDatabase final : public Database {
public:
    explicit SqliteDatabase(Connection connection)
        : m_connection(std::move(connection)) {}

    std::unique_ptr<RecordSet> OpenRecordset(std::string_view table) override {
        if (table != kTable) {
            throw DatabaseError("Nie ma tabeli " + std::string(table) + ".");
        }
        return std::make_unique<SqliteRecordSet>(m_connection.get());
    }

    void ReadRecords(std::string_view firstDate, std::string_view lastDate,
                     const std::function<void(const StoredRecord&)>& each) override {
        const bool bounded = !firstDate.empty() && !lastDate.empty();
        Statement statement =
            Prepare(m_connection.get(),
                    std::string("SELECT Data, Godzina, Czas, Download, Upload FROM trafic") +
                        (bounded ? " WHERE Data BETWEEN ?1 AND ?2" : ""));
        if (bounded) {
            sqlite3_bind_text(statement.get(), 1, firstDate.data(),
                              static_cast<int>(firstDate.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(statement.get(), 2, lastDate.data(),
                              static_cast<int>(lastDate.size()), SQLITE_TRANSIENT);
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

    void BeginTrans() override { Execute(m_connection.get(), "BEGIN IMMEDIATE"); }
    void CommitTrans() override { Execute(m_connection.get(), "COMMIT"); }
    void Rollback() override {
        if (!sqlite3_get_autocommit(m_connection.get())) {
            Execute(m_connection.get(), "ROLLBACK");
        }
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

std::unique_ptr<Database> OpenTrafficDatabase(const std::string& path) {
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
    // From now on the meter writes from its tick, which must never stall on another
    // writer of the family: a busy database fails at once and is tried again later.
    sqlite3_busy_timeout(connection.get(), kTickBusyTimeoutMs);
    return std::make_unique<SqliteDatabase>(std::move(connection));
}

std::unique_ptr<Database> OpenTrafficDatabaseForReading(const std::string& path) {
    Connection connection = OpenConnection(path, SQLITE_OPEN_READONLY);
    ProbeTrafficTable(connection.get(), path);
    return std::make_unique<SqliteDatabase>(std::move(connection));
}

} // namespace quantiro::platform::linux_impl
