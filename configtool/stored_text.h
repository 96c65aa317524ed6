#pragma once

#include "shared/recordset.h"

#include <QString>
#include <string>

namespace corvale::tool {

// Texts go between the database and the form byte for byte. A path on this
// system is any bytes, not always UTF-8: each byte that is not part of valid
// UTF-8 is shown as one character of its own (U+DC80 to U+DCFF, which no
// valid text holds) and written back as that byte, so that a path the person
// did not edit is saved exactly as it was read.
QString shownText(const std::string& bytes);
std::string storedText(const QString& text);

// A stored value as the form shows it. A row written outside the tool may
// hold no value at all: it is shown as the empty text, and its entry still
// stands for its row, so that it can be mended or deleted.
inline QString shownText(const Field& field) {
    return field.isNull() ? QString() : shownText(field.text());
}
inline QString shownText(const platform::SqlValue& value) {
    return shownText(Field(value));
}

} // namespace corvale::tool
