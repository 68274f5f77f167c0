#pragma once

#include <QString>

// The audit trail: one line in the server's log for every call a client makes and one
// when its connection ends, each naming the client, so that the log shows who read
// what. Fields are key=value; a value a client chose is quoted, with anything but
// printable ASCII escaped, so that no client can forge a line.
namespace AuditLog {

// Who is at the other end of a connection.
struct Peer
{
    QString address; // host:port
    QString subject; // the client certificate's subject, where the connection has one
};

struct Call
{
    QString method;
    QString object;     // the object asked for, where it is not the server's one
    QString language;   // the language asked for, where the method takes one
    int tables = -1;    // tables asked for; -1 where the method names none
    qint64 lines = 0;   // rows sent: script lines, languages or tables
    qint64 bytes = 0;   // bytes of the answer's frames, headers included
    qint64 milliseconds = 0;
    QString outcome;    // ok, failure, an exception class, or how the call was cut short
};

// "audit peer=... call=GetPropriedCds language="ENG" tables=2 lines=10 bytes=2345 ms=12 outcome=ok"
QString callLine(const Peer &peer, const Call &call);
// "audit peer=... end=idle-timeout calls=3 bytes=123456 seconds=301"
QString endLine(const Peer &peer, const QString &how, qint64 calls, qint64 bytes, qint64 seconds);
// "client dropped peer=... answers=2: why"; `reason` may hold a text the client chose.
QString droppedLine(const Peer &peer, qint64 answered, const QString &reason);

} // namespace AuditLog
