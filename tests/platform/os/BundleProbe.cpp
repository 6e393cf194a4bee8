// Prints the bundle folder that BundlePath() finds for this program, for the test that copies
// the program into a bundle layout.
#include <cstdio>

#include "platform/os/BundleInfo.h"

int main() {
  std::printf("%s", varnix::BundlePath().c_str());
  return 0;
}
