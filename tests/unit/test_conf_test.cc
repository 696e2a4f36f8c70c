// Device test configurations of legacy models, per target (the cases show only the TZ100 text).
#include "bnx/test_conf.h"

#include <gtest/gtest.h>

#include <set>

#include "common/output_dir.h"
#include "support/legacy_builder.h"
#include "support/run.h"

namespace {

using namespace testsupport;
using Names = std::set<std::string>;

Names FilesIn(const std::string& dir) {
  const std::vector<std::string> v = DirEntries(dir);
  return Names(v.begin(), v.end());
}

TEST(TestConf, TargetsChooseTheScript) {
  // The TZ200 example layout: working buffer, output, input and weight as the device sees them.
  const BNX_FW_INFO_MODEL rec = {4000000000u, 3, 0x60000000, 0x24c00, 0x60200000, 0x310, 0x60100000, 0x8000,
                                 0x62000000,  0x1000, 0x61000000, 0x2000, 0x63000000, 0x120};
  const std::string tz200 =
      "+ENABLE_INST_OPT 1\n+CODE_BASE   0x0\n+RDMA0_BASE  0x60100000\n+WDMA0_BASE  0x60100000\n"
      "+RDMA1_BASE  0x60200000\n+WDMA1_BASE  0x60200000\n+RDMA2_BASE  0x60000000\n+WDMA2_BASE  0x61000000\n"
      "+GETW_BASE   0x61000000\n\n";
  const std::string apb =
      "W NPU_RDMA0_SRC4 0x60100000\nW NPU_WDMA0_DST4 0x60100000\nW NPU_RDMA1_SRC4 0x60200000\n"
      "W NPU_WDMA1_DST4 0x60200000\nW NPU_RDMA2_SRC4 0x60000000\nW NPU_WDMA2_DST4 0x61000000\n"
      "W NPU_RDMA3_SRC4 0x60000000\nW NPU_GETW4 0x61000000\nW NPU_CODE 0x62000000\n\n\n"
      "W NPU_CLEN $NPU_CODE_LENGTH\nW NPU_INTEN 0xffffffff\nW NPU_RUN 0x1\nWAIT\n";
  using T = TalvexBNX::NPUTarget;
  for (const auto& [target, suffix, text] : std::vector<std::tuple<T, std::string, std::string>>{
           {T::TZ100, "_test.conf", "BUS_IDLE_TIMEOUT  10000\nSIZE_SYS_SRAM auto\n"}, {T::TZ200, "_test.conf", tz200},
           {T::TZ300, "_apb.npu", apb}, {T::TZ500, "_apb.npu", apb}, {T::TZ400, "", ""}, {T::TZ600, "", ""}}) {
    TempDir d;
    EXPECT_TRUE(BNXUtils::GenAddrConf(rec, d / "P_", target).ok());
    const std::string name = "P_modelid_4000000000" + suffix;
    EXPECT_EQ(FilesIn(d.path()), suffix.empty() ? Names{} : Names{name}) << name;
    if (!suffix.empty()) EXPECT_EQ(ReadText(d / name), text);
  }
}

}  // namespace
