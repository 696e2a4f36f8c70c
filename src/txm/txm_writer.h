#pragma once
// Packs TXM object trees into FlatBuffers buffers and writes them to files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "txm_generated.h"

class TxmWriter {
 public:
  // Fresh builder: 1024 bytes initial capacity, minimum alignment 8 (raised to 64 by
  // the force-aligned cmd / weight / const_input vectors).
  TxmWriter();
  // Takes over `builder` (for instance one the caller finished), which is left empty.
  explicit TxmWriter(flatbuffers::FlatBufferBuilder&& builder);
  TxmWriter(const TxmWriter&) = delete;
  TxmWriter& operator=(const TxmWriter&) = delete;

  // Discards what the builder held, packs `content` and finishes it (no identifier).
  // Empty vectors are not stored (an emptied payload is an absent field), so every
  // cmd / weight / const_input in the result starts on a 64-byte boundary.
  void Finish(const TalvexTXM::TXMContentT& content);
  bool IsFinished() const { return builder_.IsFinished(); }
  // The finished bytes; nullptr and 0 while nothing is finished.
  const uint8_t* GetBufferPointer() const;
  size_t GetSize() const;

  // Finish(content), then copies the bytes to buf. len = finished length. 0, or -1
  // (nothing copied, "The buffer size[..] is not enough for data len[..]") when len > size.
  int Dump(const TalvexTXM::TXMContentT& content, uint8_t* buf, size_t size, size_t& len);
  // Finish(content), then GenBin to OutputPath(...). Returns the path, or "" when the
  // file could not be written.
  std::string Dump(const TalvexTXM::TXMContentT& content, const std::string& folder,
                   const std::string& out_name, int model_id, int core_id,
                   const std::string& postfix, bool blOutputDisplay);
  // Writes the finished bytes to path (atomically replacing it) and, when asked, prints
  // the path on standard output. -1 (logged) when nothing is finished or the write fails.
  int GenBin(const std::string& path, bool blOutputDisplay);

  // "models_" + target name without "TZ" [+ "_model_" id][+ "_core_" id] + ".txm" + postfix,
  // or out_name when given; prefixed by folder + "/", repeated slashes collapsed.
  static std::string OutputPath(TalvexTXM::NPUTarget target, const std::string& folder,
                                const std::string& out_name, int model_id, int core_id,
                                const std::string& postfix);

 private:
  // The library keeps its "finished" flag protected; GenBin needs to test it.
  class Builder : public flatbuffers::FlatBufferBuilder {
   public:
    Builder() : flatbuffers::FlatBufferBuilder(1024) {}
    bool IsFinished() const { return finished; }
  };
  Builder builder_;
};
