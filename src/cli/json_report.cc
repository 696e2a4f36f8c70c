#include "cli/json_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include <iostream>
#include <memory>
#include <optional>

#include "bnx/container.h"
#include "common/exceptions.h"
#include "common/logger.h"
#include "common/strings.h"

Json::Value HeaderKeyJson(const BNXUtils::BnxFile& bnx, const std::string& key) {
  const TalvexBNX::BNXHeader* h = bnx.header();
  const BNXUtils::HeaderKey* k = BNXUtils::FindHeaderKey(key);
  if (h == nullptr || k == nullptr) return Json::Value();
  if (k->number != nullptr) {
    const std::optional<uint32_t> n = k->number(*h);
    return n ? Json::Value(*n) : Json::Value();
  }
  try {
    return Json::Value(k->text(*h));
  } catch (const TalvexException& e) {
    talvex::Report(e.status());
    return Json::Value();
  }
}

Json::Value HeaderJson(const BNXUtils::BnxFile& bnx) {
  Json::Value out(Json::objectValue);
  for (const BNXUtils::HeaderKey& k : BNXUtils::HeaderKeys()) out[k.name] = HeaderKeyJson(bnx, k.name);
  return out;
}

Json::Value ModelJson(const BNXUtils::BnxFile& bnx, int position) {
  const auto* infos = bnx.root() != nullptr ? bnx.root()->model_info() : nullptr;
  if (infos == nullptr || position < 0 || static_cast<uint32_t>(position) >= infos->size()) return Json::Value();
  const TalvexBNX::ModelInfo* m = infos->Get(static_cast<uint32_t>(position));
  Json::Value out(Json::objectValue);
  out["position"] = position;
  out["id"] = m == nullptr ? 0 : m->id();
  out["version"] = m == nullptr || m->version() == nullptr ? "" : m->version()->str();
  out["name"] = m == nullptr || m->name() == nullptr ? "" : m->name()->str();
  return out;
}

Json::Value PayloadJson(const BNXUtils::BnxFile& bnx) {
  const auto* bin = bnx.root() != nullptr ? bnx.root()->model_bin() : nullptr;
  Json::Value out(Json::objectValue);
  const bool present = bin != nullptr && bin->all_models() != nullptr;
  out["kind"] = !present ? "none" : (bnx.major() == 2 ? "txm" : "legacy");
  out["size"] = present ? bin->all_models()->size() : 0u;
  out["fw_info_size"] = bin != nullptr && bin->fw_info() != nullptr ? bin->fw_info()->size() : 0u;
  return out;
}

Json::Value WrittenFilesJson(const std::vector<std::string>& paths) {
  Json::Value files(Json::arrayValue);
  for (const std::string& path : paths) {
    struct stat st {};
    uint32_t crc = 0;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !BNXUtils::ComputeFileCRC(path, &crc).ok()) continue;
    Json::Value f(Json::objectValue);
    f["path"] = BNXUtils::GetRealpath(path);
    f["size"] = static_cast<Json::UInt64>(st.st_size);
    f["crc32"] = crc;
    files.append(f);
  }
  Json::Value doc(Json::objectValue);
  doc["files"] = files;
  return doc;
}

Json::Value VerifyJson(const std::string& path, const std::vector<BNXUtils::VerifyCheck>& checks) {
  Json::Value out(Json::objectValue);
  out["file"] = path;
  bool ok = !checks.empty();
  Json::Value list(Json::arrayValue);
  for (const BNXUtils::VerifyCheck& c : checks) {
    Json::Value j(Json::objectValue);
    j["name"] = c.name;
    j["ok"] = c.ok;
    j["expected"] = c.expected;
    j["found"] = c.found;
    list.append(j);
    ok = ok && c.ok;
  }
  out["ok"] = ok;
  out["checks"] = list;
  return out;
}

void PrintJson(Json::Value doc) {
  // Bumped when a document changes so that a reader of the old one would misread it.
  doc["format_version"] = kJsonFormatVersion;
  Json::StreamWriterBuilder b;
  b["indentation"] = "  ";
  b["emitUTF8"] = true;
  // Container texts and paths are bytes, not always UTF-8, and the writer copies them as they are.
  // The document's own syntax is ASCII, so mending the whole text mends each string.
  std::cout << ToValidUtf8(Json::writeString(b, doc)) << std::endl;
}

SilencedStdout::SilencedStdout() : saved_(::dup(STDOUT_FILENO)) {
  std::cout.flush();
  std::fflush(stdout);
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved_ >= 0 && null >= 0) ::dup2(null, STDOUT_FILENO);
  if (null >= 0) ::close(null);
}

SilencedStdout::~SilencedStdout() {
  std::cout.flush();
  std::fflush(stdout);
  if (saved_ >= 0) {
    ::dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
  }
}
