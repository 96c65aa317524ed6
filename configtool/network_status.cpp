#include "configtool/network_status.h"

#include "engine/address_discovery.h"
#include "engine/engine.h"
#include "platform/network.h"
#include "platform/stderr_dialogs.h"
#include "shared/file_safety.h"

#include <QSocketNotifier>
#include <QTimer>
#include <unistd.h>

namespace corvale::tool {

std::string engineRefusal(const std::string& databasePath) {
    try {
        requirePrivateFile(databasePath);
        return {};
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

std::string describeWhatWouldRun(Database& database) {
    if (const std::string why = engineRefusal(database.path()); !why.empty()) {
        return "Brisken will refuse this database: " + why;
    }
    platform::NetlinkNetwork network;
    // A status line shows no message box: what the engine would show goes
    // to standard error.
    platform::StderrDialogs quiet;
    brisken::NetworkDiscovery discovery(network, quiet);
    const std::string discovered = discovery.discoverIP();
    const brisken::ListChoice choice = brisken::chooseList(database, discovered);
    if (choice.disconnected) {
        return "No network: the disconnected list";
    }
    std::string line = "On " + choice.address;
    if (const auto& adapter = discovery.lastAdapter(); adapter && adapter->gateway != "0.0.0.0") {
        line += " (gateway " + adapter->gateway + ")";
    }
    return line + (choice.onFile ? ": the list of " + choice.key : ": no list matches");
}

NetworkStatus::NetworkStatus(Database& database, QWidget* parent) : QLabel(parent), m_database(database) {
    setObjectName("networkStatus");
    m_notices = platform::openRouteNotices();
    if (m_notices >= 0) {
        m_noticeReady = new QSocketNotifier(m_notices, QSocketNotifier::Read, this);
        connect(m_noticeReady, &QSocketNotifier::activated, this, &NetworkStatus::onNotice);
    }
    m_fileWatcher.addPath(QString::fromStdString(database.path()));
    connect(&m_fileWatcher, &QFileSystemWatcher::fileChanged, this, [this](const QString& path) {
        // A file replaced as a whole (an editor, a copy) is watched anew.
        if (!m_fileWatcher.files().contains(path)) {
            m_fileWatcher.addPath(path);
        }
        refresh();
    });
    refresh();
}

NetworkStatus::~NetworkStatus() {
    if (m_notices >= 0) {
        ::close(m_notices);
    }
}

void NetworkStatus::onNotice() {
    platform::drainRouteNotices(m_notices);
    // One change comes as several notices (link, address, route): look once
    // they have settled.
    QTimer::singleShot(50, this, &NetworkStatus::refresh);
}

void NetworkStatus::refresh() {
    try {
        setText(QString::fromStdString(describeWhatWouldRun(m_database)));
    } catch (const std::exception& failure) {
        setText(QString::fromStdString(std::string("Cannot tell what would run here: ") + failure.what()));
    }
}

} // namespace corvale::tool
