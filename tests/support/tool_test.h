#pragma once
// The common ground of the end-to-end tests: every builder, the runner, the flatc decoder, and a
// fixture that runs the built tool in a fresh folder.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>

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

class ToolTest : public ::testing::Test {
 protected:
  // Runs the tool in the test's folder. Every container a successful run wrote or rewrote must
  // pass --verify: no command may seal damage, or its own mistakes, into a container.
  RunResult Tool(const Strings& args, const Strings& env = {}, const std::string& bin = TALVEX_BIN) {
    const std::map<std::string, std::string> before = Containers();
    RunResult r = RunTool(bin, args, dir_.path(), env);
    if (r.status != 0) return r;
    for (const auto& [path, stamp] : Containers()) {
      const auto was = before.find(path);
      if (was != before.end() && was->second == stamp) continue;
      const RunResult v = RunTool(TALVEX_BIN, {"--verify", path}, dir_.path());
      EXPECT_EQ(v.status, 0) << "written by: " << Joined(args) << "\n" << v.out << v.err;
    }
    return r;
  }
  std::string Write(const std::string& name, const Bytes& bytes) {
    WriteBytes(dir_ / name, bytes);
    return dir_ / name;
  }
  // A written container must be sealed; flatc decodes it with every field.
  Json::Value Decode(const std::string& path) {
    EXPECT_TRUE(Sealed(ReadBytes(path))) << path;
    return DecodeBnxWithFlatc(path, TALVEX_FLATC, TALVEX_SCHEMA_DIR);
  }

  // Every *.bnx file under the test's folder, with what tells a rewritten file apart.
  std::map<std::string, std::string> Containers() const {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir_.path(), ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
      struct stat st {};
      const std::string path = it->path().string();
      if (it->path().extension() != ".bnx" || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      found[path] = std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
                    std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    }
    return found;
  }
  static std::string Joined(const Strings& args) {
    std::string text;
    for (const std::string& a : args) text += a + " ";
    return text;
  }

  TempDir dir_;
  std::string root_ = RealPath(dir_.path()), out_ = root_ + "/out";  // canonical, as the tool prints them
};

}  // namespace testsupport
