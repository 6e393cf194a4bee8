// The modules of the test bundle: the shipped bundle's, with the fixture main form in place of the
// editor.
#include "platform/vcl/Forms.h"
#include "plugin/Manager.h"
#include "plugin/PluginMain.h"
#include "refine/Calculate.h"
#include "settings/VerInfo.h"
#include "ui/FormAbout.h"

namespace varnix {

void InitializeFixtureMainForm();
void FinalizeFixtureMainForm();

namespace {

void InstallCalculationTrace() { SetCalculateExceptionHook(ShowExceptionTrace); }
void RemoveCalculationTrace() { SetCalculateExceptionHook(nullptr); }

}  // namespace

const TPluginModule PluginModules[] = {
    {"UI library", nullptr, FinalizeForms},
    {"bundle location", InitializeBundleLocation, nullptr},
    {"version information", InitializeVerInfo, FinalizeVerInfo},
    {"host bridge", InitializeManager, FinalizeManager},
    {"calculation thread", InstallCalculationTrace, RemoveCalculationTrace},
    {"about box", InitializeFormAbout, FinalizeFormAbout},
    {"fixture main form", InitializeFixtureMainForm, FinalizeFixtureMainForm},
};

const int32_t PluginModuleCount = sizeof(PluginModules) / sizeof(PluginModules[0]);

}  // namespace varnix
