#include "core/CoreBitmaps.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace varnix {

namespace {

std::string SizeText(int32_t AWidth, int32_t AHeight) {
  return std::to_string(AWidth) + " x " + std::to_string(AHeight);
}

// An uninitialised heap block; EOutOfMemory when the heap refuses it.
template <class T>
T* AllocateBuffer(int64_t Bytes) {
  void* P = std::malloc(static_cast<size_t>(Bytes));
  if (!P) throw EOutOfMemory();
  return static_cast<T*>(P);
}

template <class T>
void FreeBuffer(T*& Bits) {
  std::free(Bits);
  Bits = nullptr;
}

// Rows[Y] = Bits + Y x RowSize bytes.
template <class P>
void BuildRows(std::vector<P>& Rows, P Bits, int32_t Height, int32_t RowSize) {
  GuardAllocation([&] { Rows.assign(static_cast<size_t>(Height), nullptr); });
  if (!Bits) return;
  uint8_t* Row = reinterpret_cast<uint8_t*>(Bits);
  for (int32_t Y = 0; Y < Height; ++Y, Row += RowSize) Rows[Y] = reinterpret_cast<P>(Row);
}

}  // namespace

// ---- TAbstractBitmap -----------------------------------------------------------------------

void TAbstractBitmap::CheckSize(int32_t AWidth, int32_t AHeight) const {
  if (AWidth < 0 || AHeight < 0) throw EBitmapError("Invalid bitmap size " + SizeText(AWidth, AHeight));
  // The row length is a 32-bit quantity, and the whole buffer must be addressable.
  const int64_t RowSize = (static_cast<int64_t>(AWidth) * FPixelSize + FRowAlignment - 1) &
                          ~static_cast<int64_t>(FRowAlignment - 1);
  if (RowSize > std::numeric_limits<int32_t>::max() ||
      (AHeight > 0 && RowSize > std::numeric_limits<ptrdiff_t>::max() / AHeight))
    throw EBitmapError("Bitmap size " + SizeText(AWidth, AHeight) + " is too large");
}

void TAbstractBitmap::Resize(int32_t AWidth, int32_t AHeight) {
  if (AWidth == FWidth && AHeight == FHeight) return;
  CheckSize(AWidth, AHeight);
  if (FWidth > 0 && FHeight > 0) ReleaseBitmap();
  FWidth = AWidth;
  FHeight = AHeight;
  bool Allocated = false;
  try {
    GuardAllocation([&] {
      FInnerColumns.assign(static_cast<size_t>(AWidth), 0);
      FInnerRows.assign(static_cast<size_t>(AHeight), 0);
    });
    for (int32_t X = 1; X < AWidth - 1; ++X) FInnerColumns[X] = 1;
    for (int32_t Y = 1; Y < AHeight - 1; ++Y) FInnerRows[Y] = 1;
    if (FWidth > 0 && FHeight > 0) {
      AllocateBitmap();
      Allocated = true;
    }
    Resized();
  } catch (...) {
    // Leave a consistent empty bitmap rather than a size without a buffer.
    if (Allocated) ReleaseBitmap();
    FWidth = 0;
    FHeight = 0;
    FInnerColumns.clear();
    FInnerRows.clear();
    Resized();
    throw;
  }
}

// ---- TGrayscaleBitmap ----------------------------------------------------------------------

TGrayscaleBitmap::~TGrayscaleBitmap() { ReleaseBitmap(); }

void TGrayscaleBitmap::AllocateBitmap() {
  FRowSize = CalculateRowSize(Width());
  FBits = AllocateBuffer<TGrayscalePixel>(static_cast<int64_t>(FRowSize) * Height());
}

void TGrayscaleBitmap::ReleaseBitmap() { FreeBuffer(FBits); }

void TGrayscaleBitmap::Resized() {
  FRowSize = CalculateRowSize(Width());
  BuildRows(FRows, FBits, Height(), FRowSize);
}

void TGrayscaleBitmap::Clear() {
  if (FBits) std::memset(FBits, 0, static_cast<size_t>(FRowSize) * Height());
}

void TGrayscaleBitmap::Assign(const TGrayscaleBitmap* Source) {
  if (Source == this) return;
  Resize(Source->Width(), Source->Height());
  if (FBits && Source->FBits) std::memcpy(FBits, Source->FBits, static_cast<size_t>(FRowSize) * Height());
}

void TGrayscaleBitmap::FillRect(const TRect& Rect, uint8_t Value) {
  const TRect R = IntersectRect(Rect, TRect{0, 0, Width(), Height()});
  if (R.IsEmpty()) return;
  for (int32_t Y = R.Top; Y < R.Bottom; ++Y) std::memset(FRows[Y] + R.Left, Value, static_cast<size_t>(R.Width()));
}

// ---- TFloatGrayscaleBitmap -----------------------------------------------------------------

TFloatGrayscaleBitmap::~TFloatGrayscaleBitmap() { ReleaseBitmap(); }

void TFloatGrayscaleBitmap::AllocateBitmap() {
  FBits = AllocateBuffer<TFloatGrayscalePixel>(static_cast<int64_t>(RowSize()) * Height());
}

void TFloatGrayscaleBitmap::ReleaseBitmap() { FreeBuffer(FBits); }

void TFloatGrayscaleBitmap::Clear() {
  if (FBits) std::memset(FBits, 0, static_cast<size_t>(RowSize()) * Height());
}

// ---- TWordGrayscaleBitmap ------------------------------------------------------------------

TWordGrayscaleBitmap::~TWordGrayscaleBitmap() { ReleaseBitmap(); }

void TWordGrayscaleBitmap::AllocateBitmap() {
  FBits = AllocateBuffer<TWordGrayscalePixel>(static_cast<int64_t>(RowSize()) * Height());
}

void TWordGrayscaleBitmap::ReleaseBitmap() { FreeBuffer(FBits); }

void TWordGrayscaleBitmap::Resized() { BuildRows(FRows, FBits, Height(), RowSize()); }

// ---- TIntegerGrayscaleBitmap ---------------------------------------------------------------

TIntegerGrayscaleBitmap::~TIntegerGrayscaleBitmap() { ReleaseBitmap(); }

void TIntegerGrayscaleBitmap::AllocateBitmap() {
  FBits = AllocateBuffer<TIntegerGrayscalePixel>(static_cast<int64_t>(RowSize()) * Height());
}

void TIntegerGrayscaleBitmap::ReleaseBitmap() { FreeBuffer(FBits); }

void TIntegerGrayscaleBitmap::Resized() { BuildRows(FRows, FBits, Height(), RowSize()); }

// ---- TColorBitmap --------------------------------------------------------------------------

TColorBitmap::~TColorBitmap() { ReleaseBitmap(); }

void TColorBitmap::AllocateBitmap() {
  TOwned<TBitmap> NewBitmap(GuardAllocation([] { return new TBitmap; }));
  NewBitmap->SetPixelFormat(pf32bit);
  NewBitmap->SetAlphaFormat(afPremultiplied);
  NewBitmap->SetSize(Width(), Height());
  FRowSize = NewBitmap->RowBytes();
  FBits = reinterpret_cast<PColorPixel>(NewBitmap->ScanLine(0));
  FBitmap = std::move(NewBitmap);
}

void TColorBitmap::ReleaseBitmap() {
  FBitmap.reset();
  FBits = nullptr;
  FRowSize = 0;
}

void TColorBitmap::Assign(const TColorBitmap* Source) {
  if (Source == this) return;
  Resize(Source->Width(), Source->Height());
  if (FBits && Source->FBits) std::memcpy(FBits, Source->FBits, static_cast<size_t>(FRowSize) * Height());
}

void TColorBitmap::Mask(const TGrayscaleBitmap* AMask) {
  const int32_t H = Height() < AMask->Height() ? Height() : AMask->Height();
  const int32_t W = Width() < AMask->Width() ? Width() : AMask->Width();
  if (W <= 0) return;
  for (int32_t Y = 0; Y < H; ++Y) {
    uint8_t* C = reinterpret_cast<uint8_t*>(Address(0, Y));
    const uint8_t* M = AMask->Address(0, Y);
    for (int32_t X = 0; X < W; ++X, C += 4) {
      const uint32_t A = M[X] + (M[X] >> 7);  // 255 -> 256, so a full mask keeps every byte
      C[0] = static_cast<uint8_t>((C[0] * A) >> 8);
      C[1] = static_cast<uint8_t>((C[1] * A) >> 8);
      C[2] = static_cast<uint8_t>((C[2] * A) >> 8);
      C[3] = static_cast<uint8_t>((C[3] * A) >> 8);
    }
  }
}

// ---- THSLColorBitmap, TFloatColorBitmap ----------------------------------------------------

THSLColorBitmap::~THSLColorBitmap() { ReleaseBitmap(); }

void THSLColorBitmap::AllocateBitmap() {
  FBits = AllocateBuffer<THSLColorPixel>(static_cast<int64_t>(RowSize()) * Height());
}

void THSLColorBitmap::ReleaseBitmap() { FreeBuffer(FBits); }

TFloatColorBitmap::~TFloatColorBitmap() { ReleaseBitmap(); }

void TFloatColorBitmap::AllocateBitmap() {
  FBits = AllocateBuffer<TFloatColorPixel>(static_cast<int64_t>(RowSize()) * Height());
}

void TFloatColorBitmap::ReleaseBitmap() { FreeBuffer(FBits); }

// ---- Drawing ---------------------------------------------------------------------------------

void TColorBitmap::Draw(HDC DC) const { Draw(DC, Rect(0, 0, Width(), Height()), 0, 0); }

void TColorBitmap::Draw(HDC DC, const TRect& R, int32_t X, int32_t Y) const {
  Draw(DC, Bounds(X, Y, R.Width(), R.Height()), R, bsNoInterpolation);
}

void TColorBitmap::Draw(HDC DC, const TRect& SourceRect, const TRect& DestRect, TBitmapStretchMode) const {
  if (!FBitmap) return;
  FBitmap->Draw(DC, SourceRect, DestRect);
  // Later changes made through Bits must be seen by the next drawing.
  FBitmap->Dormant();
}

void TGrayscaleBitmap::Draw(HDC DC, const TRect& SourceRect, const TRect& DestRect) const {
  if (!DC || Width() == 0 || Height() == 0 || SourceRect.IsEmpty() || DestRect.IsEmpty()) return;
  // Scaling maps DestRect onto SourceRect as a whole; the gray image is converted into a colour
  // bitmap of SourceRect's size, with pixels outside this bitmap left transparent.
  TBitmap Gray;
  Gray.SetSize(SourceRect.Width(), SourceRect.Height());
  const TRect Inside = IntersectRect(SourceRect, Rect(0, 0, Width(), Height()));
  for (int32_t Y = Inside.Top; Y < Inside.Bottom; ++Y) {
    uint8_t* D = Gray.ScanLine(Y - SourceRect.Top) + 4 * static_cast<ptrdiff_t>(Inside.Left - SourceRect.Left);
    const uint8_t* S = FRows[Y];
    for (int32_t X = Inside.Left; X < Inside.Right; ++X, D += 4) {
      D[0] = D[1] = D[2] = S[X];
      D[3] = 255;
    }
  }
  Gray.Draw(DC, Rect(0, 0, SourceRect.Width(), SourceRect.Height()), DestRect);
}

}  // namespace varnix
