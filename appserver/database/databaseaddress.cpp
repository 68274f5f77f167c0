#include "appserver/database/databaseaddress.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>
#include <stdexcept>

namespace {

[[noreturn]] void refuse(const QString &text, const QString &reason)
{
    throw std::invalid_argument(
        QStringLiteral("invalid database address %1: %2").arg(DatabaseAddress::masked(text), reason).toStdString());
}

// A libpq connection keyword's value, quoted as libpq's key='value' syntax wants it.
QString quotedOption(const QString &key, QString value)
{
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QStringLiteral("%1='%2'").arg(key, value);
}

} // namespace

QString DatabaseAddress::masked(const QString &text)
{
    // Read as written, not through QUrl, so that an address QUrl refuses is masked too.
    QString shown = text;
    if (const qsizetype scheme = shown.indexOf(QLatin1String("://")); scheme > 0) {
        const qsizetype start = scheme + 3;
        // The user part ends at the last '@': a password may hold '@', '/' or '?' of its
        // own. (An '@' in a query value masks more than the password, never less.)
        const qsizetype at = shown.lastIndexOf(QLatin1Char('@'));
        const qsizetype colon = shown.indexOf(QLatin1Char(':'), start);
        if (at >= start && colon >= start && colon < at)
            shown.replace(colon + 1, at - colon - 1, QStringLiteral("****"));
    }
    static const QRegularExpression passwordKeyword(QStringLiteral("([?&]password=)[^&#]*"),
                                                    QRegularExpression::CaseInsensitiveOption);
    return shown.replace(passwordKeyword, QStringLiteral("\\1****"));
}

DatabaseAddress DatabaseAddress::parse(const QString &text)
{
    DatabaseAddress address;
    if (!text.startsWith(QLatin1String("postgresql:")) && !text.startsWith(QLatin1String("postgres:"))) {
        if (text.isEmpty())
            refuse(text, QStringLiteral("empty"));
        address.file = text;
        return address;
    }
    address.backend = Backend::PostgreSQL;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        refuse(text, url.errorString());
    if (!url.password().isEmpty() || url.userInfo().contains(QLatin1Char(':')))
        refuse(text, QStringLiteral("a password is not taken from the command line; use PGPASSWORD or ~/.pgpass"));
    address.host = url.host();
    address.port = url.port(-1);
    address.user = url.userName();
    address.database = url.path().mid(1);
    if (address.database.isEmpty() || address.database.contains(QLatin1Char('/')))
        refuse(text, QStringLiteral("the URI must name one database, postgresql://user@host:port/dbname"));

    QStringList options;
    bool timeoutGiven = false;
    for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("password"))
            refuse(text, QStringLiteral("a password is not taken from the command line; use PGPASSWORD or ~/.pgpass"));
        if (key == QLatin1String("host"))
            address.host = value;
        else if (key == QLatin1String("port"))
            address.port = value.toInt();
        else if (key == QLatin1String("user"))
            address.user = value;
        else if (key == QLatin1String("dbname"))
            address.database = value;
        else
            options << quotedOption(key, value);
        timeoutGiven = timeoutGiven || key == QLatin1String("connect_timeout");
    }
    if (!timeoutGiven)
        options << quotedOption(QStringLiteral("connect_timeout"), QString::number(kConnectTimeoutSeconds));
    address.options = options.join(QLatin1Char(';'));
    return address;
}
