#include "configtool/mdi_form1.h"

#include "configtool/form2.h"
#include "configtool/form3.h"
#include "configtool/network_status.h"
#include "configtool/palette_contrast.h"
#include "configtool/resources.h"
#include "configtool/stored_text.h"
#include "configtool/twips.h"
#include "configtool/vb_list_box.h"
#include "platform/folders.h"
#include "platform/shell_open.h"
#include "platform/watcher_bus.h"
#include "shared/database_search.h"
#include "shared/error_text.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

namespace corvale::tool {

namespace {
constexpr int kClientWidth = 9120;
constexpr int kClientHeight = 7680;
} // namespace

MDIForm1::MDIForm1(Dialogs& dialogs, std::string programFolder, std::string contactHost, QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_programFolder(std::move(programFolder)),
      m_contactHost(std::move(contactHost)) {
    loadResources();
    setObjectName("MDIForm1");
    setWindowTitle(kToolCaption);
    setWindowIcon(QIcon(":/corvale.png"));
    setPalette(withFainterDisabledText(palette()));
    m_mdiArea = new QMdiArea(this);
    m_mdiArea->setObjectName("mdiArea");
    m_mdiArea->setBackground(workAreaColour(palette()));
    setCentralWidget(m_mdiArea);
    buildMenus();
    // The form is activated when it becomes the active child, not each time
    // the tool comes back to the front (the area reports that as well).
    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
        if (!window || m_loadingForm || window == m_lastActiveChild) {
            return;
        }
        m_lastActiveChild = window;
        if (window == m_form3Window) {
            form3()->Form_Activate();
        }
    });

    const Twips design = Twips::here();
    resize(design.pixels(kClientWidth), design.pixels(kClientHeight) + menuBar()->sizeHint().height());
    // A form that does not fit is scrolled to.
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    fitOnScreen();
}

void MDIForm1::fitOnScreen() {
    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        return;
    }
    // Never larger than the screen's free area, frame included, and centred on it.
    const QRect available = screen->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    resize(std::min(width(), available.width() - frame.width()),
           std::min(height(), available.height() - frame.height()));
    move(available.center() - QRect(QPoint(), size() + frame).center());
}

void MDIForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Only now is the window manager's frame known.
    if (!m_fitted) {
        m_fitted = true;
        fitOnScreen();
    }
}

MDIForm1::~MDIForm1() {
    if (m_form2) {
        delete m_form2;
    }
}

void MDIForm1::buildMenus() {
    auto action = [this](QMenu* menu, const char* name, const char* caption, void (MDIForm1::*handler)()) {
        QAction* created = menu->addAction(caption);
        created->setObjectName(name);
        connect(created, &QAction::triggered, this, handler);
        return created;
    };
    auto separator = [](QMenu* menu, const char* name) { menu->addSeparator()->setObjectName(name); };

    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("menuFile");
    action(file, "menuFileConfigure", "&Configure", &MDIForm1::menuFileConfigure_Click);
    QAction* runList =
        action(file, "menuFileRunList", "&Run This List Now", &MDIForm1::menuFileRunList_Click);
    // Only a place's list is run by hand: the form must show one.
    connect(file, &QMenu::aboutToShow, this,
            [this, runList] { runList->setEnabled(form3() && form3()->entryOfListShown()); });
    QAction* exit = action(file, "menuFileExit", "E&xit", &MDIForm1::menuFileExit_Click);
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    exit->setShortcutContext(Qt::ApplicationShortcut);

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("menuHelp");
    QAction* view = action(help, "menuHelpView", "&View Help", &MDIForm1::menuHelpView_Click);
    view->setShortcut(Qt::Key_F1);
    view->setShortcutContext(Qt::ApplicationShortcut);
    separator(help, "menuHelpS1");
    action(help, "menuHelpContactUs", "&Contact Us", &MDIForm1::menuHelpContactUs_Click);
    separator(help, "menuHelpS2");
    action(help, "menuAbout", "&About Corvale", &MDIForm1::menuAbout_Click);
}

std::string MDIForm1::handleError(const std::exception& failure) {
    return he(failure);
}

MDIForm1::StartUp MDIForm1::startUp() {
    m_connection.openWorkspace();
    try {
        if (platform::currentFolder() != m_programFolder) {
            platform::changeFolder(m_programFolder);
        }
        const auto found = checkDbase(m_dialogs, {kToolCaption, true});
        if (!found) {
            return StartUp::End;
        }
        m_connection.dbPath = *found;
        m_connection.openDatabase();
        auto* status = new NetworkStatus(*m_connection.dbase, *m_network, m_programFolder, this);
        auto* addThisNetwork = new AddThisNetwork(*m_network, this);
        connect(status, &NetworkStatus::connectedChanged, addThisNetwork, &AddThisNetwork::setConnected);
        connect(addThisNetwork, &AddThisNetwork::entryChosen, this, &MDIForm1::addNetworkEntry);
        statusBar()->addWidget(status, 1);
        // What a click just did, beside the network's line, which stays in view.
        m_note = new QLabel(this);
        m_note->setObjectName("statusNote");
        // A section of its own: never read as part of the network's line.
        m_note->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
        m_note->setContentsMargins(4, 0, 4, 0);
        m_note->hide();
        statusBar()->addWidget(m_note);
        statusBar()->addPermanentWidget(addThisNetwork);
        m_addThisNetwork = addThisNetwork;
        status->refresh();
        menuFileConfigure_Click();
        // A file of a newer program is shown as it is; the person learns at
        // once why nothing they change is kept.
        if (const std::string& why = m_connection.dbase->readOnlyReason(); !why.empty()) {
            m_dialogs.showMessage(
                {why, kToolCaption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
        }
        // A table of another shape was set aside as the file was opened.
        std::string setAside;
        for (const std::string& notice : m_connection.dbase->settleNotices()) {
            setAside += (setAside.empty() ? "" : "\n\n") + notice;
        }
        if (!setAside.empty()) {
            m_dialogs.showMessage(
                {setAside, kToolCaption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
        }
        // The lists can be edited all the same; the person learns once why
        // they would not run.
        if (const std::string why = engineRefusal(m_connection.dbPath); !why.empty()) {
            m_dialogs.showMessage({kEngineWillRefuse + why, kToolCaption, MessageButtons::Ok,
                                   MessageIcon::None, MessageAnswer::Ok});
        }
        return StartUp::Ready;
    } catch (const DatabaseSearchCancelled& failure) {
        // A cancelled search leaves the window with its menus and without the
        // form; nothing is shown.
        handleError(failure);
        return StartUp::NoDatabase;
    } catch (const std::exception& failure) {
        // A database that cannot be opened leaves the same window, and the
        // person learns why.
        m_dialogs.showMessage(
            {handleError(failure), kToolCaption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
        return StartUp::NoDatabase;
    }
}

Form3* MDIForm1::form3() const {
    return m_form3Window ? qobject_cast<Form3*>(m_form3Window->widget()) : nullptr;
}

void MDIForm1::menuFileRunList_Click() {
    const std::optional<std::string> entry = form3() ? form3()->entryOfListShown() : std::nullopt;
    if (!entry) {
        return;
    }
    const platform::WatcherAnswer asked = platform::askWatcher("RunPlace", *entry);
    if (asked.outcome == platform::Asked::Done) {
        sayForAWhile("The watcher runs the list of " + shownText(*entry) + " now.");
        return;
    }
    const std::string said =
        asked.outcome == platform::Asked::NoWatcher
            ? "The list cannot be run now: " + asked.why + ". The watcher starts at logon (brisken --watch)."
            : "The watcher did not run the list: " + asked.why;
    m_dialogs.showMessage({said, kToolCaption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
}

void MDIForm1::menuFileConfigure_Click() {
    if (m_form3Window) {
        m_mdiArea->setActiveSubWindow(m_form3Window);
        return;
    }
    auto* form = new Form3(m_connection, m_dialogs, m_programFolder);
    connect(form, &Form3::said, this, [this](const QString& words) { sayForAWhile(words); });
    // An item added to the list of the network the laptop is on does not
    // start now: the person learns when it does.
    connect(form, &Form3::itemAdded, this, [this](const QStringList& entries, bool disconnected) {
        const auto* status = findChild<NetworkStatus*>("networkStatus");
        bool here = status && disconnected && status->runsHere({}, true);
        for (const QString& entry : entries) {
            here = here || (status && status->runsHere(storedText(entry), false));
        }
        if (here) {
            sayForAWhile("It starts at the next logon or arrival here; Test Start starts it now.");
        }
    });
    // The form is loaded before it can be activated.
    m_loadingForm = true;
    QMdiSubWindow* window = m_mdiArea->addSubWindow(form);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setWindowIcon(form->windowIcon());
    try {
        form->Form_Load();
    } catch (const std::exception& failure) {
        m_loadingForm = false;
        m_dialogs.showMessage(
            {he(failure), kToolCaption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
        window->close();
        return;
    }
    m_loadingForm = false;
    m_form3Window = window;
    if (m_addThisNetwork) {
        form->cmdClose->installEventFilter(this);
        form->List1->installEventFilter(this);
        m_addThisNetwork->installEventFilter(this);
    }
    window->show();
    m_mdiArea->setActiveSubWindow(window);
    if (m_lastActiveChild != window) {
        m_lastActiveChild = window;
        form->Form_Activate();
    }
}

void MDIForm1::addNetworkEntry(const QString& entry, const QString& suggestedName) {
    menuFileConfigure_Click();
    if (Form3* form = form3()) {
        form->addAddress(entry, suggestedName);
    }
}

bool MDIForm1::eventFilter(QObject* watched, QEvent* event) {
    Form3* form = form3();
    if (event->type() != QEvent::KeyPress || !form || !m_addThisNetwork) {
        return QMainWindow::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool forward = key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier;
    const bool back = key->key() == Qt::Key_Backtab;
    QWidget* next = nullptr;
    // The button comes after the form's last control, and before its
    // first: Tab from Close, and Shift+Tab from List1 (the way Tab came).
    if ((watched == form->cmdClose && forward) || (watched == form->List1 && back)) {
        next = m_addThisNetwork;
    } else if (watched == m_addThisNetwork && back) {
        next = form->cmdClose;
    } else if (watched == m_addThisNetwork && forward) {
        next = form->List1;
    }
    if (!next || !next->isEnabled()) {
        return QMainWindow::eventFilter(watched, event);
    }
    next->setFocus(back ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    return true;
}

void MDIForm1::sayForAWhile(const QString& words) {
    if (!m_note) {
        statusBar()->showMessage(words, kNoteShownMs);
        return;
    }
    m_note->setText(words);
    m_note->setToolTip(words);
    m_note->show();
    // Only the newest note's time ends it.
    const int said = ++m_notesSaid;
    QTimer::singleShot(kNoteShownMs, m_note, [this, said] {
        if (said == m_notesSaid) {
            m_note->hide();
        }
    });
}

void MDIForm1::menuFileExit_Click() {
    exitSequence();
}

void MDIForm1::closeEvent(QCloseEvent* event) {
    exitSequence();
    event->accept();
}

void MDIForm1::exitSequence() {
    if (m_exited) {
        return;
    }
    m_exited = true;
    while (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
    }
    m_connection.dbase.reset();
    if (m_form2) {
        m_form2->close();
    }
    QApplication::quit();
}

void MDIForm1::menuHelpView_Click() {
    // The help lies beside the program, wherever the current folder is now (a
    // test start changes it).
    const int result = platform::shellOpen(m_programFolder + "/Help.htm");
    if (result <= platform::shell_code::kLastFailure) {
        const char* text =
            result == platform::shell_code::kNoAssociation ? kHelpNoApplicationText : kHelpFailedText;
        m_dialogs.showMessage({text, kToolCaption, MessageButtons::Ok, MessageIcon::None, MessageAnswer::Ok});
    }
}

std::string MDIForm1::contactAddress() const {
    return "http://" + m_contactHost + "/store/index.php?route=information/contact";
}

void MDIForm1::menuHelpContactUs_Click() {
    platform::openUri(contactAddress());
}

void MDIForm1::menuAbout_Click() {
    if (!m_form2) {
        m_form2 = new Form2([this] { menuHelpContactUs_Click(); });
    }
    m_form2->show();
    m_form2->raise();
    m_form2->activateWindow();
}

} // namespace corvale::tool
