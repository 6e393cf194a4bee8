#include <gtest/gtest.h>

#include <filesystem>

#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Graphics.h"
#include "platform/vcl/StdCtrls.h"
#include "VclTestSupport.h"

namespace varnix {
namespace {

using test::Pixel;

TEST(BitmapTest, RowsArePaddedTo16BytesAlignedAndZeroFilled) {
  struct Case {
    int32_t Width;
    int32_t RowBytes;
  };
  for (Case C : {Case{5, 32}, Case{4, 16}, Case{1, 16}, Case{0, 0}, Case{9, 48}}) {
    SCOPED_TRACE(C.Width);
    TBitmap B;
    B.SetSize(C.Width, 3);
    EXPECT_EQ(B.RowBytes(), C.RowBytes);
    if (C.Width == 0) continue;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(B.ScanLine(0)) % 16, 0u);
    for (int32_t Y = 0; Y < 3; ++Y)
      for (int32_t I = 0; I < C.RowBytes; ++I) ASSERT_EQ(B.ScanLine(Y)[I], 0);
  }
  TBitmap B;
  EXPECT_THROW(B.SetSize(-1, 2), EInvalidGraphic);
}

// A 2 × 2 premultiplied source: opaque red, half-transparent green (premultiplied 0,128,0,128),
// transparent, opaque white.
void MakeSource(TBitmap& S) {
  S.SetSize(2, 2);
  auto Put = [&](int X, int Y, uint8_t R, uint8_t G, uint8_t B, uint8_t A) {
    uint8_t* P = S.ScanLine(Y) + 4 * X;
    P[0] = R, P[1] = G, P[2] = B, P[3] = A;
  };
  Put(0, 0, 255, 0, 0, 255);
  Put(1, 0, 0, 128, 0, 128);
  Put(0, 1, 0, 0, 0, 0);
  Put(1, 1, 255, 255, 255, 255);
}

TEST(BitmapTest, DrawScalesTheSourceRectangleIntoTheDestinationWithPremultipliedBlending) {
  TBitmap S, T;
  MakeSource(S);
  T.SetSize(8, 6);
  T.Fill(clBlue);
  // The whole source doubled into (1, 1)-(5, 5): each source pixel becomes a 2 × 2 block.
  S.Draw(T.DeviceContext(), Rect(0, 0, 2, 2), Rect(1, 1, 5, 5));
  const uint32_t Blue = Pixel(0, 0, 255), Red = Pixel(255, 0, 0), White = Pixel(255, 255, 255);
  const uint32_t GreenOverBlue = Pixel(0, 128, 127, 255);  // 128 + 255 × 127/255, blue × (1 − 128/255)
  const uint32_t Expected[6][8] = {
      {Blue, Blue, Blue, Blue, Blue, Blue, Blue, Blue},
      {Blue, Red, Red, GreenOverBlue, GreenOverBlue, Blue, Blue, Blue},
      {Blue, Red, Red, GreenOverBlue, GreenOverBlue, Blue, Blue, Blue},
      {Blue, Blue, Blue, White, White, Blue, Blue, Blue},
      {Blue, Blue, Blue, White, White, Blue, Blue, Blue},
      {Blue, Blue, Blue, Blue, Blue, Blue, Blue, Blue},
  };
  for (int Y = 0; Y < 6; ++Y)
    for (int X = 0; X < 8; ++X) EXPECT_EQ(T.RawPixel(X, Y), Expected[Y][X]) << X << "," << Y;

  // Only the right column of the source, shrunk... and clipped by the target's edge.
  T.Fill(clBlack);
  S.Draw(T.DeviceContext(), Rect(1, 0, 2, 2), Rect(6, 4, 10, 8));
  EXPECT_EQ(T.RawPixel(7, 5), Pixel(0, 128, 0, 255));
  EXPECT_EQ(T.RawPixel(6, 4), Pixel(0, 128, 0, 255));
  EXPECT_EQ(T.RawPixel(5, 4), Pixel(0, 0, 0));
}

TEST(CanvasTest, FillRectAndRectangleCoverExactlyTheirPixels) {
  TBitmap B;
  B.SetSize(40, 30);
  TCanvas& C = B.Canvas();
  C.Brush().SetColor(clWhite);
  C.FillRect(Rect(0, 0, 40, 30));
  C.Brush().SetColor(clRed);
  C.FillRect(Rect(-5, -5, 3, 2));  // clipped at the edges
  C.Brush().SetColor(clLime);
  C.Pen().SetColor(clBlack);
  C.Rectangle(10, 10, 15, 14);
  for (int Y = 0; Y < 30; ++Y)
    for (int X = 0; X < 40; ++X) {
      uint32_t E = Pixel(255, 255, 255);
      if (X < 3 && Y < 2) E = Pixel(255, 0, 0);
      if (X >= 10 && X < 15 && Y >= 10 && Y < 14)
        E = (X == 10 || X == 14 || Y == 10 || Y == 13) ? Pixel(0, 0, 0) : Pixel(0, 255, 0);
      ASSERT_EQ(B.RawPixel(X, Y), E) << X << "," << Y;
    }
}

TEST(CanvasTest, LinesExcludeTheirEndPointAndPolygonsFillTheirInside) {
  TBitmap B;
  B.SetSize(20, 20);
  B.Fill(clWhite);
  TCanvas& C = B.Canvas();
  C.Pen().SetColor(clBlack);
  C.MoveTo(2, 2);
  C.LineTo(6, 2);
  EXPECT_EQ(B.RawPixel(5, 2), Pixel(0, 0, 0));
  EXPECT_EQ(B.RawPixel(6, 2), Pixel(255, 255, 255));
  C.Brush().SetColor(clRed);
  C.Pen().SetStyle(psClear);
  C.Polygon({{10, 10}, {18, 10}, {18, 18}});  // a right triangle, filled below its diagonal
  EXPECT_EQ(B.RawPixel(17, 11), Pixel(255, 0, 0));
  EXPECT_EQ(B.RawPixel(11, 17), Pixel(255, 255, 255));
}

TEST(CanvasTest, Frame3DDrawsLightTopLeftAndDarkBottomRight) {
  TBitmap B;
  B.SetSize(6, 5);
  B.Fill(clWhite);
  TRect R = Rect(0, 0, 6, 5);
  Frame3D(B.Canvas(), R, clRed, clBlue, 1);
  EXPECT_EQ(R, Rect(1, 1, 5, 4));
  EXPECT_EQ(B.RawPixel(0, 0), Pixel(255, 0, 0));
  EXPECT_EQ(B.RawPixel(0, 3), Pixel(255, 0, 0));
  EXPECT_EQ(B.RawPixel(5, 4), Pixel(0, 0, 255));
  EXPECT_EQ(B.RawPixel(5, 0), Pixel(0, 0, 255)) << "the top-right corner belongs to the dark side";
  EXPECT_EQ(B.RawPixel(2, 2), Pixel(255, 255, 255));
}

// Bounding box of the pixels that differ from Background.
TRect InkBox(const TBitmap& B, uint32_t Background) {
  TRect R{B.Width(), B.Height(), -1, -1};
  for (int Y = 0; Y < B.Height(); ++Y)
    for (int X = 0; X < B.Width(); ++X)
      if (B.RawPixel(X, Y) != Background) {
        R.Left = std::min(R.Left, X);
        R.Top = std::min(R.Top, Y);
        R.Right = std::max(R.Right, X + 1);
        R.Bottom = std::max(R.Bottom, Y + 1);
      }
  return R;
}

TEST(CanvasTest, TextIsDrawnWhereItsExtentSaysAndElevenPixelsHigh) {
  test::PinTestFont();
  TBitmap B;
  B.SetSize(120, 40);
  B.Fill(clWhite);
  TCanvas& C = B.Canvas();
  C.Font().SetName("MS Sans Serif");
  C.Font().SetHeight(-11);
  C.Font().SetColor(clBlack);
  C.Brush().SetStyle(bsClear);
  const TSize S = C.TextExtent("Hello");
  C.TextOut(10, 8, "Hello");
  const TRect Ink = InkBox(B, Pixel(255, 255, 255));
  EXPECT_GE(Ink.Left, 10);
  EXPECT_LE(Ink.Right, 10 + S.cx);
  EXPECT_GE(Ink.Top, 8);
  EXPECT_LE(Ink.Bottom, 8 + S.cy);
  // Capital H of an 11-pixel em is about 8 pixels tall.
  EXPECT_GE(Ink.Height(), 7);
  EXPECT_LE(Ink.Height(), 10);
  EXPECT_GE(S.cx, 25);
  EXPECT_LE(S.cx, 40);
  // Two lines split at a carriage return are twice as high.
  EXPECT_EQ(C.TextExtent("a\rb").cy, 2 * C.TextExtent("a").cy);
  EXPECT_EQ(FontFileFor(C.Font()), "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf");
}

TEST(CanvasTest, TheSystemSansFaceStandsInForTheClassicDialogFace) {
  PinFontFile("", "");
  TFont F;
  F.SetName("MS Sans Serif");
  const std::string File = FontFileFor(F);
  test::PinTestFont();
  EXPECT_NE(File.find("DejaVuSans"), std::string::npos) << File;
}

TEST(PngTest, SaveAndLoadRoundTripsPremultipliedPixels) {
  TBitmap S;
  MakeSource(S);
  const std::string File = std::filesystem::temp_directory_path() / ("vcl-png-" + std::to_string(::getpid()) + ".png");
  SavePngFile(S, File);
  TBitmap L;
  LoadPngFile(L, File);
  ASSERT_EQ(L.Width(), 2);
  for (int Y = 0; Y < 2; ++Y)
    for (int X = 0; X < 2; ++X) EXPECT_EQ(L.RawPixel(X, Y), S.RawPixel(X, Y));
  std::filesystem::remove(File);
  try {
    LoadPngFile(L, File);
    FAIL();
  } catch (EInvalidGraphic& E) {
    EXPECT_EQ(E.Message(), "Cannot open image file " + File);
  }
}

TEST(PaintTest, ControlsPaintIntoTheirFormsPictureClippedToThemselves) {
  test::PinTestFont();
  Application->SetBackend(bkHeadless);
  TOwned<TForm> F(new TForm(nullptr));
  F->SetBounds(0, 0, 100, 60);
  F->SetColor(clWhite);
  auto* P = new TPanel(F.get());
  P->SetParent(F.get());
  P->SetBounds(10, 10, 30, 20);
  P->SetBevelOuter(bvNone);
  P->SetColor(clRed);
  auto* Inner = new TPanel(F.get());
  Inner->SetParent(P);
  Inner->SetBounds(20, 5, 30, 30);  // sticks out of its parent
  Inner->SetBevelOuter(bvNone);
  Inner->SetColor(clBlue);
  auto* L = new TLabel(F.get());
  L->SetParent(F.get());
  L->SetCaption("Ab");
  L->SetLeft(60);
  L->SetTop(40);
  F->Show();
  F->PaintInvalidated();
  const TBitmap& B = F->PaintBuffer();
  EXPECT_EQ(B.RawPixel(5, 5), Pixel(255, 255, 255));
  EXPECT_EQ(B.RawPixel(11, 11), Pixel(255, 0, 0));
  EXPECT_EQ(B.RawPixel(35, 20), Pixel(0, 0, 255));
  EXPECT_EQ(B.RawPixel(45, 20), Pixel(255, 255, 255)) << "a child is clipped to its parent";
  EXPECT_GT(L->Width(), 8) << "auto size";
  bool Ink = false;
  for (int Y = L->Top(); Y < L->Top() + L->Height(); ++Y)
    for (int X = L->Left(); X < L->Left() + L->Width(); ++X) Ink = Ink || B.RawPixel(X, Y) != Pixel(255, 255, 255);
  EXPECT_TRUE(Ink) << "the label's text is visible inside its bounds";
  F->Hide();
}

}  // namespace
}  // namespace varnix
