#include "shared/recordset.h"

#include "platform/failure.h"

#include <charconv>
#include <strings.h>

namespace corvale {

bool Field::isNull() const {
    return std::holds_alternative<std::monostate>(m_value);
}

std::string Field::text() const {
    if (const auto* text = std::get_if<std::string>(&m_value)) {
        return *text;
    }
    if (const auto* number = std::get_if<std::int64_t>(&m_value)) {
        return std::to_string(*number);
    }
    if (const auto* real = std::get_if<double>(&m_value)) {
        std::string out(32, '\0');
        auto result = std::to_chars(out.data(), out.data() + out.size(), *real);
        out.resize(static_cast<std::size_t>(result.ptr - out.data()));
        return out;
    }
    throw Failure("Invalid use of Null: a field that holds no value was read as text.");
}

std::int64_t Field::number() const {
    if (const auto* number = std::get_if<std::int64_t>(&m_value)) {
        return *number;
    }
    if (const auto* real = std::get_if<double>(&m_value)) {
        return static_cast<std::int64_t>(*real);
    }
    if (const auto* text = std::get_if<std::string>(&m_value)) {
        std::int64_t parsed = 0;
        const char* end = text->data() + text->size();
        auto result = std::from_chars(text->data(), end, parsed);
        if (result.ec == std::errc{} && result.ptr == end) {
            return parsed;
        }
        throw Failure("Type mismatch: '" + *text + "' is not a number.");
    }
    throw Failure("Invalid use of Null: a field that holds no value was read as a number.");
}

void Recordset::moveNext() {
    if (eof()) {
        throw Failure("No current record.");
    }
    ++m_current;
}

Field Recordset::field(const std::string& name) const {
    if (eof()) {
        throw Failure("No current record.");
    }
    for (std::size_t c = 0; c < m_rows.columns.size(); ++c) {
        if (strcasecmp(m_rows.columns[c].c_str(), name.c_str()) == 0) {
            return Field(m_rows.rows[m_current][c]);
        }
    }
    throw Failure("Item not found in this collection: no field named '" + name + "'.");
}

} // namespace corvale
