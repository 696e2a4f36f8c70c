#include "setup/setup_recognise.h"

#include <cstring>

#include "common/format_ids.h"
#include "setup_generated.h"

namespace Setup {

bool IsRawSetup(const uint8_t* bin, size_t size) {
  if (bin == nullptr || size < 4) return false;
  uint32_t word = 0;
  std::memcpy(&word, bin, 4);
  return word == MAGIC;
}

bool IsFBSetup(const uint8_t* bin, size_t size) {
  return talvex::VerifyRoot<TalvexSetup::INFContent>(bin, size);
}

}  // namespace Setup
