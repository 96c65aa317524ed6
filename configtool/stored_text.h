#pragma once

#include "shared/recordset.h"

#include <QString>

namespace corvale::tool {

// A stored text as the form shows it. A row written outside the tool may
// hold no value at all: it is shown as the empty text, and its entry still
// stands for its row, so that it can be mended or deleted.
inline QString shownText(const Field& field) {
    return field.isNull() ? QString() : QString::fromStdString(field.text());
}

} // namespace corvale::tool
