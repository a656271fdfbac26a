// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

// The median of several runs, with their spread.
struct Spread {
    double median = 0.0;
    double min = 0.0;
    double max = 0.0;
};

inline Spread spreadOf(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    const double median = n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    return {median, values.front(), values.back()};
}

// "median (min–max)", to the given decimals.
inline std::string formatSpread(const Spread& s, int decimals)
{
    char text[96];
    std::snprintf(text, sizeof text, "%.*f (%.*f–%.*f)", decimals, s.median, decimals, s.min, decimals, s.max);
    return text;
}
