// The modules of the shipped bundle, in start-up order (shutdown runs in reverse).
#include "platform/vcl/Forms.h"
#include "plugin/Manager.h"
#include "plugin/PluginMain.h"
#include "refine/Calculate.h"
#include "settings/VerInfo.h"
#include "ui/FormAbout.h"

namespace varnix {

namespace {

// The calculation thread reports the exceptions that escape a run through the host bridge.
void InstallCalculationTrace() { SetCalculateExceptionHook(ShowExceptionTrace); }
void RemoveCalculationTrace() { SetCalculateExceptionHook(nullptr); }

}  // namespace

const TPluginModule PluginModules[] = {
    // First in, last out: every form and the application object go when everything else has.
    {"UI library", nullptr, FinalizeForms},
    {"bundle location", InitializeBundleLocation, nullptr},
    {"version information", InitializeVerInfo, FinalizeVerInfo},
    {"host bridge", InitializeManager, FinalizeManager},
    {"calculation thread", InstallCalculationTrace, RemoveCalculationTrace},
    {"about box", InitializeFormAbout, FinalizeFormAbout},
};

const int32_t PluginModuleCount = sizeof(PluginModules) / sizeof(PluginModules[0]);

}  // namespace varnix
