// The TXM reader, the repack of what it read, and the TXM JSON view (-j).
#include "fuzz_common.h"
#include "txm/txm_reader.h"
#include "txm/txm_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TalvexTXM::TXMContentT obj;
  if (TxmReader::Parse(obj, data, size).ok()) TxmWriter().Finish(obj);
  const std::string txm = fuzz::WriteInput("in.txm", data, size);
  fuzz::Run({"-j", txm, "-O", fuzz::OutDir()});
  return 0;
}
