#include "configtool/network_status.h"

#include "configtool/stored_text.h"
#include "platform/stderr_dialogs.h"
#include "shared/file_safety.h"
#include "shared/names_and_marks.h"
#include "shared/network_choice.h"
#include "shared/statements.h"
#include "shared/watch_lock.h"

#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QSocketNotifier>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace corvale::tool {

namespace {
constexpr const char* kCaption = "Brisken";
} // namespace

std::string engineRefusal(const std::string& databasePath) {
    try {
        requirePrivateFile(databasePath);
        return {};
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

namespace {

// How many items of the list chosen run on arrival and on leaving, said
// where some run on leaving: " (2 on arrival, 1 on leaving)".
std::string countOnLeaving(Database& database, const ListChoice& choice) {
    const auto leaving = NamesAndMarks(database).leavingItems(choice.disconnected(), choice.key);
    if (!leaving) {
        return {};
    }
    const std::size_t onLeaving = database.openRecordset(leaving->query).recordCount();
    if (onLeaving == 0) {
        return {};
    }
    const std::size_t onArrival =
        database
            .openRecordset(choice.disconnected() ? statements::disconnectedList()
                                                 : statements::connectedListForAddress(choice.key))
            .recordCount();
    return " (" + std::to_string(onArrival) + " on arrival, " + std::to_string(onLeaving) + " on leaving)";
}

} // namespace

StatusLine describeWhatWouldRun(Database& database, platform::Network& network, bool resolve) {
    StatusLine line;
    if (const std::string why = engineRefusal(database.path()); !why.empty()) {
        line.text = "Brisken will refuse this database: " + why;
        line.refused = true;
        return line;
    }
    // A status line shows no message box: what the engine would show goes
    // to standard error.
    platform::StderrDialogs quiet;
    NetworkDiscovery discovery(network, quiet, kCaption);
    const DiscoveredAddress discovered = discovery.discoverIP();
    // Both identities are shown.
    const ListChoice choice =
        chooseList(database, discovered, discovery.identity(), IdentityLookups::toShow(resolve));
    line.gateway = discovery.lastGateway();
    line.gatewayEntries = gatewayEntryOnFile(database);
    line.disconnectedHere = choice.disconnected();
    line.entryHere = choice.onFile() ? choice.key : std::string();
    if (choice.disconnected()) {
        line.text = "No network: the disconnected list" + countOnLeaving(database, choice);
        line.listHere = true;
        return line;
    }
    line.connected = true;
    // What names the network: the tunnel taken (it is named, not the gateway
    // of the network beneath it), or the gateway's details, and the Wi-Fi.
    std::string tunnel;
    std::string gateway;
    if (choice.throughTunnel) {
        tunnel = "the tunnel " + *choice.throughTunnel;
    } else if (!line.gateway.empty()) {
        gateway = "gateway " + line.gateway;
        if (choice.gatewayHardwareAddress && !choice.gatewayHardwareAddress->value.empty()) {
            gateway += ", " + choice.gatewayHardwareAddress->value;
        }
    }
    const std::string wifi = choice.wifiName && !choice.wifiName->value.empty()
                                 ? std::string("Wi-Fi \"") + choice.wifiName->value + "\""
                                 : std::string();
    const auto joined = [](std::initializer_list<std::string> parts) {
        std::string said;
        for (const std::string& part : parts) {
            said += part.empty() ? "" : (said.empty() ? "" : "; ") + part;
        }
        return said.empty() ? said : " (" + said + ")";
    };
    const std::string list =
        choice.onFile() ? ": the list of " + entryShown(choice) +
                              (choice.anyOther() && !choice.name.empty() ? " (any other network)" : "") +
                              countOnLeaving(database, choice)
                        : ": no list matches";
    line.listHere = choice.onFile();
    line.text = "On " + choice.address + joined({tunnel.empty() ? gateway : tunnel, wifi}) + list;
    line.shorter = "On " + choice.address + joined({tunnel, wifi}) + list;
    return line;
}

StatusLine describeWatcherPlace(const platform::WatcherState& watcher) {
    StatusLine line;
    line.connected = watcher.connected;
    line.disconnectedHere = !watcher.connected;
    line.entryHere = watcher.entry;
    line.listHere = !watcher.connected || !watcher.place.empty();
    if (!watcher.connected) {
        line.text = "The watcher: no network: the disconnected list";
    } else {
        const std::string through = watcher.interface.empty() ? std::string()
                                    : watcher.tunnel          ? " (the tunnel " + watcher.interface + ")"
                                                              : " (" + watcher.interface + ")";
        line.text = "The watcher: on " + watcher.address + through +
                    (watcher.place.empty() ? ": no list matches" : ": the list of " + watcher.place);
    }
    if (watcher.paused) {
        line.text += "; paused, arrivals run nothing";
    }
    line.shorter = line.text;
    return line;
}

std::vector<NetworkEntry> entriesForThisNetwork(platform::Network& network) {
    platform::StderrDialogs quiet;
    NetworkDiscovery discovery(network, quiet, kCaption);
    const DiscoveredAddress discovered = discovery.discoverIP();
    if (!discovered.connected()) {
        return {};
    }
    std::vector<NetworkEntry> entries;
    // A place on a Wi-Fi network is offered the network's name as its own.
    std::string wifiName;
    if (NetworkIdentity* identity = discovery.identity()) {
        wifiName = identity->wifiName().value;
        if (const platform::Identity gateway = identity->gatewayHardwareAddress(true);
            !gateway.value.empty()) {
            entries.push_back({"gateway:" + gateway.value, "this gateway's hardware address", wifiName});
        }
        if (!wifiName.empty()) {
            entries.push_back({"wifi:" + wifiName, "this Wi-Fi network", wifiName});
        }
    }
    // The address and the networks of its leading three and two numbers.
    if (discovered.hasIpv4()) {
        std::string key = discovered.address;
        entries.push_back({key, "this address", wifiName});
        for (const char* meaning : {"its leading three numbers", "its leading two numbers"}) {
            if (key.find('.') == std::string::npos) {
                break;
            }
            key.erase(key.rfind('.'));
            entries.push_back({key, meaning, wifiName});
        }
    }
    // An IPv6 address changes from day to day (a temporary one for privacy):
    // its network is offered, the /64 of the link and the /48 of the site.
    if (const std::optional<Prefix> address6 = parseAddress(discovered.address6)) {
        entries.push_back({Prefix::of(*address6, 64).text(), "this IPv6 network (/64)", wifiName});
        entries.push_back({Prefix::of(*address6, 48).text(), "its site's IPv6 prefix (/48)", wifiName});
    }
    entries.push_back({kAnyOtherNetwork, "any other network", {}});
    return entries;
}

NetworkStatus::NetworkStatus(Database& database, platform::Network& network, std::string programFolder,
                             QWidget* parent)
    : QLabel(parent), m_database(database), m_network(network), m_programFolder(std::move(programFolder)) {
    setObjectName("networkStatus");
    m_notices = platform::openRouteNotices();
    if (m_notices) {
        m_noticeReady = new QSocketNotifier(m_notices.get(), QSocketNotifier::Read, this);
        connect(m_noticeReady, &QSocketNotifier::activated, this, &NetworkStatus::onNotice);
    }
    m_fileWatcher.addPath(QString::fromStdString(database.path()));
    connect(&m_fileWatcher, &QFileSystemWatcher::fileChanged, this, [this](const QString& path) {
        // A file replaced as a whole (an editor, a copy) is watched anew.
        if (!m_fileWatcher.files().contains(path)) {
            m_fileWatcher.addPath(path);
        }
        m_resolveNext = true;
        refresh();
    });
    connect(&m_quietChanges, &QTimer::timeout, this, &NetworkStatus::lookForQuietChanges);
    m_quietChanges.start(2000);
    // Where a watcher answers on the session bus, the line is its word, and
    // follows its signals. The bus keeps the function for the process's
    // life; it outlives this line.
    auto* changed = new std::function<void()>([line = QPointer<NetworkStatus>(this)] {
        if (line) {
            QTimer::singleShot(0, line, &NetworkStatus::refresh);
        }
    });
    m_followsTheWatcher = platform::followWatcher(changed);
    refresh();
}

void NetworkStatus::onNotice() {
    const platform::RouteNotices read = platform::readRouteNotices(m_notices.get());
    if (m_watcherOnBus) {
        return; // the watcher says where the laptop is, once it has settled
    }
    // Of the neighbour table only the gateway's own entry matters.
    if (!read.network &&
        std::find(read.neighbours.begin(), read.neighbours.end(), m_gateway) == read.neighbours.end()) {
        return;
    }
    m_resolveNext = m_resolveNext || read.network;
    // One change comes as several notices (link, address, route): look once
    // they have settled.
    QTimer::singleShot(50, this, &NetworkStatus::refresh);
}

void NetworkStatus::lookForQuietChanges() {
    if (watcherRunning(watchLockPath(m_programFolder)) != m_watcherRunning ||
        engineRefusal(m_database.path()) != m_refusal) {
        refresh();
    }
}

void NetworkStatus::refresh() {
    StatusLine line;
    bool told = true;
    const platform::WatcherAnswer watcher =
        m_followsTheWatcher ? platform::watcherState() : platform::WatcherAnswer{};
    m_watcherOnBus = watcher.outcome == platform::Asked::Done;
    if (m_watcherOnBus) {
        line = describeWatcherPlace(watcher.state);
        told = false; // nothing more is said of it
    } else {
        try {
            line = describeWhatWouldRun(m_database, m_network, std::exchange(m_resolveNext, false));
        } catch (const std::exception& failure) {
            line.text = std::string("Cannot tell what would run here: ") + failure.what();
            told = false;
        }
    }
    m_gateway = line.gateway;
    m_disconnectedHere = line.disconnectedHere;
    m_entryHere = line.entryHere;
    m_refusal = line.refused ? engineRefusal(m_database.path()) : std::string();
    if (line.gatewayEntries && !m_listeningToNeighbours && m_notices) {
        const int group = RTNLGRP_NEIGH;
        m_listeningToNeighbours =
            ::setsockopt(m_notices.get(), SOL_NETLINK, NETLINK_ADD_MEMBERSHIP, &group, sizeof group) == 0;
    }
    // The watcher runs the list when the machine arrives on a network.
    m_watcherRunning = watcherRunning(watchLockPath(m_programFolder));
    if (told && !line.refused && m_watcherRunning) {
        const std::string note = line.listHere ? " (runs on arrival)" : ", so nothing runs on arrival here";
        line.text += note;
        line.shorter += note;
    }
    setText(shownText(line.text));
    m_shorter = line.shorter.empty() ? text() : shownText(line.shorter);
    setToolTip(text());
    emit connectedChanged(line.connected);
}

bool NetworkStatus::runsHere(const std::string& entry, bool disconnected) const {
    return disconnected ? m_disconnectedHere : !entry.empty() && entry == m_entryHere;
}

QString NetworkStatus::shownLine() const {
    // Where space is short the gateway's details go first; then the start
    // is cut, never the place or what is said of it.
    const int width = contentsRect().width();
    if (fontMetrics().horizontalAdvance(text()) <= width) {
        return text();
    }
    return fontMetrics().elidedText(m_shorter, Qt::ElideLeft, width);
}

QSize NetworkStatus::minimumSizeHint() const {
    // The status bar may make the line as narrow as it must.
    return {fontMetrics().averageCharWidth() * 12, QLabel::minimumSizeHint().height()};
}

void NetworkStatus::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), palette(), isEnabled(),
                          shownLine(), foregroundRole());
}

AddThisNetwork::AddThisNetwork(platform::Network& network, QWidget* parent)
    : QToolButton(parent), m_network(network), m_menu(new QMenu(this)) {
    setObjectName("addThisNetwork");
    setText("Add This &Network");
    setFocusPolicy(Qt::StrongFocus);
    setPopupMode(QToolButton::InstantPopup);
    setMenu(m_menu);
    connect(m_menu, &QMenu::aboutToShow, this, &AddThisNetwork::fillMenu);
    setConnected(false);
}

void AddThisNetwork::setConnected(bool connected) {
    setEnabled(connected);
    setToolTip(connected
                   ? "Adds an entry for the network this machine is on now, to give it a list of its own."
                   : "This machine is on no network now, so there is nothing to add.");
}

void AddThisNetwork::fillMenu() {
    m_menu->clear();
    for (const NetworkEntry& entry : entriesForThisNetwork(m_network)) {
        const QString text = shownText(entry.text);
        const QString name = shownText(entry.suggestedName);
        // An ampersand of a Wi-Fi name is no access key.
        QString caption = text + "\t" + QString::fromStdString(entry.meaning);
        QAction* action = m_menu->addAction(caption.replace(u'&', QStringLiteral("&&")));
        action->setData(text);
        connect(action, &QAction::triggered, this, [this, text, name] { emit entryChosen(text, name); });
    }
    if (m_menu->isEmpty()) {
        m_menu->addAction("This machine is on no network now")->setEnabled(false);
    }
}

} // namespace corvale::tool
