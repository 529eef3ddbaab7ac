#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace quantiro::platform {

// The database could not do what was asked (unreadable file, missing table, full
// disk, no current record). Its text is fit to show the user.
class DatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A field's value: no value, a whole number, a real number or text.
using FieldValue = std::variant<std::monostate, std::int64_t, double, std::string>;

// An updatable view of one table in table order, with a current record that every
// read and write addresses. Errors are thrown as DatabaseError.
class RecordSet {
public:
    using Bookmark = std::int64_t;

    virtual ~RecordSet() = default;

    virtual void MoveFirst() = 0; // fails on an empty table
    virtual void MoveLast() = 0;  // fails on an empty table
    virtual void MoveNext() = 0;  // past the last record AtEnd() answers true
    virtual bool AtEnd() const = 0;

    // The first record in table order whose Data and Godzina equal the values given.
    // Without one, NoMatch() answers true and the current record stays as it was.
    virtual void FindFirst(std::string_view date, std::int32_t hour) = 0;
    virtual bool NoMatch() const = 0;

    // Edit() the current record or AddNew() one, SetField() any fields, then Update()
    // saves all of it at once. After saving an addition the record that was current
    // before it stays current.
    virtual void Edit() = 0;
    virtual void AddNew() = 0;
    virtual void SetField(std::string_view name, FieldValue value) = 0;
    virtual void Update() = 0;

    virtual FieldValue GetField(std::string_view name) = 0;

    virtual Bookmark GetBookmark() const = 0;
    virtual void SetBookmark(Bookmark bookmark) = 0;
};

// One hourly record as stored, each field as it is: Data, Godzina, Czas, Download, Upload.
struct StoredRecord {
    FieldValue date, hour, time, download, upload;
};

class Database {
public:
    virtual ~Database() = default;
    virtual std::unique_ptr<RecordSet> OpenRecordset(std::string_view table) = 0;

    // Every hourly record, or with both dates given ("yyyy-mm-dd") those whose Data
    // lies between them as text, read in one pass for the family's readers.
    virtual void ReadRecords(std::string_view firstDate, std::string_view lastDate,
                             const std::function<void(const StoredRecord&)>& each) = 0;

    // Writes between BeginTrans() and CommitTrans() are saved all together or, after
    // Rollback(), not at all.
    virtual void BeginTrans() = 0;
    virtual void CommitTrans() = 0;
    virtual void Rollback() = 0;
};

} // namespace quantiro::platform
