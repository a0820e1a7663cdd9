#include "platform/rootpath.h"

#include <QFile>

namespace Platform {

bool haveRoot()
{
    return !qEnvironmentVariableIsEmpty("ZEF400_ROOT");
}

QString rootPath(const QString& fixedPath)
{
    if (!haveRoot())
        return fixedPath;
    QString root = qEnvironmentVariable("ZEF400_ROOT");
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    if (fixedPath.startsWith(QLatin1Char('/')))
        return root + fixedPath;
    return root + QLatin1String("/sbin/") + fixedPath;
}

QByteArray rootPathBytes(const QString& fixedPath)
{
    return QFile::encodeName(rootPath(fixedPath));
}

} // namespace Platform
