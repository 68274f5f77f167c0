#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

// Where the server accepts clients (--listen): "host", "host:port", "[IPv6]" or
// "[IPv6]:port", as the client's own server setting reads; port 0 picks a free one.
struct ListenAddress
{
    static constexpr int kDefaultPort = 21102;

    QString text; // as given, for messages
    QString host; // an address or a name; an IPv6 literal without its brackets
    quint16 port = 0;

    // Throws std::invalid_argument naming `option`, `text` and what is wrong with it.
    static ListenAddress parse(const QString &text, const QString &option = QStringLiteral("--listen"));
    // The host itself when it is an address, else the addresses its name resolves to;
    // throws std::runtime_error when the name does not resolve.
    QList<QHostAddress> addresses() const;
};
