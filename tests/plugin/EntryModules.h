// Knobs and the log of the entry-point test program's module table.
#pragma once

#include <string>
#include <vector>

namespace varnix::test {

// "+name" when a module started, "-name" when it stopped.
std::vector<std::string>& ModuleLog();
// Makes the forms module's start-up raise.
extern bool FailFormsModule;

}  // namespace varnix::test
