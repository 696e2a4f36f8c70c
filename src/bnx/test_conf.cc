#include "bnx/test_conf.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include <fmt/format.h>

#include "bnx/bnx_file.h"
#include "bnx/container.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"

namespace BNXUtils {
namespace {

// Scripts hold 32-bit device addresses.
uint32_t Low32(uint64_t v) { return static_cast<uint32_t>(v); }

talvex::Status WriteText(const std::string& path, const std::string& text) {
  return talvex::WriteNewFile(path, text.data(), text.size());
}

std::string RealFolder(const std::string& folder) {
  char buf[PATH_MAX + 1] = {};
  return realpath(folder.empty() ? "." : folder.c_str(), buf) == nullptr ? "" : std::string(buf);
}

// Whether files named prefix + suffix (suffix without "/") lie in the output folder or below.
bool InsideFolder(const std::string& prefix, const std::string& root) {
  if (root.empty()) return false;
  const size_t slash = prefix.rfind('/');
  const std::string folder = RealFolder(slash == std::string::npos ? "" : prefix.substr(0, slash + 1));
  if (folder.empty()) return false;  // no such folder: nothing of ours can be there
  if (root == "/" || folder == root) return true;
  return folder.size() > root.size() && folder.compare(0, root.size(), root) == 0 &&
         folder[root.size()] == '/';
}

// Missing files and failures are of no concern to a clean-up; directories are never removed.
void RemoveFile(const std::string& path) { unlink(path.c_str()); }

// Model ids of the complete records of a prefixed fw_info.bin (whatever is really there).
std::vector<uint32_t> ReadModelIds(const std::string& fw_info_path) {
  std::vector<uint32_t> ids;
  const talvex::FileBuffer fb = talvex::FileBuffer::Load(fw_info_path);
  if (!fb.ok()) return ids;
  for (const BNX_FW_INFO_MODEL& rec : ReadFWInfoRecords(fb.data(), fb.size())) ids.push_back(rec.model_id);
  return ids;
}

}  // namespace

AddrInfo GetAddrInfo(const BNX_FW_INFO_MODEL& finfo) {
  AddrInfo a;
  a.cmd_seg = {finfo.addr_cmd, finfo.size_cmd};
  a.in_buf = {finfo.addr_in, finfo.size_in};
  a.out_buf = {finfo.addr_out, finfo.size_out};
  a.data_buf = {finfo.addr_wbuf, finfo.size_wbuf};
  a.const_in_buf = {finfo.addr_in, finfo.size_in};
  a.cpu_tmp_buf = {0, 0};
  a.sram_buf = {0, 0};
  a.weight_seg = {finfo.addr_wt, finfo.size_wt};
  a.setup_seg = {finfo.addr_fw, finfo.size_fw};
  return a;
}

talvex::Status GenAddrConf(const BNX_FW_INFO_MODEL& finfo, const std::string& output_name,
                           TalvexBNX::NPUTarget target) {
  const AddrInfo info = GetAddrInfo(finfo);
  const std::string base = output_name + "modelid_" + std::to_string(finfo.model_id);
  switch (target) {
    case TalvexBNX::NPUTarget::TZ200: return Gen200TestConf(info, base + "_test.conf");
    case TalvexBNX::NPUTarget::TZ100: return Gen100TestConf(base + "_test.conf");
    case TalvexBNX::NPUTarget::TZ300:
    case TalvexBNX::NPUTarget::TZ500: return GenApbNpu(info, base + "_apb.npu", 1);
    default: return talvex::Status();
  }
}

std::string Get100TestConfText() { return "BUS_IDLE_TIMEOUT  10000\nSIZE_SYS_SRAM auto\n"; }

std::string Get200TestConfText(const AddrInfo& a) {
  std::string s = "+ENABLE_INST_OPT 1\n";
  s += "+CODE_BASE   0x0\n";
  s += fmt::format("+RDMA0_BASE  0x{:x}\n", Low32(a.data_buf.offset));
  s += fmt::format("+WDMA0_BASE  0x{:x}\n", Low32(a.data_buf.offset));
  s += fmt::format("+RDMA1_BASE  0x{:x}\n", Low32(a.out_buf.offset));
  s += fmt::format("+WDMA1_BASE  0x{:x}\n", Low32(a.out_buf.offset));
  s += fmt::format("+RDMA2_BASE  0x{:x}\n", Low32(a.in_buf.offset));
  s += fmt::format("+WDMA2_BASE  0x{:x}\n", Low32(a.weight_seg.offset));
  s += fmt::format("+GETW_BASE   0x{:x}\n\n", Low32(a.weight_seg.offset));
  return s;
}

std::string GetApbNpuText(const AddrInfo& a, int run_val) {
  std::string s;
  s += fmt::format("W NPU_RDMA0_SRC4 0x{:x}\n", Low32(a.data_buf.offset));
  s += fmt::format("W NPU_WDMA0_DST4 0x{:x}\n", Low32(a.data_buf.offset));
  s += fmt::format("W NPU_RDMA1_SRC4 0x{:x}\n", Low32(a.out_buf.offset));
  s += fmt::format("W NPU_WDMA1_DST4 0x{:x}\n", Low32(a.out_buf.offset));
  s += fmt::format("W NPU_RDMA2_SRC4 0x{:x}\n", Low32(a.in_buf.offset));
  s += fmt::format("W NPU_WDMA2_DST4 0x{:x}\n", Low32(a.weight_seg.offset));
  s += fmt::format("W NPU_RDMA3_SRC4 0x{:x}\n", Low32(a.const_in_buf.offset));
  s += fmt::format("W NPU_GETW4 0x{:x}\n", Low32(a.weight_seg.offset));
  s += fmt::format("W NPU_CODE 0x{:x}\n\n\n", Low32(a.cmd_seg.offset));
  s += "W NPU_CLEN $NPU_CODE_LENGTH\n";
  s += "W NPU_INTEN 0xffffffff\n";
  s += fmt::format("W NPU_RUN 0x{:x}\n", static_cast<uint32_t>(run_val));
  s += "WAIT\n";
  return s;
}

talvex::Status Gen100TestConf(const std::string& path) { return WriteText(path, Get100TestConfText()); }

talvex::Status Gen200TestConf(const AddrInfo& addr_info, const std::string& path) {
  return WriteText(path, Get200TestConfText(addr_info));
}

talvex::Status GenApbNpu(const AddrInfo& addr_info, const std::string& path, int run_val) {
  return WriteText(path, GetApbNpuText(addr_info, run_val));
}

void PostCleanUpPrefixes(const std::vector<std::string>& names, bool blDeleteAll) {
  static const char* const kModelSuffixes[] = {"_command.bin", "_weight.bin", "_setup.bin",
                                               "_setup.bin.json", "_apb.npu", "_test.conf"};
  const std::string out_dir = GetOutputDir();
  const std::string root = RealFolder(out_dir);
  for (const std::string& name : names) {
    const std::string prefix = out_dir + name;
    // A name such as "../x" would reach beyond the output folder.
    if (!InsideFolder(prefix, root)) continue;

    for (uint32_t id : ReadModelIds(prefix + "_fw_info.bin")) {
      const std::string stem = prefix + "_modelid_" + std::to_string(id);
      for (const char* suffix : kModelSuffixes) RemoveFile(stem + suffix);
    }
    if (blDeleteAll) {
      RemoveFile(prefix + "_fw_info.bin");
      RemoveFile(prefix + "_all_models.bin");
    }
  }
  if (blDeleteAll) {
    RemoveFile(out_dir + "all_models.bin");
    RemoveFile(out_dir + "fw_info.bin");
    RemoveFile(out_dir + "fw_info.txt");
  }
}

}  // namespace BNXUtils
