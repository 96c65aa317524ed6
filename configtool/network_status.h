#pragma once

#include "platform/network.h"
#include "platform/watcher_bus.h"
#include "shared/database.h"

#include <QFileSystemWatcher>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <memory>
#include <string>
#include <vector>

class QMenu;
class QSocketNotifier;

namespace corvale::tool {

// The status bar's line: what the engine would run for the network the
// machine is on now, by the engine's own discovery and choice of list. It
// follows the network (the kernel's notices of link, address and route
// changes) and the database (whoever writes it). Where a watcher answers on
// the session bus, it shows the watcher's place instead, and follows the
// watcher's signals.
class NetworkStatus : public QLabel {
    Q_OBJECT
public:
    // programFolder: where a watcher of this session keeps its lock, when
    // the session names no runtime folder.
    NetworkStatus(Database& database, platform::Network& network, std::string programFolder,
                  QWidget* parent = nullptr);

    // Looks again at the network and the database.
    void refresh();
    // The line as drawn: whole where it fits, else without the gateway's
    // details and cut at its start (its tooltip holds it whole).
    QString shownLine() const;
    QSize minimumSizeHint() const override;
    // Whether the list of entry (or the disconnected list) is the one that
    // would run here, as the line last said.
    bool runsHere(const std::string& entry, bool disconnected) const;

signals:
    // After each look: whether the machine is on a network.
    void connectedChanged(bool connected);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void onNotice();
    // What no notice tells: a watcher that starts or ends, a folder above
    // the database made loose.
    void lookForQuietChanges();

    Database& m_database;
    platform::Network& m_network;
    std::string m_programFolder;
    platform::FileDescriptor m_notices;
    QSocketNotifier* m_noticeReady = nullptr;
    QFileSystemWatcher m_fileWatcher;
    QTimer m_quietChanges;
    // As the engine: the kernel is made to resolve the gateway once per
    // change of link, address or route (or of the database), not for the
    // neighbour notices its own question brings.
    bool m_resolveNext = true;
    bool m_listeningToNeighbours = false;
    std::string m_gateway;
    bool m_watcherRunning = false;
    bool m_followsTheWatcher = false;
    bool m_watcherOnBus = false;
    bool m_disconnectedHere = false;
    std::string m_entryHere;
    std::string m_refusal;
    QString m_shorter;
};

// Why the engine would refuse this database (the engine's own check, with
// the command that puts it right), or the empty text when it would run it.
std::string engineRefusal(const std::string& databasePath);

// The line for the network now and the facts behind it.
struct StatusLine {
    // "On ADDRESS (gateway GATEWAY, HARDWARE; Wi-Fi "NAME"): the list of
    // KEY", "No network: the disconnected list" or "On ADDRESS: no list
    // matches"; or, when the engine would refuse the database, that it will
    // and why.
    std::string text;
    // The same without the gateway's details, for where space is short.
    std::string shorter;
    // A list would run here (the disconnected list, or an entry's).
    bool listHere = false;
    bool refused = false;
    bool connected = false;      // on a network with a usable address
    std::string gateway;         // its gateway's address, where it has one
    bool gatewayEntries = false; // a gateway: entry is on file
    // The list that would run here: the disconnected list, or that of the
    // entry here (empty where none is on file).
    bool disconnectedHere = false;
    std::string entryHere;
};
// resolve: the kernel may be made to find the gateway's hardware address,
// as a run would, where a gateway: entry is on file.
StatusLine describeWhatWouldRun(Database& database, platform::Network& network, bool resolve = false);

// The line for where the watcher says the laptop is: "The watcher: on
// ADDRESS (INTERFACE): the list of PLACE", and "; paused, arrivals run
// nothing" while it is paused.
StatusLine describeWatcherPlace(const platform::WatcherState& watcher);

// One entry that can be made for the network the machine is on now, and what
// it stands for.
struct NetworkEntry {
    std::string text;
    std::string meaning;
    std::string suggestedName; // the Wi-Fi name, where the machine is on one
};
// The entries for the network now, most specific first: its gateway's
// hardware address (the kernel asked to find it where it must), its Wi-Fi
// name, the whole address and its leading three and two numbers, and last
// the entry for any other network. None without a network.
std::vector<NetworkEntry> entriesForThisNetwork(platform::Network& network);

// "Add This Network": a button whose menu offers the entries for the network
// the machine is on, looked at when the menu opens.
class AddThisNetwork : public QToolButton {
    Q_OBJECT
public:
    AddThisNetwork(platform::Network& network, QWidget* parent = nullptr);

    // Enabled while the machine is on a network; otherwise its tooltip says why not.
    void setConnected(bool connected);

signals:
    void entryChosen(const QString& entry, const QString& suggestedName);

private:
    void fillMenu();

    platform::Network& m_network;
    QMenu* m_menu = nullptr;
};

} // namespace corvale::tool
