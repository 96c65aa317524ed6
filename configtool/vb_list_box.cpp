#include "configtool/vb_list_box.h"

#include <QIcon>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace corvale::tool {

namespace {
// The text an entry's mark was last asked for, off the main thread.
constexpr int kJudgedTextRole = Qt::UserRole + 1;
// The entry's own text, where it shows other words, and its note.
constexpr int kEntryTextRole = Qt::UserRole + 2;
constexpr int kNoteRole = Qt::UserRole + 3;

// Draws the focus mark, a thin frame inside the current entry, whenever the
// list has the focus: in the text colour over a selected entry, where a
// style's own mark is lost in the selection's colour.
class FocusMarkDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!(option.state & QStyle::State_HasFocus)) {
            return;
        }
        const bool selected = (option.state & QStyle::State_Selected) != 0;
        painter->save();
        painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Highlight));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
        painter->restore();
    }
};
} // namespace

struct VbListBox::Mailbox {
    std::mutex mutex;
    VbListBox* list = nullptr;
};

VbListBox::VbListBox(QWidget* parent) : QListWidget(parent), m_mailbox(std::make_shared<Mailbox>()) {
    m_mailbox->list = this;
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setItemDelegate(new FocusMarkDelegate(this));
    setSortingEnabled(false);
}

VbListBox::~VbListBox() {
    const std::lock_guard<std::mutex> lock(m_mailbox->mutex);
    m_mailbox->list = nullptr;
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

std::vector<std::int64_t> VbListBox::keysOf(const QList<QListWidgetItem*>& entries) {
    std::vector<std::int64_t> keys;
    keys.reserve(static_cast<std::size_t>(entries.size()));
    for (const QListWidgetItem* entry : entries) {
        keys.push_back(keyOf(entry));
    }
    return keys;
}

qint64 VbListBox::keyOf(const QListWidgetItem* entry) {
    return entry->data(Qt::UserRole).toLongLong();
}

void VbListBox::addEntry(const QString& text, qint64 key, const QString& shown, const QString& note,
                         int row) {
    auto* entry = new QListWidgetItem(shown.isEmpty() ? text : shown);
    entry->setData(Qt::UserRole, key);
    if (!shown.isEmpty()) {
        entry->setData(kEntryTextRole, text);
    }
    entry->setData(kNoteRole, note);
    entry->setToolTip(note);
    insertItem(row < 0 ? count() : row, entry);
    judge(entry);
}

QString VbListBox::entryTextOf(const QListWidgetItem* entry) {
    const QVariant own = entry->data(kEntryTextRole);
    return own.isValid() ? own.toString() : entry->text();
}

QString VbListBox::entryText(int row) const {
    return row >= 0 && row < count() ? entryTextOf(item(row)) : QString();
}

void VbListBox::markWarnings(std::function<QString(const QString&)> warning, Judged judged) {
    m_warning = std::move(warning);
    m_judged = judged;
    connect(this, &QListWidget::itemChanged, this, &VbListBox::judge, Qt::UniqueConnection);
    for (int row = 0; row < count(); ++row) {
        judge(item(row));
    }
}

void VbListBox::judgeAgain() {
    for (int row = 0; row < count(); ++row) {
        judge(item(row));
    }
}

void VbListBox::judge(QListWidgetItem* entry) {
    if (!m_warning || !entry) {
        return;
    }
    if (m_judged == Judged::AtOnce) {
        showWarning(entry, m_warning(entryTextOf(entry)));
        return;
    }
    const QString text = entryTextOf(entry);
    if (entry->data(kJudgedTextRole).toString() == text) {
        return; // asked already; its answer is coming or came
    }
    entry->setData(kJudgedTextRole, text);
    // Posted while the list lives (the lock keeps it from going meanwhile);
    // an event posted to a list that goes is dropped with it.
    std::thread([warning = m_warning, mailbox = m_mailbox, text] {
        const QString answer = warning(text);
        const std::lock_guard<std::mutex> lock(mailbox->mutex);
        if (VbListBox* list = mailbox->list) {
            QMetaObject::invokeMethod(
                list, [list, text, answer] { list->showAnswer(text, answer); }, Qt::QueuedConnection);
        }
    }).detach();
}

void VbListBox::showAnswer(const QString& text, const QString& warning) {
    for (int row = 0; row < count(); ++row) {
        if (entryTextOf(item(row)) == text) {
            showWarning(item(row), warning);
        }
    }
}

void VbListBox::showWarning(QListWidgetItem* entry, const QString& warning) {
    const QString note = entry->data(kNoteRole).toString();
    const QString tip = warning.isEmpty() || note.isEmpty() ? warning + note : warning + "\n" + note;
    if (tip == entry->toolTip()) {
        return; // nothing to change, and no change that would judge it again
    }
    entry->setToolTip(tip);
    entry->setIcon(warning.isEmpty() ? QIcon() : style()->standardIcon(QStyle::SP_MessageBoxWarning));
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
    if (entries.isEmpty()) {
        return -1;
    }
    // One pass finds where each of them stands; another takes every entry
    // out from the end (which moves nothing) and puts the others back, so
    // that many entries go in time linear in the list.
    std::unordered_map<const QListWidgetItem*, int> rowOf;
    for (const QListWidgetItem* entry : entries) {
        rowOf.emplace(entry, -1);
    }
    for (int at = 0; at < count(); ++at) {
        if (const auto found = rowOf.find(item(at)); found != rowOf.end()) {
            found->second = at;
        }
    }
    // The entry shown next: before the last of them, where it stood once
    // those given before it had gone (the first, when it was the first).
    const int lastRow = rowOf.at(entries.back());
    int position = lastRow;
    for (const QListWidgetItem* entry : entries) {
        if (entry != entries.back() && rowOf.at(entry) < lastRow) {
            --position;
        }
    }
    const int countBeforeLast = count() - static_cast<int>(entries.size()) + 1;
    int shown = position - 1;
    if (shown == -1 && countBeforeLast >= 2) {
        shown = position;
    }
    std::vector<QListWidgetItem*> kept;
    kept.reserve(static_cast<std::size_t>(count()));
    while (count() > 0) {
        QListWidgetItem* entry = takeItem(count() - 1);
        if (rowOf.count(entry) > 0) {
            delete entry;
        } else {
            kept.push_back(entry);
        }
    }
    for (auto entry = kept.rbegin(); entry != kept.rend(); ++entry) {
        addItem(*entry);
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
