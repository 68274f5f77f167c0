#include "appserver/database/privatefiles.h"

#include <QFile>

#include <sys/stat.h>

void makeNewFilesPrivate()
{
    const mode_t inherited = umask(0077);
    umask(inherited | 0077);
}

QString sharedFileWarning(const QString &fileName)
{
    struct stat status {};
    if (::stat(QFile::encodeName(fileName).constData(), &status) != 0 || (status.st_mode & 0077) == 0)
        return {};
    return QStringLiteral("warning: %1 may be read by other users (mode %2); chmod 600 %1")
        .arg(fileName)
        .arg(status.st_mode & 0777, 4, 8, QLatin1Char('0'));
}
