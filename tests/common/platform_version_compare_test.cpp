// Dotted version comparison: one table, built natively and for Windows.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/portable/version_compare.h"

namespace {

struct Case {
  std::wstring a;
  std::wstring b;
  int expected;
};

const std::vector<Case> kCases = {
    {L"1.2", L"1.2.0", 0},
    {L"1.2", L"1.2.0.0", 0},
    {L"1.10", L"1.9", 1},
    {L"2.10", L"2.9", 1},
    {L"1.2", L"1.3", -1},
    {L"02.1", L"2.1", 0},
    {L"147.0.7727.4985", L"147.0.7727", 1},
    {L"147.0.7727.4985", L"147.0.7731.5020", -1},
    {L"147.0.7731.5020", L"147.0.7727.4985", 1},
    {L"2.6.4.4846", L"2.6.4.4846", 0},
    {L"", L"0.0", 0},
    {L"", L"", 0},
    {L"", L"1", -1},
    {L"1", L"", 1},
    {L"1.", L"1", 0},     // a trailing dot adds no part
    {L"1.", L"1.1", -1},
    // Any part that is not all ASCII digits: equal to everything.
    {L"1.2a", L"9.9", 0},
    {L"2a", L"1", 0},
    {L"9.9", L"1.2a", 0},
    {L"1..2", L"1.0.2", 0},  // empty part
    {L".1", L"0.2", 0},
    {L".", L"1", 0},
    {L"1.-2", L"1.0", 0},
    {L"1.+2", L"1.0", 0},
    {L"1. 2", L"1.0", 0},
    {L"1.2 ", L"1.0", 0},
    {L"1.\u0662", L"1.0", 0},  // a non-ASCII digit
    {L"1.0.0.1x", L"5", 0},    // a bad part decides even after a difference
    // The largest signed 32-bit part still compares; one more is outside the range: equal.
    {L"2147483647", L"2147483646", 1},
    {L"1.2147483647", L"1.02147483647", 0},
    {L"2147483648", L"1", 0},
    {L"1.99999999999999999999", L"2", 0},
    {L"1.4294967297", L"1.2", 0},
};

TEST(CompareVersions, Table) {
  for (const Case& c : kCases) {
    EXPECT_EQ(static_cast<int>(CompareVersions(c.a, c.b)), c.expected)
        << "a=" << ::testing::PrintToString(c.a) << " b=" << ::testing::PrintToString(c.b);
  }
}

TEST(CompareVersions, Antisymmetric) {
  for (const Case& c : kCases) {
    EXPECT_EQ(static_cast<int>(CompareVersions(c.b, c.a)), -c.expected)
        << "a=" << ::testing::PrintToString(c.a) << " b=" << ::testing::PrintToString(c.b);
  }
}

}  // namespace
