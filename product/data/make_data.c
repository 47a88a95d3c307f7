/* Writes one deterministic data file of the demo product: pseudo-random bytes from a seed
 * (the file's name), so the files do not compress away. When a version is given, the first
 * 4 KiB of every MiB also depend on it, so two versions differ a little, as real builds do.
 * Usage: make_data <output> <size in bytes> <seed> [version] */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static uint64_t hash_text(const char* text, uint64_t h) {
  for (; *text; ++text) h = (h ^ (unsigned char)*text) * 1099511628211ull;
  return h;
}

static uint64_t next(uint64_t* s) { /* xorshift64* */
  *s ^= *s >> 12;
  *s ^= *s << 25;
  *s ^= *s >> 27;
  return *s * 2685821657736338717ull;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: make_data <output> <size> <seed> [version]\n");
    return 2;
  }
  FILE* out = fopen(argv[1], "wb");
  if (!out) {
    perror(argv[1]);
    return 1;
  }
  const long long size = atoll(argv[2]);
  uint64_t base = hash_text(argv[3], 1469598103934665603ull) | 1;
  uint64_t versioned = argc > 4 ? hash_text(argv[4], base) | 1 : base;
  static unsigned char block[1 << 20];
  for (long long done = 0; done < size;) {
    for (size_t i = 0; i < sizeof(block); i += 8) {
      const uint64_t value = next(&base) ^ (i < 4096 ? next(&versioned) : 0);
      for (int b = 0; b < 8; ++b) block[i + b] = (unsigned char)(value >> (8 * b));
    }
    const long long left = size - done;
    const size_t n = left < (long long)sizeof(block) ? (size_t)left : sizeof(block);
    if (fwrite(block, 1, n, out) != n) {
      perror(argv[1]);
      fclose(out);
      return 1;
    }
    done += (long long)n;
  }
  return fclose(out) == 0 ? 0 : 1;
}
