#pragma once

#include <QByteArrayView>

namespace protocol {

// Bytes needed to tell whether a peer speaks this protocol: a frame's length and
// the first byte of its message.
constexpr qsizetype kAnswerStartSize = 5;

// Whether the first bytes a server sent on a connection can begin one of its
// answers: a frame of 1 to `frameLimit` bytes whose message is a CBOR map. Another
// kind of server on the port (a database, a web or mail server) fails this at once.
bool couldStartAnswer(QByteArrayView firstBytes, qint64 frameLimit);

// The first bytes as printable text, each other byte a '.', for a message.
QString printableStart(QByteArrayView firstBytes);

} // namespace protocol
