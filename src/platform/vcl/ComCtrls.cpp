#include "platform/vcl/ComCtrls.h"

#include <algorithm>

#include "platform/vcl/Themes.h"

namespace varnix {

// ---------------------------------------------------------------------------------------------
// TStatusPanel, TStatusPanels

void TStatusPanel::Changed(bool Layout) { FBar->Panels().Changed(Layout); }

void TStatusPanel::SetText(const std::string& Value) {
  if (FText == Value) return;
  FText = Value;
  Changed(false);
}

void TStatusPanel::SetWidth(int32_t Value) {
  if (FWidth == Value) return;
  FWidth = std::max(0, Value);
  Changed(true);
}

void TStatusPanel::SetBevel(TStatusPanelBevel Value) {
  if (FBevel == Value) return;
  FBevel = Value;
  Changed(false);
}

void TStatusPanel::SetStyle(TStatusPanelStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  Changed(false);
}

int32_t TStatusPanel::Index() const {
  TStatusPanels& P = FBar->Panels();
  for (int32_t I = 0; I < P.Count(); ++I)
    if (P.Items(I) == this) return I;
  return -1;
}

TStatusPanel* TStatusPanels::Add() {
  FItems.push_back(std::make_unique<TStatusPanel>(FBar));
  Changed(true);
  return FItems.back().get();
}

void TStatusPanels::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  FItems.erase(FItems.begin() + Index);
  Changed(true);
}

void TStatusPanels::Clear() {
  if (FItems.empty()) return;
  FItems.clear();
  Changed(true);
}

void TStatusPanels::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0 && FPending) {
    FPending = false;
    FBar->PanelsChanged(true);
  }
}

void TStatusPanels::Changed(bool Layout) {
  if (FUpdateCount > 0) {
    FPending = true;
    return;
  }
  FBar->PanelsChanged(Layout);
}

// ---------------------------------------------------------------------------------------------
// TStatusBar

TStatusBar::TStatusBar(TComponent* AOwner) : TWinControl(AOwner), FPanels(this) {
  SetBounds(0, 0, 200, 19);
  SetAlign(alBottom);
  SetColor(clBtnFace);
}

void TStatusBar::SetSizeGrip(bool Value) {
  if (FSizeGrip == Value) return;
  FSizeGrip = Value;
  Invalidate();
}

void TStatusBar::PanelsChanged(bool) { Invalidate(); }

TRect TStatusBar::PanelRect(int32_t Index) const {
  if (Index < 0 || Index >= FPanels.Count()) return TRect{};
  int32_t X = 0;
  for (int32_t I = 0; I < Index; ++I) X += FPanels.Items(I)->Width();
  int32_t Right = X + FPanels.Items(Index)->Width();
  if (Index == FPanels.Count() - 1) Right = std::max(Right, ClientWidth());
  return Rect(X, 2, Right - 2, ClientHeight() - 1);
}

TRect TStatusBar::SizeGripRect() const {
  if (!FSizeGrip) return TRect{};
  return Rect(ClientWidth() - 14, ClientHeight() - 14, ClientWidth(), ClientHeight());
}

void TStatusBar::DrawPanel(TCanvas& Canvas, TStatusPanel* Panel, const TRect& R) {
  if (Panel->Style() == psOwnerDraw) {
    if (auto H = OnDrawPanel) H(this, Panel, R);
    return;
  }
  const TSize S = Canvas.TextExtent(Panel->Text());
  int32_t X = R.Left + 2;
  if (Panel->Alignment == taCenter) X = (R.Left + R.Right - S.cx) / 2;
  if (Panel->Alignment == taRightJustify) X = R.Right - 2 - S.cx;
  Canvas.Brush().SetStyle(bsClear);
  Canvas.TextRect(Rect(R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1), X, (R.Top + R.Bottom - S.cy) / 2, Panel->Text());
  Canvas.Brush().SetStyle(bsSolid);
}

void TStatusBar::PaintWindow(HDC DC) {
  TCanvas C;
  C.SetHandle(DC);
  C.Font().Assign(Font());
  const TRect R = ClientRect();
  C.Brush().SetColor(Color());
  C.FillRect(R);
  if (SimplePanel) {
    C.Brush().SetStyle(bsClear);
    C.TextOut(4, (R.Height() - C.TextHeight("Ag")) / 2, SimpleText);
  } else {
    for (int32_t I = 0; I < FPanels.Count(); ++I) {
      TStatusPanel* P = FPanels.Items(I);
      const TRect PR = PanelRect(I);
      ThemeServices()->DrawStatusPanel(C, PR, P->Bevel());
      C.SaveClip();
      C.IntersectClip(PR);
      DrawPanel(C, P, PR);
      C.RestoreClip();
      C.Font().Assign(Font());
    }
  }
  if (FSizeGrip) ThemeServices()->DrawSizeGrip(C, SizeGripRect());
}

// ---------------------------------------------------------------------------------------------
// TProgressBar

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(0, 0, 150, 16); }

void TProgressBar::SetMin(int32_t Value) {
  if (FMin == Value) return;
  FMin = Value;
  FPosition = std::max(FPosition, FMin);
  Invalidate();
}

void TProgressBar::SetMax(int32_t Value) {
  if (FMax == Value) return;
  FMax = Value;
  FPosition = std::min(FPosition, FMax);
  Invalidate();
}

void TProgressBar::SetPosition(int32_t Value) {
  Value = std::clamp(Value, FMin, std::max(FMin, FMax));
  if (FPosition == Value) return;
  FPosition = Value;
  Invalidate();
}

void TProgressBar::PaintWindow(HDC DC) {
  TCanvas C;
  C.SetHandle(DC);
  ThemeServices()->DrawProgressBar(C, ClientRect(), FPosition, FMin, FMax);
}

}  // namespace varnix
