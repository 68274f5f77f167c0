#include "appserver/log/calllog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

namespace {

QMutex logMutex;
QFile *logFile = nullptr;

QString kindName(protocol::ArgumentKind kind)
{
    switch (kind) {
    case protocol::ArgumentKind::Str: return QStringLiteral("str");
    case protocol::ArgumentKind::StrRef: return QStringLiteral("strref");
    case protocol::ArgumentKind::Date: return QStringLiteral("date");
    }
    return QString();
}

} // namespace

bool CallLog::open(const QString &fileName, QString &error)
{
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        error = file->errorString();
        return false;
    }
    QMutexLocker lock(&logMutex);
    delete logFile;
    logFile = file.release();
    return true;
}

void CallLog::record(const protocol::Request &request)
{
    QMutexLocker lock(&logMutex);
    if (!logFile)
        return;
    QJsonArray args;
    for (const protocol::Argument &argument : request.args) {
        const QJsonValue value = argument.kind == protocol::ArgumentKind::Date ? QJsonValue(argument.date)
                                                                               : QJsonValue(argument.text);
        args.append(QJsonObject { { QStringLiteral("kind"), kindName(argument.kind) }, { QStringLiteral("value"), value } });
    }
    const QJsonObject call { { QStringLiteral("method"), request.method }, { QStringLiteral("args"), args } };
    logFile->write(QJsonDocument(call).toJson(QJsonDocument::Compact) + '\n');
}
