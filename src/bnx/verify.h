#pragma once
// Every integrity layer of one container, checked without writing anything: the file's CRC
// trailer, the header's crc and uuid against the payload, and the payload itself (the CRC
// section and records of fw_info.bin and each model's setup form, or the TXM and its alignment).
// The same checks guard every command that takes a container apart or rewrites it, so that
// no command turns a damaged container into files or a new container that look sound.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bnx/bnx_file.h"
#include "common/status.h"

namespace BNXUtils {

struct VerifyCheck {
  std::string name;      // "trailer crc", "header crc", "model #1 crc", ...
  bool ok = false;
  std::string expected;  // empty when the check has no value to compare
  std::string found;     // what the file holds, or why the check failed
};

// CRCs of ranges of one file, taken by a command while it read those bytes anyway (a copy
// observing each piece), so that the checks need not read them a second time.
class RangeCrcs {
 public:
  void Record(uint64_t offset, uint64_t len, uint32_t crc);
  // The CRC of [offset, offset + len) when recorded ranges cover it exactly, end to end.
  bool Find(uint64_t offset, uint64_t len, uint32_t* crc) const;

  // Records, from the pieces of a copy of the file from offset start on, one range between
  // each pair of consecutive cut offsets (cuts sorted, the first one at start at the latest,
  // the last one where the copy ends). Feed each piece in order, then call Finish.
  void BeginPieces(uint64_t start, std::vector<uint64_t> cuts);
  void Feed(const uint8_t* data, size_t n);
  void Finish();

 private:
  std::map<uint64_t, std::pair<uint64_t, uint32_t>> ranges_;  // offset -> (length, crc)
  std::vector<uint64_t> cuts_;
  size_t next_cut_ = 0;
  uint64_t pos_ = 0;
  uint64_t range_start_ = 0;
  uint32_t range_crc_ = 0;
};

// The checks of the container at path, in the order they were made. A file that cannot be
// read or is not a container yields the checks it got through and one failed check saying why.
std::vector<VerifyCheck> VerifyContainer(const std::string& path);
// The same on an opened container; ranges found in known are not read again.
std::vector<VerifyCheck> VerifyContainer(const BnxFile& file, const RangeCrcs* known = nullptr);

// "<path>: <check>: ok" or "<path>: <check>: FAILED: expected <e>, found <f>".
std::string CheckLine(const std::string& path, const VerifyCheck& check);

// How a command that uses a container treats one that fails its checks.
enum class Damaged { kRefuse, kWarn };

// Ok when every check holds. Otherwise, with kRefuse, a failure holding one line per failed
// check as --verify prints it, then a log line naming the file; with kWarn, success carrying
// those lines as warnings.
talvex::Status CheckForUse(const BnxFile& file, const std::vector<VerifyCheck>& checks,
                           Damaged damaged = Damaged::kRefuse);
// The checks run on file first (ranges in known not read again).
talvex::Status CheckForUse(const BnxFile& file, Damaged damaged = Damaged::kRefuse,
                           const RangeCrcs* known = nullptr);

// The one way a command opens a container it will take apart or rewrite: opened and verified
// (BnxFile::Open), then checked (CheckForUse).
talvex::Status OpenForUse(const std::string& path, BnxFile& file);

}  // namespace BNXUtils
