#include "configtool/vb_list_box.h"

#include <QIcon>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QStyle>
#include <utility>

namespace corvale::tool {

VbListBox::VbListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSortingEnabled(false);
}

int VbListBox::selectedCount() const {
    return static_cast<int>(selectionModel()->selectedRows().size());
}

int VbListBox::firstSelected() const {
    for (int row = 0; row < count(); ++row) {
        if (isRowSelected(row)) {
            return row;
        }
    }
    return -1;
}

bool VbListBox::isRowSelected(int row) const {
    return row >= 0 && row < count() && item(row)->isSelected();
}

qint64 VbListBox::itemData(int row) const {
    if (row < 0 || row >= count()) {
        return 0;
    }
    return keyOf(item(row));
}

qint64 VbListBox::keyOf(const QListWidgetItem* entry) {
    return entry->data(Qt::UserRole).toLongLong();
}

void VbListBox::addEntry(const QString& text, qint64 data) {
    auto* entry = new QListWidgetItem(text, this);
    entry->setData(Qt::UserRole, data);
    judge(entry);
}

void VbListBox::markWarnings(std::function<QString(const QString&)> warning) {
    m_warning = std::move(warning);
    connect(this, &QListWidget::itemChanged, this, &VbListBox::judge, Qt::UniqueConnection);
    for (int row = 0; row < count(); ++row) {
        judge(item(row));
    }
}

void VbListBox::judge(QListWidgetItem* entry) {
    if (!m_warning || !entry) {
        return;
    }
    const QString warning = m_warning(entry->text());
    if (warning == entry->toolTip()) {
        return; // nothing to change, and no change that would judge it again
    }
    entry->setToolTip(warning);
    entry->setIcon(warning.isEmpty() ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
}

void VbListBox::setItemData(int row, qint64 data) {
    if (row >= 0 && row < count()) {
        item(row)->setData(Qt::UserRole, data);
    }
}

QList<QListWidgetItem*> VbListBox::selectedEntries() const {
    QList<QListWidgetItem*> entries;
    for (int row = 0; row < count(); ++row) {
        if (item(row)->isSelected()) {
            entries << item(row);
        }
    }
    return entries;
}

int VbListBox::removeEntries(const QList<QListWidgetItem*>& entries) {
    int shown = -1;
    for (QListWidgetItem* entry : entries) {
        const int position = row(entry);
        shown = position - 1;
        if (shown == -1 && count() >= 2) {
            shown = position;
        }
        delete takeItem(position);
    }
    return shown;
}

void VbListBox::clearEntries() {
    clear();
}

void VbListBox::markFirstAsCurrent() {
    if (count() > 0) {
        selectionModel()->setCurrentIndex(model()->index(0, 0), QItemSelectionModel::NoUpdate);
    }
}

bool VbListBox::setSelectedFromCode(int row, bool selected) {
    if (row < 0 || row >= count() || item(row)->isSelected() == selected) {
        return false;
    }
    item(row)->setSelected(selected);
    return true;
}

bool VbListBox::setCurrentFromCode(int row) {
    if (row == currentRow()) {
        return false;
    }
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
    return true;
}

VbListBox::State VbListBox::state() const {
    State now;
    for (const QModelIndex& index : selectionModel()->selectedRows()) {
        now.selected.insert(index.row());
    }
    now.current = currentRow();
    return now;
}

template <typename Action> void VbListBox::userAction(Action action) {
    const State before = state();
    action();
    if (state() != before) {
        emit userChanged();
    }
}

void VbListBox::mousePressEvent(QMouseEvent* event) {
    m_pressOutsideEntries = !indexAt(event->position().toPoint()).isValid();
    if (m_pressOutsideEntries) {
        event->accept();
        return;
    }
    userAction([&] { QListWidget::mousePressEvent(event); });
}

void VbListBox::mouseMoveEvent(QMouseEvent* event) {
    if (m_pressOutsideEntries) {
        event->accept();
        return;
    }
    userAction([&] { QListWidget::mouseMoveEvent(event); });
}

void VbListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (std::exchange(m_pressOutsideEntries, false)) {
        event->accept();
        return;
    }
    userAction([&] { QListWidget::mouseReleaseEvent(event); });
}

void VbListBox::keyPressEvent(QKeyEvent* event) {
    userAction([&] { QListWidget::keyPressEvent(event); });
}

} // namespace corvale::tool
