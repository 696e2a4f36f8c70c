// The new DRAM layout of combined legacy models (bnx/combine). The layout itself is checked end to
// end through -c (combine.test); here the refusal that a container cannot reach without gigabytes
// of models.
#include "bnx/combine.h"

#include <gtest/gtest.h>

TEST(Relayout, AddressesBeyond32BitsAreRefused) {
  FirmInfo f;
  f.model_id = 4, f.input_start = 0x60000000, f.input_size = 0x10, f.output_start = 0x61000000;
  f.output_size = 0x10, f.dram_start = 0x62000000, f.dram_size = 0x10, f.cmd_start = 0x63000000;
  f.cmd_size = 0xF0000000, f.weight_start = 0x64000000, f.weight_size = 4, f.fw_code_start = 0x65000000;
  f.fw_code_size = 4;
  std::vector<FirmInfo> relaid;
  const talvex::Status st = BNXUtils::RelayoutDDRBuffer({{f}}, relaid);
  EXPECT_TRUE(relaid.empty());
  EXPECT_NE(st.Reason().find("the combined models do not fit the 32-bit address space (model 4"), std::string::npos)
      << st.Reason();
}
