// Adding an item to a startup list and changing one: the checks before a save,
// the duplicate rule and the order numbers. Each click writes in one
// transaction, so that two tools at once never give two rows the same order
// number and a failure leaves nothing half written.
#include "configtool/form3.h"

#include "configtool/form3_text.h"
#include "configtool/item_paths.h"
#include "configtool/stored_text.h"
#include "configtool/vb_list_box.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <limits>
#include <optional>

namespace corvale::tool {

namespace st = statements;

namespace {

constexpr const char* kItemOnFile = "The Startup List item is already on file.";

// A new row comes after every row of its table, whatever list it is on.
// Only whole numbers count (a text written by hand is no number to go on
// from); at the very top the new row takes the top number too, and still
// comes last, since rows with one number stand in the order they were added.
std::int64_t nextListOrder(Database& db, st::ListTable table) {
    const Recordset rows = db.openRecordset(st::maxListOrder(table));
    if (rows.field("maxOrder").isNull()) {
        return 1;
    }
    const std::int64_t largest = rows.field("maxOrder").number();
    return largest == std::numeric_limits<std::int64_t>::max() ? largest : largest + 1;
}

} // namespace

void Form3::cmdAddPath_Click() {
    saveListItem("Add");
}

void Form3::cmdUpdateList_Click() {
    // With no entry in the list there is no item to change.
    if (List2->currentRow() == -1) {
        cmdUpdateList->setEnabled(false);
        return;
    }
    saveListItem("Update");
}

void Form3::saveListItem(const QString& mode) {
    if (!validateListItem()) {
        return;
    }
    if (Check1->isChecked()) {
        saveDisconnectedItem(mode);
    } else {
        saveConnectedItem(mode);
    }
}

bool Form3::validateListItem() {
    if (Text2->text().isEmpty()) {
        notice("Please enter or select a target path, then click the Add Path button.");
        Text2->setFocus(Qt::OtherFocusReason);
        return false;
    }
    if (Text3->text().isEmpty()) {
        setText(Text3, defaultStartIn());
        if (Text3->text().isEmpty()) {
            notice("Please enter or select a start-in path, then click the Add Path button.");
            Text3->setFocus(Qt::OtherFocusReason);
            return false;
        }
    }
    if (isNetworkPath(Text3->text())) {
        notice(
            "The start-in path cannot be a network path.  Please map the network path to your machine, then "
            "use the mapped path (or mapped drive letter) as the Start-in path.");
        Text3->setFocus(Qt::OtherFocusReason);
        return false;
    }
    if (!Check1->isChecked() && List1->selectedCount() == 0) {
        notice("Please select an IP address to associate the startup path with.");
        List1->setFocus(Qt::OtherFocusReason);
        return false;
    }
    return true;
}

void Form3::saveConnectedItem(const QString& mode) {
    const bool adding = mode == "Add";
    const std::string target = storedText(Text2->text());
    const std::string startIn = storedText(Text3->text());
    const int current = List2->currentRow();
    if (!adding && current == -1) {
        return;
    }
    bool duplicate = false;
    bool gone = false;
    if (adding) {
        const QList<QListWidgetItem*> addresses = List1->selectedEntries();
        // List2 shows the list of List1's current address; only a row added
        // to that list gets an entry there.
        const int shown = List1->currentRow();
        const std::optional<std::int64_t> shownIpid =
            List1->isRowSelected(shown) ? std::optional<std::int64_t>(List1->itemData(shown)) : std::nullopt;
        std::optional<std::int64_t> shownNewId;
        db().transaction([&] {
            // A row for an address that is no longer there would be seen by
            // nobody: nothing is written then.
            for (const QListWidgetItem* address : addresses) {
                gone = gone || db().openRecordset(st::addressById(VbListBox::keyOf(address))).eof();
            }
            if (gone) {
                return;
            }
            for (const QListWidgetItem* address : addresses) {
                const std::int64_t ipid = VbListBox::keyOf(address);
                if (db().openRecordset(st::connectedDuplicate(ipid, target)).recordCount() > 0) {
                    duplicate = true;
                    continue;
                }
                db().execute(st::insertConnectedItem(ipid, target, startIn,
                                                     nextListOrder(db(), st::ListTable::Connected)));
                if (ipid == shownIpid) {
                    shownNewId = db().lastInsertId();
                }
            }
        });
        if (duplicate && addresses.size() == 1) {
            notice(kItemOnFile);
        }
        if (shownNewId) {
            List2->addEntry(Text2->text(), *shownNewId);
        }
    } else {
        // The rule is about the list the item is on: one address may not hold
        // the same target twice.
        const std::int64_t listId = List2->itemData(current);
        db().transaction([&] {
            const Recordset owner = db().openRecordset(st::addressOfItem(listId));
            gone = owner.eof();
            if (owner.recordCount() > 0 && !owner.field("IPID").isNull()) {
                duplicate = db().openRecordset(
                                    st::connectedDuplicateOther(listId, owner.field("IPID").number(), target))
                                .recordCount() > 0;
            }
            if (!duplicate && !gone) {
                db().execute(st::updateItem(st::ListTable::Connected, listId, target, startIn));
            }
        });
        if (duplicate) {
            notice(kItemOnFile);
        }
    }
    if (gone) {
        showListsAfterAnotherChange();
        return;
    }
    showSavedItem(adding, duplicate);
}

void Form3::saveDisconnectedItem(const QString& mode) {
    const bool adding = mode == "Add";
    const std::string target = storedText(Text2->text());
    const std::string startIn = storedText(Text3->text());
    const int current = List2->currentRow();
    if (!adding && current == -1) {
        return;
    }
    const std::int64_t listId = adding ? 0 : List2->itemData(current);
    bool duplicate = false;
    bool gone = false;
    std::int64_t newId = 0;
    db().transaction([&] {
        const Query check =
            adding ? st::disconnectedDuplicate(target) : st::disconnectedDuplicateOther(listId, target);
        duplicate = db().openRecordset(check).recordCount() > 0;
        if (duplicate) {
            return;
        }
        if (adding) {
            db().execute(st::insertDisconnectedItem(target, startIn,
                                                    nextListOrder(db(), st::ListTable::Disconnected)));
            newId = db().lastInsertId();
        } else {
            gone = db().execute(st::updateItem(st::ListTable::Disconnected, listId, target, startIn)) == 0;
        }
    });
    if (gone) {
        showListsAfterAnotherChange();
        return;
    }
    if (duplicate) {
        notice(kItemOnFile);
    } else if (adding) {
        List2->addEntry(Text2->text(), newId);
    }
    showSavedItem(adding, duplicate);
}

void Form3::showSavedItem(bool added, bool duplicate) {
    if (!duplicate) {
        if (added) {
            unselectListItems();
            setList2Selected(List2->count() - 1, true);
        } else {
            m_updatedItemIndex = List2->currentRow();
            if (Check1->isChecked()) {
                loadDisconnectedList();
            } else {
                loadConnectedList();
            }
            setList2Selected(m_updatedItemIndex, true);
        }
    }
    Text2->selectAll();
    Text2->setFocus(Qt::OtherFocusReason);
}

} // namespace corvale::tool
