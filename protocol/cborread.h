#pragma once

#include <QByteArray>
#include <QCborStreamReader>
#include <QCborValue>
#include <QString>

namespace protocol {

// Whole values out of a streaming CBOR reader; throw ProtocolError on anything else.
QString readText(QCborStreamReader &reader);
void enterArray(QCborStreamReader &reader);
void enterMap(QCborStreamReader &reader);
// Leaves the container whose items have all been read.
void leave(QCborStreamReader &reader);
// Steps over the current item, whatever it holds.
void skip(QCborStreamReader &reader);
// The current item as a value.
QCborValue readItem(QCborStreamReader &reader);
// Ends the reading of a whole message of `size` bytes: its last container left,
// nothing after it.
void finish(QCborStreamReader &reader, qint64 size);

} // namespace protocol
