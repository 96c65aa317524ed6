#pragma once

#include "configtool/tool_caption.h"
#include "configtool/twips.h"
#include "platform/dialogs.h"
#include "shared/address_entries.h"
#include "shared/database.h"
#include "shared/startup_lists.h"

#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace corvale::tool {

class VbListBox;

// The configuration form: the address list, the startup list of the selected
// address or the disconnected list, and the item fields. Every change is
// written to the database at once by the handler that makes it, through
// StartupLists, which holds the editing rules.
//
// Its controls, by their design names:
//   List1           the address list (entries of IPs, several may be selected;
//                   a named entry shows its name; F2 or its context menu's
//                   Name... names the selected entry)
//   Text1           the new-address box, also the selected entry's text
//   cmdAddIP        Add IP: adds Text1 as a new entry
//   cmdUpdate       Update IP: renames the selected entry to Text1
//   cmdDelIP        Delete IP: deletes the selected entries with their lists
//   Check1          Disconnected List: shows the list for no network instead
//   List2           the startup list of List1's current entry (or the
//                   disconnected list), in the order its items start
//   cmdUp, cmdDown  move List2's current item up or down
//   Text2           the target path (a program, a launcher or a document)
//   Text3           the start-in path (the folder the item starts in)
//   chkStopOnLeave  Stop on leaving: a watcher asks what the item started to
//                   end when the laptop leaves the list's network (an item
//                   that runs on arrival)
//   chkOnLeaving    Run on leaving: the item runs when the laptop leaves the
//                   list's network (shown "(on leaving)" in List2), not when
//                   it arrives
//   cmdTargetPath   picks Text2 in a file dialog
//   cmdStartIn      picks Text3 in a folder dialog
//   cmdTestStart    starts Text2 from Text3 now, as the engine would
//   cmdAddPath      Add Path: adds the item to every selected entry's list
//   cmdUpdateList   Update: changes List2's selected item to Text2 and Text3
//   cmdDelListItem  Delete: deletes the selected items
//   cmdClose        Close: closes the form
//   Label1, Label2  the captions of List1 and List2
//   Label3, Label5  the captions of Text2 and Text3
class Form3 : public QWidget {
    Q_OBJECT
public:
    // programFolder: where Test Start returns before it starts an item.
    Form3(ConnectionState& connection, Dialogs& dialogs, std::string programFolder,
          QWidget* parent = nullptr);

    // Runs once the form stands in its window inside the main window: sizes
    // and places it, loads the address list and selects its first entry.
    void Form_Load();
    // With no entry yet, invites the first one in Text1.
    void Form_Activate();

    // Selects the entry with text alone in List1.
    void selectIP(const QString& text);
    void unselectIPs();
    void unselectListItems();
    int currentIPIndex() const { return m_currentIPIndex; }
    // The entry (as stored) whose list List2 shows; none for the
    // disconnected list, or with no entry current.
    std::optional<std::string> entryOfListShown() const;

    // The address list.
    // Fills List1 from the database.
    void loadIPs();
    // Writes Text1 as a new entry (mode "New") or as the selected entry's
    // new text ("Update"), refusing one that is on file.
    void saveIP(const QString& mode);
    // Follows the selection: the current entry's list, its text in Text1.
    void List1_Click();
    // Enables the address buttons that Text1's text allows.
    void Text1_Change();
    void Text1_GotFocus();
    void cmdAddIP_Click();
    void cmdUpdate_Click();
    // Deletes the selected entries and their lists, once confirmed.
    void cmdDelIP_Click();
    // Adds text as Add IP does (with its duplicate check), from the address
    // list's side of the form; a new entry is then offered a name, with
    // suggestedName (when given) to keep or change.
    void addAddress(const QString& text, const QString& suggestedName = {});
    // Asks for a name for the selected entry, offering suggestedName or the
    // name it has; an empty name takes the name away.
    void nameIP(const QString& suggestedName = {});

    // The startup list.
    // Fills List2 with the list of List1's current entry.
    void loadConnectedList();
    // Fills List2 with the list for no network.
    void loadDisconnectedList();
    // Follows the selection: the item's paths in Text2 and Text3, and the
    // buttons that the selection allows.
    void List2_Click();
    void List2_LostFocus();
    // Enables the item buttons that Text2's text allows.
    void Text2_Change();
    void Text2_GotFocus();
    void Text3_GotFocus();

    // Adding and changing items.
    void cmdAddPath_Click();
    void cmdUpdateList_Click();
    // Whether Text2 and Text3 make an item that may be saved; says why not.
    bool validateListItem();
    // Writes the item to the selected entries' lists (mode "Add") or over
    // List2's selected item ("Update"); the same for the disconnected list.
    void saveConnectedItem(const QString& mode);
    void saveDisconnectedItem(const QString& mode);

    // Ordering and deleting items.
    void cmdUp_Click();
    void cmdDown_Click();
    // Deletes the selected items, once confirmed.
    void cmdDelListItem_Click();
    // With several entries selected: deletes the selected items' targets
    // from every selected entry's list.
    void deletePathsFromSelectedIPs();

    // Choosing paths and trying the item.
    void cmdTargetPath_Click();
    void cmdStartIn_Click();
    // The folder of Text2's file, for an item saved without Text3.
    QString defaultStartIn() const;
    void cmdTestStart_Click();

    // Switches List2 between the selected entry's list and the disconnected
    // list; List1 and its buttons are off while the latter is shown.
    void Check1_Click();
    void cmdClose_Click();

signals:
    // A few words for the status bar, about what was just done.
    void said(const QString& words);
    // An item was added to the lists of these entries (as stored), or to
    // the disconnected list.
    void itemAdded(const QStringList& entries, bool disconnected);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    // The item fields emptied: no target, no start-in folder, no mark.
    void clearItemFields();
    // What an address entry shows: its name, where it has one, and the entry
    // itself as its tooltip (also for an entry too wide for the list).
    void addIPEntry(const QString& text, std::int64_t ipid, const QString& name, int row = -1);
    void addItemEntry(const QString& target, std::int64_t listId, bool stopOnLeave, bool onLeaving);
    // The table that holds List2's item at row: the shown list's, of the
    // item's time.
    ListTable tableOfRow(int row) const;
    bool rowOnLeaving(int row) const;
    // Follows the choice of when: Stop on leaving is an arrival item's.
    void chkOnLeaving_Click();
    void connectHandlers();
    void Form_Resize();
    // Runs a handler the user set off; a failure is shown, the form stays.
    void guarded(const std::function<void()>& handler);
    Database& db();
    // The editing rules, over the open database.
    StartupLists lists() { return StartupLists(db()); }
    void notice(const QString& text);
    bool confirmed(const QString& text);
    // Code changes that count as the user's, running the list's handler.
    void setList1Selected(int row, bool selected);
    void setList1Current(int row);
    void setList2Current(int row);
    void setList2Selected(int row, bool selected);
    // Empties List2 without loading it again: with no entry left, nothing can
    // be moved or updated.
    void clearStartupEntries();
    void emptyStartupList();
    void saveListItem(const QString& mode);
    void moveCurrentItem(int offset);
    // What a save leaves: the new or changed item selected and shown (none
    // after a duplicate), the target text selected and focused.
    void showSavedItem(bool added, bool duplicate, std::optional<ItemKey> saved = std::nullopt);
    void fillList2(const std::vector<ListRow>& rows);
    // What a write finds when the row it was for is gone (deleted by another
    // tool meanwhile): the person is told, and the lists show the database
    // as it is now.
    void showListsAfterAnotherChange();
    ListTable shownTable() const;

    ConnectionState& m_connection;
    Dialogs& m_dialogs;
    Twips m_twips;
    std::string m_programFolder;
    int m_currentIPIndex = -1;
    int m_updatedItemIndex = -1;
    // Escape closes the form only when its press came to the form, not to a
    // message box or dialog that the press closed.
    bool m_escapePressedHere = false;
    // The Stop on leaving box shows the mark of the item just added: typing
    // another target begins a new item, which the mark does not carry to.
    bool m_markOfAddedItem = false;
    // The start-in folder the form filled in from a target (the target's
    // folder): until the user types in the box or picks a folder, a new
    // target takes its own folder, as an empty box would.
    std::optional<QString> m_filledStartIn;
    // Which entries of the address list give way to another of one network;
    // made again once the list is whole.
    std::optional<corvale::SameNetworks> m_sameNetworks;
    // Fills the start-in box with the target's folder (defaultStartIn).
    void fillStartIn();
    // The start-in box is empty, or holds only what fillStartIn put there.
    bool startInLeftToTheTarget() const;

public:
    // The controls, named as the form's design names them.
    VbListBox* List1 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* cmdAddIP = nullptr;
    QPushButton* cmdUpdate = nullptr;
    QPushButton* cmdDelIP = nullptr;
    QCheckBox* Check1 = nullptr;
    QPushButton* cmdUp = nullptr;
    QPushButton* cmdDown = nullptr;
    VbListBox* List2 = nullptr;
    QToolButton* cmdTargetPath = nullptr;
    QToolButton* cmdStartIn = nullptr;
    QToolButton* cmdTestStart = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QCheckBox* chkStopOnLeave = nullptr;
    QCheckBox* chkOnLeaving = nullptr;
    QPushButton* cmdAddPath = nullptr;
    QPushButton* cmdUpdateList = nullptr;
    QPushButton* cmdDelListItem = nullptr;
    QPushButton* cmdClose = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
};

// Why an item may be marked, in its tooltip and in Help.
inline constexpr const char* kStopOnLeaveMeaning =
    "when the laptop leaves this network, ask what this item started to end";

inline constexpr const char* kChangedElsewhere = "This entry is no longer on file: it was deleted meanwhile, "
                                                 "perhaps in another Corvale.  Nothing was saved; "
                                                 "the lists now show what the database holds.";

} // namespace corvale::tool
