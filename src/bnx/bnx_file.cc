#include "bnx/bnx_file.h"

#include <sys/stat.h>

#include "bnx/container.h"
#include "common/logger.h"

namespace BNXUtils {

BnxFile BnxFile::Open(const std::string& path) {
  BnxFile f;
  f.path_ = path;
  struct stat st {};
  f.exists_ = !path.empty() && stat(path.c_str(), &st) == 0;
  f.status_ = LoadVerified(path, VerifyBNXBuffer, LogCateg::Common, "Not a valid BNX file.", f.buf_);
  if (f.status_.ok()) f.root_ = flatbuffers::GetRoot<TalvexBNX::BNXContent>(f.buf_.data());
  return f;
}

talvex::Status BnxFile::Open(const std::string& path, BnxFile& file) {
  file = Open(path);
  if (!file.exists()) return talvex::Status::Error("BNX file not exist: " + path);
  if (file.ok()) return talvex::Status();
  talvex::Status st = file.TakeOpenStatus();
  if (st.messages().empty()) st.Err("Failed to read the file: " + path + " (file is empty)");
  return st.SetCode(-1);
}

talvex::Status BnxFile::TakeOpenStatus() {
  talvex::Status taken = std::move(status_);
  status_ = talvex::Status(taken.code());
  return taken;
}

std::string BnxFile::Key(const std::string& key) const { return ReadBNXKey(root_, key); }

std::string BnxFile::default_prefix() const {
  return header() == nullptr ? std::string() : "BNX_" + GetHexFromUInt(header()->crc());
}

uint32_t BnxFile::model_count() const {
  const auto* infos = root_ != nullptr ? root_->model_info() : nullptr;
  return infos == nullptr ? 0 : infos->size();
}

}  // namespace BNXUtils
