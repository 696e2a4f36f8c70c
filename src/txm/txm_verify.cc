#include "txm/txm_verify.h"

#include "common/format_ids.h"
#include "txm_generated.h"

namespace TXM {
bool VerifyTXMBuffer(const uint8_t* buf, size_t size) {
  return talvex::VerifyRoot<TalvexTXM::TXMContent>(buf, size);
}
}  // namespace TXM
