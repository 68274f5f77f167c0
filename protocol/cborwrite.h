#pragma once

#include "protocol/cborformat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

namespace protocol {

// CBOR items appended straight to a buffer, each in its shortest form.
namespace cbor {

// The bytes of an item's head stating `value`: 1, 2, 3, 5 or 9.
qsizetype headSize(quint64 value);
// Writes the head at `out`, which has headSize(value) bytes; returns the end.
char *putHead(char *out, Major major, quint64 value);

void appendHead(QByteArray &bytes, Major major, quint64 value);
void appendInteger(QByteArray &bytes, qint64 value);
void appendDouble(QByteArray &bytes, double value);
void appendNull(QByteArray &bytes);
void appendBytes(QByteArray &bytes, QByteArrayView value);
void appendText(QByteArray &bytes, QStringView text);
// An array of a count not stated in its head, ended by appendBreak().
void appendOpenArray(QByteArray &bytes);
void appendBreak(QByteArray &bytes);

} // namespace cbor

} // namespace protocol
