#pragma once
// Every integrity layer of one container, checked without writing anything: the file's CRC
// trailer, the header's crc and uuid against the payload, and the payload itself (the CRC
// section and records of fw_info.bin and each model's setup form, or the TXM and its alignment).
#include <string>
#include <vector>

namespace BNXUtils {

struct VerifyCheck {
  std::string name;      // "trailer crc", "header crc", "model #1 crc", ...
  bool ok = false;
  std::string expected;  // empty when the check has no value to compare
  std::string found;     // what the file holds, or why the check failed
};

// The checks of the container at path, in the order they were made. A file that cannot be
// read or is not a container yields the checks it got through and one failed check saying why.
std::vector<VerifyCheck> VerifyContainer(const std::string& path);

}  // namespace BNXUtils
