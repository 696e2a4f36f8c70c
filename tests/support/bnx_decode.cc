#include "support/bnx_decode.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/legacy_builder.h"
#include "support/run.h"

namespace testsupport {

Json::Value DecodeBnxWithFlatc(const std::string& bnx_path, const std::string& flatc, const std::string& schema_dir) {
  std::vector<unsigned char> bytes = ReadBytes(bnx_path);
  if (bytes.size() < 4) return Json::Value();
  bytes.resize(bytes.size() - 4);
  TempDir dir;
  WriteBytes(dir / "content.bin", bytes);
  RunResult r = Run({flatc, "--json", "--raw-binary", "--strict-json", "--defaults-json", "-o", dir.path(),
                     schema_dir + "/bnx.fbs", "--", dir / "content.bin"});
  if (r.status != 0) return Json::Value();
  Json::Value root;
  Json::CharReaderBuilder builder;
  std::string errors;
  std::istringstream in(ReadText(dir / "content.json"));
  if (!Json::parseFromStream(builder, in, &root, &errors)) return Json::Value();
  return root;
}

bool Sealed(const std::vector<uint8_t>& file) { return file.size() % 32 == 4 && Crc32(file) == 0x2144DF1Cu; }

std::vector<uint8_t> JsonBytes(const Json::Value& array) {
  std::vector<uint8_t> out;
  for (const auto& v : array) out.push_back(static_cast<uint8_t>(v.asUInt()));
  return out;
}

}  // namespace testsupport
