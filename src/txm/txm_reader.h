#pragma once
// Reads TXM files into the object tree.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/status.h"

#include "txm_generated.h"

class TxmReader {
 public:
  // Result codes of Parse.
  static constexpr int kOk = 0;
  static constexpr int kEmptyFile = 100;  // file empty, missing or cannot be sized
  static constexpr int kShortRead = 101;  // file could not be read whole
  static constexpr int kInvalid = 102;    // verification failed

  // Verifies data[0..size) as a TXMContent buffer and unpacks it into obj (which is
  // replaced as a whole). Code 0, or 102 with a line saying so (obj untouched).
  static talvex::Status Parse(TalvexTXM::TXMContentT& obj, const uint8_t* data, size_t size);
  // Reads the whole file, then as above. 100: empty or missing (no message); 101:
  // unreadable (a line naming it); otherwise the buffer form's result.
  static talvex::Status Parse(TalvexTXM::TXMContentT& obj, const std::string& path);
  // Reads union tags without a value in one unpacked model as "no union", as Parse does for
  // every model, so the model can be packed again.
  static void ClearEmptyUnions(TalvexTXM::ModelT& model);
};
