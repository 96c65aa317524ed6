#pragma once

#include <QListWidget>
#include <QSet>
#include <functional>
#include <memory>
#include <vector>

namespace corvale::tool {

// A list box with the old click convention: one notification per change of
// its selection or current item made by the user, sent when the user's action
// is complete. Changes made by code notify nothing by themselves: the form
// makes them through the *FromCode functions and runs its handler when they
// report a change, so that the handler runs nested where the code asked.
class VbListBox : public QListWidget {
    Q_OBJECT
public:
    explicit VbListBox(QWidget* parent = nullptr);
    ~VbListBox() override;

    int selectedCount() const;
    int firstSelected() const;
    bool isRowSelected(int row) const;
    qint64 itemData(int row) const;

    // The key an entry carries.
    static qint64 keyOf(const QListWidgetItem* entry);
    static std::vector<std::int64_t> keysOf(const QList<QListWidgetItem*>& entries);
    // Adds an entry at the bottom; the data travels with it. An entry may
    // show other words than its text (shown), and carry a note, which its
    // tooltip holds after any warning.
    // At row, or last where row is -1.
    void addEntry(const QString& text, qint64 key, const QString& shown = {}, const QString& note = {},
                  int row = -1);
    // The entry's own text, whatever it shows.
    QString entryText(int row) const;
    static QString entryTextOf(const QListWidgetItem* entry);
    // Entries for which warning gives a text carry a warning mark, with the
    // text as their tooltip; judged as they are added and whenever their
    // text changes. A judgement that looks at files (which may be on a mount
    // that no longer answers) runs off the main thread, and must be safe to
    // run there: the mark shows when its answer comes.
    enum class Judged { AtOnce, OffMainThread };
    void markWarnings(std::function<QString(const QString&)> warning, Judged judged = Judged::AtOnce);
    // Judges every entry again: for a warning that depends on the others.
    void judgeAgain();
    // The selected entries, from the top.
    QList<QListWidgetItem*> selectedEntries() const;
    // Removes the entries, one after the other from the top. Returns the row
    // to show afterwards: the entry above the last one removed or, when that
    // was the first, the entry that took its place; -1 when none is left.
    int removeEntries(const QList<QListWidgetItem*>& entries);
    // Removes every entry; afterwards there is no current entry.
    void clearEntries();
    // After a list has been filled, its first entry carries the focus mark.
    void markFirstAsCurrent();

    // Each returns whether anything changed.
    bool setSelectedFromCode(int row, bool selected);
    bool setCurrentFromCode(int row);

signals:
    void userChanged();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct State {
        QSet<int> selected;
        int current = -1;
        bool operator==(const State&) const = default;
    };
    State state() const;
    // A press below the last entry, and the drag and release that follow it:
    // the old list box kept its selection there.
    bool m_pressOutsideEntries = false;
    std::function<QString(const QString&)> m_warning;
    Judged m_judged = Judged::AtOnce;
    // Where answers judged off the main thread are sent; emptied when the
    // list goes, so that a late answer finds nobody.
    struct Mailbox;
    std::shared_ptr<Mailbox> m_mailbox;
    void judge(QListWidgetItem* entry);
    void showWarning(QListWidgetItem* entry, const QString& warning);
    void showAnswer(const QString& text, const QString& warning);
    template <typename Action> void userAction(Action action);
};

} // namespace corvale::tool
