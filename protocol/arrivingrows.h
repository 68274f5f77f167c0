#pragma once

#include <QByteArrayView>

namespace protocol {

// Counts the rows of a frame still on its way: those that have arrived whole in
// the bytes of its message so far, in a part ({"part": P}) or in the final
// response ({"result": {"packet": P, ...}, ...}). Each call reads on from the last
// row boundary reached, so a frame's bytes are read once however often it is asked.
// The count is for a progress display only: anything malformed, or not a packet,
// stops the counting for the frame and is left for the decoder to report.
class ArrivingRows
{
public:
    // The message's bytes before its packet's rows are looked for only this far:
    // a longer start is no answer of this system's and is not counted.
    static constexpr qsizetype kHeadLimit = qsizetype(64) << 10;
    // Arrays, maps and tags inside each other in one item read; deeper is not counted.
    static constexpr int kNestingLimit = 16;

    // The rows whole in `arrived`, the first bytes of the frame's message; each call
    // gives the bytes of the same frame so far, as they grow.
    qsizetype count(QByteArrayView arrived);

private:
    enum class Stage { Head, Rows, Done };

    void findRows(QByteArrayView arrived);
    void countRows(QByteArrayView arrived);

    Stage m_stage = Stage::Head;
    qsizetype m_rows = 0;
    qsizetype m_nextRow = 0; // where the next row begins
    bool m_lengthKnown = false; // rows counted in the array's header, not ended by a break
    quint64 m_rowsLeft = 0; // with the length known
};

} // namespace protocol
