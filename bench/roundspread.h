#pragma once

#include <algorithm>
#include <vector>

// A figure over the rounds of a bench: its median and its range.
struct RoundSpread
{
    double median = 0;
    double min = 0;
    double max = 0;
};

inline RoundSpread spreadOf(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    const double median = values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
    return { median, values.front(), values.back() };
}
