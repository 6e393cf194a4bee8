#include "platform/vcl/Themes.h"

#include <algorithm>

#include "platform/vcl/Controls.h"
#include "platform/vcl/Menus.h"

namespace varnix {

TThemeServices* ThemeServices() {
  static TThemeServices Instance;
  return &Instance;
}

TThemedElementDetails TThemeServices::GetElementDetails(TThemedToolBar Detail) const {
  TThemedElementDetails D;
  D.Element = teToolBar;
  D.Part = 1;
  D.State = static_cast<int32_t>(Detail);
  return D;
}

namespace {
void RoundedBox(TCanvas& C, const TRect& R, TColor Face, TColor Frame) {
  if (R.Width() < 3 || R.Height() < 3) return;
  C.Brush().SetColor(Face);
  C.FillRect(Rect(R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1));
  C.Pen().SetColor(Frame);
  C.MoveTo(R.Left + 1, R.Top);
  C.LineTo(R.Right - 1, R.Top);
  C.MoveTo(R.Left + 1, R.Bottom - 1);
  C.LineTo(R.Right - 1, R.Bottom - 1);
  C.MoveTo(R.Left, R.Top + 1);
  C.LineTo(R.Left, R.Bottom - 1);
  C.MoveTo(R.Right - 1, R.Top + 1);
  C.LineTo(R.Right - 1, R.Bottom - 1);
}
}  // namespace

void TThemeServices::DrawElement(TCanvas& Canvas, const TThemedElementDetails& Details, const TRect& R,
                                 const TRect& ClipRect) const {
  const bool Clip = !ClipRect.IsEmpty();
  if (Clip) Canvas.IntersectClip(ClipRect);
  switch (static_cast<TThemedToolBar>(Details.State)) {
    case ttbButtonHot: RoundedBox(Canvas, R, TThemeColors::ButtonHotFace, TThemeColors::ButtonHotFrame); break;
    case ttbButtonPressed: RoundedBox(Canvas, R, TThemeColors::ButtonPressedFace, TThemeColors::ButtonHotFrame); break;
    case ttbButtonChecked: RoundedBox(Canvas, R, TThemeColors::ButtonCheckedFace, TThemeColors::ButtonHotFrame); break;
    case ttbButtonCheckedHot: RoundedBox(Canvas, R, TThemeColors::ButtonCheckedHotFace, TThemeColors::ButtonHotFrame); break;
    default: break;  // normal and disabled buttons are flat
  }
  if (Clip) Canvas.RestoreClip();
}

void TThemeServices::DrawParentBackground(const TControl* Control, TCanvas& Canvas, const TRect& R) const {
  const TColor C = Control && Control->Parent() ? Control->Parent()->Color() : clBtnFace;
  Canvas.Brush().SetColor(C);
  Canvas.FillRect(R);
}

void TThemeServices::DrawEdge(TCanvas& Canvas, const TRect& R, bool Sunken) const {
  TRect X = R;
  if (Sunken) {
    Frame3D(Canvas, X, clBtnShadow, clBtnHighlight, 1);
    Frame3D(Canvas, X, cl3DDkShadow, cl3DLight, 1);
  } else {
    Frame3D(Canvas, X, cl3DLight, cl3DDkShadow, 1);
    Frame3D(Canvas, X, clBtnHighlight, clBtnShadow, 1);
  }
}

void TThemeServices::DrawButtonFace(TCanvas& Canvas, const TRect& R, bool Pressed, bool Focused, bool Default,
                                    bool Enabled) const {
  Canvas.Brush().SetColor(Pressed ? TThemeColors::ButtonPressedFace : clBtnFace);
  Canvas.FillRect(R);
  TRect X = R;
  if (Default || Focused) {
    Canvas.Brush().SetColor(Enabled ? clBlack : clBtnShadow);
    Canvas.FrameRect(X);
    X = Rect(X.Left + 1, X.Top + 1, X.Right - 1, X.Bottom - 1);
  }
  if (Pressed) {
    Canvas.Brush().SetColor(clBtnShadow);
    Canvas.FrameRect(X);
  } else {
    Frame3D(Canvas, X, clBtnHighlight, cl3DDkShadow, 1);
    Frame3D(Canvas, X, cl3DLight, clBtnShadow, 1);
  }
  if (Focused) DrawFocusRect(Canvas, Rect(R.Left + 4, R.Top + 4, R.Right - 4, R.Bottom - 4));
}

void TThemeServices::DrawCaption(TCanvas& Canvas, const TRect& R, const std::string& Caption, bool Enabled,
                                 int32_t Shift) const {
  const std::string Text = StripHotkey(Caption);
  const TSize S = Canvas.TextExtent(Text);
  const int32_t X = R.Left + (R.Width() - S.cx) / 2 + Shift;
  const int32_t Y = R.Top + (R.Height() - S.cy) / 2 + Shift;
  Canvas.Brush().SetStyle(bsClear);
  const TColor Old = Canvas.Font().Color();
  if (!Enabled) {
    Canvas.Font().SetColor(clBtnHighlight);
    Canvas.TextRect(R, X + 1, Y + 1, Text);
    Canvas.Font().SetColor(clGrayText);
  }
  Canvas.TextRect(R, X, Y, Text);
  // Underline the accelerator letter.
  for (size_t I = 0, Pos = 0; I + 1 < Caption.size(); ++I) {
    if (Caption[I] == '&') {
      if (Caption[I + 1] == '&') {
        ++I;
        ++Pos;
        continue;
      }
      const int32_t UX = X + Canvas.TextWidth(Text.substr(0, Pos));
      const int32_t UW = Canvas.TextWidth(Text.substr(Pos, 1));
      Canvas.Brush().SetColor(Canvas.Font().Color());
      Canvas.FillRect(Rect(UX, Y + S.cy - 2, UX + UW, Y + S.cy - 1));
      break;
    }
    ++Pos;
  }
  Canvas.Font().SetColor(Old);
  Canvas.Brush().SetStyle(bsSolid);
}

void TThemeServices::DrawCheckBox(TCanvas& Canvas, const TRect& Box, bool Checked, bool Enabled, bool Pressed) const {
  Canvas.Brush().SetColor(Pressed || !Enabled ? clBtnFace : clWindow);
  Canvas.FillRect(Box);
  TRect X = Box;
  Frame3D(Canvas, X, clBtnShadow, clBtnHighlight, 1);
  Frame3D(Canvas, X, cl3DDkShadow, cl3DLight, 1);
  if (!Checked) return;
  // A tick of three short strokes.
  Canvas.Pen().SetColor(Enabled ? clWindowText : clGrayText);
  const int32_t L = Box.Left + 3, B = Box.Top + Box.Height() / 2;
  for (int32_t I = 0; I < 3; ++I) {
    Canvas.MoveTo(L, B - 1 + I);
    Canvas.LineTo(L + 2, B + 1 + I);
    Canvas.LineTo(L + 7, B - 4 + I);
  }
}

void TThemeServices::DrawComboBox(TCanvas& Canvas, const TRect& R, bool Enabled, bool Focused, bool Dropped) const {
  Canvas.Brush().SetColor(Enabled ? clWindow : clBtnFace);
  Canvas.FillRect(R);
  DrawEdge(Canvas, R, true);
  const TRect B = Rect(R.Right - 2 - 16, R.Top + 2, R.Right - 2, R.Bottom - 2);
  DrawButtonFace(Canvas, B, Dropped, false, false, Enabled);
  Canvas.Brush().SetColor(Enabled ? clBtnText : clGrayText);
  Canvas.Pen().SetColor(Enabled ? clBtnText : clGrayText);
  const int32_t CX = (B.Left + B.Right) / 2, CY = (B.Top + B.Bottom) / 2 - 1;
  Canvas.Polygon({{CX - 3, CY}, {CX + 3, CY}, {CX, CY + 3}});
  if (Focused) {
    Canvas.Brush().SetColor(clHighlight);
    Canvas.FillRect(Rect(R.Left + 3, R.Top + 3, B.Left - 1, R.Bottom - 3));
  }
}

void TThemeServices::DrawScrollBar(TCanvas& Canvas, const TRect& R, bool Vertical, int32_t ThumbStart,
                                   int32_t ThumbLength, int32_t ArrowSize) const {
  Canvas.Brush().SetColor(clScrollBar);
  Canvas.FillRect(R);
  TRect A1, A2, T;
  if (Vertical) {
    A1 = Rect(R.Left, R.Top, R.Right, R.Top + ArrowSize);
    A2 = Rect(R.Left, R.Bottom - ArrowSize, R.Right, R.Bottom);
    T = Rect(R.Left, R.Top + ThumbStart, R.Right, R.Top + ThumbStart + ThumbLength);
  } else {
    A1 = Rect(R.Left, R.Top, R.Left + ArrowSize, R.Bottom);
    A2 = Rect(R.Right - ArrowSize, R.Top, R.Right, R.Bottom);
    T = Rect(R.Left + ThumbStart, R.Top, R.Left + ThumbStart + ThumbLength, R.Bottom);
  }
  for (const TRect& A : {A1, A2, T}) DrawButtonFace(Canvas, A, false, false, false, true);
  Canvas.Brush().SetColor(clBtnText);
  Canvas.Pen().SetColor(clBtnText);
  const int32_t C1X = (A1.Left + A1.Right) / 2, C1Y = (A1.Top + A1.Bottom) / 2;
  const int32_t C2X = (A2.Left + A2.Right) / 2, C2Y = (A2.Top + A2.Bottom) / 2;
  if (Vertical) {
    Canvas.Polygon({{C1X - 3, C1Y + 1}, {C1X + 3, C1Y + 1}, {C1X, C1Y - 2}});
    Canvas.Polygon({{C2X - 3, C2Y - 1}, {C2X + 3, C2Y - 1}, {C2X, C2Y + 2}});
  } else {
    Canvas.Polygon({{C1X + 1, C1Y - 3}, {C1X + 1, C1Y + 3}, {C1X - 2, C1Y}});
    Canvas.Polygon({{C2X - 1, C2Y - 3}, {C2X - 1, C2Y + 3}, {C2X + 2, C2Y}});
  }
}

void TThemeServices::DrawProgressBar(TCanvas& Canvas, const TRect& R, int32_t Position, int32_t Min, int32_t Max) const {
  Canvas.Brush().SetColor(clWindow);
  Canvas.FillRect(R);
  Canvas.Brush().SetColor(clBtnShadow);
  Canvas.FrameRect(R);
  const int32_t Inner = R.Width() - 2;
  if (Max <= Min || Inner <= 0) return;
  const int32_t P = std::clamp(Position, Min, Max) - Min;
  const int32_t W = static_cast<int32_t>(int64_t(Inner) * P / (Max - Min));
  Canvas.Brush().SetColor(TThemeColors::ProgressFill);
  Canvas.FillRect(Rect(R.Left + 1, R.Top + 1, R.Left + 1 + W, R.Bottom - 1));
}

void TThemeServices::DrawStatusPanel(TCanvas& Canvas, const TRect& R, int32_t Bevel) const {
  if (Bevel == 0) return;
  TRect X = R;
  if (Bevel == 1)
    Frame3D(Canvas, X, clBtnShadow, clBtnHighlight, 1);
  else
    Frame3D(Canvas, X, clBtnHighlight, clBtnShadow, 1);
}

void TThemeServices::DrawSizeGrip(TCanvas& Canvas, const TRect& R) const {
  for (int32_t I = 0; I < 3; ++I) {
    const int32_t D = 4 + 4 * I;
    Canvas.Pen().SetColor(clBtnHighlight);
    Canvas.MoveTo(R.Right - D, R.Bottom - 1);
    Canvas.LineTo(R.Right, R.Bottom - 1 - D);
    Canvas.Pen().SetColor(clBtnShadow);
    Canvas.MoveTo(R.Right - D + 1, R.Bottom - 1);
    Canvas.LineTo(R.Right, R.Bottom - D);
    Canvas.MoveTo(R.Right - D + 2, R.Bottom - 1);
    Canvas.LineTo(R.Right, R.Bottom - D + 1);
  }
}

void TThemeServices::DrawMenuBackground(TCanvas& Canvas, const TRect& R) const {
  Canvas.Brush().SetColor(clMenu);
  Canvas.FillRect(R);
  Canvas.Brush().SetColor(clBtnShadow);
  Canvas.FrameRect(R);
}

void TThemeServices::DrawMenuSeparator(TCanvas& Canvas, const TRect& R) const {
  const int32_t Y = (R.Top + R.Bottom) / 2;
  Canvas.Pen().SetColor(clBtnShadow);
  Canvas.MoveTo(R.Left + 24, Y);
  Canvas.LineTo(R.Right - 2, Y);
  Canvas.Pen().SetColor(clBtnHighlight);
  Canvas.MoveTo(R.Left + 24, Y + 1);
  Canvas.LineTo(R.Right - 2, Y + 1);
}

void TThemeServices::DrawMenuItem(TCanvas& Canvas, const TRect& R, bool Hot, bool Enabled, bool Checked,
                                  const std::string& Caption, const std::string& ShortCutText) const {
  if (Hot) {
    Canvas.Brush().SetColor(TThemeColors::MenuHot);
    Canvas.FillRect(R);
  }
  const TColor Text = Enabled ? clMenuText : clGrayText;
  Canvas.Font().SetColor(Text);
  if (Checked) {
    Canvas.Pen().SetColor(Text);
    const int32_t L = R.Left + 6, B = R.Top + R.Height() / 2;
    for (int32_t I = 0; I < 2; ++I) {
      Canvas.MoveTo(L, B - 1 + I);
      Canvas.LineTo(L + 2, B + 1 + I);
      Canvas.LineTo(L + 7, B - 4 + I);
    }
  }
  const int32_t H = Canvas.TextHeight("Ag");
  const TRect TR = Rect(R.Left + 26, R.Top + (R.Height() - H) / 2, R.Right - 8, R.Top + (R.Height() + H) / 2);
  TRect CaptionRect = TR;
  CaptionRect.Right = CaptionRect.Left + Canvas.TextWidth(StripHotkey(Caption));
  // DrawCaption centres; give it a rectangle exactly as wide as the text so it starts at the left.
  DrawCaption(Canvas, CaptionRect, Caption, true);
  if (!ShortCutText.empty()) {
    Canvas.Brush().SetStyle(bsClear);
    Canvas.TextOut(TR.Right - Canvas.TextWidth(ShortCutText), TR.Top, ShortCutText);
    Canvas.Brush().SetStyle(bsSolid);
  }
}

void TThemeServices::DrawFocusRect(TCanvas& Canvas, const TRect& R) const {
  for (int32_t X = R.Left; X < R.Right; X += 2) {
    Canvas.SetPixel(X, R.Top, clBlack);
    Canvas.SetPixel(X, R.Bottom - 1, clBlack);
  }
  for (int32_t Y = R.Top; Y < R.Bottom; Y += 2) {
    Canvas.SetPixel(R.Left, Y, clBlack);
    Canvas.SetPixel(R.Right - 1, Y, clBlack);
  }
}

}  // namespace varnix
