#pragma once
// Verifies a flatbuffer setup.bin and unpacks it into its object tree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/status.h"
#include "setup_generated.h"

class SetupFBReader {
 public:
  // Verifies as Setup::IsFBSetup does, then unpacks the whole tree into content (replacing
  // what it held). Fails (-1) on a buffer that does not verify, content untouched. Buffers whose unpacked tree would exceed MaxUnpackedBytes(size)
  // (offsets that share one large string or vector many times) are refused the same way.
  static talvex::Status Parse(TalvexSetup::INFContentT& content, const uint8_t* bin, size_t size);
  // Packs a whole tree. Every caller packs through here so that the generated packer, most of
  // the code the schema produces, is compiled once.
  static flatbuffers::Offset<TalvexSetup::INFContent> Pack(flatbuffers::FlatBufferBuilder& fbb,
                                                           const TalvexSetup::INFContentT& content);

  // Bytes of strings and vectors the unpacked tree of a VERIFIED buffer would own, each
  // shared reference counted once per copy that unpacking makes. Stops counting past cap.
  static uint64_t UnpackedBytes(const uint8_t* bin, uint64_t cap);
  // What a buffer of `size` bytes may expand to (talvex::MaxUnpackedBytes).
  static uint64_t MaxUnpackedBytes(size_t size);
};
