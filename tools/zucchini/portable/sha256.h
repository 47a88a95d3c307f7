// SHA-256 (FIPS 180-4), incremental; the patch format names its old and new files by it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace oku::zucchini {

class Sha256 {
 public:
  using Digest = std::array<uint8_t, 32>;
  Sha256();
  void Update(const uint8_t* data, size_t length);
  Digest Finish();  // the object must not be updated afterwards

 private:
  void Block(const uint8_t* block);
  uint32_t state_[8];
  uint8_t buffer_[64];
  size_t buffered_ = 0;
  uint64_t total_ = 0;
};

Sha256::Digest Sha256Of(const uint8_t* data, size_t length);

}  // namespace oku::zucchini
