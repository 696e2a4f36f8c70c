#include "setup/setup_recognise.h"

#include <cstring>

#include "setup_generated.h"

namespace Setup {

bool IsRawSetup(const uint8_t* bin, size_t size) {
  if (bin == nullptr || size < 4) return false;
  uint32_t word = 0;
  std::memcpy(&word, bin, 4);
  return word == MAGIC;
}

bool IsFBSetup(const uint8_t* bin, size_t size) {
  if (bin == nullptr || size <= 4 || size >= FLATBUFFERS_MAX_BUFFER_SIZE) return false;
  flatbuffers::Verifier verifier(bin, size, 64, 1000000, true);
  return verifier.VerifyBuffer<TalvexSetup::INFContent>(nullptr);
}

}  // namespace Setup
