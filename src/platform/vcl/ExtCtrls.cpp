#include "platform/vcl/ExtCtrls.h"

#include <algorithm>

#include "common/CommonClasses.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Themes.h"

namespace varnix {

// ---------------------------------------------------------------------------------------------
// TCustomPanel

TCustomPanel::TCustomPanel(TComponent* AOwner) : TCustomControl(AOwner) { SetBounds(0, 0, 185, 41); }

void TCustomPanel::SetBevelOuter(TBevelCut Value) {
  if (FBevelOuter == Value) return;
  FBevelOuter = Value;
  Realign();
  Invalidate();
}

void TCustomPanel::SetBevelInner(TBevelCut Value) {
  if (FBevelInner == Value) return;
  FBevelInner = Value;
  Realign();
  Invalidate();
}

void TCustomPanel::SetBevelWidth(int32_t Value) {
  if (FBevelWidth == Value) return;
  FBevelWidth = std::max(1, Value);
  Realign();
  Invalidate();
}

void TCustomPanel::AlignControls(TControl* AControl, TRect& R) {
  // Aligned children stay inside the bevels.
  int32_t Inset = 0;
  if (FBevelOuter != bvNone) Inset += FBevelWidth;
  if (FBevelInner != bvNone) Inset += FBevelWidth;
  R = Rect(R.Left + Inset, R.Top + Inset, R.Right - Inset, R.Bottom - Inset);
  TCustomControl::AlignControls(AControl, R);
}

void TCustomPanel::Resize() {
  // Without FullRepaint only the newly exposed strips would need painting; the whole panel is a
  // cheap software fill here, so both repaint it and differ only in what they promise callers.
  TCustomControl::Resize();
  Invalidate();
}

void TCustomPanel::Paint() {
  TCanvas& C = Canvas();
  TRect R = ClientRect();
  auto Bevel = [&](TBevelCut Cut) {
    if (Cut == bvNone) return;
    if (Cut == bvSpace) {
      R = Rect(R.Left + FBevelWidth, R.Top + FBevelWidth, R.Right - FBevelWidth, R.Bottom - FBevelWidth);
      return;
    }
    const TColor TopC = Cut == bvLowered ? clBtnShadow : clBtnHighlight;
    const TColor BotC = Cut == bvLowered ? clBtnHighlight : clBtnShadow;
    Frame3D(C, R, TopC, BotC, FBevelWidth);
  };
  Bevel(FBevelOuter);
  Bevel(FBevelInner);
  C.Brush().SetColor(Color());
  C.FillRect(R);
  if (!Caption().empty()) {
    const TSize S = C.TextExtent(Caption());
    int32_t X = (R.Left + R.Right - S.cx) / 2;
    if (Alignment == taLeftJustify) X = R.Left + 2;
    if (Alignment == taRightJustify) X = R.Right - 2 - S.cx;
    C.Brush().SetStyle(bsClear);
    C.TextRect(R, X, (R.Top + R.Bottom - S.cy) / 2, Caption());
  }
  TCustomControl::Paint();
}

// ---------------------------------------------------------------------------------------------
// TBevel

TBevel::TBevel(TComponent* AOwner) : TGraphicControl(AOwner) { SetBounds(0, 0, 50, 50); }

void TBevel::SetShape(TBevelShape Value) {
  if (FShape == Value) return;
  FShape = Value;
  Invalidate();
}

void TBevel::SetStyle(TBevelStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  Invalidate();
}

void TBevel::Paint() {
  TCanvas& C = Canvas();
  const TColor C1 = FStyle == bsLowered ? clBtnShadow : clBtnHighlight;
  const TColor C2 = FStyle == bsLowered ? clBtnHighlight : clBtnShadow;
  const int32_t W = Width(), H = Height();
  auto Line = [&](TColor Color, int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) {
    C.Pen().SetColor(Color);
    C.MoveTo(X1, Y1);
    C.LineTo(X2, Y2);
  };
  switch (FShape) {
    case bsBox: {
      TRect R = ClientRect();
      Frame3D(C, R, C1, C2, 1);
      break;
    }
    case bsFrame: {
      TRect R = Rect(0, 0, W - 1, H - 1);
      C.Brush().SetColor(C1);
      C.FrameRect(R);
      R = Rect(1, 1, W, H);
      C.Brush().SetColor(C2);
      C.FrameRect(R);
      break;
    }
    case bsTopLine:
      Line(C1, 0, 0, W, 0);
      Line(C2, 0, 1, W, 1);
      break;
    case bsBottomLine:
      Line(C1, 0, H - 2, W, H - 2);
      Line(C2, 0, H - 1, W, H - 1);
      break;
    case bsLeftLine:
      Line(C1, 0, 0, 0, H);
      Line(C2, 1, 0, 1, H);
      break;
    case bsRightLine:
      Line(C1, W - 2, 0, W - 2, H);
      Line(C2, W - 1, 0, W - 1, H);
      break;
    case bsSpacer: break;
  }
}

// ---------------------------------------------------------------------------------------------
// TTimer

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner) {
  Restart();
  Application->RegisterTimer(this);
}

TTimer::~TTimer() {
  if (Application) Application->UnregisterTimer(this);
}

void TTimer::Restart() { FNext = TIntervalTimer::GetTime() + FInterval; }

void TTimer::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  if (Value) Restart();
}

void TTimer::SetInterval(uint32_t Value) {
  if (FInterval == Value) return;
  FInterval = Value;
  Restart();
}

bool TTimer::Due(uint32_t Now, uint32_t& Wait) const {
  Wait = UINT32_MAX;
  if (!FEnabled || FInterval == 0 || !OnTimer) return false;
  const int32_t Left = static_cast<int32_t>(FNext - Now);
  if (Left <= 0) return true;
  Wait = static_cast<uint32_t>(Left);
  return false;
}

void TTimer::Fire(uint32_t Now) {
  FNext = Now + FInterval;
  if (auto H = OnTimer) H(this);
}

}  // namespace varnix
