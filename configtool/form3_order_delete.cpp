// Moving a startup list item up or down, and deleting items. Each click writes
// in one transaction.
#include "configtool/form3.h"

#include "configtool/form3_text.h"
#include "configtool/vb_list_box.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace corvale::tool {

namespace st = statements;

void Form3::cmdUp_Click() {
    moveCurrentItem(-1);
}

void Form3::cmdDown_Click() {
    moveCurrentItem(+1);
}

void Form3::moveCurrentItem(int offset) {
    const int position = List2->currentRow();
    const int neighbour = position + offset;
    if (position == -1 || neighbour < 0 || neighbour >= List2->count()) {
        // Nothing to move, or nothing to move past.
        (offset < 0 ? cmdUp : cmdDown)->setEnabled(false);
        return;
    }
    const st::ListTable table = shownTable();
    const std::int64_t moving = List2->itemData(position);
    const std::int64_t other = List2->itemData(neighbour);
    db().transaction([&] {
        const Recordset movingOrder = db().openRecordset(st::listOrderOf(table, moving));
        const Recordset otherOrder = db().openRecordset(st::listOrderOf(table, other));
        if (movingOrder.eof() || otherOrder.eof()) {
            return; // a row that is gone: the reload shows the list as it is
        }
        const platform::SqlValue a = movingOrder.field("listOrder").value();
        const platform::SqlValue b = otherOrder.field("listOrder").value();
        if (a != b) {
            db().execute(st::setListOrder(table, moving, b));
            db().execute(st::setListOrder(table, other, a));
            return;
        }
        // Two rows with one order number (made outside the tool) stand in the
        // order they were added, which no exchange of numbers can change: the
        // two rows exchange what they start instead.
        const Recordset movingPaths = db().openRecordset(st::pathsOfItem(table, moving));
        const Recordset otherPaths = db().openRecordset(st::pathsOfItem(table, other));
        db().execute(st::updateItem(table, moving, otherPaths.field("TargetPath").value(),
                                    otherPaths.field("StartinPath").value()));
        db().execute(st::updateItem(table, other, movingPaths.field("TargetPath").value(),
                                    movingPaths.field("StartinPath").value()));
    });
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
    const st::ListTable table = shownTable();
    db().transaction([&] {
        for (const QListWidgetItem* entry : doomed) {
            db().execute(st::deleteItem(table, VbListBox::keyOf(entry)));
        }
    });
    const int shownAfter = List2->removeEntries(doomed);
    if (shownAfter != -1) {
        setList2Current(shownAfter);
        setList2Selected(shownAfter, true);
        List2->setFocus(Qt::OtherFocusReason);
    } else {
        setText(Text2, "");
        setText(Text3, "");
        Text2->setFocus(Qt::OtherFocusReason);
    }
    cmdDelListItem->setEnabled(List2->count() > 0);
}

void Form3::deletePathsFromSelectedIPs() {
    // The paths as stored (the entries' texts may show them otherwise), taken
    // from each selected address by its key.
    std::vector<platform::SqlValue> paths;
    for (const QListWidgetItem* entry : List2->selectedEntries()) {
        const Recordset row =
            db().openRecordset(st::pathsOfItem(st::ListTable::Connected, VbListBox::keyOf(entry)));
        if (!row.eof()) {
            paths.push_back(row.field("TargetPath").value());
        }
    }
    std::vector<std::int64_t> addresses;
    for (const QListWidgetItem* entry : List1->selectedEntries()) {
        addresses.push_back(VbListBox::keyOf(entry));
    }
    db().transaction([&] {
        for (const platform::SqlValue& path : paths) {
            for (const std::int64_t ipid : addresses) {
                db().execute(st::deleteItemOfAddress(ipid, path));
            }
        }
    });
    loadConnectedList();
}

} // namespace corvale::tool
