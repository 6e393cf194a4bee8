#include "platform/vcl/Graphics.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

#include "platform/vcl/FontEngine.h"

namespace varnix {

// ---------------------------------------------------------------------------------------------
// Colours

TColor ColorToRGB(TColor Color) {
  if ((Color & clSystemColor) == 0) return Color & 0xFFFFFF;
  // The library's own look: a light neutral palette.
  switch (Color & 0xFF) {
    case 0: return RGB(0xD4, 0xD0, 0xC8);   // scroll bar
    case 1: return RGB(0x3A, 0x6E, 0xA5);   // desktop
    case 2: return RGB(0x0A, 0x24, 0x6A);   // active caption
    case 4: return RGB(0xF4, 0xF4, 0xF4);   // menu
    case 5: return RGB(0xFF, 0xFF, 0xFF);   // window
    case 6: return RGB(0x00, 0x00, 0x00);   // window frame
    case 7: return RGB(0x00, 0x00, 0x00);   // menu text
    case 8: return RGB(0x00, 0x00, 0x00);   // window text
    case 13: return RGB(0x31, 0x6A, 0xC5);  // highlight
    case 14: return RGB(0xFF, 0xFF, 0xFF);  // highlight text
    case 15: return RGB(0xEC, 0xE9, 0xD8);  // button face
    case 16: return RGB(0xAC, 0xA8, 0x99);  // button shadow
    case 17: return RGB(0xAC, 0xA8, 0x99);  // gray text
    case 18: return RGB(0x00, 0x00, 0x00);  // button text
    case 20: return RGB(0xFF, 0xFF, 0xFF);  // button highlight
    case 21: return RGB(0x71, 0x6F, 0x64);  // 3-D dark shadow
    case 22: return RGB(0xF1, 0xEF, 0xE2);  // 3-D light
    case 23: return RGB(0x00, 0x00, 0x00);  // info text
    case 24: return RGB(0xFF, 0xFF, 0xE1);  // info background
    default: return RGB(0x80, 0x80, 0x80);
  }
}

uint32_t ColorToPixel(TColor Color) {
  const TColor C = ColorToRGB(Color);
  return static_cast<uint32_t>(GetRValue(C)) | (static_cast<uint32_t>(GetGValue(C)) << 8) |
         (static_cast<uint32_t>(GetBValue(C)) << 16) | 0xFF000000u;
}

void TGraphicsObject::Changed() {
  if (auto H = OnChange) H(this);
}

// ---------------------------------------------------------------------------------------------
// Font, pen, brush

TFont::TFont() = default;

void TFont::Assign(const TFont& Source) {
  if (*this == Source && FCharset == Source.FCharset) return;
  FName = Source.FName;
  FHeight = Source.FHeight;
  FStyle = Source.FStyle;
  FColor = Source.FColor;
  FCharset = Source.FCharset;
  Changed();
}

void TFont::SetName(const std::string& Value) {
  if (FName == Value) return;
  FName = Value;
  Changed();
}

void TFont::SetHeight(int32_t Value) {
  if (FHeight == Value) return;
  FHeight = Value;
  Changed();
}

int32_t TFont::Size() const {
  return -static_cast<int32_t>(std::lround(FHeight * 72.0 / PixelsPerInch));
}

void TFont::SetSize(int32_t Value) { SetHeight(-static_cast<int32_t>(std::lround(Value * PixelsPerInch / 72.0))); }

void TFont::SetStyle(TFontStyles Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  Changed();
}

void TFont::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Changed();
}

void TPen::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Changed();
}
void TPen::SetWidth(int32_t Value) {
  if (FWidth == Value) return;
  FWidth = Value;
  Changed();
}
void TPen::SetStyle(TPenStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  Changed();
}
void TBrush::SetColor(TColor Value) {
  if (FColor == Value && FStyle == bsSolid) return;
  FColor = Value;
  FStyle = bsSolid;
  Changed();
}
void TBrush::SetStyle(TBrushStyle Value) {
  if (FStyle == Value) return;
  FStyle = Value;
  Changed();
}

// ---------------------------------------------------------------------------------------------
// Bitmap

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() { Release(); }

void TBitmap::Release() {
  std::free(FBits);
  FBits = nullptr;
}

void TBitmap::SetSize(int32_t AWidth, int32_t AHeight) {
  if (AWidth < 0 || AHeight < 0)
    throw EInvalidGraphic("Invalid bitmap size " + std::to_string(AWidth) + " x " + std::to_string(AHeight));
  const int64_t RowBytes = (4 * static_cast<int64_t>(AWidth) + 15) / 16 * 16;
  if (RowBytes > std::numeric_limits<int32_t>::max() ||
      (AHeight > 0 && RowBytes > std::numeric_limits<int64_t>::max() / AHeight))
    throw EInvalidGraphic("Bitmap too large: " + std::to_string(AWidth) + " x " + std::to_string(AHeight));
  const int64_t Total = RowBytes * AHeight;
  uint8_t* Bits = nullptr;
  if (Total > 0) {
    Bits = static_cast<uint8_t*>(std::aligned_alloc(16, static_cast<size_t>(Total)));
    if (!Bits) throw EOutOfMemory();
    std::memset(Bits, 0, static_cast<size_t>(Total));
  }
  Release();
  FBits = Bits;
  FWidth = AWidth;
  FHeight = AHeight;
  FRowBytes = static_cast<int32_t>(RowBytes);
  FContext.Clip = Rect(0, 0, FWidth, FHeight);
}

HDC TBitmap::DeviceContext() {
  FContext.Bitmap = this;
  FContext.Origin = {0, 0};
  FContext.Clip = Rect(0, 0, FWidth, FHeight);
  return &FContext;
}

TCanvas& TBitmap::Canvas() {
  if (!FCanvas) FCanvas = std::make_unique<TCanvas>();
  FCanvas->SetHandle(DeviceContext());
  return *FCanvas;
}

void TBitmap::Assign(const TBitmap& Source) {
  if (&Source == this) return;
  SetSize(Source.FWidth, Source.FHeight);
  if (FBits && Source.FBits) std::memcpy(FBits, Source.FBits, static_cast<size_t>(FRowBytes) * FHeight);
  FPixelFormat = Source.FPixelFormat;
  FAlphaFormat = Source.FAlphaFormat;
}

void TBitmap::Fill(TColor Color) {
  const uint32_t P = ColorToPixel(Color);
  for (int32_t Y = 0; Y < FHeight; ++Y) {
    uint32_t* Row = reinterpret_cast<uint32_t*>(ScanLine(Y));
    std::fill(Row, Row + FWidth, P);
  }
}

namespace {

inline uint8_t Div255(uint32_t V) { return static_cast<uint8_t>((V + 127) / 255); }

// Source over destination, both premultiplied.
inline void BlendOver(uint8_t* D, uint32_t S) {
  const uint32_t A = S >> 24;
  if (A == 255) {
    std::memcpy(D, &S, 4);
    return;
  }
  if (A == 0 && (S & 0xFFFFFF) == 0) return;
  const uint32_t Inv = 255 - A;
  D[0] = static_cast<uint8_t>(std::min<uint32_t>(255, (S & 0xFF) + Div255(D[0] * Inv)));
  D[1] = static_cast<uint8_t>(std::min<uint32_t>(255, ((S >> 8) & 0xFF) + Div255(D[1] * Inv)));
  D[2] = static_cast<uint8_t>(std::min<uint32_t>(255, ((S >> 16) & 0xFF) + Div255(D[2] * Inv)));
  D[3] = static_cast<uint8_t>(std::min<uint32_t>(255, A + Div255(D[3] * Inv)));
}

TRect DeviceClip(HDC DC) {
  if (!DC || !DC->Bitmap) return TRect{};
  return IntersectRect(DC->Clip, Rect(0, 0, DC->Bitmap->Width(), DC->Bitmap->Height()));
}

// Scaled nearest-pixel drawing of SourceRect into Dest (device context coordinates), blended.
void DrawScaled(const TBitmap& Src, TRect SourceRect, HDC DC, const TRect& Dest, TRect Clip, bool Blend) {
  SourceRect = IntersectRect(SourceRect, Rect(0, 0, Src.Width(), Src.Height()));
  if (SourceRect.IsEmpty() || Dest.IsEmpty() || !DC || !DC->Bitmap) return;
  TRect DevDest = Dest;
  DevDest.Left += DC->Origin.X;
  DevDest.Right += DC->Origin.X;
  DevDest.Top += DC->Origin.Y;
  DevDest.Bottom += DC->Origin.Y;
  const TRect Visible = IntersectRect(DevDest, Clip);
  if (Visible.IsEmpty()) return;
  const int64_t SW = SourceRect.Width(), SH = SourceRect.Height();
  const int64_t DW = DevDest.Width(), DH = DevDest.Height();
  TBitmap* Target = DC->Bitmap;
  std::vector<int32_t> Columns(static_cast<size_t>(Visible.Width()));
  for (int32_t X = Visible.Left; X < Visible.Right; ++X)
    Columns[static_cast<size_t>(X - Visible.Left)] =
        SourceRect.Left + static_cast<int32_t>((2 * (X - DevDest.Left) + 1) * SW / (2 * DW));
  for (int32_t Y = Visible.Top; Y < Visible.Bottom; ++Y) {
    const int32_t SY = SourceRect.Top + static_cast<int32_t>((2 * (Y - DevDest.Top) + 1) * SH / (2 * DH));
    const uint8_t* SRow = Src.ScanLine(SY);
    uint8_t* DRow = Target->ScanLine(Y);
    if (!Blend && SW == DW) {
      std::memcpy(DRow + 4 * Visible.Left, SRow + 4 * Columns[0], 4 * static_cast<size_t>(Visible.Width()));
      continue;
    }
    for (int32_t X = Visible.Left; X < Visible.Right; ++X) {
      uint32_t S;
      std::memcpy(&S, SRow + 4 * Columns[static_cast<size_t>(X - Visible.Left)], 4);
      if (Blend)
        BlendOver(DRow + 4 * X, S);
      else
        std::memcpy(DRow + 4 * X, &S, 4);
    }
  }
}

}  // namespace

void TBitmap::Draw(HDC DC, const TRect& SourceRect, const TRect& Dest) const {
  DrawScaled(*this, SourceRect, DC, Dest, DeviceClip(DC), true);
}

// ---------------------------------------------------------------------------------------------
// Canvas

TCanvas::TCanvas() { FFont.SetColor(clWindowText); }
TCanvas::~TCanvas() = default;

TRect TCanvas::ClipRect() const {
  TRect C = DeviceClip(FHandle);
  if (!FClipStack.empty()) C = IntersectRect(C, FClipStack.back());
  if (!FHandle) return C;
  return Rect(C.Left - FHandle->Origin.X, C.Top - FHandle->Origin.Y, C.Right - FHandle->Origin.X,
              C.Bottom - FHandle->Origin.Y);
}

void TCanvas::SaveClip() {
  TRect C = DeviceClip(FHandle);
  if (!FClipStack.empty()) C = IntersectRect(C, FClipStack.back());
  FClipStack.push_back(C);
}

void TCanvas::RestoreClip() {
  if (!FClipStack.empty()) FClipStack.pop_back();
}

void TCanvas::IntersectClip(const TRect& R) {
  if (!FHandle) return;
  TRect D = Rect(R.Left + FHandle->Origin.X, R.Top + FHandle->Origin.Y, R.Right + FHandle->Origin.X,
                 R.Bottom + FHandle->Origin.Y);
  TRect C = DeviceClip(FHandle);
  if (!FClipStack.empty()) C = FClipStack.back();
  FClipStack.push_back(IntersectRect(C, D));
}

namespace {
TRect EffectiveClip(HDC DC, const std::vector<TRect>& Stack) {
  TRect C = DeviceClip(DC);
  if (!Stack.empty()) C = IntersectRect(C, Stack.back());
  return C;
}
}  // namespace

void TCanvas::PutDevicePixel(int32_t X, int32_t Y, uint32_t Pixel) {
  if (!EffectiveClip(FHandle, FClipStack).Contains({X, Y})) return;
  std::memcpy(FHandle->Bitmap->ScanLine(Y) + 4 * X, &Pixel, 4);
}

void TCanvas::BlendDevicePixel(int32_t X, int32_t Y, uint32_t Pixel) {
  if (!EffectiveClip(FHandle, FClipStack).Contains({X, Y})) return;
  BlendOver(FHandle->Bitmap->ScanLine(Y) + 4 * X, Pixel);
}

void TCanvas::FillDeviceRect(TRect R, uint32_t Pixel) {
  R = IntersectRect(R, EffectiveClip(FHandle, FClipStack));
  if (R.IsEmpty()) return;
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) {
    uint32_t* Row = reinterpret_cast<uint32_t*>(FHandle->Bitmap->ScanLine(Y));
    std::fill(Row + R.Left, Row + R.Right, Pixel);
  }
}

TColor TCanvas::Pixel(int32_t X, int32_t Y) const {
  if (!FHandle || !FHandle->Bitmap) return clNone;
  X += FHandle->Origin.X;
  Y += FHandle->Origin.Y;
  if (!DeviceClip(FHandle).Contains({X, Y})) return clNone;
  const uint32_t P = FHandle->Bitmap->RawPixel(X, Y);
  return static_cast<TColor>(P & 0xFFFFFF);
}

void TCanvas::SetPixel(int32_t X, int32_t Y, TColor Color) {
  if (!FHandle) return;
  PutDevicePixel(X + FHandle->Origin.X, Y + FHandle->Origin.Y, ColorToPixel(Color));
}

void TCanvas::LineTo(int32_t X, int32_t Y) {
  if (FHandle && FPen.Style() != psClear) {
    const uint32_t P = ColorToPixel(FPen.Color());
    int32_t X0 = FPenPos.X + FHandle->Origin.X, Y0 = FPenPos.Y + FHandle->Origin.Y;
    const int32_t X1 = X + FHandle->Origin.X, Y1 = Y + FHandle->Origin.Y;
    const int32_t DX = std::abs(X1 - X0), DY = -std::abs(Y1 - Y0);
    const int32_t SX = X0 < X1 ? 1 : -1, SY = Y0 < Y1 ? 1 : -1;
    int32_t Err = DX + DY;
    const int32_t W = std::max(1, FPen.Width());
    int32_t Step = 0;
    while (X0 != X1 || Y0 != Y1) {
      const bool On = FPen.Style() == psSolid || (FPen.Style() == psDot ? (Step % 2 == 0) : (Step % 6 < 4));
      if (On) {
        if (W == 1)
          PutDevicePixel(X0, Y0, P);
        else
          FillDeviceRect(Rect(X0 - W / 2, Y0 - W / 2, X0 - W / 2 + W, Y0 - W / 2 + W), P);
      }
      ++Step;
      const int32_t E2 = 2 * Err;
      if (E2 >= DY) {
        Err += DY;
        X0 += SX;
      }
      if (E2 <= DX) {
        Err += DX;
        Y0 += SY;
      }
    }
  }
  FPenPos = {X, Y};
}

void TCanvas::Polyline(const std::vector<TPoint>& Points) {
  if (Points.empty()) return;
  MoveTo(Points[0].X, Points[0].Y);
  for (size_t I = 1; I < Points.size(); ++I) LineTo(Points[I].X, Points[I].Y);
}

void TCanvas::Polygon(const std::vector<TPoint>& Points) {
  if (!FHandle || Points.size() < 2) return;
  if (FBrush.Style() != bsClear && Points.size() >= 3) {
    // Even-odd scan conversion sampled at pixel centres.
    const uint32_t P = ColorToPixel(FBrush.Color());
    int32_t MinY = Points[0].Y, MaxY = Points[0].Y;
    for (const TPoint& Pt : Points) {
      MinY = std::min(MinY, Pt.Y);
      MaxY = std::max(MaxY, Pt.Y);
    }
    std::vector<double> Xs;
    for (int32_t Y = MinY; Y <= MaxY; ++Y) {
      const double CY = Y + 0.5;
      Xs.clear();
      for (size_t I = 0; I < Points.size(); ++I) {
        const TPoint A = Points[I], B = Points[(I + 1) % Points.size()];
        if ((A.Y <= CY && B.Y > CY) || (B.Y <= CY && A.Y > CY))
          Xs.push_back(A.X + (CY - A.Y) * (B.X - A.X) / static_cast<double>(B.Y - A.Y));
      }
      std::sort(Xs.begin(), Xs.end());
      for (size_t I = 0; I + 1 < Xs.size(); I += 2) {
        const int32_t L = static_cast<int32_t>(std::ceil(Xs[I] - 0.5));
        const int32_t R = static_cast<int32_t>(std::ceil(Xs[I + 1] - 0.5));
        FillDeviceRect(Rect(L + FHandle->Origin.X, Y + FHandle->Origin.Y, R + FHandle->Origin.X,
                            Y + 1 + FHandle->Origin.Y),
                       P);
      }
    }
  }
  if (FPen.Style() != psClear) {
    std::vector<TPoint> Closed = Points;
    Closed.push_back(Points[0]);
    Polyline(Closed);
    SetPixel(Points[0].X, Points[0].Y, FPen.Color());
  }
}

void TCanvas::Rectangle(const TRect& R) {
  if (!FHandle || R.IsEmpty()) return;
  const bool Outline = FPen.Style() != psClear;
  if (FBrush.Style() != bsClear) {
    TRect Inner = R;
    if (Outline) Inner = Rect(R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1);
    FillDeviceRect(Rect(Inner.Left + FHandle->Origin.X, Inner.Top + FHandle->Origin.Y, Inner.Right + FHandle->Origin.X,
                        Inner.Bottom + FHandle->Origin.Y),
                   ColorToPixel(FBrush.Color()));
  }
  if (Outline) {
    const uint32_t P = ColorToPixel(FPen.Color());
    const TPoint O = FHandle->Origin;
    FillDeviceRect(Rect(R.Left + O.X, R.Top + O.Y, R.Right + O.X, R.Top + 1 + O.Y), P);
    FillDeviceRect(Rect(R.Left + O.X, R.Bottom - 1 + O.Y, R.Right + O.X, R.Bottom + O.Y), P);
    FillDeviceRect(Rect(R.Left + O.X, R.Top + O.Y, R.Left + 1 + O.X, R.Bottom + O.Y), P);
    FillDeviceRect(Rect(R.Right - 1 + O.X, R.Top + O.Y, R.Right + O.X, R.Bottom + O.Y), P);
  }
}

void TCanvas::FillRect(const TRect& R) {
  if (!FHandle || FBrush.Style() == bsClear) return;
  FillDeviceRect(Rect(R.Left + FHandle->Origin.X, R.Top + FHandle->Origin.Y, R.Right + FHandle->Origin.X,
                      R.Bottom + FHandle->Origin.Y),
                 ColorToPixel(FBrush.Color()));
}

void TCanvas::FrameRect(const TRect& R) {
  if (!FHandle || R.IsEmpty()) return;
  const uint32_t P = ColorToPixel(FBrush.Color());
  const TPoint O = FHandle->Origin;
  FillDeviceRect(Rect(R.Left + O.X, R.Top + O.Y, R.Right + O.X, R.Top + 1 + O.Y), P);
  FillDeviceRect(Rect(R.Left + O.X, R.Bottom - 1 + O.Y, R.Right + O.X, R.Bottom + O.Y), P);
  FillDeviceRect(Rect(R.Left + O.X, R.Top + O.Y, R.Left + 1 + O.X, R.Bottom + O.Y), P);
  FillDeviceRect(Rect(R.Right - 1 + O.X, R.Top + O.Y, R.Right + O.X, R.Bottom + O.Y), P);
}

namespace {
// Splits at CR, LF and CR LF.
std::vector<std::string> SplitLines(const std::string& Text) {
  std::vector<std::string> Lines(1);
  for (size_t I = 0; I < Text.size(); ++I) {
    const char C = Text[I];
    if (C == '\r' || C == '\n') {
      if (C == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n') ++I;
      Lines.emplace_back();
    } else {
      Lines.back() += C;
    }
  }
  return Lines;
}

int32_t LineWidth(const TFont& Font, const std::string& Line) {
  int32_t W = 0;
  for (unsigned char C : Line) W += fontengine::Glyph(Font, C).Advance;
  return W;
}
}  // namespace

TSize TCanvas::TextExtent(const std::string& Text) {
  const fontengine::TFontMetrics M = fontengine::Metrics(FFont);
  const std::vector<std::string> Lines = SplitLines(Text);
  TSize S;
  for (const std::string& L : Lines) S.cx = std::max(S.cx, LineWidth(FFont, L));
  S.cy = M.Height() * static_cast<int32_t>(Lines.size());
  return S;
}

void TCanvas::DrawTextLines(int32_t X, int32_t Y, const std::string& Text, const TRect* Clip) {
  if (!FHandle) return;
  if (Clip) IntersectClip(*Clip);
  const fontengine::TFontMetrics M = fontengine::Metrics(FFont);
  const std::vector<std::string> Lines = SplitLines(Text);
  const TColor C = ColorToRGB(FFont.Color());
  const uint32_t CR = GetRValue(C), CG = GetGValue(C), CB = GetBValue(C);
  const TRect DevClip = EffectiveClip(FHandle, FClipStack);
  int32_t LineY = Y;
  for (const std::string& Line : Lines) {
    if (FBrush.Style() != bsClear)
      FillRect(Rect(X, LineY, X + LineWidth(FFont, Line), LineY + M.Height()));
    int32_t PenX = X + FHandle->Origin.X;
    const int32_t Baseline = LineY + M.Ascent + FHandle->Origin.Y;
    for (unsigned char Ch : Line) {
      const fontengine::TGlyph& G = fontengine::Glyph(FFont, Ch);
      for (int32_t GY = 0; GY < G.Rows; ++GY) {
        const int32_t DY = Baseline - G.Top + GY;
        for (int32_t GX = 0; GX < G.Width; ++GX) {
          const uint32_t A = G.Coverage[static_cast<size_t>(GY) * G.Width + GX];
          if (A == 0) continue;
          const int32_t DX = PenX + G.Left + GX;
          if (!DevClip.Contains({DX, DY})) continue;
          const uint32_t P = Div255(CR * A) | (Div255(CG * A) << 8) | (Div255(CB * A) << 16) | (A << 24);
          BlendOver(FHandle->Bitmap->ScanLine(DY) + 4 * DX, P);
        }
      }
      PenX += G.Advance;
    }
    if (FFont.Style().Contains(fsUnderline)) {
      const int32_t UY = LineY + M.Ascent + 1;
      FillDeviceRect(Rect(X + FHandle->Origin.X, UY + FHandle->Origin.Y, PenX, UY + 1 + FHandle->Origin.Y),
                     ColorToPixel(FFont.Color()));
    }
    LineY += M.Height();
  }
  if (Clip) RestoreClip();
}

void TCanvas::TextOut(int32_t X, int32_t Y, const std::string& Text) {
  DrawTextLines(X, Y, Text, nullptr);
  FPenPos = {X + TextWidth(Text), Y};
}

void TCanvas::TextRect(const TRect& R, int32_t X, int32_t Y, const std::string& Text) {
  DrawTextLines(X, Y, Text, &R);
}

void TCanvas::Draw(int32_t X, int32_t Y, const TBitmap& Source) {
  StretchDraw(Bounds(X, Y, Source.Width(), Source.Height()), Source);
}

void TCanvas::StretchDraw(const TRect& Dest, const TBitmap& Source) {
  StretchDraw(Dest, Source, Rect(0, 0, Source.Width(), Source.Height()));
}

void TCanvas::StretchDraw(const TRect& Dest, const TBitmap& Source, const TRect& SourceRect) {
  if (!FHandle) return;
  DrawScaled(Source, SourceRect, FHandle, Dest, EffectiveClip(FHandle, FClipStack), true);
}

void TCanvas::CopyRect(const TRect& Dest, TCanvas& Source, const TRect& SourceRect) {
  if (!FHandle || !Source.FHandle || !Source.FHandle->Bitmap) return;
  TRect S = SourceRect;
  S.Left += Source.FHandle->Origin.X;
  S.Right += Source.FHandle->Origin.X;
  S.Top += Source.FHandle->Origin.Y;
  S.Bottom += Source.FHandle->Origin.Y;
  if (Source.FHandle->Bitmap == FHandle->Bitmap) {
    // Overlapping copies inside one bitmap read from a snapshot.
    TBitmap Copy;
    Copy.Assign(*Source.FHandle->Bitmap);
    DrawScaled(Copy, S, FHandle, Dest, EffectiveClip(FHandle, FClipStack), false);
    return;
  }
  DrawScaled(*Source.FHandle->Bitmap, S, FHandle, Dest, EffectiveClip(FHandle, FClipStack), false);
}

void Frame3D(TCanvas& Canvas, TRect& R, TColor TopColor, TColor BottomColor, int32_t Width) {
  const TColor OldPen = Canvas.Pen().Color();
  const TPenStyle OldStyle = Canvas.Pen().Style();
  Canvas.Pen().SetStyle(psSolid);
  R.Right -= 1;
  R.Bottom -= 1;
  for (int32_t I = 0; I < Width; ++I) {
    Canvas.Pen().SetColor(TopColor);
    Canvas.MoveTo(R.Left, R.Bottom);
    Canvas.LineTo(R.Left, R.Top);
    Canvas.LineTo(R.Right, R.Top);
    Canvas.Pen().SetColor(BottomColor);
    Canvas.LineTo(R.Right, R.Bottom);
    Canvas.LineTo(R.Left - 1, R.Bottom);
    R = Rect(R.Left + 1, R.Top + 1, R.Right - 1, R.Bottom - 1);
  }
  R.Right += 1;
  R.Bottom += 1;
  Canvas.Pen().SetColor(OldPen);
  Canvas.Pen().SetStyle(OldStyle);
}

// ---------------------------------------------------------------------------------------------
// PNG files

namespace {

// Owns a stdio file; empty state: no file.
class TStdFile {
 public:
  TStdFile(const std::string& Name, const char* Mode) : FFile(std::fopen(Name.c_str(), Mode)) {}
  ~TStdFile() {
    if (FFile) std::fclose(FFile);
  }
  TStdFile(const TStdFile&) = delete;
  TStdFile& operator=(const TStdFile&) = delete;
  FILE* Get() const { return FFile; }
  // Closes the file; false when buffered data could not be written.
  bool Close() {
    FILE* F = FFile;
    FFile = nullptr;
    return F && std::fclose(F) == 0;
  }

 private:
  FILE* FFile;
};

void PngError(png_structp Png, png_const_charp Message) {
  auto* Text = static_cast<std::string*>(png_get_error_ptr(Png));
  if (Text) *Text = Message;
  png_longjmp(Png, 1);
}
void PngWarning(png_structp, png_const_charp) {}

}  // namespace

void LoadPngFile(TBitmap& Bitmap, const std::string& FileName) {
  TStdFile File(FileName, "rb");
  if (!File.Get()) throw EInvalidGraphic("Cannot open image file " + FileName);
  std::string Error = "not a PNG file";
  png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &Error, PngError, PngWarning);
  png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
  if (!Png || !Info) {
    png_destroy_read_struct(&Png, &Info, nullptr);
    throw EOutOfMemory();
  }
  // Everything the error path must free lives before setjmp.
  std::vector<uint8_t> Pixels;
  std::vector<png_bytep> Rows;
  png_uint_32 W = 0, H = 0;
  if (setjmp(png_jmpbuf(Png))) {
    png_destroy_read_struct(&Png, &Info, nullptr);
    throw EInvalidGraphic("Cannot read image file " + FileName + ": " + Error);
  }
  png_init_io(Png, File.Get());
  png_read_info(Png, Info);
  W = png_get_image_width(Png, Info);
  H = png_get_image_height(Png, Info);
  if (W > 16384 || H > 16384) {
    Error = "image too large";
    png_longjmp(Png, 1);
  }
  png_set_expand(Png);
  png_set_strip_16(Png);
  png_set_gray_to_rgb(Png);
  png_set_add_alpha(Png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(Png);
  png_read_update_info(Png, Info);
  Pixels.resize(static_cast<size_t>(W) * H * 4);
  Rows.resize(H);
  for (png_uint_32 Y = 0; Y < H; ++Y) Rows[Y] = Pixels.data() + static_cast<size_t>(Y) * W * 4;
  png_read_image(Png, Rows.data());
  png_read_end(Png, nullptr);
  png_destroy_read_struct(&Png, &Info, nullptr);

  Bitmap.SetSize(static_cast<int32_t>(W), static_cast<int32_t>(H));
  for (png_uint_32 Y = 0; Y < H; ++Y) {
    const uint8_t* S = Rows[Y];
    uint8_t* D = Bitmap.ScanLine(static_cast<int32_t>(Y));
    for (png_uint_32 X = 0; X < W; ++X, S += 4, D += 4) {
      const uint32_t A = S[3];
      D[0] = Div255(S[0] * A);
      D[1] = Div255(S[1] * A);
      D[2] = Div255(S[2] * A);
      D[3] = static_cast<uint8_t>(A);
    }
  }
}

void SavePngFile(const TBitmap& Bitmap, const std::string& FileName) {
  if (Bitmap.Width() <= 0 || Bitmap.Height() <= 0)
    throw EInvalidGraphic("Cannot write image file " + FileName + ": the bitmap is empty");
  TStdFile File(FileName, "wb");
  if (!File.Get()) throw EInvalidGraphic("Cannot create image file " + FileName);
  const int32_t W = Bitmap.Width(), H = Bitmap.Height();
  std::vector<uint8_t> Pixels(static_cast<size_t>(W) * H * 4);
  for (int32_t Y = 0; Y < H; ++Y) {
    const uint8_t* S = Bitmap.ScanLine(Y);
    uint8_t* D = Pixels.data() + static_cast<size_t>(Y) * W * 4;
    for (int32_t X = 0; X < W; ++X, S += 4, D += 4) {
      const uint32_t A = S[3];
      for (int C = 0; C < 3; ++C) D[C] = A ? static_cast<uint8_t>(std::min<uint32_t>(255, (S[C] * 255 + A / 2) / A)) : 0;
      D[3] = static_cast<uint8_t>(A);
    }
  }
  std::string Error = "write failed";
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &Error, PngError, PngWarning);
  png_infop Info = Png ? png_create_info_struct(Png) : nullptr;
  if (!Png || !Info) {
    png_destroy_write_struct(&Png, &Info);
    throw EOutOfMemory();
  }
  std::vector<png_bytep> Rows(static_cast<size_t>(H));
  for (int32_t Y = 0; Y < H; ++Y) Rows[static_cast<size_t>(Y)] = Pixels.data() + static_cast<size_t>(Y) * W * 4;
  if (setjmp(png_jmpbuf(Png))) {
    png_destroy_write_struct(&Png, &Info);
    throw EInvalidGraphic("Cannot write image file " + FileName + ": " + Error);
  }
  png_init_io(Png, File.Get());
  png_set_IHDR(Png, Info, static_cast<png_uint_32>(W), static_cast<png_uint_32>(H), 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(Png, Info);
  png_write_image(Png, Rows.data());
  png_write_end(Png, nullptr);
  png_destroy_write_struct(&Png, &Info);
  if (!File.Close()) throw EInvalidGraphic("Cannot write image file " + FileName + ": disk full or I/O error");
}

// ---------------------------------------------------------------------------------------------
// Resources

namespace {
std::string& ResourceDir() {
  static std::string Dir;
  return Dir;
}
}  // namespace

void SetResourceDirectory(const std::string& Path) { ResourceDir() = Path; }
const std::string& ResourceDirectory() { return ResourceDir(); }

std::string ResourcePath(const std::string& FileName) {
  if (ResourceDir().empty()) return FileName;
  return (std::filesystem::path(ResourceDir()) / FileName).string();
}

void LoadBitmapResource(TBitmap& Bitmap, const std::string& Name) {
  const std::string Path = ResourcePath(Name + ".png");
  std::error_code Ec;
  if (!std::filesystem::is_regular_file(Path, Ec))
    throw EResNotFound("Resource " + Name + " not found (" + Path + ")");
  LoadPngFile(Bitmap, Path);
}

}  // namespace varnix
