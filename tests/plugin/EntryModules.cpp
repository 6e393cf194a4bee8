// The module table of the entry-point test program: the same start-up machinery as a bundle,
// with modules that log what they do.
#include "plugin/EntryModules.h"

#include "plugin/Manager.h"
#include "plugin/PluginMain.h"
#include "plugin/ProbeForms.h"

namespace varnix {

namespace test {

bool FailFormsModule = false;

// Kept on the heap and never freed: the modules may still log while static objects are being
// destroyed at exit.
std::vector<std::string>& ModuleLog() {
  static auto* Log = new std::vector<std::string>();
  return *Log;
}

}  // namespace test

namespace {

void StartUi() { Application->SetBackend(bkHeadless); }
void StartBridge() {
  test::ModuleLog().push_back("+bridge");
  InitializeManager();
}
void StopBridge() {
  test::ModuleLog().push_back("-bridge");
  FinalizeManager();
}
void StartForms() {
  if (test::FailFormsModule) throw Exception("forms refused");
  test::ModuleLog().push_back("+forms");
  PluginManager()->RegisterMainForm(test::ProbeMainFormClass());
  PluginManager()->RegisterAboutForm(test::ProbeAboutFormClass());
}
void StopForms() { test::ModuleLog().push_back("-forms"); }

}  // namespace

const TPluginModule PluginModules[] = {
    {"UI library", StartUi, FinalizeForms},
    {"host bridge", StartBridge, StopBridge},
    {"forms", StartForms, StopForms},
};
const int32_t PluginModuleCount = 3;

}  // namespace varnix
