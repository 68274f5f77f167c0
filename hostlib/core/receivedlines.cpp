#include "hostlib/core/receivedlines.h"

#include <QLocale>

QString ReceivedLinesText(qint64 lines)
{
    const QString count = QLocale(QLocale::Portuguese, QLocale::Brazil).toString(lines);
    return lines == 1 ? QStringLiteral("%1 linha recebida").arg(count) : QStringLiteral("%1 linhas recebidas").arg(count);
}
