// -E (POST_ENC): an encrypted copy of a container, for a device key number (eFuse) or a
// customer key.
#include <exception>
#include <iostream>

#include "bnx/container.h"
#include "bnx/post_enc.h"
#include "cli/handlers.h"
#include "common/exceptions.h"
#include "common/logger.h"

talvex::Status PostEnc(const CmdArgs& cmd) {
  const std::string path = cmd.FirstPath();
  talvex::Status failure;
  try {
    // Reached through -V the command-line checks did not run.
    if (path.empty()) throw InvalidProgramInput("model_path is empty");
    if (cmd.tv_number == 0 && cmd.customer_key == 0) throw InvalidProgramInput("tv_number or customer_key is empty");
    if (cmd.model_path.size() > 1) {
      TALVEX_LOG(LogCateg::Tool, kWarn, "-E encrypts one container, {}; the other {} given are not read", path,
                 cmd.model_path.size() - 1);
    }
    const BNXUtils::PostEncKeys keys =
        BNXUtils::ReducePostEncKeys(cmd.tv_number, cmd.customer_key, cmd.efuse_key, cmd.key_file);
    BNXUtils::PostEncOptions options;
    options.keep_intermediate = cmd.blKeepAll;
    const BNXUtils::PostEncResult result =
        BNXUtils::PostEncContainer(path, keys, cmd.tv_number, cmd.output_folder, cmd.output_name, options);
    talvex::Report(result.notes);
    // Only a TXM payload has its encrypted file named (kept with -l).
    if (result.txm_payload) {
      for (const auto& kept : result.intermediates) std::cout << kept << std::endl;
    }
    std::cout << "\nTalvex BNX (enc.) has been generated in:\n\n"
              << BNXUtils::GetRealpath(result.output_path) << "\n\n"
              << std::flush;
    return {};
  } catch (const TalvexException& e) {
    failure = e.status();
    failure.Err("Post-encryption of " + path + " stopped");
  } catch (const std::exception& e) {
    // The encoder's key file errors, memory.
    failure = TALVEX_STATUS_ERROR(LogCateg::Tool, "{}: {}", path, e.what());
  }
  return failure.Err("Failed to PostEnc with tv_number: " + std::to_string(cmd.tv_number)).SetCode(-1);
}
