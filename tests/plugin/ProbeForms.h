// Forms that stand in for the editor and the about box in the bridge's tests: what they do while
// they are created and once their modal loop runs is set per test.
#pragma once

#include <functional>

#include "platform/vcl/Forms.h"

namespace varnix::test {

struct TProbe {
  // Runs in the form's creation handler (may raise, may set the modal result).
  std::function<void(TCustomForm& Form)> Create;
  // Runs once from the modal loop (may raise, should set the modal result).
  std::function<void(TCustomForm& Form)> Modal;
  int Created = 0;
  int Shown = 0;
};

// The probe of the main form and the one of the about box; reset them in each test.
extern TProbe MainProbe;
extern TProbe AboutProbe;

TFormClass ProbeMainFormClass();
TFormClass ProbeAboutFormClass();

}  // namespace varnix::test
