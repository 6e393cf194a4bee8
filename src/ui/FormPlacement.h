// Connects the UI library's forms to the settings protocol: SerializeForm stores and restores a
// form's placement through this adapter.
#pragma once

#include <string>

#include "platform/vcl/Forms.h"
#include "settings/Serializers.h"

namespace varnix {

// The placement of one form, as SerializeForm sees it. The form must outlive the adapter.
class TFormPlacementAdapter final : public IFormPlacement {
 public:
  explicit TFormPlacementAdapter(TCustomForm& Form) : FForm(Form) {}

  std::string ComponentName() const override { return FForm.Name(); }

  bool GetPlacement(TFormPlacement& Placement) override {
    TWindowPlacement P;
    if (!FForm.GetWindowPlacement(P)) return false;
    Placement.NormalBounds = P.NormalBounds;
    Placement.ShowState = P.ShowCmd == swHide ? plHidden : (P.ShowCmd == swShowMaximized ? plMaximized : plNormal);
    return true;
  }

  void SetPlacement(const TFormPlacement& Placement) override {
    TWindowPlacement P;
    P.NormalBounds = Placement.NormalBounds;
    P.ShowCmd = Placement.ShowState == plHidden ? swHide
                                                : (Placement.ShowState == plMaximized ? swShowMaximized : swShowNormal);
    FForm.SetWindowPlacement(P);
  }

 private:
  TCustomForm& FForm;
};

}  // namespace varnix
