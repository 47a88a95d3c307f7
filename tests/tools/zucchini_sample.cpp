// A small program built twice (SAMPLE_BUILD 1 and 2) as an executable old/new pair for the
// patcher's tests: the second build inserts a function and changes constants, which moves the
// code after it and changes call targets and data addresses, as a real release does.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Entry {
  const char* name;
  int weight;
};

const Entry kEntries[] = {
    {"alpha", 3}, {"beta", 5}, {"gamma", 7}, {"delta", 11}, {"epsilon", 13},
#if SAMPLE_BUILD >= 2
    {"zeta", 17},
#endif
    {"eta", 19},  {"theta", 23},
};

__attribute__((noinline)) int Weigh(const char* text) {
  int total = 0;
  for (const Entry& e : kEntries) {
    if (std::strstr(text, e.name) != nullptr) total += e.weight;
  }
  return total;
}

#if SAMPLE_BUILD >= 2
__attribute__((noinline)) std::string Describe(int value) {
  std::string s = value % 2 ? "odd" : "even";
  if (value > 40) s += ", large";
  return s;
}
#endif

__attribute__((noinline)) std::vector<int> Series(int n) {
  std::vector<int> out;
  for (int i = 0; i < n; ++i) out.push_back(Weigh(kEntries[i % (sizeof kEntries / sizeof kEntries[0])].name) * (i + SAMPLE_BUILD));
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  const char* text = argc > 1 ? argv[1] : "alpha beta theta";
  const int weight = Weigh(text);
  std::printf("weight %d\n", weight);
#if SAMPLE_BUILD >= 2
  std::printf("%s\n", Describe(weight).c_str());
#endif
  for (int v : Series(argc + 4)) std::printf("%d ", v);
  std::printf("\nbuild %d\n", SAMPLE_BUILD);
  return 0;
}
