// The bundle's shared library: the two exported entry points and the start-up and shutdown of
// its modules.
//
// When the host loads the library, one initialiser runs every module's Initialize in the order of
// the bundle's module table (PluginModules); when it unloads the library, the Finalize functions
// run in reverse. C++ static initialisers play no part in this order: every module keeps its
// state in objects its Initialize creates. A module whose Initialize raises stops the start-up;
// the modules started before it are finalised again, and every later host call answers
// paramErr.
//
// Each bundle defines its own table: the shipped bundle in PluginModules.cpp, the test bundles
// beside their tests.
#pragma once

#include <cstdint>

namespace varnix {

struct TPluginModule {
  const char* Name;          // for the start-up failure message
  void (*Initialize)();      // may be null
  void (*Finalize)();        // may be null; called only when Initialize succeeded
};

// The bundle's modules in start-up order.
extern const TPluginModule PluginModules[];
extern const int32_t PluginModuleCount;

// Start-up and shutdown of the table (what the library's initialiser and finaliser call).
// Start-up answers whether every module started.
bool InitializePluginModules();
void FinalizePluginModules();

// The bundle folder of the library this code is linked into (<bundle> of
// <bundle>/Contents/Linux/<library>); empty when the library is not inside a bundle.
const char* PluginBundleFolder();

// Module start-up of the bundle's location: tells the bundle information and the UI library's
// resources where the bundle lies.
void InitializeBundleLocation();

}  // namespace varnix

// The exported entry points (C calling convention).
extern "C" {
__attribute__((visibility("default"))) void PluginMain_Select(int16_t selector, void* paramBlock, intptr_t* data,
                                                              int16_t* result);
__attribute__((visibility("default"))) void PluginMain_Filter(int16_t selector, void* paramBlock, intptr_t* data,
                                                              int16_t* result);
}
