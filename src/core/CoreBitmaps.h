// The bitmap classes every image of the system lives in.
//
// Seven concrete rasters share one base: the document (`TColorBitmap`, premultiplied R, G, B, A
// bytes kept inside the UI library's `TBitmap`), masks and labels (`TGrayscaleBitmap`), the 16-bit
// gradient (`TWordGrayscaleBitmap`), region numbers (`TIntegerGrayscaleBitmap`), float images
// (`TFloatGrayscaleBitmap`) and colour images in other spaces (`THSLColorBitmap`,
// `TFloatColorBitmap`).
//
// A bitmap starts at 0 x 0 without a buffer. `Resize` is the only operation that checks anything:
// a negative size, or one whose buffer could not be addressed, raises EBitmapError and leaves the
// bitmap as it was; a failed allocation raises EOutOfMemory and leaves an empty 0 x 0 bitmap.
// Every real size change discards the pixel content.
//
// The per-pixel accessors (`Address`, `GetPixel`, `SetPixel`, `GetValue`, `SetValue`, the
// neighbour functions) are inline address arithmetic without range checks or virtual calls:
// REQUIRES: the coordinates lie inside the bitmap. The watershed and flood algorithms depend on
// the exact neighbour orders documented below, interior and border orders alike.
//
// Nothing here locks; a bitmap has one owner and may be read by several threads while none writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/Objects.h"
#include "common/Types.h"
#include "platform/vcl/Graphics.h"

namespace varnix {

// A bitmap size that cannot be represented (negative, or a buffer too large to address).
VARNIX_DECLARE_EXCEPTION(EBitmapError, Exception);

// ---- Pixel types ---------------------------------------------------------------------------

using TGrayscalePixel = uint8_t;
using PGrayscalePixel = TGrayscalePixel*;
using TWordGrayscalePixel = uint16_t;
using PWordGrayscalePixel = TWordGrayscalePixel*;
using TIntegerGrayscalePixel = int32_t;
using PIntegerGrayscalePixel = TIntegerGrayscalePixel*;
using TFloatGrayscalePixel = float;
using PFloatGrayscalePixel = TFloatGrayscalePixel*;

// One document pixel; the colour is premultiplied by A.
struct TColorPixel {
  uint8_t R = 0;
  uint8_t G = 0;
  uint8_t B = 0;
  uint8_t A = 0;
  friend constexpr bool operator==(const TColorPixel&, const TColorPixel&) = default;
};
using PColorPixel = TColorPixel*;

// A hue in degrees, 0..360.
using THueValue = uint16_t;

struct THSLColorPixel {
  THueValue H = 0;
  uint8_t S = 0;
  uint8_t L = 0;
  friend constexpr bool operator==(const THSLColorPixel&, const THSLColorPixel&) = default;
};
using PHSLColorPixel = THSLColorPixel*;

struct TFloatColorPixel {
  float C0 = 0;
  float C1 = 0;
  float C2 = 0;
  friend constexpr bool operator==(const TFloatColorPixel&, const TFloatColorPixel&) = default;
};
using PFloatColorPixel = TFloatColorPixel*;

static_assert(sizeof(TColorPixel) == 4 && sizeof(THSLColorPixel) == 4 && sizeof(TFloatColorPixel) == 12);

// ---- Neighbour records: fixed capacity, returned by value; only the first Count entries count.

struct TPixelNeighbors {
  int32_t Count = 0;
  TPoint Pixels[8];
};

struct TGrayscaleNeighbors {
  int32_t Count = 0;
  PGrayscalePixel Pixels[8];
};

struct TIntegerGrayscaleNeighbors {
  int32_t Count = 0;
  PIntegerGrayscalePixel Pixels[8];
};

struct TColorNeighbors {
  int32_t Count = 0;
  PColorPixel Pixels[8];
};

enum TBitmapStretchMode { bsNoInterpolation, bsLinearInterpolation };

// One flag per column or row, one byte each: std::vector<bool> would pack bits and turn every
// interior test into a shift and a mask.
using TBooleanArray = std::vector<uint8_t>;

// ---- TAbstractBitmap -----------------------------------------------------------------------

class TAbstractBitmap : public TObject {
 public:
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetWidth(int32_t Value) { Resize(Value, FHeight); }
  void SetHeight(int32_t Value) { Resize(FWidth, Value); }

  // InnerColumns()[X] is 1 exactly when 0 < X < Width - 1; InnerRows()[Y] likewise for rows.
  const TBooleanArray& InnerColumns() const { return FInnerColumns; }
  const TBooleanArray& InnerRows() const { return FInnerRows; }

  // Changes the size. The same size changes nothing (the content stays and Resized is not
  // called); any other size releases the old buffer, allocates a new one when both sides are
  // positive and calls Resized, also for an empty bitmap. The new content is undefined (zero for
  // TColorBitmap).
  // Raises EBitmapError for a negative size or one whose buffer cannot be addressed (the bitmap
  // is unchanged), EOutOfMemory when the allocation fails (the bitmap is left empty, 0 x 0).
  void Resize(int32_t AWidth, int32_t AHeight);

  bool ContainsPoint(TPoint P) const { return P.X >= 0 && P.X < FWidth && P.Y >= 0 && P.Y < FHeight; }

  // The neighbours inside the bitmap.
  //   4-connected: N, W, E, S.
  //   8-connected: interior pixels in raster order NW, N, NE, W, E, SW, S, SE; at the border
  //     N, NW, NE, W, E, S, SW, SE (the vertical neighbour leads its row). Both orders are relied
  //     on by the flood algorithms.
  //   8 minus 4 (diagonals only): NW, NE, SW, SE.
  TPixelNeighbors Get4ConnectedPixels(int32_t X, int32_t Y) const;
  TPixelNeighbors Get8ConnectedPixels(int32_t X, int32_t Y) const;
  TPixelNeighbors Get8Minus4ConnectedPixels(int32_t X, int32_t Y) const;

 protected:
  // PixelSize: bytes per pixel; RowAlignment: rows are padded to a multiple of it (a power of 2).
  TAbstractBitmap(int32_t PixelSize, int32_t RowAlignment) : FPixelSize(PixelSize), FRowAlignment(RowAlignment) {}

  // Allocates the buffer for the current Width and Height (both positive).
  virtual void AllocateBitmap() = 0;
  // Frees the buffer; harmless when there is none.
  virtual void ReleaseBitmap() = 0;
  // Called after every size change to rebuild derived tables.
  virtual void Resized() {}

  // The row length in bytes for a width (checked by Resize before any allocation).
  int32_t CalculateRowSize(int32_t AWidth) const {
    return static_cast<int32_t>((static_cast<int64_t>(AWidth) * FPixelSize + FRowAlignment - 1) &
                                ~static_cast<int64_t>(FRowAlignment - 1));
  }

 private:
  void CheckSize(int32_t AWidth, int32_t AHeight) const;

  const int32_t FPixelSize;
  const int32_t FRowAlignment;
  int32_t FHeight = 0;
  TBooleanArray FInnerColumns;
  TBooleanArray FInnerRows;
  int32_t FWidth = 0;
};

// ---- Grayscale family ----------------------------------------------------------------------

class TAbstractGrayscaleBitmap : public TAbstractBitmap {
 public:
  virtual float GetFloatValue(int32_t X, int32_t Y) const = 0;

  // GetFloatValue with X clamped into [0, Width - 1] and Y into [0, Height - 1]: edge values
  // repeat outward. REQUIRES: a non-empty bitmap. The concrete classes repeat this function
  // without the virtual call, for use in per-pixel loops.
  float GetClippedFloatValue(int32_t X, int32_t Y) const {
    return GetFloatValue(ClampX(X), ClampY(Y));
  }

 protected:
  using TAbstractBitmap::TAbstractBitmap;
  int32_t ClampX(int32_t X) const { return X < 0 ? 0 : (X >= Width() ? Width() - 1 : X); }
  int32_t ClampY(int32_t Y) const { return Y < 0 ? 0 : (Y >= Height() ? Height() - 1 : Y); }
};

// Bytes; masks are 0 (not selected) ... 255 (selected). Rows are padded to 4 bytes.
class TGrayscaleBitmap : public TAbstractGrayscaleBitmap {
 public:
  TGrayscaleBitmap() : TAbstractGrayscaleBitmap(1, 4) {}
  ~TGrayscaleBitmap() override;

  PGrayscalePixel Bits() const { return FBits; }
  // Row start addresses, Rows()[Y] = Bits() + Y * RowSize().
  const std::vector<PGrayscalePixel>& Rows() const { return FRows; }
  // (Width + 3) rounded down to a multiple of 4.
  int32_t RowSize() const { return FRowSize; }

  PGrayscalePixel Address(int32_t X, int32_t Y) const { return FRows[Y] + X; }
  uint8_t GetPixel(int32_t X, int32_t Y) const { return FRows[Y][X]; }

  // Draws SourceRect scaled into DestRect of a device context as an opaque gray image (value v
  // becomes the colour (v, v, v)); the part of SourceRect outside the bitmap is not drawn.
  void Draw(HDC DC, const TRect& SourceRect, const TRect& DestRect) const;

  void SetPixel(int32_t X, int32_t Y, uint8_t Value) { FRows[Y][X] = Value; }
  uint8_t GetValue(TPoint P) const { return FRows[P.Y][P.X]; }
  void SetValue(TPoint P, uint8_t Value) { FRows[P.Y][P.X] = Value; }
  uint8_t GetClippedValue(TPoint P) const { return FRows[ClampY(P.Y)][ClampX(P.X)]; }
  float GetFloatValue(int32_t X, int32_t Y) const final { return FRows[Y][X]; }
  float GetClippedFloatValue(int32_t X, int32_t Y) const { return FRows[ClampY(Y)][ClampX(X)]; }

  // Sets every pixel to 0.
  void Clear();
  // Takes Source's size and content (the row layouts are then identical).
  void Assign(const TGrayscaleBitmap* Source);
  // Sets the pixels of Rect (right and bottom exclusive) that lie inside the bitmap to Value.
  void FillRect(const TRect& Rect, uint8_t Value);

  // Neighbour addresses, N, W, E, S.
  TGrayscaleNeighbors Get4ConnectedNeighbors(int32_t X, int32_t Y) const;
  // Neighbour addresses, N, NW, NE, W, E, S, SW, SE (the border order, everywhere).
  TGrayscaleNeighbors Get8ConnectedNeighbors(int32_t X, int32_t Y) const;

 protected:
  void AllocateBitmap() override;
  void ReleaseBitmap() override;
  void Resized() override;

 private:
  PGrayscalePixel FBits = nullptr;
  std::vector<PGrayscalePixel> FRows;
  int32_t FRowSize = 0;
};

// Single-precision floats; rows are 4 x Width bytes.
class TFloatGrayscaleBitmap : public TAbstractGrayscaleBitmap {
 public:
  TFloatGrayscaleBitmap() : TAbstractGrayscaleBitmap(4, 1) {}
  ~TFloatGrayscaleBitmap() override;

  PFloatGrayscalePixel Bits() const { return FBits; }
  int32_t RowSize() const { return 4 * Width(); }

  PFloatGrayscalePixel Address(int32_t X, int32_t Y) const {
    return FBits + static_cast<ptrdiff_t>(Y) * Width() + X;
  }
  float GetPixel(int32_t X, int32_t Y) const { return *Address(X, Y); }
  void SetPixel(int32_t X, int32_t Y, float Value) { *Address(X, Y) = Value; }
  float GetValue(TPoint P) const { return *Address(P.X, P.Y); }
  void SetValue(TPoint P, float Value) { *Address(P.X, P.Y) = Value; }
  float GetClippedValue(TPoint P) const { return *Address(ClampX(P.X), ClampY(P.Y)); }
  float GetFloatValue(int32_t X, int32_t Y) const final { return *Address(X, Y); }
  float GetClippedFloatValue(int32_t X, int32_t Y) const { return *Address(ClampX(X), ClampY(Y)); }

  // Sets every pixel to 0.
  void Clear();

 protected:
  void AllocateBitmap() override;
  void ReleaseBitmap() override;

 private:
  PFloatGrayscalePixel FBits = nullptr;
};

// 16-bit words (gradients); rows are 2 x Width bytes, not padded.
class TWordGrayscaleBitmap : public TAbstractGrayscaleBitmap {
 public:
  TWordGrayscaleBitmap() : TAbstractGrayscaleBitmap(2, 1) {}
  ~TWordGrayscaleBitmap() override;

  PWordGrayscalePixel Bits() const { return FBits; }
  const std::vector<PWordGrayscalePixel>& Rows() const { return FRows; }
  int32_t RowSize() const { return 2 * Width(); }

  PWordGrayscalePixel Address(int32_t X, int32_t Y) const { return FRows[Y] + X; }
  uint16_t GetPixel(int32_t X, int32_t Y) const { return FRows[Y][X]; }
  void SetPixel(int32_t X, int32_t Y, uint16_t Value) { FRows[Y][X] = Value; }
  uint16_t GetValue(TPoint P) const { return FRows[P.Y][P.X]; }
  void SetValue(TPoint P, uint16_t Value) { FRows[P.Y][P.X] = Value; }
  uint16_t GetClippedValue(TPoint P) const { return FRows[ClampY(P.Y)][ClampX(P.X)]; }
  float GetFloatValue(int32_t X, int32_t Y) const final { return FRows[Y][X]; }
  float GetClippedFloatValue(int32_t X, int32_t Y) const { return FRows[ClampY(Y)][ClampX(X)]; }

 protected:
  void AllocateBitmap() override;
  void ReleaseBitmap() override;
  void Resized() override;

 private:
  PWordGrayscalePixel FBits = nullptr;
  std::vector<PWordGrayscalePixel> FRows;
};

// Signed 32-bit integers (region numbers); rows are 4 x Width bytes.
class TIntegerGrayscaleBitmap : public TAbstractGrayscaleBitmap {
 public:
  TIntegerGrayscaleBitmap() : TAbstractGrayscaleBitmap(4, 1) {}
  ~TIntegerGrayscaleBitmap() override;

  PIntegerGrayscalePixel Bits() const { return FBits; }
  const std::vector<PIntegerGrayscalePixel>& Rows() const { return FRows; }
  int32_t RowSize() const { return 4 * Width(); }

  PIntegerGrayscalePixel Address(int32_t X, int32_t Y) const { return FRows[Y] + X; }
  int32_t GetPixel(int32_t X, int32_t Y) const { return FRows[Y][X]; }
  void SetPixel(int32_t X, int32_t Y, int32_t Value) { FRows[Y][X] = Value; }
  int32_t GetValue(TPoint P) const { return FRows[P.Y][P.X]; }
  void SetValue(TPoint P, int32_t Value) { FRows[P.Y][P.X] = Value; }
  int32_t GetClippedValue(TPoint P) const { return FRows[ClampY(P.Y)][ClampX(P.X)]; }
  float GetFloatValue(int32_t X, int32_t Y) const final { return static_cast<float>(FRows[Y][X]); }
  float GetClippedFloatValue(int32_t X, int32_t Y) const {
    return static_cast<float>(FRows[ClampY(Y)][ClampX(X)]);
  }

  // Neighbour addresses, N, W, E, S.
  TIntegerGrayscaleNeighbors Get4ConnectedNeighbors(int32_t X, int32_t Y) const;

 protected:
  void AllocateBitmap() override;
  void ReleaseBitmap() override;
  void Resized() override;

 private:
  PIntegerGrayscalePixel FBits = nullptr;
  std::vector<PIntegerGrayscalePixel> FRows;
};

// ---- Colour family -------------------------------------------------------------------------

class TAbstractColorBitmap : public TAbstractBitmap {
 public:
  virtual TFloatColorPixel GetFloatColor(int32_t X, int32_t Y) const = 0;
  virtual float GetFloatColorChannel(int32_t X, int32_t Y, int32_t Channel) const = 0;

 protected:
  using TAbstractBitmap::TAbstractBitmap;
};

// The document: premultiplied R, G, B, A bytes held by a UI-library bitmap (32 bits with alpha,
// rows top-down, padded to 16 bytes, zero-filled on every allocation). Bits() is that bitmap's
// first scan line.
class TColorBitmap : public TAbstractColorBitmap {
 public:
  TColorBitmap() : TAbstractColorBitmap(4, 16) {}
  ~TColorBitmap() override;

  PColorPixel Bits() const { return FBits; }
  // (4 x Width + 15) rounded down to a multiple of 16.
  int32_t RowSize() const { return FRowSize; }
  // The UI-library bitmap that owns the pixels; nullptr while the bitmap is empty.
  TBitmap* Bitmap() const { return FBitmap.get(); }

  PColorPixel Address(int32_t X, int32_t Y) const {
    return reinterpret_cast<PColorPixel>(reinterpret_cast<uint8_t*>(FBits) + static_cast<ptrdiff_t>(Y) * FRowSize) + X;
  }
  TColorPixel GetPixel(int32_t X, int32_t Y) const { return *Address(X, Y); }
  void SetPixel(int32_t X, int32_t Y, TColorPixel Value) { *Address(X, Y) = Value; }

  // (R, G, B) as floats.
  TFloatColorPixel GetFloatColor(int32_t X, int32_t Y) const final {
    const TColorPixel P = *Address(X, Y);
    return TFloatColorPixel{static_cast<float>(P.R), static_cast<float>(P.G), static_cast<float>(P.B)};
  }
  // Byte Channel of the pixel (0 R, 1 G, 2 B, 3 A). REQUIRES: 0 <= Channel <= 3.
  float GetFloatColorChannel(int32_t X, int32_t Y, int32_t Channel) const final {
    return reinterpret_cast<const uint8_t*>(Address(X, Y))[Channel];
  }

  // Takes Source's size and content.
  void Assign(const TColorBitmap* Source);

  // Drawing into a device context of the UI library, blended with premultiplied alpha over the
  // target. An empty bitmap draws nothing.
  //   Draw(DC): the whole bitmap, unscaled, its top-left corner at the context's origin.
  //   Draw(DC, Rect, X, Y): the part whose top-left corner is (X, Y), unscaled, into Rect.
  //   Draw(DC, SourceRect, DestRect, Mode): SourceRect scaled into DestRect; Mode is accepted
  //   and does not change the result.
  void Draw(HDC DC) const;
  void Draw(HDC DC, const TRect& Rect, int32_t X, int32_t Y) const;
  void Draw(HDC DC, const TRect& SourceRect, const TRect& DestRect, TBitmapStretchMode Mode) const;

  // Fades the overlapping top-left area by the mask: every byte c becomes (c * a) >> 8 with
  // a = m + (m >> 7), so mask 255 keeps the pixel and mask 0 makes it transparent black.
  void Mask(const TGrayscaleBitmap* AMask);

  // Neighbour addresses, N, W, E, S.
  TColorNeighbors Get4ConnectedNeighbors(int32_t X, int32_t Y) const;

 protected:
  void AllocateBitmap() override;
  void ReleaseBitmap() override;

 private:
  PColorPixel FBits = nullptr;
  int32_t FRowSize = 0;
  TOwned<TBitmap> FBitmap;
};

// Hue, saturation and lightness; rows are 4 x Width bytes.
class THSLColorBitmap : public TAbstractColorBitmap {
 public:
  THSLColorBitmap() : TAbstractColorBitmap(4, 1) {}
  ~THSLColorBitmap() override;

  PHSLColorPixel Bits() const { return FBits; }
  int32_t RowSize() const { return 4 * Width(); }

  PHSLColorPixel Address(int32_t X, int32_t Y) const { return FBits + static_cast<ptrdiff_t>(Y) * Width() + X; }
  THSLColorPixel GetPixel(int32_t X, int32_t Y) const { return *Address(X, Y); }
  void SetPixel(int32_t X, int32_t Y, THSLColorPixel Value) { *Address(X, Y) = Value; }

  // (H, S, L) as floats.
  TFloatColorPixel GetFloatColor(int32_t X, int32_t Y) const final {
    const THSLColorPixel P = *Address(X, Y);
    return TFloatColorPixel{static_cast<float>(P.H), static_cast<float>(P.S), static_cast<float>(P.L)};
  }
  // H for Channel 0, S for 1, L for every other channel.
  float GetFloatColorChannel(int32_t X, int32_t Y, int32_t Channel) const final {
    const THSLColorPixel P = *Address(X, Y);
    return Channel == 0 ? static_cast<float>(P.H) : (Channel == 1 ? static_cast<float>(P.S) : static_cast<float>(P.L));
  }

 protected:
  void AllocateBitmap() override;
  void ReleaseBitmap() override;

 private:
  PHSLColorPixel FBits = nullptr;
};

// Three single-precision components per pixel (L*a*b* images); rows are 12 x Width bytes.
class TFloatColorBitmap : public TAbstractColorBitmap {
 public:
  TFloatColorBitmap() : TAbstractColorBitmap(12, 1) {}
  ~TFloatColorBitmap() override;

  PFloatColorPixel Bits() const { return FBits; }
  int32_t RowSize() const { return 12 * Width(); }

  PFloatColorPixel Address(int32_t X, int32_t Y) const { return FBits + static_cast<ptrdiff_t>(Y) * Width() + X; }
  TFloatColorPixel GetPixel(int32_t X, int32_t Y) const { return *Address(X, Y); }
  void SetPixel(int32_t X, int32_t Y, TFloatColorPixel Value) { *Address(X, Y) = Value; }

  TFloatColorPixel GetFloatColor(int32_t X, int32_t Y) const final { return *Address(X, Y); }
  // Component Channel (0 C0, 1 C1, 2 C2). REQUIRES: 0 <= Channel <= 2.
  float GetFloatColorChannel(int32_t X, int32_t Y, int32_t Channel) const final {
    return reinterpret_cast<const float*>(Address(X, Y))[Channel];
  }

 protected:
  void AllocateBitmap() override;
  void ReleaseBitmap() override;

 private:
  PFloatColorPixel FBits = nullptr;
};

// ---- Inline neighbour functions ------------------------------------------------------------

inline TPixelNeighbors TAbstractBitmap::Get4ConnectedPixels(int32_t X, int32_t Y) const {
  TPixelNeighbors R;
  if (FInnerColumns[X] && FInnerRows[Y]) {
    R.Count = 4;
    R.Pixels[0] = TPoint{X, Y - 1};
    R.Pixels[1] = TPoint{X - 1, Y};
    R.Pixels[2] = TPoint{X + 1, Y};
    R.Pixels[3] = TPoint{X, Y + 1};
    return R;
  }
  int32_t N = 0;
  if (Y > 0) R.Pixels[N++] = TPoint{X, Y - 1};
  if (X > 0) R.Pixels[N++] = TPoint{X - 1, Y};
  if (X < FWidth - 1) R.Pixels[N++] = TPoint{X + 1, Y};
  if (Y < FHeight - 1) R.Pixels[N++] = TPoint{X, Y + 1};
  R.Count = N;
  return R;
}

inline TPixelNeighbors TAbstractBitmap::Get8ConnectedPixels(int32_t X, int32_t Y) const {
  TPixelNeighbors R;
  if (FInnerColumns[X] && FInnerRows[Y]) {
    R.Count = 8;
    R.Pixels[0] = TPoint{X - 1, Y - 1};
    R.Pixels[1] = TPoint{X, Y - 1};
    R.Pixels[2] = TPoint{X + 1, Y - 1};
    R.Pixels[3] = TPoint{X - 1, Y};
    R.Pixels[4] = TPoint{X + 1, Y};
    R.Pixels[5] = TPoint{X - 1, Y + 1};
    R.Pixels[6] = TPoint{X, Y + 1};
    R.Pixels[7] = TPoint{X + 1, Y + 1};
    return R;
  }
  // The border order puts the vertical neighbour first within its row.
  const bool HasW = X > 0;
  const bool HasE = X < FWidth - 1;
  int32_t N = 0;
  if (Y > 0) {
    R.Pixels[N++] = TPoint{X, Y - 1};
    if (HasW) R.Pixels[N++] = TPoint{X - 1, Y - 1};
    if (HasE) R.Pixels[N++] = TPoint{X + 1, Y - 1};
  }
  if (HasW) R.Pixels[N++] = TPoint{X - 1, Y};
  if (HasE) R.Pixels[N++] = TPoint{X + 1, Y};
  if (Y < FHeight - 1) {
    R.Pixels[N++] = TPoint{X, Y + 1};
    if (HasW) R.Pixels[N++] = TPoint{X - 1, Y + 1};
    if (HasE) R.Pixels[N++] = TPoint{X + 1, Y + 1};
  }
  R.Count = N;
  return R;
}

inline TPixelNeighbors TAbstractBitmap::Get8Minus4ConnectedPixels(int32_t X, int32_t Y) const {
  TPixelNeighbors R;
  if (FInnerColumns[X] && FInnerRows[Y]) {
    R.Count = 4;
    R.Pixels[0] = TPoint{X - 1, Y - 1};
    R.Pixels[1] = TPoint{X + 1, Y - 1};
    R.Pixels[2] = TPoint{X - 1, Y + 1};
    R.Pixels[3] = TPoint{X + 1, Y + 1};
    return R;
  }
  const bool HasN = Y > 0;
  const bool HasS = Y < FHeight - 1;
  const bool HasW = X > 0;
  const bool HasE = X < FWidth - 1;
  int32_t N = 0;
  if (HasN && HasW) R.Pixels[N++] = TPoint{X - 1, Y - 1};
  if (HasN && HasE) R.Pixels[N++] = TPoint{X + 1, Y - 1};
  if (HasS && HasW) R.Pixels[N++] = TPoint{X - 1, Y + 1};
  if (HasS && HasE) R.Pixels[N++] = TPoint{X + 1, Y + 1};
  R.Count = N;
  return R;
}

// The pointer variants test each border on its own and step from the pixel's address by one
// pixel and one row.
namespace CoreBitmapsDetail {
template <class TNeighbors, class P>
inline TNeighbors FourNeighbors(P Pixel, ptrdiff_t RowStep, int32_t X, int32_t Y, int32_t W, int32_t H) {
  TNeighbors R;
  int32_t N = 0;
  if (Y > 0) R.Pixels[N++] = reinterpret_cast<P>(reinterpret_cast<uint8_t*>(Pixel) - RowStep);
  if (X > 0) R.Pixels[N++] = Pixel - 1;
  if (X < W - 1) R.Pixels[N++] = Pixel + 1;
  if (Y < H - 1) R.Pixels[N++] = reinterpret_cast<P>(reinterpret_cast<uint8_t*>(Pixel) + RowStep);
  R.Count = N;
  return R;
}
}  // namespace CoreBitmapsDetail

inline TGrayscaleNeighbors TGrayscaleBitmap::Get4ConnectedNeighbors(int32_t X, int32_t Y) const {
  return CoreBitmapsDetail::FourNeighbors<TGrayscaleNeighbors>(Address(X, Y), FRowSize, X, Y, Width(), Height());
}

inline TGrayscaleNeighbors TGrayscaleBitmap::Get8ConnectedNeighbors(int32_t X, int32_t Y) const {
  TGrayscaleNeighbors R;
  const PGrayscalePixel P = Address(X, Y);
  const bool HasW = X > 0;
  const bool HasE = X < Width() - 1;
  int32_t N = 0;
  if (Y > 0) {
    const PGrayscalePixel Up = P - FRowSize;
    R.Pixels[N++] = Up;
    if (HasW) R.Pixels[N++] = Up - 1;
    if (HasE) R.Pixels[N++] = Up + 1;
  }
  if (HasW) R.Pixels[N++] = P - 1;
  if (HasE) R.Pixels[N++] = P + 1;
  if (Y < Height() - 1) {
    const PGrayscalePixel Down = P + FRowSize;
    R.Pixels[N++] = Down;
    if (HasW) R.Pixels[N++] = Down - 1;
    if (HasE) R.Pixels[N++] = Down + 1;
  }
  R.Count = N;
  return R;
}

inline TIntegerGrayscaleNeighbors TIntegerGrayscaleBitmap::Get4ConnectedNeighbors(int32_t X, int32_t Y) const {
  return CoreBitmapsDetail::FourNeighbors<TIntegerGrayscaleNeighbors>(
      Address(X, Y), static_cast<ptrdiff_t>(4) * Width(), X, Y, Width(), Height());
}

inline TColorNeighbors TColorBitmap::Get4ConnectedNeighbors(int32_t X, int32_t Y) const {
  return CoreBitmapsDetail::FourNeighbors<TColorNeighbors>(Address(X, Y), FRowSize, X, Y, Width(), Height());
}

}  // namespace varnix
