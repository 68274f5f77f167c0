#include "runtime/core/format.h"

AnsiString Format(const AnsiString &pattern, std::initializer_list<AnsiString> arguments)
{
    AnsiString result;
    auto next = arguments.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            const char kind = pattern[i + 1];
            if (kind == '%' || kind == 's') {
                ++i;
                if (kind == '%')
                    result += '%';
                else if (next != arguments.end())
                    result += *next++;
                continue;
            }
        }
        result += pattern[i];
    }
    return result;
}
