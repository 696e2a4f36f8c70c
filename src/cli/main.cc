#include <exception>
#include <iostream>

#include "cli/driver.h"
#include "common/exceptions.h"
#include "common/logger.h"

int main(int argc, char** argv) {
  // Conditions that stop an operation surface here as exceptions; end in order, never abort.
  try {
    return RunMain(argc, argv);
  } catch (const TalvexException& e) {
    talvex::Report(e.status());
    const int code = HandleTalvexException(e);
    return code != 0 ? code : 1;
  } catch (const std::exception& e) {
    std::cerr << "error: " << e.what() << std::endl;
    return 1;
  } catch (...) {
    std::cerr << "error: unexpected failure" << std::endl;
    return 1;
  }
}
