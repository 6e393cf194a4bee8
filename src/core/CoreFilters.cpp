#include "core/CoreFilters.h"

#include <cstddef>
#include <vector>

namespace varnix {

namespace {

struct TMaximum {
  static constexpr uint8_t Start = 0;
  static uint8_t Apply(uint8_t A, uint8_t B) { return A > B ? A : B; }
};

struct TMinimum {
  static constexpr uint8_t Start = 255;
  static uint8_t Apply(uint8_t A, uint8_t B) { return A < B ? A : B; }
};

// One row of a step over rows of PixelSize-byte pixels, channel by channel: each byte becomes
// the extreme of the same byte in the pixels above, below, left and right that exist (Up and Down
// are null at the top and bottom). Max and min do not depend on the order of their operands, so
// the vertical and the horizontal pairs are combined in separate passes that the compiler turns
// into vector code. REQUIRES: Dest does not overlap the source rows.
template <class Op, int PixelSize>
void FilterRow(const uint8_t* __restrict Up, const uint8_t* __restrict Row, const uint8_t* __restrict Down,
               uint8_t* __restrict Dest, int32_t Width) {
  const int32_t Bytes = Width * PixelSize;
  if (Up && Down)
    for (int32_t I = 0; I < Bytes; ++I) Dest[I] = Op::Apply(Up[I], Down[I]);
  else if (Up || Down) {
    const uint8_t* __restrict V = Up ? Up : Down;
    for (int32_t I = 0; I < Bytes; ++I) Dest[I] = V[I];
  } else
    for (int32_t I = 0; I < Bytes; ++I) Dest[I] = Op::Start;
  for (int32_t I = PixelSize; I < Bytes; ++I) Dest[I] = Op::Apply(Dest[I], Row[I - PixelSize]);
  for (int32_t I = 0; I + PixelSize < Bytes; ++I) Dest[I] = Op::Apply(Dest[I], Row[I + PixelSize]);
}

// One colour step: per channel the extreme over the 4-connected neighbours, alpha 255.
// REQUIRES: Source != Dest.
template <class Op>
void ColorStep(const TColorBitmap* Source, TColorBitmap* Dest) {
  const int32_t Width = Source->Width();
  const int32_t Height = Source->Height();
  Dest->Resize(Width, Height);
  if (Width == 0 || Height == 0) return;
  for (int32_t Y = 0; Y < Height; ++Y) {
    const uint8_t* Up = Y > 0 ? reinterpret_cast<const uint8_t*>(Source->Address(0, Y - 1)) : nullptr;
    const uint8_t* Down = Y < Height - 1 ? reinterpret_cast<const uint8_t*>(Source->Address(0, Y + 1)) : nullptr;
    uint8_t* D = reinterpret_cast<uint8_t*>(Dest->Address(0, Y));
    FilterRow<Op, 4>(Up, reinterpret_cast<const uint8_t*>(Source->Address(0, Y)), Down, D, Width);
    for (int32_t X = 0; X < Width; ++X) D[4 * X + 3] = 255;
  }
}

template <class Op>
void ColorFilterStep(const TColorBitmap* Source, TColorBitmap* Dest) {
  if (Source != Dest) {
    ColorStep<Op>(Source, Dest);
    return;
  }
  // In place every pixel would see neighbours that were already filtered.
  TColorBitmap Result;
  ColorStep<Op>(Source, &Result);
  Dest->Assign(&Result);
}

// REQUIRES: Source != Dest.
template <class Op>
void GrayscaleStep(const TGrayscaleBitmap* Source, TGrayscaleBitmap* Dest) {
  const int32_t Width = Source->Width();
  const int32_t Height = Source->Height();
  Dest->Resize(Width, Height);
  if (Width == 0 || Height == 0) return;
  for (int32_t Y = 0; Y < Height; ++Y)
    FilterRow<Op, 1>(Y > 0 ? Source->Address(0, Y - 1) : nullptr, Source->Address(0, Y),
                     Y < Height - 1 ? Source->Address(0, Y + 1) : nullptr, Dest->Address(0, Y), Width);
}

template <class Op>
void GrayscaleFilterStep(const TGrayscaleBitmap* Source, TGrayscaleBitmap* Dest) {
  if (Source != Dest) {
    GrayscaleStep<Op>(Source, Dest);
    return;
  }
  TGrayscaleBitmap Result;
  GrayscaleStep<Op>(Source, &Result);
  Dest->Assign(&Result);
}

// Opening followed by closing (erode, dilate, dilate, erode) in one pass over the rows. Each of
// the first three steps keeps only the three rows of its output that the next step still needs,
// in a ring; the last step writes into Dest. Output row Y of step K needs rows Y - 1 .. Y + 1 of
// step K - 1, so Dest row Y is written once the source has been read up to row Y + 4: Dest may
// therefore be the source itself. The result is that of the four whole-image steps, without
// their full-size temporary image.
template <int PixelSize>
class TOpeningClosingPipeline {
 public:
  TOpeningClosingPipeline(const uint8_t* Source, ptrdiff_t SourceStride, uint8_t* Dest, ptrdiff_t DestStride,
                          int32_t Width, int32_t Height)
      : FSource(Source), FSourceStride(SourceStride), FDest(Dest), FDestStride(DestStride), FWidth(Width),
        FHeight(Height), FRowBytes(static_cast<size_t>(Width) * PixelSize) {
    GuardAllocation([&] { FRing.resize(3 * 3 * FRowBytes); });
  }

  void Run() {
    for (int32_t Y = 0; Y < FHeight; ++Y) Produce(3, Y);
  }

 private:
  using TRowFunction = void (*)(const uint8_t*, const uint8_t*, const uint8_t*, uint8_t*, int32_t);
  static constexpr TRowFunction Steps[4] = {FilterRow<TMinimum, PixelSize>, FilterRow<TMaximum, PixelSize>,
                                            FilterRow<TMaximum, PixelSize>, FilterRow<TMinimum, PixelSize>};

  uint8_t* OutputRow(int K, int32_t Y) {
    if (K == 3) return FDest + Y * FDestStride;
    return FRing.data() + static_cast<size_t>(K * 3 + Y % 3) * FRowBytes;
  }
  const uint8_t* InputRow(int K, int32_t Y) { return K == 0 ? FSource + Y * FSourceStride : OutputRow(K - 1, Y); }

  // Computes output row Y of step K, first making sure step K - 1 has produced row Y + 1.
  void Produce(int K, int32_t Y) {
    if (K > 0) {
      const int32_t Needed = Y + 1 < FHeight ? Y + 1 : FHeight - 1;
      while (FProduced[K - 1] < Needed) Produce(K - 1, FProduced[K - 1] + 1);
    }
    Steps[K](Y > 0 ? InputRow(K, Y - 1) : nullptr, InputRow(K, Y), Y < FHeight - 1 ? InputRow(K, Y + 1) : nullptr,
             OutputRow(K, Y), FWidth);
    FProduced[K] = Y;
  }

  const uint8_t* FSource;
  ptrdiff_t FSourceStride;
  uint8_t* FDest;
  ptrdiff_t FDestStride;
  int32_t FWidth;
  int32_t FHeight;
  size_t FRowBytes;
  std::vector<uint8_t> FRing;  // three rows for each of the first three steps
  int32_t FProduced[4] = {-1, -1, -1, -1};
};

}  // namespace

// ---- Colour --------------------------------------------------------------------------------

void TMorphologicalColorFilter::Dilate(const TColorBitmap* Source, TColorBitmap* Dest) {
  ColorFilterStep<TMaximum>(Source, Dest);
}

void TMorphologicalColorFilter::Erode(const TColorBitmap* Source, TColorBitmap* Dest) {
  ColorFilterStep<TMinimum>(Source, Dest);
}

bool TOpeningClosingFilter::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IColorFilter>(this, IID, Obj) || TMorphologicalColorFilter::GetInterface(IID, Obj);
}

void TOpeningClosingFilter::Filter(const TColorBitmap* Source, TColorBitmap* Dest) {
  const int32_t Width = Source->Width();
  const int32_t Height = Source->Height();
  Dest->Resize(Width, Height);
  if (Width == 0 || Height == 0) return;
  TOpeningClosingPipeline<4>(reinterpret_cast<const uint8_t*>(Source->Bits()), Source->RowSize(),
                             reinterpret_cast<uint8_t*>(Dest->Bits()), Dest->RowSize(), Width, Height)
      .Run();
  // Alpha never mixes into the colour channels; every step leaves it at 255.
  for (int32_t Y = 0; Y < Height; ++Y) {
    TColorPixel* D = Dest->Address(0, Y);
    for (int32_t X = 0; X < Width; ++X) D[X].A = 255;
  }
}

// ---- Grayscale -----------------------------------------------------------------------------

void TMorphologicalGrayscaleFilter::Dilate(const TGrayscaleBitmap* Source, TGrayscaleBitmap* Dest) {
  GrayscaleFilterStep<TMaximum>(Source, Dest);
}

void TMorphologicalGrayscaleFilter::Erode(const TGrayscaleBitmap* Source, TGrayscaleBitmap* Dest) {
  GrayscaleFilterStep<TMinimum>(Source, Dest);
}

void TOpeningClosingGrayscaleFilter::Filter(const TGrayscaleBitmap* Source, TGrayscaleBitmap* Dest) {
  const int32_t Width = Source->Width();
  const int32_t Height = Source->Height();
  Dest->Resize(Width, Height);
  if (Width == 0 || Height == 0) return;
  TOpeningClosingPipeline<1>(Source->Bits(), Source->RowSize(), Dest->Bits(), Dest->RowSize(), Width, Height).Run();
}

}  // namespace varnix
