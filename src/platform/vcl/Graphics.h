// Graphics of the UI library: colours, fonts, pens, brushes, the 32-bit bitmap and the canvas that
// draws into it.
//
// Everything is drawn in software into TBitmap pixels: four bytes per pixel in the order R, G, B,
// A, colour premultiplied by alpha. Windows of the library are such bitmaps too, so any drawing
// can be checked pixel by pixel in a test. Text is rendered with FreeType; the face comes from
// fontconfig ("MS Sans Serif" and the default face map to the system sans face). A font height
// below zero is the em size in pixels (-11 is 11 pixels), above zero the cell height.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/Objects.h"
#include "common/Types.h"

namespace varnix {

// A colour $00BBGGRR, or a system colour (high bit set, low byte the system colour index).
using TColor = int32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clMaroon = 0x000080;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clOlive = 0x008080;
inline constexpr TColor clNavy = 0x800000;
inline constexpr TColor clPurple = 0x800080;
inline constexpr TColor clTeal = 0x808000;
inline constexpr TColor clGray = 0x808080;
inline constexpr TColor clSilver = 0xC0C0C0;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor clFuchsia = 0xFF00FF;
inline constexpr TColor clAqua = 0xFFFF00;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clDefault = 0x20000000;

inline constexpr TColor clSystemColor = static_cast<TColor>(0x80000000u);
inline constexpr TColor clScrollBar = clSystemColor | 0;
inline constexpr TColor clBackground = clSystemColor | 1;
inline constexpr TColor clActiveCaption = clSystemColor | 2;
inline constexpr TColor clMenu = clSystemColor | 4;
inline constexpr TColor clWindow = clSystemColor | 5;
inline constexpr TColor clWindowFrame = clSystemColor | 6;
inline constexpr TColor clMenuText = clSystemColor | 7;
inline constexpr TColor clWindowText = clSystemColor | 8;
inline constexpr TColor clHighlight = clSystemColor | 13;
inline constexpr TColor clHighlightText = clSystemColor | 14;
inline constexpr TColor clBtnFace = clSystemColor | 15;
inline constexpr TColor clBtnShadow = clSystemColor | 16;
inline constexpr TColor clGrayText = clSystemColor | 17;
inline constexpr TColor clBtnText = clSystemColor | 18;
inline constexpr TColor clBtnHighlight = clSystemColor | 20;
inline constexpr TColor cl3DDkShadow = clSystemColor | 21;
inline constexpr TColor cl3DLight = clSystemColor | 22;
inline constexpr TColor clInfoText = clSystemColor | 23;
inline constexpr TColor clInfoBk = clSystemColor | 24;

// The $00BBGGRR value of a colour; system colours come from the theme's palette.
TColor ColorToRGB(TColor Color);
constexpr TColor RGB(uint8_t R, uint8_t G, uint8_t B) { return R | (G << 8) | (B << 16); }
constexpr uint8_t GetRValue(TColor C) { return C & 0xFF; }
constexpr uint8_t GetGValue(TColor C) { return (C >> 8) & 0xFF; }
constexpr uint8_t GetBValue(TColor C) { return (C >> 16) & 0xFF; }

enum TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
enum TAlphaFormat { afIgnored, afDefined, afPremultiplied };

VARNIX_DECLARE_EXCEPTION(EInvalidGraphic, Exception);

enum TFontStyle { fsBold, fsItalic, fsUnderline, fsStrikeOut };
enum TPenStyle { psSolid, psDash, psDot, psClear };
enum TBrushStyle { bsSolid, bsClear };

// A small set of enumeration values (at most 32), the library's counterpart of a Pascal set.
template <class E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> Items) {
    for (E Item : Items) FBits |= Bit(Item);
  }
  constexpr bool Contains(E Item) const { return (FBits & Bit(Item)) != 0; }
  constexpr TSet& Include(E Item) { FBits |= Bit(Item); return *this; }
  constexpr TSet& Exclude(E Item) { FBits &= ~Bit(Item); return *this; }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint32_t Bits() const { return FBits; }
  friend constexpr TSet operator+(TSet A, TSet B) { A.FBits |= B.FBits; return A; }
  friend constexpr TSet operator-(TSet A, TSet B) { A.FBits &= ~B.FBits; return A; }
  friend constexpr TSet operator*(TSet A, TSet B) { A.FBits &= B.FBits; return A; }
  friend constexpr bool operator==(TSet A, TSet B) { return A.FBits == B.FBits; }

 private:
  static constexpr uint32_t Bit(E Item) { return 1u << static_cast<int>(Item); }
  uint32_t FBits = 0;
};

using TFontStyles = TSet<TFontStyle>;

// Base of the graphic objects that tell their user when they change.
class TGraphicsObject : public TObject {
 public:
  TNotifyEvent OnChange;

 protected:
  void Changed();
};

class TFont : public TGraphicsObject {
 public:
  TFont();
  void Assign(const TFont& Source);

  const std::string& Name() const { return FName; }
  void SetName(const std::string& Value);
  // Below zero: the em size in pixels; above zero: the cell height (ascent + descent) in pixels.
  int32_t Height() const { return FHeight; }
  void SetHeight(int32_t Value);
  // Points at 96 pixels per inch.
  int32_t Size() const;
  void SetSize(int32_t Value);
  TFontStyles Style() const { return FStyle; }
  void SetStyle(TFontStyles Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  int32_t Charset() const { return FCharset; }
  void SetCharset(int32_t Value) { FCharset = Value; }
  int32_t PixelsPerInch = 96;

  friend bool operator==(const TFont& A, const TFont& B) {
    return A.FName == B.FName && A.FHeight == B.FHeight && A.FStyle == B.FStyle && A.FColor == B.FColor;
  }

 private:
  std::string FName = "MS Sans Serif";
  int32_t FHeight = -11;
  TFontStyles FStyle;
  TColor FColor = clWindowText;
  int32_t FCharset = 1;  // DEFAULT_CHARSET
};

class TPen : public TGraphicsObject {
 public:
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  int32_t Width() const { return FWidth; }
  void SetWidth(int32_t Value);
  TPenStyle Style() const { return FStyle; }
  void SetStyle(TPenStyle Value);

 private:
  TColor FColor = clBlack;
  int32_t FWidth = 1;
  TPenStyle FStyle = psSolid;
};

class TBrush : public TGraphicsObject {
 public:
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  TBrushStyle Style() const { return FStyle; }
  void SetStyle(TBrushStyle Value);

 private:
  TColor FColor = clWhite;
  TBrushStyle FStyle = bsSolid;
};

class TBitmap;

// A drawing target: a bitmap, the device position of the logical origin, and the device
// rectangle outside which nothing is drawn. A canvas bound to a control gets the control's
// position inside its window and the visible part of the control.
struct TDeviceContext {
  TBitmap* Bitmap = nullptr;
  TPoint Origin;
  TRect Clip;
};
using HDC = TDeviceContext*;

// Draws into a device context. Coordinates are logical: (0, 0) is the context's origin.
// Rectangles include their left and top and exclude their right and bottom edge.
class TCanvas : public TObject {
 public:
  TCanvas();
  ~TCanvas() override;

  TFont& Font() { return FFont; }
  TPen& Pen() { return FPen; }
  TBrush& Brush() { return FBrush; }

  HDC Handle() const { return FHandle; }
  // Binds the canvas to a device context (nullptr unbinds); the context must outlive the binding.
  void SetHandle(HDC Value) { FHandle = Value; }
  bool HandleAllocated() const { return FHandle != nullptr; }

  // The clip rectangle in logical coordinates.
  TRect ClipRect() const;
  // Narrows the clip rectangle to R (logical) until RestoreClip.
  void IntersectClip(const TRect& R);
  void SaveClip();
  void RestoreClip();

  TColor Pixel(int32_t X, int32_t Y) const;
  void SetPixel(int32_t X, int32_t Y, TColor Color);

  TPoint PenPos() const { return FPenPos; }
  void MoveTo(int32_t X, int32_t Y) { FPenPos = {X, Y}; }
  // A line from the pen position to (X, Y), the end point excluded.
  void LineTo(int32_t X, int32_t Y);
  void Polyline(const std::vector<TPoint>& Points);
  // Filled with the brush (even-odd rule) and outlined with the pen.
  void Polygon(const std::vector<TPoint>& Points);
  // Outline with the pen, inside filled with the brush.
  void Rectangle(const TRect& R);
  void Rectangle(int32_t X1, int32_t Y1, int32_t X2, int32_t Y2) { Rectangle(Rect(X1, Y1, X2, Y2)); }
  // Fills R with the brush colour (nothing for a clear brush).
  void FillRect(const TRect& R);
  // A one-pixel border in the brush colour.
  void FrameRect(const TRect& R);

  // Draws text with its top-left cell corner at (X, Y); the cell background is filled with the
  // brush unless the brush is clear. CR, LF and CR LF break lines.
  void TextOut(int32_t X, int32_t Y, const std::string& Text);
  // Like TextOut, clipped to R.
  void TextRect(const TRect& R, int32_t X, int32_t Y, const std::string& Text);
  TSize TextExtent(const std::string& Text);
  int32_t TextWidth(const std::string& Text) { return TextExtent(Text).cx; }
  int32_t TextHeight(const std::string& Text) { return TextExtent(Text).cy; }

  // Draws the whole of Source with its top-left corner at (X, Y), blended over the target with
  // premultiplied alpha.
  void Draw(int32_t X, int32_t Y, const TBitmap& Source);
  // Draws SourceRect of Source scaled into Dest (nearest pixel), blended over the target.
  void StretchDraw(const TRect& Dest, const TBitmap& Source, const TRect& SourceRect);
  void StretchDraw(const TRect& Dest, const TBitmap& Source);
  // Copies SourceRect of the other canvas into Dest without blending (scaled when the sizes differ).
  void CopyRect(const TRect& Dest, TCanvas& Source, const TRect& SourceRect);

 private:
  friend class TBitmap;
  void FillDeviceRect(TRect R, uint32_t Pixel);
  void BlendDevicePixel(int32_t X, int32_t Y, uint32_t Pixel);
  void PutDevicePixel(int32_t X, int32_t Y, uint32_t Pixel);
  void DrawTextLines(int32_t X, int32_t Y, const std::string& Text, const TRect* Clip);

  TFont FFont;
  TPen FPen;
  TBrush FBrush;
  HDC FHandle = nullptr;
  TPoint FPenPos;
  std::vector<TRect> FClipStack;
};

// Holds a 32-bit image: four bytes per pixel in the order R, G, B, A, colour premultiplied by
// alpha, rows top-down, each row padded to a multiple of 16 bytes, the buffer 16-byte aligned and
// zero-filled whenever the size changes. Its Canvas draws into the pixels.
class TBitmap : public TObject {
 public:
  TBitmap();
  ~TBitmap() override;

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetWidth(int32_t Value) { SetSize(Value, FHeight); }
  void SetHeight(int32_t Value) { SetSize(FWidth, Value); }
  // Reallocates the pixels for the new size, all zero. Raises EInvalidGraphic for a negative size
  // or one whose buffer cannot be addressed, EOutOfMemory when the allocation fails.
  void SetSize(int32_t AWidth, int32_t AHeight);

  TPixelFormat PixelFormat() const { return FPixelFormat; }
  void SetPixelFormat(TPixelFormat Value) { FPixelFormat = Value; }
  TAlphaFormat AlphaFormat() const { return FAlphaFormat; }
  void SetAlphaFormat(TAlphaFormat Value) { FAlphaFormat = Value; }

  // The first byte of row Row (0 = top). REQUIRES: 0 <= Row < Height.
  uint8_t* ScanLine(int32_t Row) const { return FBits + static_cast<intptr_t>(Row) * FRowBytes; }
  // Distance in bytes between two rows: (4 × Width + 15) rounded down to a multiple of 16.
  int32_t RowBytes() const { return FRowBytes; }

  // Releases any cached platform image made from the pixels, so the next drawing sees changes
  // made through ScanLine. Drawing here always reads the pixels themselves, so nothing is cached.
  void Dormant() {}

  // A canvas drawing into this bitmap (created on first use, owned by the bitmap).
  TCanvas& Canvas();
  // A device context covering the whole bitmap (valid until the next SetSize).
  HDC DeviceContext();

  // Draws SourceRect of this bitmap scaled into Dest of the device context, blended with
  // premultiplied alpha over the target.
  void Draw(HDC DC, const TRect& SourceRect, const TRect& Dest) const;

  // Copies size and pixels of Source.
  void Assign(const TBitmap& Source);
  // Fills every pixel with an opaque colour.
  void Fill(TColor Color);

  // The pixel at (X, Y) as (A << 24) | (B << 16) | (G << 8) | R; REQUIRES: inside the bitmap.
  uint32_t RawPixel(int32_t X, int32_t Y) const {
    const uint8_t* P = ScanLine(Y) + 4 * X;
    return P[0] | (P[1] << 8) | (P[2] << 16) | (static_cast<uint32_t>(P[3]) << 24);
  }

 private:
  void Release();

  int32_t FWidth = 0;
  int32_t FHeight = 0;
  int32_t FRowBytes = 0;
  uint8_t* FBits = nullptr;
  TPixelFormat FPixelFormat = pf32bit;
  TAlphaFormat FAlphaFormat = afPremultiplied;
  std::unique_ptr<TCanvas> FCanvas;
  TDeviceContext FContext;
};

// An opaque device pixel (R, G, B, 255) for a colour.
uint32_t ColorToPixel(TColor Color);

// Draws a 3-D frame of Width pixels: top and left in TopColor, bottom and right in BottomColor;
// R shrinks by the frame on each side.
void Frame3D(TCanvas& Canvas, TRect& R, TColor TopColor, TColor BottomColor, int32_t Width);

// Fonts. The face for a font name comes from fontconfig; tests pin one file per style so that
// text is identical on every machine. An empty file name removes the pin.
void PinFontFile(const std::string& RegularFile, const std::string& BoldFile);
// The font file that draws Font (after the pin and the face mapping).
std::string FontFileFor(const TFont& Font);

// PNG files. LoadPngFile reads any PNG into the bitmap (premultiplied); SavePngFile writes the
// bitmap with its alpha un-premultiplied. Both raise EInvalidGraphic naming the file and reason.
void LoadPngFile(TBitmap& Bitmap, const std::string& FileName);
void SavePngFile(const TBitmap& Bitmap, const std::string& FileName);

// Resources: files looked up by name in the resource directory set at start-up (a bundle sets its
// Contents/Resources). A bitmap resource "Name" is the file Name.png.
void SetResourceDirectory(const std::string& Path);
const std::string& ResourceDirectory();
// The path of a resource file (the directory joined with FileName).
std::string ResourcePath(const std::string& FileName);
// Loads the bitmap resource Name (Name.png); raises EResNotFound when it does not exist.
VARNIX_DECLARE_EXCEPTION(EResNotFound, Exception);
void LoadBitmapResource(TBitmap& Bitmap, const std::string& Name);

}  // namespace varnix
