#pragma once

#include "shared/database.h"

#include <QFileSystemWatcher>
#include <QLabel>
#include <memory>
#include <string>

class QSocketNotifier;

namespace corvale::tool {

// The status bar's line: what the engine would run for the network the
// machine is on now, by the engine's own discovery and choice of list. It
// follows the network (the kernel's notices of link, address and route
// changes) and the database (whoever writes it).
class NetworkStatus : public QLabel {
    Q_OBJECT
public:
    NetworkStatus(Database& database, QWidget* parent = nullptr);
    ~NetworkStatus() override;

    // Looks again at the network and the database.
    void refresh();

private:
    void onNotice();

    Database& m_database;
    int m_notices = -1;
    QSocketNotifier* m_noticeReady = nullptr;
    QFileSystemWatcher m_fileWatcher;
};

// Why the engine would refuse this database (the engine's own check, with
// the command that puts it right), or the empty text when it would run it.
std::string engineRefusal(const std::string& databasePath);

// The line for a discovery's result: "On ADDRESS (gateway GATEWAY): the list
// of KEY", "No network: the disconnected list" or "On ADDRESS: no list
// matches"; or, when the engine would refuse the database, that it will
// and why.
std::string describeWhatWouldRun(Database& database);

} // namespace corvale::tool
