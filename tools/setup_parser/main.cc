// talvex_setup_parser: writes the JSON view of one setup.bin (raw or flatbuffer form) to
// SETUP_BIN + ".json". Extraction runs it once per extracted setup binary and trusts the
// exit status, so every failure must exit non-zero.
#include <cstring>
#include <iostream>
#include <string>

#include <json/json.h>

#include "common/file_io.h"
#include "common/format_ids.h"
#include "common/logger.h"
#include "setup/setup_func.h"
#include "setup/setup_recognise.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr const char* kProg = "talvex_setup_parser";

const char kUsage[] =
    "Usage: talvex_setup_parser SETUP_BIN [-pTARGET] [-j]\n"
    "\n"
    "Writes the JSON view of SETUP_BIN, a raw or flatbuffer setup.bin, to SETUP_BIN.json\n"
    "(the file is replaced).\n"
    "\n"
    "Options:\n"
    "  -pTARGET, -p TARGET  target of the model: 100, 200, 300, 400, 500 or 600. A raw\n"
    "                       setup.bin is read with the first-generation header when TARGET\n"
    "                       is 100, else with the second-generation header. A flatbuffer\n"
    "                       setup.bin does not need it.\n"
    "  -j                   write JSON (the default and only output form)\n"
    "  -h, --help           show this help and exit\n"
    "\n"
    "Exit status: 0 when SETUP_BIN.json was written; 1 when SETUP_BIN is missing,\n"
    "unreadable, of neither form or cannot be converted, or the JSON file cannot be\n"
    "written; 2 for bad arguments.\n";

struct Args {
  std::string setup_path;
  std::string target;
  bool help = false;
};

bool KnownTarget(const std::string& t) { return talvex::TargetIndex(t) >= 0; }

// false with *error set on bad arguments.
bool ParseArgs(int argc, char** argv, Args& args, std::string* error) {
  bool have_target = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      args.help = true;
    } else if (a == "-j") {
      // JSON is the only form; the option stays for the command lines that name it.
    } else if (a.compare(0, 2, "-p") == 0) {
      if (have_target) {
        *error = "-p given more than once";
        return false;
      }
      std::string t = a.substr(2);
      if (t.empty()) {
        if (i + 1 >= argc) {
          *error = "-p needs a target";
          return false;
        }
        t = argv[++i];
      }
      if (!KnownTarget(t)) {
        *error = "unknown target '" + t + "' (expected 100, 200, 300, 400, 500 or 600)";
        return false;
      }
      args.target = t;
      have_target = true;
    } else if (a.size() > 1 && a[0] == '-') {
      *error = "unknown option '" + a + "'";
      return false;
    } else if (!args.setup_path.empty()) {
      *error = "more than one setup.bin given";
      return false;
    } else {
      args.setup_path = a;
    }
  }
  if (!args.help && args.setup_path.empty()) {
    *error = "no setup.bin given";
    return false;
  }
  return true;
}

int Fail(const std::string& message) {
  std::cerr << kProg << ": " << message << std::endl;
  return kExitFailure;
}

}  // namespace

int main(int argc, char** argv) {
  Args args;
  std::string error;
  if (!ParseArgs(argc, argv, args, &error)) {
    std::cerr << kProg << ": " << error << "\n" << kUsage;
    return kExitUsage;
  }
  if (args.help) {
    std::cout << kUsage;
    return 0;
  }

  const std::string& path = args.setup_path;
  const talvex::FileBuffer bin = talvex::FileBuffer::Load(path);
  if (!bin.ok()) {
    return Fail("cannot read " + path + ": " + talvex::ReadStatusText(bin.status()));
  }

  Json::Value json;
  if (Setup::IsRawSetup(bin.data(), bin.size())) {
    if (talvex::Report(Setup::RawToJson(bin.data(), bin.size(), json, args.target == "100")) != 0) {
      return Fail("cannot convert the raw setup.bin " + path);
    }
  } else if (Setup::IsFBSetup(bin.data(), bin.size())) {
    if (talvex::Report(Setup::FBToJson(bin.data(), bin.size(), json)) != 0) {
      return Fail("cannot convert the flatbuffer setup.bin " + path);
    }
  } else {
    return Fail(path + " is neither a raw nor a flatbuffer setup.bin");
  }

  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  const std::string text = Json::writeString(builder, json) + "\n";
  const std::string out = path + ".json";
  const talvex::Status written = talvex::WriteFileAtomic(out, text.data(), text.size());
  if (!written.ok()) return Fail("cannot write " + out + ": " + written.Reason());
  return 0;
}
