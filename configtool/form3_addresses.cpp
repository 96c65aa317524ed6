// The address list: loading, selecting, adding, renaming and deleting
// addresses.
#include "configtool/form3.h"
#include "shared/network_choice.h"
#include "shared/statements.h"

#include "configtool/form3_text.h"
#include "configtool/stored_text.h"
#include "configtool/vb_list_box.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <optional>

namespace corvale::tool {

void Form3::addIPEntry(const QString& text, std::int64_t ipid, const QString& name, int row) {
    // Room for the entry's text beside the list's frame and margins.
    const int room = List1->width() - 2 * List1->frameWidth() - 8;
    const bool tooWide = List1->fontMetrics().horizontalAdvance(text) > room;
    List1->addEntry(text, ipid, name, !name.isEmpty() || tooWide ? text : QString(), row);
}

void Form3::loadIPs() {
    const std::vector<ListRow> rows = lists().addresses();
    List1->clearEntries();
    for (const ListRow& row : rows) {
        addIPEntry(shownText(row.text), row.id, shownText(row.name));
    }
    // An entry that gives way to another of the same network is marked
    // once all are there.
    m_sameNetworks.reset();
    List1->judgeAgain();
    List1->markFirstAsCurrent();
}

void Form3::List1_Click() {
    const int selected = List1->selectedCount();
    const int current = List1->currentRow();
    if (selected != 0 && List1->isRowSelected(current)) {
        loadConnectedList();
        if (selected > 1) {
            setText(Text1, "");
            cmdUpdate->setEnabled(false);
        } else {
            const int first = List1->firstSelected();
            setText(Text1, List1->entryText(first));
            setList1Current(first);
            cmdUpdate->setEnabled(true);
        }
    } else {
        clearStartupEntries();
        setText(Text1, "");
        clearItemFields();
        if (List1->selectedCount() == 1) {
            setList1Current(List1->firstSelected());
        }
    }
}

void Form3::Text1_Change() {
    if (Text1->text().isEmpty()) {
        cmdAddIP->setEnabled(false);
        cmdUpdate->setEnabled(false);
        return;
    }
    const int selected = List1->selectedCount();
    cmdAddIP->setEnabled(true);
    if (selected >= 1) {
        cmdDelIP->setEnabled(true);
    }
    if (selected == 1) {
        cmdUpdate->setEnabled(true);
    }
}

void Form3::Text1_GotFocus() {
    Text1->selectAll();
}

void Form3::cmdAddIP_Click() {
    if (Text1->text().isEmpty()) {
        notice("Please enter an IP, then click the Add IP button.");
        Text1->setFocus(Qt::OtherFocusReason);
        return;
    }
    saveIP("New");
    cmdUpdate->setEnabled(true);
    cmdDelIP->setEnabled(true);
}

void Form3::addAddress(const QString& text, const QString& suggestedName) {
    if (Check1->isChecked()) {
        Check1->setChecked(false);
        guarded([this] { Check1_Click(); });
    }
    setText(Text1, text);
    const int before = List1->count();
    guarded([this] { cmdAddIP_Click(); });
    if (List1->count() > before) {
        guarded([this, &suggestedName] { nameIP(suggestedName); });
    }
}

void Form3::nameIP(const QString& suggestedName) {
    const int selected = List1->selectedCount();
    if (selected != 1 || !List1->isEnabled()) {
        notice(selected > 1 ? "Only one IP (at a time) can be named." : "Please select an IP to name.");
        List1->setFocus(Qt::OtherFocusReason);
        return;
    }
    const int row = List1->firstSelected();
    const QString entry = List1->entryText(row);
    const QString now = List1->item(row)->text() == entry ? QString() : List1->item(row)->text();
    const std::optional<std::string> name =
        m_dialogs.askText({"A name for " + storedText(entry) + " (leave it empty for none):", kToolCaption,
                           storedText(suggestedName.isEmpty() ? now : suggestedName)});
    if (!name) {
        return;
    }
    const RowChange change = lists().nameAddress(List1->itemData(row), *name);
    if (change == RowChange::Gone) {
        showListsAfterAnotherChange();
        return;
    }
    if (change == RowChange::Duplicate) {
        notice("Another entry is called " + shownText(*name).trimmed() + " already.");
        return;
    }
    if (change == RowChange::TooLong) {
        notice(QString("A name can have at most %1 characters.").arg(corvale::kLongestEntryName));
        return;
    }
    if (change == RowChange::ReadsAsAnEntry) {
        notice("The name " + shownText(*name).trimmed() +
               " reads as an entry of the address list; give a name with a word in it.");
        return;
    }
    loadIPs();
    selectIP(entry);
    List1->setFocus(Qt::OtherFocusReason);
}

void Form3::cmdUpdate_Click() {
    const int selected = List1->selectedCount();
    if (selected >= 2) {
        notice("Only one IP (at a time) can be updated.");
        List1->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (selected == 0) {
        notice("Please select an IP to update.");
        List1->setFocus(Qt::OtherFocusReason);
        return;
    }
    saveIP("Update");
}

void Form3::saveIP(const QString& mode) {
    const std::string text = storedText(Text1->text());
    const bool isNew = mode == "New";
    AddedRow saved;
    if (isNew) {
        saved = lists().addAddress(text);
    } else {
        saved = lists().renameAddress(List1->itemData(List1->currentRow()), text);
    }
    if (saved.outcome == RowChange::Duplicate && saved.onFile != text) {
        // Another spelling of a network on file: which entry holds it.
        notice("The IP is already on file: " + shownText(saved.onFile) +
               (saved.onFileName.empty() ? QString() : " (" + shownText(saved.onFileName) + ")") +
               " is the same network.");
        Text1->selectAll();
        Text1->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (saved.outcome == RowChange::Duplicate) {
        notice("The IP is already on file.");
        Text1->selectAll();
        Text1->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (saved.outcome == RowChange::Gone) {
        showListsAfterAnotherChange();
        return;
    }
    if (isNew) {
        // In its place in the list's order, where the list shows it when the
        // form opens again.
        int row = 0;
        while (row < List1->count() && !statements::listedBefore(text, storedText(List1->entryText(row)))) {
            ++row;
        }
        m_sameNetworks.reset();
        addIPEntry(Text1->text(), saved.id, {}, row);
        // Selecting the entry empties Text1 and fills it again, which drops
        // a selection made before; the whole text is selected afterwards, so
        // that the next address typed replaces it.
        selectIP(shownText(text));
        Text1->selectAll();
        Text1->setFocus(Qt::OtherFocusReason);
    } else {
        m_currentIPIndex = List1->currentRow();
        loadIPs();
        loadConnectedList();
        selectIP(shownText(text));
        List1->setFocus(Qt::OtherFocusReason);
    }
}

void Form3::showListsAfterAnotherChange() {
    notice(kChangedElsewhere);
    if (Check1->isChecked()) {
        loadDisconnectedList();
        return;
    }
    loadIPs();
    if (List1->count() > 0) {
        setList1Selected(0, true);
    } else {
        m_currentIPIndex = -1;
        loadConnectedList();
    }
}

void Form3::cmdDelIP_Click() {
    const int selected = List1->selectedCount();
    if (selected == 0) {
        notice("Please select an IP to delete.");
        List1->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (!confirmed(selected == 1 ? "Are you sure you want to delete the selected IP?"
                                 : "Are you sure you want to delete the selected IPs?")) {
        return;
    }
    const QList<QListWidgetItem*> doomed = List1->selectedEntries();
    lists().deleteAddresses(VbListBox::keysOf(doomed));
    m_currentIPIndex = List1->removeEntries(doomed);
    List1->judgeAgain();
    if (m_currentIPIndex != -1) {
        setList1Current(m_currentIPIndex);
        setList1Selected(m_currentIPIndex, true);
        List1->setFocus(Qt::OtherFocusReason);
        return;
    }
    setText(Text1, "Enter new IP here");
    clearStartupEntries();
    clearItemFields();
    cmdUpdate->setEnabled(false);
    cmdDelIP->setEnabled(false);
    Text1->setFocus(Qt::OtherFocusReason);
    Text1_GotFocus();
}

} // namespace corvale::tool
