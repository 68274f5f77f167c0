#include "appserver/remoteobject/daycountdigits.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kDigits = 17;
// Magnitudes written without an exponent whose digits are worked out here: every
// day count of a writable moment, bar those within a few seconds of day 0. The
// rest goes to the library's formatting, which is exact but slower.
constexpr double kLeastFixed = 1e-4;
constexpr double kMostFixed = 1e7;

using Wide = unsigned __int128;

// 10^0 to 10^21: the scales of the magnitudes above, and of a guess one short.
constexpr int kPowers = 22;
constexpr std::array<Wide, kPowers> kPowersOfTen = [] {
    std::array<Wide, kPowers> powers {};
    Wide power = 1;
    for (Wide &each : powers) {
        each = power;
        power *= 10;
    }
    return powers;
}();

constexpr std::uint64_t kLeastOfSeventeen = std::uint64_t(kPowersOfTen[kDigits - 1]);
constexpr std::uint64_t kPastSeventeen = std::uint64_t(kPowersOfTen[kDigits]);

// The magnitude's 17 leading digits and its decimal exponent (the place of the
// first digit), the magnitude being mantissa / 2^shift in [kLeastFixed, kMostFixed).
std::uint64_t leadingDigits(std::uint64_t mantissa, int shift, int &exponent)
{
    const Wide below = (Wide(1) << shift) - 1;
    for (;;) {
        const Wide scaled = Wide(mantissa) * kPowersOfTen[size_t(kDigits - 1 - exponent)];
        std::uint64_t digits = std::uint64_t(scaled >> shift);
        if (digits < kLeastOfSeventeen) {
            --exponent;
            continue;
        }
        if (digits >= kPastSeventeen) {
            ++exponent;
            continue;
        }
        const Wide rest = scaled & below;
        const Wide half = Wide(1) << (shift - 1);
        if (rest > half || (rest == half && (digits & 1)))
            ++digits;
        if (digits == kPastSeventeen) { // 99...9.5 rounds up to the next power of ten
            digits = kLeastOfSeventeen;
            ++exponent;
        }
        return digits;
    }
}

constexpr std::uint64_t kEightDigits = 100'000'000;

// `value` as `width` digits, zeros in front.
void putDigits(char *out, std::uint32_t value, int width)
{
    for (int i = width - 1; i >= 0; --i) {
        out[i] = char('0' + value % 10);
        value /= 10;
    }
}

} // namespace

char *putDayCount(char *out, double dayCount)
{
    const double magnitude = std::fabs(dayCount);
    if (!(magnitude >= kLeastFixed && magnitude < kMostFixed))
        return std::to_chars(out, out + kDayCountRoom, dayCount, std::chars_format::general, kDigits).ptr;

    std::uint64_t bits = 0;
    std::memcpy(&bits, &magnitude, sizeof bits);
    const std::uint64_t mantissa = (bits & ((std::uint64_t(1) << 52) - 1)) | std::uint64_t(1) << 52;
    const int shift = 1075 - int(bits >> 52); // magnitude = mantissa / 2^shift, shift from 29 to 66
    // floor(log2 × log10(2)), a guess one short at most, checked against the digits.
    const int binaryExponent = int(bits >> 52) - 1023;
    int exponent = (binaryExponent * 78913) >> 18;
    const std::uint64_t digits = leadingDigits(mantissa, shift, exponent);

    char text[2 * kDigits]; // room past the digits for the fraction's copy of constant size
    putDigits(text, std::uint32_t(digits / kEightDigits), kDigits - 8);
    putDigits(text + kDigits - 8, std::uint32_t(digits % kEightDigits), 8);
    int significant = kDigits;
    while (significant > 1 && text[significant - 1] == '0')
        --significant;

    // All the digits are copied at once (constant sizes, no call), then cut at the last significant one.
    if (dayCount < 0)
        *out++ = '-';
    if (exponent >= 0) {
        const int whole = exponent + 1;
        std::memcpy(out, text, kDigits);
        if (significant <= whole)
            return out + whole;
        out[whole] = '.';
        std::memcpy(out + whole + 1, text + whole, kDigits - 1);
        return out + significant + 1;
    }
    *out++ = '0';
    *out++ = '.';
    for (int i = -1; i > exponent; --i)
        *out++ = '0';
    std::memcpy(out, text, kDigits);
    out += significant;
    return out;
}
