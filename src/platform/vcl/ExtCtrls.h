// Panels, bevels and timers.
#pragma once

#include <cstdint>

#include "platform/vcl/Controls.h"

namespace varnix {

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };
enum TBevelStyle { bsLowered, bsRaised };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// A container with an optional 3-D border (outer and inner bevel) and a centred caption.
class TCustomPanel : public TCustomControl {
 public:
  explicit TCustomPanel(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomPanel"; }
  TBevelCut BevelOuter() const { return FBevelOuter; }
  void SetBevelOuter(TBevelCut Value);
  TBevelCut BevelInner() const { return FBevelInner; }
  void SetBevelInner(TBevelCut Value);
  int32_t BevelWidth() const { return FBevelWidth; }
  void SetBevelWidth(int32_t Value);
  // Whether a resize repaints the whole panel (otherwise only what became visible).
  bool FullRepaint = true;
  TAlignment Alignment = taCenter;

 protected:
  void Paint() override;
  void Resize() override;
  void AlignControls(TControl* AControl, TRect& Rect) override;

 private:
  TBevelCut FBevelOuter = bvRaised;
  TBevelCut FBevelInner = bvNone;
  int32_t FBevelWidth = 1;
};

class TPanel : public TCustomPanel {
 public:
  explicit TPanel(TComponent* AOwner) : TCustomPanel(AOwner) {}
  const char* ClassName() const override { return "TPanel"; }
};

// A windowless line or frame drawn as a 3-D groove.
class TBevel : public TGraphicControl {
 public:
  explicit TBevel(TComponent* AOwner);
  const char* ClassName() const override { return "TBevel"; }
  TBevelShape Shape() const { return FShape; }
  void SetShape(TBevelShape Value);
  TBevelStyle Style() const { return FStyle; }
  void SetStyle(TBevelStyle Value);

 protected:
  void Paint() override;

 private:
  TBevelShape FShape = bsBox;
  TBevelStyle FStyle = bsLowered;
};

// Calls OnTimer every Interval milliseconds while Enabled, on the UI thread, from the
// application's event loop (real time in both back ends).
class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;
  const char* ClassName() const override { return "TTimer"; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  uint32_t Interval() const { return FInterval; }
  void SetInterval(uint32_t Value);
  TNotifyEvent OnTimer;

  // For the event loop: whether the timer is due at Now (milliseconds), and the time to wait.
  bool Due(uint32_t Now, uint32_t& Wait) const;
  // Runs OnTimer and schedules the next tick.
  void Fire(uint32_t Now);

 private:
  void Restart();
  bool FEnabled = true;
  uint32_t FInterval = 1000;
  uint32_t FNext = 0;
};

}  // namespace varnix
