#pragma once

#include "configtool/form3.h"
#include "configtool/vb_list_box.h"
#include "tests/support/test_support.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <memory>

namespace toolsupport {

// The configuration form in a window of an MDI area, over a real database
// file, with a person simulated by FakeDialogs.
struct FormHarness {
    testsupport::TempDir dir;
    testsupport::DatabaseFile file{dir / "corvale.mdb"};
    corvale::ConnectionState connection;
    testsupport::FakeDialogs dialogs;
    QMdiArea area;
    corvale::tool::Form3* form = nullptr;
    QMdiSubWindow* window = nullptr;

    FormHarness() {
        connection.openWorkspace();
        connection.dbPath = file.path();
        connection.openDatabase();
        area.resize(608, 512);
    }

    // Loads and shows the form, as File > Configure does.
    corvale::tool::Form3* open() {
        form = new corvale::tool::Form3(connection, dialogs, dir.path());
        window = area.addSubWindow(form);
        window->setAttribute(Qt::WA_DeleteOnClose);
        form->Form_Load();
        area.show();
        window->show();
        area.activateWindow();
        if (!QTest::qWaitForWindowActive(&area)) {
            qWarning("the form's window never became active");
        }
        area.setActiveSubWindow(window);
        form->Form_Activate();
        return form;
    }

    template <typename T> T* find(const char* name) const { return form->findChild<T*>(name); }
    corvale::tool::VbListBox* list(const char* name) const { return find<corvale::tool::VbListBox>(name); }
    QLineEdit* text(const char* name) const { return find<QLineEdit>(name); }
    QAbstractButton* button(const char* name) const { return find<QAbstractButton>(name); }
    bool enabled(const char* name) const { return button(name)->isEnabled(); }

    // A click as the user makes it, with the modifiers given.
    void click(corvale::tool::VbListBox* box, int row,
               Qt::KeyboardModifiers modifiers = Qt::NoModifier) const {
        QTest::mouseClick(box->viewport(), Qt::LeftButton, modifiers,
                          box->visualItemRect(box->item(row)).center());
    }
    QStringList entries(corvale::tool::VbListBox* box) const {
        QStringList texts;
        for (int row = 0; row < box->count(); ++row) {
            texts << box->item(row)->text();
        }
        return texts;
    }
    QList<int> selectedRows(corvale::tool::VbListBox* box) const {
        QList<int> rows;
        for (int row = 0; row < box->count(); ++row) {
            if (box->item(row)->isSelected()) {
                rows << row;
            }
        }
        return rows;
    }
    // What the database holds, through a connection of its own: each row of
    // the query as "value|value"; a null reads NULL.
    QStringList rows(const std::string& sql) const {
        corvale::platform::SqliteConnection reader(file.path(),
                                                   corvale::platform::SqliteConnection::Mode::OpenExisting);
        QStringList lines;
        for (const auto& row : reader.query(sql).rows) {
            QStringList values;
            for (const auto& value : row) {
                if (const auto* text = std::get_if<std::string>(&value)) {
                    values << QString::fromStdString(*text);
                } else if (const auto* number = std::get_if<std::int64_t>(&value)) {
                    values << QString::number(*number);
                } else {
                    values << "NULL";
                }
            }
            lines << values.join(u'|');
        }
        return lines;
    }
    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& message : dialogs.messages) {
            texts.push_back(message.text);
        }
        return texts;
    }
};

} // namespace toolsupport
