#pragma once

#include "configtool/form2.h"
#include "configtool/tool_caption.h"
#include "platform/dialogs.h"
#include "platform/network.h"
#include "shared/database.h"

#include <QMainWindow>
#include <QPointer>
#include <string>

class QAction;
class QMdiArea;
class QMdiSubWindow;

class QLabel;

namespace corvale::tool {

class Form3;

// The main window: menus, the start-up that finds and opens the database, the
// configuration form inside it, help, contact page, About box, and the exit.
//
// Its menu items, by their design names (the handlers below):
//   menuFileConfigure   File > Configure: shows the configuration form (Form3)
//   menuFileRunList     File > Run This List Now: asks the session's watcher
//                       to run the list the form shows, by hand
//   menuFileExit        File > Exit: ends the tool
//   menuHelpView        Help > View Help: opens Help.htm (also F1)
//   menuHelpContactUs   Help > Contact Us: opens the contact page
//   menuAbout           Help > About Corvale: shows the About box (Form2)
// Below the work area, the status bar holds NetworkStatus (what the engine
// would run on the network now) and AddThisNetwork.
class MDIForm1 : public QMainWindow {
    Q_OBJECT
public:
    enum class StartUp {
        Ready,      // the database is open and the configuration form shown
        NoDatabase, // the search was cancelled or the open failed: the window runs without
        End,        // the person gave up the search: the tool ends
    };

    MDIForm1(Dialogs& dialogs, std::string programFolder, std::string contactHost, QWidget* parent = nullptr);
    ~MDIForm1() override;

    StartUp startUp();
    // The network the status bar follows; the machine's own unless told
    // before startUp().
    void useNetwork(platform::Network& network) { m_network = &network; }
    // Adds entry to the address list through Add IP, in the configuration
    // form (opened when it is closed), where it is then selected.
    void addNetworkEntry(const QString& entry, const QString& suggestedName = {});

    void menuFileConfigure_Click();
    void menuFileRunList_Click();
    void menuFileExit_Click();
    void menuHelpView_Click();
    void menuHelpContactUs_Click();
    void menuAbout_Click();

    // The failure's description, the pointer set back; the text is not shown.
    std::string handleError(const std::exception& failure);

    ConnectionState& connection() { return m_connection; }
    Form3* form3() const;
    Form2* form2() const { return m_form2; }
    QMdiArea* mdiArea() const { return m_mdiArea; }
    std::string contactAddress() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    // Tab leads from the form's last control to the status bar's button and
    // on to the form's first, Shift+Tab back: the form's window would keep
    // the focus within itself.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Shows words from the form (Test Start's) beside the network's line
    // for a few seconds.
    void sayForAWhile(const QString& words);
    static constexpr int kNoteShownMs = 8000;
    QLabel* m_note = nullptr;
    int m_notesSaid = 0;

    void buildMenus();
    void fitOnScreen();
    void exitSequence();

    Dialogs& m_dialogs;
    platform::NetlinkNetwork m_machineNetwork;
    platform::Network* m_network = &m_machineNetwork;
    std::string m_programFolder;
    std::string m_contactHost;
    ConnectionState m_connection;
    QMdiArea* m_mdiArea = nullptr;
    QPointer<QMdiSubWindow> m_form3Window;
    QPointer<QWidget> m_addThisNetwork;
    QPointer<QMdiSubWindow> m_lastActiveChild;
    QPointer<Form2> m_form2;
    bool m_loadingForm = false;
    bool m_exited = false;
    bool m_fitted = false;
};

inline constexpr const char* kHelpFailedText =
    "There seems to have been an error showing the Help file.  Please check the folder into which Corvale "
    "was "
    "installed, and verify that the file 'Help.htm' is present.  If the file is present, double-clicking it "
    "should "
    "open a web page containing questions and answers about Corvale.";

// Help.htm is there, but the desktop has no application for it.
inline constexpr const char* kHelpNoApplicationText =
    "No application is set to open the Help file 'Help.htm'.  Please choose a web browser for HTML files in "
    "your desktop's settings (or open the file with one yourself); it lies in the folder into which Corvale "
    "was installed.";

// Said once at start when Brisken would not run this database's lists.
inline constexpr const char* kEngineWillRefuse =
    "Brisken will not start anything from this database at logon: ";

} // namespace corvale::tool
