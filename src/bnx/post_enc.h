#pragma once
// Post-encryption of a finished BNX container: every model's NPU command stream and weights are
// scrambled with the payload encoder, every model's setup is marked with the key mode the
// device must use, and a new container is written next to the other outputs.
//
// The work happens in memory on an owned copy of the payload (the input container is mapped
// read-only and never changed); the new container is written once, atomically, straight under
// its final ".enc." name. Every refusal throws TalvexException with a message naming the
// condition, before anything is written.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bnx/generate.h"
#include "bnx/legacy_files.h"
#include "common/status.h"
#include "encoder/encoder.h"
#include "txm_generated.h"

namespace BNXUtils {

// Bytes of the decrypt key data stored beside a customer-key model (264 words).
constexpr size_t KEY_DATA_BYTES = 1056;

// The three values the modes hand on: a device key number wins over a customer key.
struct PostEncKeys {
  uint32_t customer_key = 0;
  uint32_t efuse_key = 0;
  std::string key_file;  // empty: eFuse mode; otherwise customer-key mode
  std::optional<KeyFile> key_table;  // key_file read once (read when first needed if absent)
  bool customer_mode() const { return !key_file.empty(); }
};
// In customer-key mode the key file is read here, before any container is opened: one that
// is no regular file, empty or all zero is refused then (std::runtime_error naming it).
PostEncKeys ReducePostEncKeys(uint32_t tv_number, uint32_t customer_key, uint32_t efuse_key,
                              const std::string& key_file);

struct PostEncOptions {
  bool keep_intermediate = false;  // also write the encrypted payload files (-l)
};

// What a post-encryption wrote.
struct PostEncResult {
  std::string output_path;               // the new container (".enc." name)
  std::vector<std::string> intermediates;  // files kept with keep_intermediate, in write order
  bool txm_payload = false;                // the container carried a TXM file
  talvex::Status notes;                    // progress and warnings, for the front end to report
};

// "<name>.enc": the output name under which GetOutputFilePath gives the ".enc." container.
std::string EncOutputName(const std::string& target, const std::string& name);

// ---- Legacy payload (schema major 0 and 1) ----

// The encrypted legacy payload as a plan: its layout and CRCs, and what each block is made of.
// The bytes are made (EmitEncryptedBlock) from the source as they are needed, so the encrypted
// payload is never held whole; source must stay readable as long as they are made.
struct EncryptedLegacy {
  std::vector<BNX_FW_INFO_MODEL> records;  // describing the encrypted all_models
  size_t all_models_size = 0;
  uint32_t all_models_crc = 0;
  std::vector<uint32_t> block_crcs;  // one per model block
  talvex::Status notes;              // warnings about setups that could not be marked
  const uint8_t* source = nullptr;   // the plain all_models
  std::vector<BNX_FW_INFO_MODEL> source_records;
  std::vector<ModelPieces> source_layout;    // where each model's pieces lie in the source
  std::vector<ModelPieces> layout;           // and in the encrypted all_models
  std::vector<std::vector<uint8_t>> setups;  // the marked setups
  bool relocate = false;                     // TZ100 command streams moved to the new addresses
  std::function<void(uint64_t, uint64_t)> read_done;  // see SourceReadDone
};
// Told the source range of each block (offset in the source, length) once the block was made.
using SourceReadDone = std::function<void(uint64_t offset, uint64_t len)>;

// Plans the encryption of the models of a legacy pair held in memory: command (unit 4) and weight
// (unit 16) scrambled, setups marked (raw: enc_key_data_offset; flatbuffer: encrypt_info), in
// customer key mode each setup carrying key_data. In customer key mode the records are recomputed
// with every piece padded to 16 (the setups grow), and TZ100 command streams are relocated to the
// new addresses before they are scrambled. Every refusal happens here. The inputs are only read.
EncryptedLegacy PostEncAllModels(TalvexBNX::NPUTarget target, const std::vector<BNX_FW_INFO_MODEL>& records,
                                 const uint8_t* all_models, size_t all_models_size, const Encoder& encoder,
                                 const std::vector<uint8_t>& key_data, const SourceReadDone& read_done = nullptr);

// What a piece of an encrypted block is.
enum class LegacyPart { kCommand, kWeight, kSetup, kPad };
// Takes the next piece of encrypted bytes; false stops the emission.
using LegacySink = std::function<bool(LegacyPart, const uint8_t*, size_t)>;
// Hands the bytes of encrypted block i to sink in order, in pieces of at most a few hundred KiB,
// with the encoder the plan was made with; false when sink stopped. notes (when given) takes
// what relocation noted.
bool EmitEncryptedBlock(const EncryptedLegacy& enc, size_t i, const Encoder& encoder, const LegacySink& sink,
                        talvex::Status* notes = nullptr);

// fw_info.bin (CRC section and own CRC included) and fw_info.txt for an encrypted payload.
std::vector<uint8_t> EncryptedFWInfo(const EncryptedLegacy& enc, std::string* text = nullptr);

// The whole mode on one container, opened once: a container carrying a TXM file (schema major
// 2) has its TXM file encrypted, a legacy one its pieces, with output_name as the prefix.
PostEncResult PostEncContainer(const std::string& bnx_path, const PostEncKeys& keys, uint32_t tv_number,
                               const std::string& output_folder, const std::string& output_name,
                               const PostEncOptions& options = {});

}  // namespace BNXUtils
