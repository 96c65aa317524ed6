// The startup list: showing it, following the user's selection in it, and the
// item fields with their change rule.
#include "configtool/form3.h"

#include "configtool/form3_text.h"
#include "configtool/stored_text.h"
#include "configtool/vb_list_box.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace corvale::tool {

ListTable Form3::shownTable() const {
    return Check1->isChecked() ? ListTable::Disconnected : ListTable::Connected;
}

namespace {
// Whether an entry of List2 stands for an item marked to stop on leaving,
// and for one that runs on leaving.
constexpr int kStopsOnLeaveRole = Qt::UserRole + 10;
constexpr int kOnLeavingRole = Qt::UserRole + 11;
} // namespace

bool Form3::rowOnLeaving(int row) const {
    return row >= 0 && row < List2->count() && List2->item(row)->data(kOnLeavingRole).toBool();
}

ListTable Form3::tableOfRow(int row) const {
    return statements::tableFor(shownTable(), rowOnLeaving(row));
}

namespace {
// A target as the list shows it: one longer than any screen (a row written
// by hand) in its beginning and end, so that the list does not lay out a
// page of text for it; the entry keeps it whole.
QString listedTarget(const QString& target) {
    constexpr qsizetype kHead = 600;
    constexpr qsizetype kTail = 200;
    return target.size() <= kHead + kTail ? target : target.left(kHead) + QChar(0x2026) + target.right(kTail);
}
} // namespace

void Form3::addItemEntry(const QString& target, std::int64_t listId, bool stopOnLeave, bool onLeaving) {
    if (onLeaving) {
        List2->addEntry(target, listId, "(on leaving)  " + listedTarget(target),
                        "Runs when the laptop leaves this list's network.");
        List2->item(List2->count() - 1)->setData(kOnLeavingRole, true);
        return;
    }
    if (!stopOnLeave) {
        List2->addEntry(target, listId, listedTarget(target));
        return;
    }
    // The mark first: at the end a long target would cut it off.
    List2->addEntry(target, listId, "(stops on leaving)  " + listedTarget(target),
                    QString("Stops on leaving: ") + kStopOnLeaveMeaning + ".");
    List2->item(List2->count() - 1)->setData(kStopsOnLeaveRole, true);
}

void Form3::fillList2(const std::vector<ListRow>& rows) {
    for (const ListRow& row : rows) {
        addItemEntry(shownText(row.text), row.id, row.stopOnLeave, row.onLeaving);
    }
    List2->markFirstAsCurrent();
}

// The first steps of both loads: an empty list, empty item fields, and
// nothing selected to update, delete or move.
void Form3::emptyStartupList() {
    List2->clearEntries();
    clearItemFields();
    cmdUpdateList->setEnabled(false);
    cmdDelListItem->setEnabled(false);
    cmdUp->setEnabled(false);
    cmdDown->setEnabled(false);
}

void Form3::loadConnectedList() {
    emptyStartupList();
    if (List1->currentRow() != -1) {
        m_currentIPIndex = List1->currentRow();
    }
    if (List1->count() > 0 && m_currentIPIndex != -1 && List1->currentRow() != -1) {
        fillList2(lists().connectedItems(List1->itemData(List1->currentRow())));
    }
}

void Form3::loadDisconnectedList() {
    emptyStartupList();
    fillList2(lists().disconnectedItems());
}

void Form3::List2_Click() {
    const int selected = List2->selectedCount();
    if (selected == 0) {
        cmdUp->setEnabled(false);
        cmdDown->setEnabled(false);
        clearItemFields();
        cmdUpdateList->setEnabled(false);
        cmdDelListItem->setEnabled(false);
        return;
    }
    if (selected >= 2) {
        clearItemFields();
        cmdAddPath->setEnabled(false);
        cmdUp->setEnabled(false);
        cmdDown->setEnabled(false);
        cmdUpdateList->setEnabled(false);
        cmdDelListItem->setEnabled(true);
        return;
    }
    const int first = List2->firstSelected();
    setText(Text2, List2->entryText(first));
    chkStopOnLeave->setChecked(List2->item(first)->data(kStopsOnLeaveRole).toBool());
    chkOnLeaving->setChecked(rowOnLeaving(first));
    chkOnLeaving_Click();
    // The start-in folder of this very row: looked up by its key, not by its
    // target, which other rows may share.
    if (const platform::SqlValue startIn = lists().startInOf(tableOfRow(first), List2->itemData(first));
        !std::holds_alternative<std::monostate>(startIn)) {
        setText(Text3, shownText(startIn));
    }
    setList2Current(first);
    cmdAddPath->setEnabled(true);
    cmdUpdateList->setEnabled(true);
    // An item moves among the items of its own time.
    const int position = List2->currentRow();
    const bool leaving = rowOnLeaving(position);
    cmdUp->setEnabled(position > 0 && rowOnLeaving(position - 1) == leaving);
    cmdDown->setEnabled(position + 1 < List2->count() && rowOnLeaving(position + 1) == leaving);
    cmdDelListItem->setEnabled(true);
}

void Form3::List2_LostFocus() {
    if (List2->selectedCount() == 0) {
        cmdUp->setEnabled(false);
        cmdDown->setEnabled(false);
    }
}

void Form3::Text2_Change() {
    if (Text2->text().isEmpty()) {
        cmdAddPath->setEnabled(false);
        cmdUpdateList->setEnabled(false);
        cmdTestStart->setEnabled(false);
        return;
    }
    const int selected = List2->selectedCount();
    cmdAddPath->setEnabled(true);
    if (selected == 1) {
        cmdUpdateList->setEnabled(true);
    }
    if (selected >= 1) {
        cmdDelListItem->setEnabled(true);
    }
    cmdTestStart->setEnabled(true);
}

void Form3::Text2_GotFocus() {
    Text2->selectAll();
}

void Form3::Text3_GotFocus() {
    Text3->selectAll();
}

} // namespace corvale::tool
