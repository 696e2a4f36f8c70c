#pragma once
// Packs TXM object trees into FlatBuffers buffers and writes them to files.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/status.h"
#include "txm_generated.h"

class TxmWriter {
 public:
  // Fresh builder: 1024 bytes initial capacity, minimum alignment 8 (raised to 64 by
  // the force-aligned cmd / weight / const_input vectors).
  TxmWriter();
  // Same, but the builder starts with room for initial_size bytes: a container of about that size
  // is packed without the builder growing (and copying everything packed so far) on the way.
  // The bytes packed do not depend on it.
  explicit TxmWriter(size_t initial_size);
  TxmWriter(const TxmWriter&) = delete;
  TxmWriter& operator=(const TxmWriter&) = delete;

  // Discards what the builder held, packs `content` and finishes it (no identifier).
  // Empty vectors are not stored (an emptied payload is an absent field), so every
  // cmd / weight / const_input in the result starts on a 64-byte boundary.
  void Finish(const TalvexTXM::TXMContentT& content);
  bool IsFinished() const { return finished_; }
  // The finished bytes; nullptr and 0 while nothing is finished.
  const uint8_t* GetBufferPointer() const;

  // Finish(content), then GenBin to OutputPath(...), which path receives.
  talvex::Status Dump(const TalvexTXM::TXMContentT& content, const std::string& folder,
                      const std::string& out_name, int model_id, int core_id,
                      const std::string& postfix, std::string& path);
  // Writes the finished bytes to path (atomically replacing it). Fails (one log line) when
  // nothing is finished or the write fails.
  talvex::Status GenBin(const std::string& path);

  // "models_" + target name without "TZ" [+ "_model_" id][+ "_core_" id] + ".txm" + postfix,
  // or out_name when given; prefixed by folder + "/", repeated slashes collapsed.
  static std::string OutputPath(TalvexTXM::NPUTarget target, const std::string& folder,
                                const std::string& out_name, int model_id, int core_id,
                                const std::string& postfix);

 private:
  flatbuffers::FlatBufferBuilder builder_;
  bool finished_ = false;
};
