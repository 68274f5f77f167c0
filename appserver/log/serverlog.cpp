#include "appserver/log/serverlog.h"

#include <cstdio>

Q_LOGGING_CATEGORY(serverLog, "qlx.server", QtInfoMsg)

namespace ServerLog {

namespace {

QString oneLine(const QString &message)
{
    QString line;
    line.reserve(message.size());
    for (const QChar c : message) {
        if (c == QLatin1Char('\n'))
            line += QLatin1String(" | ");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            line += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            line += c;
    }
    return line;
}

void writeMessage(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    // Qt's own warnings (its SQL drivers, TLS) say where they come from.
    const bool own = !context.category || qstrcmp(context.category, serverLog().categoryName()) == 0
                     || qstrcmp(context.category, "default") == 0;
    const QString line = own ? message : QStringLiteral("%1: %2").arg(QLatin1String(context.category), message);
    // One stdio call: stdio locks the stream for it.
    std::fprintf(stderr, "%s\n", oneLine(line).toUtf8().constData());
    std::fflush(stderr);
}

} // namespace

void install()
{
    qInstallMessageHandler(writeMessage);
}

void write(const QString &line)
{
    qCInfo(serverLog).noquote() << line;
}

QString quoted(const QString &clientText)
{
    QString shown = QStringLiteral("\"");
    for (const QChar c : QStringView(clientText).left(kMostShown)) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            shown += QLatin1Char('\\') + c;
        else if (c.unicode() >= 0x20 && c.unicode() < 0x7F)
            shown += c;
        else
            shown += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    if (clientText.size() > kMostShown)
        shown += QStringLiteral("...");
    return shown + QLatin1Char('"');
}

} // namespace ServerLog
