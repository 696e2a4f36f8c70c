#pragma once
// Plain records of the TXM model report and the readers that fill them from a TXM file.
// The readers verify the file and read it through the flat accessors (nothing is
// unpacked), so headers cost the same whatever the payload size.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/status.h"
#include "txm_generated.h"

namespace BNXUtils {

// Memory summary of a TXM file; all values wrap modulo 2^32.
struct ModelMemory {
  uint32_t DDR_start_addr = 0;
  uint32_t DDR_end_addr = 0;
  uint32_t DDR_space_needed = 0;
  uint32_t model_size_no_header_buff = 0;
};

// Quantisation of a tensor. scale holds the values of the raw scale bytes read as
// scale_type (little-endian); bytes of an unknown type give no values.
struct Quant {
  std::vector<float> scale;
  std::vector<int8_t> radix;
  uint32_t scale_count = 0;
  int8_t scale_type = 0;
  // The first value of each, 0 when there is none (what the report shows).
  float FirstScale() const { return scale.empty() ? 0.0f : scale[0]; }
  int32_t FirstRadix() const { return radix.empty() ? 0 : radix[0]; }
};

struct TXM_TENSOR {
  uint32_t id = 0;
  std::string name;
  uint32_t format = 0;
  uint32_t ndim = 0;
  std::vector<int32_t> shape;
  uint32_t shape_batch = 0;
  uint32_t shape_ch = 0;
  uint32_t shape_row = 0;
  uint32_t shape_col = 0;
  int32_t shape_len = 0;
  std::vector<uint32_t> stride_aligned;
  int32_t stride_aligned_len = 0;
  Quant quantParam;
  uint32_t buffer_entry = 0;  // start_addr truncated to 32 bits
  uint32_t buffer_len = 0;    // the tensor's size
  uint32_t size = 0;
  uint32_t size_aligned = 0;
  std::array<int8_t, 4> shape_intrp_dim{};      // first 4 entries, rest 0
  std::array<int8_t, 4> inv_shape_intrp_dim{};  // first 4 entries, rest 0
  uint8_t ch_dim = 0;
  uint32_t location = 0;  // Location value
};

struct ENCRYP_INFO {
  int32_t mode = 0;  // EncryptedMode value
};

struct Dma_Bank_Info {
  uint32_t bank = 0;
  int8_t type = 0;          // DMAType value
  std::string association;  // Location name
};

// Payload references are byte offsets of the data inside the TXM file (0: absent),
// so they stay meaningful after the file buffer is released.
struct MODEL_HEADER {
  uint32_t model_id = 0;
  std::string model_name;
  uint32_t model_ver = 0;
  std::string format;
  ENCRYP_INFO encryp;
  uint64_t addr_constinput = 0;
  uint32_t size_constinput = 0;
  uint32_t addr_in = 0;
  uint32_t size_in = 0;
  uint32_t addr_out = 0;
  uint32_t size_out = 0;
  uint32_t addr_wbuf = 0;
  uint32_t size_wbuf = 0;
  uint32_t addr_cmd = 0;
  uint64_t addr_cmd_ptr = 0;
  uint32_t size_cmd = 0;
  uint64_t addr_wt_ptr = 0;
  uint32_t addr_wt = 0;
  uint32_t size_wt = 0;
  uint32_t core_number = 0;
  uint32_t npm_run_val = 0;
  std::vector<Dma_Bank_Info> dma;
  std::vector<TXM_TENSOR> input_nodes;
  std::vector<TXM_TENSOR> output_nodes;
};

struct npu_eu_param_s {
  std::vector<uint8_t> cmd;
  uint64_t cmd_addr = 0;  // file offset of the cmd data, 0 when absent
  uint64_t cmd_size = 0;
  std::vector<uint8_t> weight;
  uint64_t wt_addr = 0;   // file offset of the weight data, 0 when absent
  uint64_t wt_size = 0;
};

struct loop_eu_param_s {
  uint32_t max_trip_count = 0;
  TXM_TENSOR condition_var;
  npu_eu_param_s loop_npu_params;
};

struct cpu_eu_param_s {
  uint64_t operators_addr = 0;  // file offset of the operator list, 0 when absent
  uint32_t operator_count = 0;
};

struct MODEL_CORES {
  uint32_t id = 0;
  int8_t type = 0;            // CoreType value
  std::vector<TXM_TENSOR> input_nodes;
  std::vector<TXM_TENSOR> output_nodes;
  int8_t eu_params_type = 0;  // 1 NPU, 2 CPU, 3 LOOP (EUParams tag)
  npu_eu_param_s npu_param;
  loop_eu_param_s loop_param;
  cpu_eu_param_s cpu_param;
  std::vector<int32_t> dependency;
  std::vector<int32_t> parents;
  std::vector<int32_t> children;
  std::vector<TXM_TENSOR> inputs;   // same tensors as input_nodes
  std::vector<TXM_TENSOR> outputs;  // same tensors as output_nodes
};

struct MODEL_INFO {
  std::vector<MODEL_CORES> model_core;
  MODEL_HEADER model_header;
};

// Model version reported for every TXM model, and its format text.
constexpr uint32_t TXM_MODEL_VERSION = 123;
constexpr const char* TXM_MODEL_FORMAT = "TXM format";

// Record of one tensor (default record for nullptr).
TXM_TENSOR ReadTXMTensorInfo(const TalvexTXM::Tensor* tensor);

// Same, on a verified buffer (base = its first byte, for the payload offsets).
talvex::Status ReadTXMModelInfo(const TalvexTXM::TXMContent* txm, const uint8_t* base, int idx,
                     MODEL_HEADER& record);

// Same, on a verified buffer. Without copy_payloads the cmd and weight vectors stay empty; their
// offsets and sizes are filled all the same, for a caller that copies the bytes file to file.
talvex::Status ReadTXMModelCore(const TalvexTXM::TXMContent* txm, const uint8_t* base, int idx,
                     std::vector<MODEL_CORES>& cores, bool copy_payloads = true);

talvex::Status ReadBNXModelMemory(const TalvexTXM::TXMContent* txm, ModelMemory* out);

}  // namespace BNXUtils
