// Adding an item to a startup list and changing one: the checks before a save,
// and what the form shows of the outcome (the rules are StartupLists').
#include "configtool/form3.h"

#include "configtool/form3_text.h"
#include "configtool/item_paths.h"
#include "configtool/stored_text.h"
#include "configtool/vb_list_box.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <unordered_map>

namespace corvale::tool {

namespace {

constexpr const char* kItemOnFile = "The Startup List item is already on file.";

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
    if (startInLeftToTheTarget()) {
        fillStartIn();
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
    const ItemPaths paths{storedText(Text2->text()), storedText(Text3->text()), chkStopOnLeave->isChecked(),
                          chkOnLeaving->isChecked()};
    const int current = List2->currentRow();
    if (!adding && current == -1) {
        return;
    }
    bool duplicate = false;
    if (adding) {
        const QList<QListWidgetItem*> addresses = List1->selectedEntries();
        const AddedToAddresses added = lists().addItem(VbListBox::keysOf(addresses), paths);
        if (added.addressGone) {
            showListsAfterAnotherChange();
            return;
        }
        duplicate = added.duplicates > 0;
        if (duplicate && addresses.size() == 1) {
            notice(kItemOnFile);
        }
        // List2 shows the list of List1's current address; only a row added
        // to that list gets an entry there.
        const int shown = List1->currentRow();
        const bool shownSelected = List1->isRowSelected(shown);
        const qint64 shownKey = shownSelected ? List1->itemData(shown) : 0;
        std::unordered_map<std::int64_t, QString> entryOf;
        for (QListWidgetItem* address : addresses) {
            entryOf.emplace(VbListBox::keyOf(address), VbListBox::entryTextOf(address));
        }
        QStringList entries;
        std::optional<ItemKey> shownItem;
        for (const auto& [ipid, listId] : added.added) {
            if (shownSelected && ipid == shownKey) {
                shownItem = ItemKey{statements::tableFor(ListTable::Connected, paths.onLeaving), listId};
            }
            if (const auto found = entryOf.find(ipid); found != entryOf.end()) {
                entries << found->second;
            }
        }
        if (!entries.isEmpty()) {
            emit itemAdded(entries, false);
        }
        showSavedItem(adding, duplicate, shownItem);
        return;
    }
    const AddedRow change = lists().updateItem(tableOfRow(current), List2->itemData(current), paths);
    if (change.outcome == RowChange::Gone) {
        showListsAfterAnotherChange();
        return;
    }
    duplicate = change.outcome == RowChange::Duplicate;
    if (duplicate) {
        notice(kItemOnFile);
    }
    showSavedItem(adding, duplicate,
                  ItemKey{statements::tableFor(ListTable::Connected, paths.onLeaving), change.id});
}

void Form3::saveDisconnectedItem(const QString& mode) {
    const bool adding = mode == "Add";
    const ItemPaths paths{storedText(Text2->text()), storedText(Text3->text()), chkStopOnLeave->isChecked(),
                          chkOnLeaving->isChecked()};
    const int current = List2->currentRow();
    if (!adding && current == -1) {
        return;
    }
    AddedRow saved;
    if (adding) {
        saved = lists().addDisconnectedItem(paths);
    } else {
        saved = lists().updateItem(tableOfRow(current), List2->itemData(current), paths);
    }
    if (saved.outcome == RowChange::Gone) {
        showListsAfterAnotherChange();
        return;
    }
    if (saved.outcome == RowChange::Duplicate) {
        notice(kItemOnFile);
    } else if (adding) {
        emit itemAdded({}, true);
    }
    showSavedItem(adding, saved.outcome == RowChange::Duplicate,
                  ItemKey{statements::tableFor(ListTable::Disconnected, paths.onLeaving), saved.id});
}

void Form3::showSavedItem(bool added, bool duplicate, std::optional<ItemKey> saved) {
    m_markOfAddedItem = false;
    if (saved && saved->listId != 0 && (added || !duplicate)) {
        // The list again, with the item where its time puts it: those that
        // run on arrival first, then those that run on leaving.
        m_updatedItemIndex = List2->currentRow();
        if (Check1->isChecked()) {
            loadDisconnectedList();
        } else {
            loadConnectedList();
        }
        for (int row = 0; row < List2->count(); ++row) {
            if (List2->itemData(row) == saved->listId && tableOfRow(row) == saved->table) {
                m_updatedItemIndex = row;
            }
        }
        if (!duplicate) {
            unselectListItems();
            setList2Selected(m_updatedItemIndex, true);
            m_markOfAddedItem = added;
        }
    } else if (added && !duplicate) {
        unselectListItems();
        setList2Selected(List2->count() - 1, true);
        m_markOfAddedItem = true;
    }
    Text2->selectAll();
    Text2->setFocus(Qt::OtherFocusReason);
}

} // namespace corvale::tool
