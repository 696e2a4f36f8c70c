#pragma once
// Identifiers the container formats share: the target texts, the magic, and the one
// FlatBuffers verification rule.
#include <cstddef>
#include <cstdint>
#include <string>

#include <flatbuffers/flatbuffers.h>

namespace talvex {

// Target texts in NPUTarget order (TZ100 = 0 ... TZ600 = 5).
constexpr const char* kTargetTexts[] = {"100", "200", "300", "400", "500", "600"};
constexpr int kTargetCount = 6;

// Position of text in kTargetTexts; -1 for any other text.
inline int TargetIndex(const std::string& text) {
  for (int i = 0; i < kTargetCount; ++i) {
    if (text == kTargetTexts[i]) return i;
  }
  return -1;
}

// Magic of a BNX container and of a flatbuffer setup.bin.
constexpr uint32_t kContainerMagic = 0x012EBD34;

// Verifier limits of every FlatBuffers format read here.
constexpr uint32_t kVerifierMaxDepth = 64;
constexpr uint32_t kVerifierMaxTables = 1000000;

// The buffer verifies as a Root over its whole range (more than 4 bytes, below the
// FlatBuffers size limit, no file identifier, alignment checked).
template <typename Root>
bool VerifyRoot(const uint8_t* buf, size_t size) {
  if (buf == nullptr || size <= 4 || size >= FLATBUFFERS_MAX_BUFFER_SIZE) return false;
  flatbuffers::Verifier verifier(buf, size, kVerifierMaxDepth, kVerifierMaxTables, true);
  return verifier.VerifyBuffer<Root>(nullptr);
}

}  // namespace talvex
