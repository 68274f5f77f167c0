#pragma once

#include <QByteArray>
#include <QCborStreamReader>
#include <QString>

namespace protocol {

// Whole values out of a streaming CBOR reader; throw ProtocolError on anything else.
QString readText(QCborStreamReader &reader);
QByteArray readBytes(QCborStreamReader &reader);
void enterArray(QCborStreamReader &reader);
void enterMap(QCborStreamReader &reader);
// Ends the reading of a whole item: its last container left, nothing after it.
void finish(QCborStreamReader &reader);

} // namespace protocol
