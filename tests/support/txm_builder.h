#pragma once
// Builds sample TXM files for tests, the generation samples and the bundled demo.
// Files are made with the generated object API and builder only, never with the
// project's own TXM writer, so they can check it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "txm_generated.h"

namespace testsupport {

struct SampleBufferInfo {
  TalvexTXM::Location buffer = TalvexTXM::Location::UNKNOW;
  uint64_t start_addr = 0;
  uint64_t len = 0;
};

// Default file-header layout: INPUT, OUTPUT, WORKING and CPU_TEMP buffers (the four
// kinds a core can be relocated to), contiguous from 0x60000000.
std::vector<SampleBufferInfo> DefaultHeaderBufferInfo();

struct SampleTxmModel {
  int32_t id = 1;
  // Cores, in this order with these ids: 0 NPU; 1 CPU (Relu, Conv with ConvOptions,
  // Softmax with SoftmaxOptions); 2 LOOP whose exe_unit holds 3 NPU (64 cmd, 128 weight
  // bytes) and 4 CPU, with 32 cmd and 32 weight bytes of its own npu_params.
  size_t cmd_bytes = 256;       // of core 0
  size_t weight_bytes = 1024;   // of core 0
  size_t const_input_bytes = 128;
  TalvexTXM::EncryptedMode encrypt_mode = TalvexTXM::EncryptedMode::NoEnc;
};

// Every file has magic 0x314D5854 ("TXM1") and compiler version "talvex_compiler 1.0" in
// its header and in every model header; models have npu_run_val 1.
struct SampleTxmOptions {
  bool with_header = true;
  TalvexTXM::NPUTarget target = TalvexTXM::NPUTarget::TZ400;
  uint32_t major = 1, minor = 2, revision = 3;
  std::vector<SampleBufferInfo> header_buffer_info = DefaultHeaderBufferInfo();
  std::vector<SampleTxmModel> models = {SampleModel(1), SampleModel(2)};

  static SampleTxmModel SampleModel(int32_t id) {
    SampleTxmModel m;
    m.id = id;
    return m;
  }
};

// Model of a sample tensor: shape [1, 3, 224, 224] style inputs with quantisation
// (radix {7, 6}, Float scales {0.5, 0.25}).
TalvexTXM::TensorT SampleTensor(const std::string& name, TalvexTXM::Location location,
                                std::vector<int32_t> shape, uint64_t start_addr);

// Deterministic payload bytes (the same seed always gives the same bytes).
std::vector<uint8_t> PayloadBytes(size_t len, uint8_t seed);

TalvexTXM::TXMContentT BuildSampleTxmObject(const SampleTxmOptions& options = {});
// Generated Pack + Finish, no identifier: every cmd / weight / const_input 64-aligned.
std::vector<uint8_t> PackTxm(const TalvexTXM::TXMContentT& content);
std::vector<uint8_t> BuildSampleTxm(const SampleTxmOptions& options = {});
void WriteSampleTxm(const std::string& path, const SampleTxmOptions& options = {});

// ---- Patching built files into misaligned or hostile ones ----

enum class TxmPayload { kConstInput, kCmd, kWeight };

struct PayloadRef {
  size_t field_pos = 0;   // the table field holding the offset to the vector
  size_t vector_pos = 0;  // the vector's 4-byte length prefix
  uint32_t length = 0;
  size_t data_pos() const { return vector_pos + 4; }
};

// Finds const_input of model #model_index (by position) or cmd / weight of its NPU core
// with header id core_id (searched depth-first through exe_unit). false when absent.
bool FindPayload(const std::vector<uint8_t>& buf, int model_index, TxmPayload kind, int core_id,
                 PayloadRef* ref);
// Starts the payload `shift` bytes later (a multiple of 4, below its length) and shortens
// it by as much; the file still verifies. Returns the new data position, 0 when absent.
size_t ShiftPayload(std::vector<uint8_t>& buf, int model_index, TxmPayload kind, int core_id,
                    uint32_t shift = 4);
// Sets the payload's stored length (at most the current one); false when absent.
bool SetPayloadLength(std::vector<uint8_t>& buf, int model_index, TxmPayload kind, int core_id,
                      uint32_t length);

}  // namespace testsupport
