// Small value types shared by every module: points, rectangles, sizes.
#pragma once

#include <cstdint>

namespace varnix {

struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  friend constexpr bool operator==(const TPoint&, const TPoint&) = default;
};

constexpr TPoint Point(int32_t X, int32_t Y) { return TPoint{X, Y}; }

// Left and top inclusive, right and bottom exclusive.
struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;

  constexpr int32_t Width() const { return Right - Left; }
  constexpr int32_t Height() const { return Bottom - Top; }
  constexpr bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  constexpr bool Contains(TPoint P) const { return P.X >= Left && P.X < Right && P.Y >= Top && P.Y < Bottom; }
  friend constexpr bool operator==(const TRect&, const TRect&) = default;
};

constexpr TRect Rect(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
  return TRect{Left, Top, Right, Bottom};
}
constexpr TRect Bounds(int32_t Left, int32_t Top, int32_t Width, int32_t Height) {
  return TRect{Left, Top, Left + Width, Top + Height};
}

// The intersection of A and B; an empty rectangle (possibly with Right < Left) when they do not
// overlap. Use IsEmpty to test.
constexpr TRect IntersectRect(const TRect& A, const TRect& B) {
  TRect R{A.Left > B.Left ? A.Left : B.Left, A.Top > B.Top ? A.Top : B.Top,
          A.Right < B.Right ? A.Right : B.Right, A.Bottom < B.Bottom ? A.Bottom : B.Bottom};
  return R;
}

struct TSize {
  int32_t cx = 0;
  int32_t cy = 0;
  friend constexpr bool operator==(const TSize&, const TSize&) = default;
};

}  // namespace varnix
