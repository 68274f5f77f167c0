#pragma once

#include <QtGlobal>

// The layout of a CBOR item's head, shared by the writer and the reader.
namespace protocol::cbor {

// An item's first byte: its major type in the top three bits, and below them its
// additional information: a value up to 23, or how the value follows.
enum class Major : quint8 { Unsigned = 0, Negative = 1, Bytes = 2, Text = 3, Array = 4, Map = 5, Tag = 6, Simple = 7 };
constexpr quint8 kMajorShift = 5;
constexpr quint8 kInfoMask = 0x1f;
constexpr quint8 kValueInOneByte = 24; // 24 to 27: the value in the 1, 2, 4 or 8 bytes after
constexpr quint8 kValueInTwoBytes = 25;
constexpr quint8 kValueInFourBytes = 26;
constexpr quint8 kValueInEightBytes = 27;
constexpr quint8 kIndefinite = 31; // a string or container ended by a break
// Whole first bytes of major type 7.
constexpr quint8 kNull = 0xf6;
constexpr quint8 kFloat = 0xfa;
constexpr quint8 kDouble = 0xfb;
constexpr quint8 kBreak = 0xff;

} // namespace protocol::cbor
