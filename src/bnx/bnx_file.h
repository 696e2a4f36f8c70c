#pragma once
// One opened BNX container. A command opens each container once (one mapping, one
// verification) and hands this object down its chain of steps, which read the header,
// schema major, target and payload in place instead of reopening the file by path.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bnx_generated.h"
#include "common/file_io.h"
#include "common/status.h"

namespace BNXUtils {

class BnxFile {
 public:
  BnxFile() = default;
  BnxFile(BnxFile&&) noexcept = default;
  BnxFile& operator=(BnxFile&&) noexcept = default;
  BnxFile(const BnxFile&) = delete;
  BnxFile& operator=(const BnxFile&) = delete;

  // Maps and verifies path; never throws. When it is not ok(), open_status() says why: a
  // missing or empty file carries no message, an unreadable one or one that does not verify
  // says so in log lines.
  static BnxFile Open(const std::string& path);
  // Open, with every failure said once: a missing or empty file too, and otherwise the reasons
  // of open_status().
  static talvex::Status Open(const std::string& path, BnxFile& file);

  const std::string& path() const { return path_; }
  bool ok() const { return root_ != nullptr; }
  // Something exists at path (it may still be unreadable or invalid).
  bool exists() const { return exists_; }
  // Why the file is not ok(); success when it is.
  const talvex::Status& open_status() const { return status_; }
  // open_status() for reporting it once: later calls return the failure without messages.
  talvex::Status TakeOpenStatus();

  // The whole file (trailer included) and its verified root; null / 0 unless ok().
  const uint8_t* data() const { return ok() ? buf_.data() : nullptr; }
  size_t size() const { return ok() ? buf_.size() : 0; }
  // The open file behind data(), for copying ranges of it file to file; -1 when not ok() or
  // when the file could not be mapped (its bytes were read into memory).
  int fd() const { return ok() ? buf_.fd() : -1; }
  // Drops the mapped pages of a range once read (FileBuffer::ReleasePages).
  void ReleasePages(size_t offset, size_t len) const { buf_.ReleasePages(offset, len); }
  const TalvexBNX::BNXContent* root() const { return root_; }
  // The content is a read-only mapping of the file (not a heap copy).
  bool mapped() const { return buf_.mapped(); }
  // nullptr when not ok() or when the container has no header.
  const TalvexBNX::BNXHeader* header() const { return root_ != nullptr ? root_->header() : nullptr; }

  // Text of one header key (platform, target, crc, tv_number, encryption_mode,
  // compiler_version, toolchain_version, schema_version, schema_version_major, uuid,
  // solution_id, solution_tag); empty without a header or for an unknown key. "target" throws
  // TalvexException for a stored value outside TZ100..TZ600.
  std::string Key(const std::string& key) const;
  // The header has a schema version (and so a major number).
  bool has_major() const { return header() != nullptr && header()->schema_version() != nullptr; }
  // Schema major number; 0 without a schema version.
  uint32_t major() const { return has_major() ? header()->schema_version()->major_num() : 0; }
  // "100" ... "600" (Key("target")).
  std::string target() const { return Key("target"); }
  // Name prefix of the files extracted from it without an output name: "BNX_" + the header
  // CRC as "0x" and upper-case hexadecimal digits. Empty when the file is not ok() or has no
  // header: such a container has no files of its own.
  std::string default_prefix() const;
  // Model descriptions listed in the container; 0 when not ok().
  uint32_t model_count() const;

 private:
  std::string path_;
  bool exists_ = false;
  talvex::FileBuffer buf_;
  const TalvexBNX::BNXContent* root_ = nullptr;
  talvex::Status status_;
};

}  // namespace BNXUtils
