#include "appserver/database/databaseaddress.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <libpq-fe.h>
#include <stdexcept>

namespace {

const QString kNoPassword = QStringLiteral("a password is not taken from the command line; use PGPASSWORD or ~/.pgpass");

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

// Whether `text` is libpq's keyword/value form: it begins with a keyword and "=".
bool isKeywordForm(const QString &text)
{
    static const QRegularExpression start(QStringLiteral("^\\s*[A-Za-z_][A-Za-z0-9_]*\\s*="));
    return start.match(text).hasMatch();
}

// The pairs of libpq's keyword/value form, as libpq reads them; throws libpq's reason
// when it cannot read them (an unknown keyword, a quote left open).
QList<QPair<QString, QString>> keywordPairs(const QString &text)
{
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(text.toUtf8().constData(), &error);
    if (!options) {
        const QString reason = error ? QString::fromUtf8(error).trimmed() : QStringLiteral("out of memory");
        PQfreemem(error);
        throw std::invalid_argument(reason.toStdString());
    }
    QList<QPair<QString, QString>> pairs;
    for (const PQconninfoOption *option = options; option->keyword; ++option) {
        if (option->val)
            pairs.append({ QString::fromUtf8(option->keyword), QString::fromUtf8(option->val) });
    }
    PQconninfoFree(options);
    return pairs;
}

// The keyword/value form with the value of every password keyword as "****": a
// quoted value up to its closing quote (all the rest when there is none), any other
// up to the next blank.
QString maskedKeywordPassword(QString text)
{
    static const QRegularExpression keyword(QStringLiteral("(?:^|\\s)password\\s*=\\s*"),
                                            QRegularExpression::CaseInsensitiveOption);
    for (qsizetype from = 0;;) {
        const QRegularExpressionMatch found = keyword.match(text, from);
        if (!found.hasMatch())
            return text;
        const qsizetype start = found.capturedEnd();
        qsizetype end = start;
        if (end < text.size() && text.at(end) == QLatin1Char('\'')) {
            for (++end; end < text.size() && text.at(end) != QLatin1Char('\''); ++end) {
                if (text.at(end) == QLatin1Char('\\'))
                    ++end;
            }
            end = std::min(end + 1, text.size());
        } else {
            while (end < text.size() && !text.at(end).isSpace())
                end += text.at(end) == QLatin1Char('\\') ? 2 : 1;
            end = std::min(end, text.size());
        }
        text.replace(start, end - start, QStringLiteral("****"));
        from = start + 4;
    }
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
    static const QRegularExpression passwordParameter(QStringLiteral("([?&]password=)[^&#]*"),
                                                      QRegularExpression::CaseInsensitiveOption);
    shown.replace(passwordParameter, QStringLiteral("\\1****"));
    return isKeywordForm(text) ? maskedKeywordPassword(shown) : shown;
}

DatabaseAddress DatabaseAddress::parse(const QString &text)
{
    DatabaseAddress address;
    const bool uri = text.startsWith(QLatin1String("postgresql:")) || text.startsWith(QLatin1String("postgres:"));
    if (!uri && !isKeywordForm(text)) {
        if (text.isEmpty())
            refuse(text, QStringLiteral("empty"));
        address.file = text;
        return address;
    }
    address.backend = Backend::PostgreSQL;
    QList<QPair<QString, QString>> keywords;
    if (uri) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid())
            refuse(text, url.errorString());
        if (!url.password().isEmpty() || url.userInfo().contains(QLatin1Char(':')))
            refuse(text, kNoPassword);
        address.host = url.host();
        address.port = url.port(-1);
        address.user = url.userName();
        address.database = url.path().mid(1);
        if (address.database.isEmpty() || address.database.contains(QLatin1Char('/')))
            refuse(text, QStringLiteral("the URI must name one database, postgresql://user@host:port/dbname"));
        keywords = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    } else {
        try {
            keywords = keywordPairs(text);
        } catch (const std::invalid_argument &unreadable) {
            refuse(text, QString::fromStdString(unreadable.what()));
        }
    }

    QStringList options;
    bool timeoutGiven = false;
    for (const auto &[key, value] : keywords) {
        if (key == QLatin1String("password"))
            refuse(text, kNoPassword);
        if (key == QLatin1String("port")) {
            bool number = false;
            address.port = value.toInt(&number);
            if (!number || address.port < 1 || address.port > 65535)
                refuse(text, QStringLiteral("the port is a number from 1 to 65535"));
        } else if (key == QLatin1String("host"))
            address.host = value;
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
    if (address.database.isEmpty())
        refuse(text, QStringLiteral("name the database, dbname=NAME"));
    address.options = options.join(QLatin1Char(';'));
    return address;
}
