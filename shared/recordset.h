#pragma once

#include "platform/sqlite_connection.h"

#include <cstdint>
#include <string>

namespace corvale {

// The value of one column of the current row.
class Field {
public:
    explicit Field(const platform::SqlValue& value) : m_value(value) {}

    bool isNull() const;
    // The value as text; numbers as decimal digits. A null value cannot be
    // read as text and fails.
    std::string text() const;
    // The value as a whole number; a null or a text that is not a number fails.
    std::int64_t number() const;
    // The value as stored, to be bound into another statement unchanged.
    const platform::SqlValue& value() const { return m_value; }

private:
    const platform::SqlValue& m_value;
};

// The rows of one query, read in full before the caller sees them, so that no
// lock of the store outlives the query. Read it row by row: recordCount() is
// only to be compared with 0, eof() tells the end, moveNext() steps on, and
// field() finds a column by its name in any case of letters.
class Recordset {
public:
    explicit Recordset(platform::SqlRows rows) : m_rows(std::move(rows)) {}

    std::size_t recordCount() const { return m_rows.rows.size(); }
    bool eof() const { return m_current >= m_rows.rows.size(); }
    void moveNext();
    Field field(const std::string& name) const;

private:
    platform::SqlRows m_rows;
    std::size_t m_current = 0;
};

} // namespace corvale
