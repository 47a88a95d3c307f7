// Dotted decimal version comparison: missing parts count as 0; any part that is not all ASCII
// digits, or too long for a signed 32-bit number, makes the versions compare equal.
#pragma once

#include <string_view>

// -1 when a < b, 1 when a > b, 0 when equal or not comparable.
signed char CompareVersions(std::wstring_view a, std::wstring_view b);
