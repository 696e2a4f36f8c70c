// The JSON-like text view of a TXM object tree.
#include <flatbuffers/minireflect.h>

#include "common/file_io.h"
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

talvex::Status DumpDebugText(const TalvexTXM::TXMContentT& txm, const std::string& path, bool /*dummy_arg*/) {
  const std::string text = GetDebugText(txm);
  return talvex::WriteNewFile(path, text.data(), text.size(), LogCateg::Txm);
}

}  // namespace TXM
