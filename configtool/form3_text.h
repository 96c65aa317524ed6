#pragma once

#include <QLineEdit>

namespace corvale::tool {

// Sets a text box's text; as with a change by the user, its change handling
// runs only when the text really changes.
inline void setText(QLineEdit* box, const QString& text) {
    if (box->text() != text) {
        box->setText(text);
    }
}

} // namespace corvale::tool
