#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <sqlite3.h>

namespace quantiro::testing {

// Reads and writes the table "trafic" with plain SQL, beside the code under test.
struct TrafficRow {
    std::string data;
    long long godzina = 0, czas = 0, download = 0, upload = 0;
    bool operator==(const TrafficRow&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const TrafficRow& row) {
    return out << "{" << row.data << " " << row.godzina << " czas=" << row.czas
               << " down=" << row.download << " up=" << row.upload << "}";
}

class TrafficTable {
public:
    explicit TrafficTable(const std::string& path) {
        if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                            nullptr) != SQLITE_OK) {
            throw std::runtime_error(sqlite3_errmsg(m_db));
        }
        Exec(
            "CREATE TABLE IF NOT EXISTS trafic (Data TEXT, Godzina INTEGER, Czas INTEGER, Download "
            "INTEGER, Upload INTEGER)");
    }
    ~TrafficTable() { sqlite3_close_v2(m_db); }
    TrafficTable(const TrafficTable&) = delete;
    TrafficTable& operator=(const TrafficTable&) = delete;

    void Exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string text = error ? error : "?";
            sqlite3_free(error);
            throw std::runtime_error(text + " in " + sql);
        }
    }

    void Insert(const TrafficRow& row) {
        Exec("INSERT INTO trafic VALUES ('" + row.data + "', " + std::to_string(row.godzina) +
             ", " + std::to_string(row.czas) + ", " + std::to_string(row.download) + ", " +
             std::to_string(row.upload) + ")");
    }

    std::vector<TrafficRow> Rows() {
        std::vector<TrafficRow> rows;
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(
            m_db, "SELECT Data, Godzina, Czas, Download, Upload FROM trafic ORDER BY rowid", -1,
            &statement, nullptr);
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
            rows.push_back({text ? text : "", sqlite3_column_int64(statement, 1),
                            sqlite3_column_int64(statement, 2), sqlite3_column_int64(statement, 3),
                            sqlite3_column_int64(statement, 4)});
        }
        sqlite3_finalize(statement);
        return rows;
    }

    // The table "aplikacje", hour by hour: each application's kB down and the local
    // network's part beside it.
    std::map<long long, std::map<std::string, std::pair<long long, long long>>> Applications() {
        std::map<long long, std::map<std::string, std::pair<long long, long long>>> hours;
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(m_db,
                           "SELECT Godzina, Aplikacja, Download, DownloadLokalny FROM aplikacje",
                           -1, &statement, nullptr);
        while (statement && sqlite3_step(statement) == SQLITE_ROW) {
            const auto* name = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1));
            auto& row = hours[sqlite3_column_int64(statement, 0)][name ? name : ""];
            row.first += sqlite3_column_int64(statement, 2);
            row.second += sqlite3_column_int64(statement, 3);
        }
        sqlite3_finalize(statement);
        return hours;
    }

    // Any query's rows, each column as text ("" for NULL), joined by '|'.
    std::vector<std::string> Select(const std::string& sql) {
        std::vector<std::string> rows;
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &statement, nullptr) != SQLITE_OK) {
            throw std::runtime_error(std::string(sqlite3_errmsg(m_db)) + " in " + sql);
        }
        while (sqlite3_step(statement) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(statement); ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, i));
                row += (i ? "|" : "") + std::string(text ? text : "");
            }
            rows.push_back(row);
        }
        sqlite3_finalize(statement);
        return rows;
    }

private:
    sqlite3* m_db = nullptr;
};

} // namespace quantiro::testing
