#include "plugin/PluginMain.h"

#include <dlfcn.h>

#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "platform/os/BundleInfo.h"
#include "platform/vcl/Graphics.h"
#include "plugin/Manager.h"

namespace varnix {

namespace {

// How many modules of the table have started; shutdown finalises exactly these.
int32_t StartedModules = 0;

// Any exception that escaped the manager becomes a report and the manager's current result;
// nothing may unwind into the host.
int32_t ReportForeignException(Exception& E) {
  try {
    if (TPluginManager* M = PluginManager()) {
      M->HandleException(E);
      return M->ResultCode;
    }
    ShowExceptionTrace(E);
  } catch (...) {
  }
  return paramErr;
}

void Dispatch(TPluginType Type, int16_t Selector, void* ParamBlock, int16_t* Result) noexcept {
  int32_t Code = paramErr;
  try {
    if (TPluginManager* M = PluginManager()) Code = M->Execute(Type, Selector, ParamBlock);
  } catch (Exception& E) {
    Code = ReportForeignException(E);
  } catch (const std::bad_alloc&) {
    EOutOfMemory E;
    Code = ReportForeignException(E);
  } catch (const std::exception& Foreign) {
    Exception E(Foreign.what());
    Code = ReportForeignException(E);
  } catch (...) {
    Exception E("unknown exception");
    Code = ReportForeignException(E);
  }
  // The host's result is 16-bit: the low half of the code.
  if (Result) *Result = static_cast<int16_t>(Code);
}

__attribute__((constructor)) void LoadPlugin() { InitializePluginModules(); }

__attribute__((destructor)) void UnloadPlugin() { FinalizePluginModules(); }

}  // namespace

bool InitializePluginModules() {
  for (int32_t i = StartedModules; i < PluginModuleCount; ++i) {
    const TPluginModule& Module = PluginModules[i];
    try {
      if (Module.Initialize) Module.Initialize();
    } catch (Exception& E) {
      std::printf("Varnix could not start its %s module: %s\n", Module.Name, E.Message().c_str());
      std::fflush(stdout);
      FinalizePluginModules();
      return false;
    } catch (...) {
      std::printf("Varnix could not start its %s module\n", Module.Name);
      std::fflush(stdout);
      FinalizePluginModules();
      return false;
    }
    StartedModules = i + 1;
  }
  return true;
}

void FinalizePluginModules() {
  while (StartedModules > 0) {
    const TPluginModule& Module = PluginModules[--StartedModules];
    try {
      if (Module.Finalize) Module.Finalize();
    } catch (...) {
      // Unloading goes on: the host is about to unmap the library.
    }
  }
}

const char* PluginBundleFolder() {
  static std::string Folder;
  if (Folder.empty()) {
    Dl_info Info;
    if (dladdr(reinterpret_cast<void*>(&PluginMain_Select), &Info) && Info.dli_fname) {
      // <bundle>/Contents/<platform>/<library>
      std::string Path = Info.dli_fname;
      for (int i = 0; i < 3 && !Path.empty(); ++i) {
        const size_t Slash = Path.find_last_of('/');
        const std::string Part = Slash == std::string::npos ? Path : Path.substr(Slash + 1);
        Path = Slash == std::string::npos ? std::string() : Path.substr(0, Slash);
        if (i == 2 && Part != "Contents") Path.clear();
      }
      Folder = Path;
    }
  }
  return Folder.c_str();
}

void InitializeBundleLocation() {
  const std::string Folder = PluginBundleFolder();
  if (Folder.empty()) return;
  SetBundlePath(Folder);
  SetResourceDirectory(BundleResourcesPath());
}

}  // namespace varnix

extern "C" void PluginMain_Select(int16_t selector, void* paramBlock, intptr_t* data, int16_t* result) {
  (void)data;  // nothing is kept in host storage between calls
  varnix::Dispatch(varnix::ptSelection, selector, paramBlock, result);
}

extern "C" void PluginMain_Filter(int16_t selector, void* paramBlock, intptr_t* data, int16_t* result) {
  (void)data;
  varnix::Dispatch(varnix::ptFilter, selector, paramBlock, result);
}
