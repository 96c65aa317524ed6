#include "configtool/item_paths.h"

#include <QRegularExpression>

namespace corvale::tool {

bool isNetworkPath(const QString& path) {
    static const QRegularExpression withScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return path.startsWith(u"//") || path.startsWith(u"\\\\") || withScheme.match(path).hasMatch();
}

QString folderOfTarget(const QString& target) {
    if (target.isEmpty() || isNetworkPath(target)) {
        return {};
    }
    return target.left(target.lastIndexOf(u'/') + 1);
}

} // namespace corvale::tool
