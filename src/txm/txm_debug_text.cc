// The JSON-like text view of a TXM object tree.
#include <flatbuffers/minireflect.h>

#include "common/file_io.h"
#include "common/logger.h"
#include "txm/txm_func.h"
#include "txm/txm_writer.h"

namespace TXM {

std::string GetDebugText(const TalvexTXM::TXMContentT& txm) {
  TxmWriter writer;
  writer.Finish(txm);
  // Our own freshly packed buffer: every union value has its type tag, as the visitor needs.
  flatbuffers::ToStringVisitor visitor("\n", true, "  ", true);
  flatbuffers::IterateFlatBuffer(writer.GetBufferPointer(), TalvexTXM::TXMContentTypeTable(),
                                 &visitor);
  return visitor.s;
}

int DumpDebugText(const TalvexTXM::TXMContentT& txm, const std::string& path, bool /*dummy_arg*/) {
  const std::string text = GetDebugText(txm);
  std::string error;
  if (!talvex::WriteFileAtomic(path, text.data(), text.size(), &error)) {
    TALVEX_LOG_ERROR(LogCateg::Txm, "Failed to write the file: {} ({})", path, error);
    return -1;
  }
  return 0;
}

}  // namespace TXM
