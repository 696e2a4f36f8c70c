#pragma once
// Device test-configuration scripts written beside each extracted legacy model, and the
// removal of the intermediate per-model files at the end of extraction and combining.
#include <cstdint>
#include <string>
#include <vector>

#include "bnx/legacy_files.h"
#include "bnx_generated.h"
#include "common/status.h"

namespace BNXUtils {

struct BufInfo {
  uint64_t offset = 0;
  uint64_t size = 0;
};

// Address layout of one legacy model.
struct AddrInfo {
  BufInfo cmd_seg;
  BufInfo in_buf;
  BufInfo out_buf;
  BufInfo data_buf;
  BufInfo const_in_buf;
  BufInfo cpu_tmp_buf;
  BufInfo sram_buf;
  BufInfo weight_seg;
  BufInfo setup_seg;
};

AddrInfo GetAddrInfo(const BNX_FW_INFO_MODEL& finfo);

// Writes output_name + "modelid_" + id + "_test.conf" (TZ100, TZ200) or "_apb.npu" (TZ300,
// TZ500); other targets get nothing. output_name is a folder + prefix, e.g. "out/P_".
// Fails, naming the file, when the script cannot be written.
talvex::Status GenAddrConf(const BNX_FW_INFO_MODEL& finfo, const std::string& output_name,
                           TalvexBNX::NPUTarget target);

// The script texts; addresses are the low 32 bits in lower-case hexadecimal.
std::string Get100TestConfText();
std::string Get200TestConfText(const AddrInfo& addr_info);
std::string GetApbNpuText(const AddrInfo& addr_info, int run_val);

// Each writes its text to path (replaced atomically); fails when it cannot.
talvex::Status Gen100TestConf(const std::string& path);
talvex::Status Gen200TestConf(const AddrInfo& addr_info, const std::string& path);
talvex::Status GenApbNpu(const AddrInfo& addr_info, const std::string& path, int run_val);

// The same for file name prefixes already known (one per container), without opening any
// container.
void PostCleanUpPrefixes(const std::vector<std::string>& names, bool blDeleteAll);

}  // namespace BNXUtils
