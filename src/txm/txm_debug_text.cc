// The JSON-like text view of a TXM object tree.
#include <flatbuffers/minireflect.h>

#include "common/file_io.h"
#include "common/strings.h"
#include "txm/txm_func.h"
#include "txm/txm_writer.h"

namespace TXM {
namespace {
// The library's text visitor, except that a string that is not UTF-8 gets U+FFFD for each
// ill-formed piece, where the library would write "\xNN", which no JSON reader accepts.
struct JsonViewVisitor : public flatbuffers::ToStringVisitor {
  JsonViewVisitor() : flatbuffers::ToStringVisitor("\n", true, "  ", true) {}
  void String(const flatbuffers::String* str) override {
    const std::string_view bytes(str->c_str(), str->size());
    if (IsValidUtf8(bytes)) return flatbuffers::ToStringVisitor::String(str);
    const std::string mended = ToValidUtf8(bytes);
    flatbuffers::EscapeString(mended.data(), mended.size(), &s, true, false);
  }
};
}  // namespace

std::string GetDebugText(const TalvexTXM::TXMContentT& txm) {
  TxmWriter writer;
  writer.Finish(txm);
  // Our own freshly packed buffer: every union value has its type tag, as the visitor needs.
  JsonViewVisitor visitor;
  flatbuffers::IterateFlatBuffer(writer.GetBufferPointer(), TalvexTXM::TXMContentTypeTable(),
                                 &visitor);
  return visitor.s;
}

talvex::Status DumpDebugText(const TalvexTXM::TXMContentT& txm, const std::string& path, bool /*dummy_arg*/) {
  const std::string text = GetDebugText(txm);
  return talvex::WriteNewFile(path, text.data(), text.size(), LogCateg::Txm);
}

}  // namespace TXM
