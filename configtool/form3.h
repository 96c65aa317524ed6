#pragma once

#include "configtool/tool_caption.h"
#include "configtool/twips.h"
#include "platform/dialogs.h"
#include "shared/database.h"
#include "shared/startup_lists.h"

#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace corvale::tool {

class VbListBox;

// The configuration form: the address list, the startup list of the selected
// address or the disconnected list, and the item fields. Every change is
// written to the database at once by the handler that makes it.
class Form3 : public QWidget {
    Q_OBJECT
public:
    // programFolder: where Test Start returns before it starts an item.
    Form3(ConnectionState& connection, Dialogs& dialogs, std::string programFolder,
          QWidget* parent = nullptr);

    // Runs once the form stands in its window inside the main window.
    void Form_Load();
    void Form_Activate();

    void selectIP(const QString& text);
    void unselectIPs();
    void unselectListItems();
    int currentIPIndex() const { return m_currentIPIndex; }

    // The address list.
    void loadIPs();
    void saveIP(const QString& mode);
    void List1_Click();
    void Text1_Change();
    void Text1_GotFocus();
    void cmdAddIP_Click();
    void cmdUpdate_Click();
    void cmdDelIP_Click();
    // Adds text as Add IP does (with its duplicate check), from the address
    // list's side of the form.
    void addAddress(const QString& text);

    // The startup list.
    void loadConnectedList();
    void loadDisconnectedList();
    void List2_Click();
    void List2_LostFocus();
    void Text2_Change();
    void Text2_GotFocus();
    void Text3_GotFocus();

    // Adding and changing items.
    void cmdAddPath_Click();
    void cmdUpdateList_Click();
    bool validateListItem();
    void saveConnectedItem(const QString& mode);
    void saveDisconnectedItem(const QString& mode);

    // Ordering and deleting items.
    void cmdUp_Click();
    void cmdDown_Click();
    void cmdDelListItem_Click();
    void deletePathsFromSelectedIPs();

    // Choosing paths and trying the item.
    void cmdTargetPath_Click();
    void cmdStartIn_Click();
    QString defaultStartIn() const;
    void cmdTestStart_Click();

    void Check1_Click();
    void cmdClose_Click();

signals:
    // A few words for the status bar, about what was just done.
    void said(const QString& words);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
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
    void showSavedItem(bool added, bool duplicate);
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
    QPushButton* cmdAddPath = nullptr;
    QPushButton* cmdUpdateList = nullptr;
    QPushButton* cmdDelListItem = nullptr;
    QPushButton* cmdClose = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label5 = nullptr;
};

inline constexpr const char* kChangedElsewhere = "This entry is no longer on file: it was deleted meanwhile, "
                                                 "perhaps in another Corvale.  Nothing was saved; "
                                                 "the lists now show what the database holds.";

} // namespace corvale::tool
