// The setup parser program's entry point (its main, renamed when built for fuzzing).
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_common.h"

int SetupParserMain(int argc, char** argv);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string setup = fuzz::WriteInput("setup.bin", data, size);
  for (const char* target : {"-p100", "-p200"}) {
    std::vector<std::string> words = {"talvex_setup_parser", setup, target, "-j"};
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    (void)SetupParserMain(static_cast<int>(words.size()), argv.data());
    std::remove((setup + ".json").c_str());
  }
  return 0;
}
