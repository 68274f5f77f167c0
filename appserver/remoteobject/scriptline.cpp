#include "appserver/remoteobject/scriptline.h"

#include "appserver/remoteobject/daycountdigits.h"

#include "protocol/cp1252.h"

#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kHead[] = "INSERT INTO TRADUCAO (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA, DSTRADUCAO, DTALTERACAO) VALUES (";
constexpr char kTail[] = ") ON CONFLICT (CDPROGTRAD, CDCHAVE, NMCAMPO, IDIDIOMA) "
                         "DO UPDATE SET DSTRADUCAO = excluded.DSTRADUCAO, DTALTERACAO = excluded.DTALTERACAO;";

// How each dialect breaks a quoted text for a line break.
struct LineBreaks
{
    std::string_view lineFeed;
    std::string_view carriageReturn;
};
constexpr LineBreaks kSQLiteBreaks { "' || char(10) || '", "' || char(13) || '" };
constexpr LineBreaks kPostgreSQLBreaks { "' || chr(10) || '", "' || chr(13) || '" };
// The most bytes one input byte can become: a line break.
constexpr qsizetype kWidestByte = qsizetype(kSQLiteBreaks.lineFeed.size());
// The most bytes the moment can take, as a number or as a timestamp literal.
constexpr qsizetype kMomentRoom = 48;
static_assert(kDayCountRoom <= kMomentRoom);

constexpr qint64 kMicrosecondsPerDay = 86'400'000'000;
// 1899-12-30 counted from 1970-01-01.
constexpr qint64 kDayCountEpoch = -25'569;

char *put(char *out, std::string_view bytes)
{
    std::memcpy(out, bytes.data(), bytes.size());
    return out + bytes.size();
}

// The code point of the UTF-8 sequence at `at` (advanced past it); -1 when the
// bytes are no well-formed sequence.
char32_t nextCodePoint(const unsigned char *&at, const unsigned char *end)
{
    const unsigned char lead = *at++;
    int more = 0;
    char32_t point = 0;
    char32_t least = 0;
    if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3, point = lead & 0x07, least = 0x10000;
    } else if (lead >= 0xE0) {
        more = 2, point = lead & 0x0F, least = 0x800;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1, point = lead & 0x1F, least = 0x80;
    } else {
        return char32_t(-1);
    }
    if (end - at < more)
        return char32_t(-1);
    for (int i = 0; i < more; ++i) {
        if ((at[i] & 0xC0) != 0x80)
            return char32_t(-1);
        point = point << 6 | (at[i] & 0x3F);
    }
    at += more;
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return char32_t(-1);
    return point;
}

// Whether any of the eight bytes of `word` is more than a copy: one of 0x80 or
// above, a quote, a line break or a NUL.
bool needsCare(std::uint64_t word)
{
    constexpr std::uint64_t kOnes = 0x0101010101010101;
    constexpr std::uint64_t kHighBits = 0x8080808080808080;
    const auto holds = [word](unsigned char byte) {
        const std::uint64_t x = word ^ (kOnes * byte);
        return (x - kOnes) & ~x & kHighBits;
    };
    return ((word & kHighBits) | holds('\'') | holds('\n') | holds('\r') | holds('\0')) != 0;
}

// A UTF-8 text as an SQL literal expression in Windows-1252: quoted, quotes
// doubled, line breaks as function calls joined with ||. nullptr when a character
// has no byte or the bytes are not UTF-8; `nul` set when it holds a NUL.
char *putText(char *out, std::string_view text, const LineBreaks &breaks, bool &nul)
{
    *out++ = '\'';
    const auto *at = reinterpret_cast<const unsigned char *>(text.data());
    const auto *end = at + text.size();
    while (at < end) {
        // Plain ASCII, by far the most of any text, is copied eight bytes at a time.
        if (end - at >= 8) {
            std::uint64_t word;
            std::memcpy(&word, at, sizeof word);
            if (!needsCare(word)) {
                std::memcpy(out, &word, sizeof word);
                out += sizeof word;
                at += sizeof word;
                continue;
            }
        }
        const unsigned char byte = *at;
        if (byte >= 0x80) {
            const int mapped = protocol::cp1252::byteOf(nextCodePoint(at, end));
            if (mapped < 0)
                return nullptr;
            *out++ = char(mapped);
            continue;
        }
        ++at;
        if (byte == '\'')
            out = put(out, "''");
        else if (byte == '\n')
            out = put(out, breaks.lineFeed);
        else if (byte == '\r')
            out = put(out, breaks.carriageReturn);
        else
            *out++ = char(byte);
        nul = nul || byte == '\0';
    }
    *out++ = '\'';
    return out;
}

char *putDigits(char *out, qint64 value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

// A day count in the writable range as a PostgreSQL timestamp literal, to the
// microsecond, in the proleptic Gregorian calendar; nullptr when its microsecond
// falls outside the range.
char *putTimestamp(char *out, double dayCount)
{
    const double whole = std::floor(dayCount);
    qint64 days = qint64(whole);
    qint64 micro = std::llround((dayCount - whole) * double(kMicrosecondsPerDay));
    if (micro >= kMicrosecondsPerDay) {
        ++days;
        micro -= kMicrosecondsPerDay;
    }
    if (double(days) >= kEndOfWritableDays)
        return nullptr;
    // Civil date from a day number (days from 1970-01-01), in eras of 400 years.
    const qint64 z = days + kDayCountEpoch + 719'468;
    const qint64 era = (z >= 0 ? z : z - 146'096) / 146'097;
    const qint64 dayOfEra = z - era * 146'097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 shiftedMonth = (5 * dayOfYear + 2) / 153; // March is 0
    const qint64 day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    const qint64 month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    const qint64 year = yearOfEra + era * 400 + (month <= 2);

    const qint64 seconds = micro / 1'000'000;
    out = put(out, "TIMESTAMP '");
    out = putDigits(out, year, 4);
    *out++ = '-';
    out = putDigits(out, month, 2);
    *out++ = '-';
    out = putDigits(out, day, 2);
    *out++ = ' ';
    out = putDigits(out, seconds / 3600, 2);
    *out++ = ':';
    out = putDigits(out, seconds / 60 % 60, 2);
    *out++ = ':';
    out = putDigits(out, seconds % 60, 2);
    if (micro % 1'000'000 != 0) {
        *out++ = '.';
        out = putDigits(out, micro % 1'000'000, 6);
    }
    *out++ = '\'';
    return out;
}

} // namespace

qsizetype scriptLineRoom(const Translation &translation)
{
    const std::string_view texts[] = { translation.table, translation.key, translation.column, translation.language,
                                       translation.text };
    qsizetype room = qsizetype(sizeof(kHead) + sizeof(kTail)) + kMomentRoom;
    for (const std::string_view text : texts)
        room += 4 + qsizetype(text.size()) * kWidestByte;
    return room;
}

LineFault writeScriptLine(char *out, const Translation &translation, ScriptDialect dialect, char *&end)
{
    // Also false for NaN.
    if (!(translation.changedAt >= kFirstWritableDay && translation.changedAt < kEndOfWritableDays))
        return LineFault::MomentNotWritable;
    const LineBreaks &breaks = dialect == ScriptDialect::PostgreSQL ? kPostgreSQLBreaks : kSQLiteBreaks;
    const std::string_view texts[] = { translation.table, translation.key, translation.column, translation.language,
                                       translation.text };
    out = put(out, kHead);
    bool nul = false;
    for (const std::string_view text : texts) {
        out = putText(out, text, breaks, nul);
        if (!out)
            return LineFault::NotWindows1252;
        out = put(out, ", ");
    }
    out = dialect == ScriptDialect::PostgreSQL ? putTimestamp(out, translation.changedAt)
                                               : putDayCount(out, translation.changedAt);
    if (!out)
        return LineFault::MomentNotWritable;
    end = put(out, kTail);
    return nul ? LineFault::HoldsNul : LineFault::None;
}

LineFault writeScriptLine(QByteArray &line, const Translation &translation, ScriptDialect dialect)
{
    line.resize(scriptLineRoom(translation));
    char *end = nullptr;
    const LineFault fault = writeScriptLine(line.data(), translation, dialect, end);
    if (fault == LineFault::None)
        line.resize(end - line.constData());
    return fault;
}
