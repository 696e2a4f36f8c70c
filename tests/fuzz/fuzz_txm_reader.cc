// The TXM reader, the repack of what it read, the TXM JSON view (-j) and the TXM model report
// (which also writes each NPU core's buffers into the output folder), and its layout (--diff).
#include "cli/txm_report.h"
#include "common/output_dir.h"
#include "fuzz_common.h"
#include "txm/txm_reader.h"
#include "txm/txm_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TalvexTXM::TXMContentT obj;
  if (TxmReader::Parse(obj, data, size).ok()) TxmWriter().Finish(obj);
  const std::string txm = fuzz::WriteInput("in.txm", data, size);
  fuzz::Run({"-j", txm, "-O", fuzz::OutDir()});
  fuzz::Run({"--diff", txm, txm, "--json"});
  (void)BNXUtils::SetOutputDir(fuzz::OutDir());
  (void)GetTXMModelInfo(txm);
  fuzz::ClearOutput();
  return 0;
}
