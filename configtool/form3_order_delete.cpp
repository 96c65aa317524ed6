// Moving a startup list item up or down, and deleting items. Each click writes
// in one transaction (StartupLists).
#include "configtool/form3.h"

#include "configtool/form3_text.h"
#include "configtool/vb_list_box.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace corvale::tool {

void Form3::cmdUp_Click() {
    moveCurrentItem(-1);
}

void Form3::cmdDown_Click() {
    moveCurrentItem(+1);
}

void Form3::moveCurrentItem(int offset) {
    const int position = List2->currentRow();
    const int neighbour = position + offset;
    if (position == -1 || neighbour < 0 || neighbour >= List2->count() ||
        rowOnLeaving(position) != rowOnLeaving(neighbour)) {
        // Nothing to move, or nothing of its time to move past.
        (offset < 0 ? cmdUp : cmdDown)->setEnabled(false);
        return;
    }
    lists().exchangeItems(tableOfRow(position), List2->itemData(position), List2->itemData(neighbour));
    if (Check1->isChecked()) {
        loadDisconnectedList();
    } else {
        loadConnectedList();
    }
    setList2Selected(neighbour, true);
}

void Form3::cmdDelListItem_Click() {
    const int selected = List2->selectedCount();
    if (selected == 0) {
        notice("Please select a path to delete.");
        List2->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!confirmed(selected == 1 ? "Are you sure you want to delete the selected path?"
                                 : "Are you sure you want to delete the selected paths?")) {
        return;
    }
    if (!Check1->isChecked() && List1->selectedCount() >= 2) {
        deletePathsFromSelectedIPs();
        return;
    }
    // The selected entries themselves, even where another entry has the same
    // text.
    const QList<QListWidgetItem*> doomed = List2->selectedEntries();
    for (const bool leaving : {false, true}) {
        std::vector<std::int64_t> keys;
        for (QListWidgetItem* entry : doomed) {
            if (rowOnLeaving(List2->row(entry)) == leaving) {
                keys.push_back(VbListBox::keyOf(entry));
            }
        }
        if (!keys.empty()) {
            lists().deleteItems(statements::tableFor(shownTable(), leaving), keys);
        }
    }
    const int shownAfter = List2->removeEntries(doomed);
    if (shownAfter != -1) {
        setList2Current(shownAfter);
        setList2Selected(shownAfter, true);
        List2->setFocus(Qt::OtherFocusReason);
    } else {
        clearItemFields();
        Text2->setFocus(Qt::OtherFocusReason);
    }
    cmdDelListItem->setEnabled(List2->count() > 0);
}

void Form3::deletePathsFromSelectedIPs() {
    // The selected items' targets, from every selected address.
    std::vector<ItemKey> items;
    for (QListWidgetItem* entry : List2->selectedEntries()) {
        items.push_back({tableOfRow(List2->row(entry)), VbListBox::keyOf(entry)});
    }
    lists().deleteTargetsFromAddresses(items, VbListBox::keysOf(List1->selectedEntries()));
    loadConnectedList();
}

} // namespace corvale::tool
