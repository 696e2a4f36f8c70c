#include "txm/txm_verify.h"

#include "txm_generated.h"

namespace TXM {
bool VerifyTXMBuffer(const uint8_t* buf, size_t size) {
  if (buf == nullptr || size <= 4 || size >= FLATBUFFERS_MAX_BUFFER_SIZE) return false;
  flatbuffers::Verifier verifier(buf, size, 64, 1000000, true);
  return verifier.VerifyBuffer<TalvexTXM::TXMContent>(nullptr);
}
}  // namespace TXM
