#pragma once
// The common ground of the end-to-end tests: every builder, the runner, the flatc decoder, and a
// fixture that runs the built tool in a fresh folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/bnx_builder.h"
#include "support/bnx_decode.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

namespace testsupport {

using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

// A legacy container (target 0 TZ100 ... 4 TZ500) around pair: schema major 0 for TZ100, else 1.
inline SampleBnx LegacyBnx(int32_t target, const LegacyPair& pair) {
  SampleBnx s;
  s.target = target, s.major = target == 0 ? 0 : 1, s.fw_info = pair.fw_info, s.all_models = pair.all_models;
  return s;
}

class ToolTest : public ::testing::Test {
 protected:
  RunResult Tool(const Strings& args, const Strings& env = {}) { return RunTool(TALVEX_BIN, args, dir_.path(), env); }
  std::string Write(const std::string& name, const Bytes& bytes) {
    WriteBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  // A written container must be sealed; flatc decodes it with every field.
  Json::Value Decode(const std::string& path) {
    EXPECT_TRUE(Sealed(ReadBytes(path))) << path;
    return DecodeBnxWithFlatc(path, TALVEX_FLATC, TALVEX_SCHEMA_DIR);
  }

  TempDir dir_;
  std::string root_ = RealPath(dir_.path()), out_ = root_ + "/out";  // canonical, as the tool prints them
};

}  // namespace testsupport
