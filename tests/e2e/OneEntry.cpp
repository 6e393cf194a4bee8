// A plug-in library that exports only the Selection entry, for the host's missing-entry test.
#include <cstdint>

extern "C" __attribute__((visibility("default"))) void PluginMain_Select(int16_t selector, void* paramBlock,
                                                                         intptr_t* data, int16_t* result) {
  (void)selector;
  (void)paramBlock;
  (void)data;
  *result = 0;
}
