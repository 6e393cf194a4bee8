#include "core/CoreFilters.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/CommonUtils.h"

namespace varnix {
namespace {

// Pictures: one character per pixel, '#' = 200 and '.' = 10 (grey levels in all three channels).
TColorBitmap* MakeColor(TColorBitmap& B, const std::vector<std::string>& Rows, uint8_t Alpha = 255) {
  B.Resize(static_cast<int32_t>(Rows[0].size()), static_cast<int32_t>(Rows.size()));
  for (int32_t Y = 0; Y < B.Height(); ++Y)
    for (int32_t X = 0; X < B.Width(); ++X) {
      const uint8_t V = Rows[Y][X] == '#' ? 200 : 10;
      B.SetPixel(X, Y, TColorPixel{V, V, V, Alpha});
    }
  return &B;
}

std::vector<std::string> PictureOf(const TColorBitmap& B) {
  std::vector<std::string> Rows;
  for (int32_t Y = 0; Y < B.Height(); ++Y) {
    std::string Row;
    for (int32_t X = 0; X < B.Width(); ++X) {
      const TColorPixel P = B.GetPixel(X, Y);
      EXPECT_EQ(P.A, 255);
      EXPECT_TRUE(P.R == P.G && P.G == P.B);
      Row += P.R == 200 ? '#' : P.R == 10 ? '.' : '?';
    }
    Rows.push_back(Row);
  }
  return Rows;
}

TGrayscaleBitmap* MakeGray(TGrayscaleBitmap& B, const std::vector<std::string>& Rows) {
  B.Resize(static_cast<int32_t>(Rows[0].size()), static_cast<int32_t>(Rows.size()));
  for (int32_t Y = 0; Y < B.Height(); ++Y)
    for (int32_t X = 0; X < B.Width(); ++X) B.SetPixel(X, Y, Rows[Y][X] == '#' ? 200 : 10);
  return &B;
}

std::vector<std::string> PictureOf(const TGrayscaleBitmap& B) {
  std::vector<std::string> Rows;
  for (int32_t Y = 0; Y < B.Height(); ++Y) {
    std::string Row;
    for (int32_t X = 0; X < B.Width(); ++X) Row += B.GetPixel(X, Y) == 200 ? '#' : B.GetPixel(X, Y) == 10 ? '.' : '?';
    Rows.push_back(Row);
  }
  return Rows;
}

enum TStep { stDilate, stErode, stFilter };

struct TPictureCase {
  const char* Name;
  TStep Step;
  std::vector<std::string> Input, Expected;
};

// The same pictures hold for the colour and the grayscale filters.
const TPictureCase PictureCases[] = {
    {"a bright pixel lights its four neighbours and goes dark itself", stDilate,
     {".....", ".....", "..#..", ".....", "....."},
     {".....", "..#..", ".#.#.", "..#..", "....."}},
    {"a dark pixel darkens its four neighbours and turns bright itself", stErode,
     {"#####", "#####", "##.##", "#####", "#####"},
     {"#####", "##.##", "#.#.#", "##.##", "#####"}},
    {"a checkerboard is inverted by one erosion", stErode, {"#.#.", ".#.#", "#.#."}, {".#.#", "#.#.", ".#.#"}},
    {"a checkerboard is inverted by one dilation", stDilate, {"#.#.", ".#.#", "#.#."}, {".#.#", "#.#.", ".#.#"}},
    {"border pixels use the neighbours that exist", stDilate, {"#..", "...", "..."}, {".#.", "#..", "..."}},
    {"opening removes an isolated bright pixel", stFilter,
     {".....", ".....", "..#..", ".....", "....."},
     {".....", ".....", ".....", ".....", "....."}},
    {"closing fills an isolated dark pixel", stFilter,
     {"#####", "#####", "##.##", "#####", "#####"},
     {"#####", "#####", "#####", "#####", "#####"}},
    {"a uniform picture stays", stFilter, {"##", "##"}, {"##", "##"}},
    {"a uniform row stays", stFilter, {"..."}, {"..."}},
};

TEST(MorphologicalFilters, ColourPictures) {
  for (const TPictureCase& C : PictureCases) {
    SCOPED_TRACE(C.Name);
    TColorBitmap Source, Dest;
    MakeColor(Source, C.Input, 128);
    TOpeningClosingFilter Filter;
    switch (C.Step) {
      case stDilate: Filter.Dilate(&Source, &Dest); break;
      case stErode: Filter.Erode(&Source, &Dest); break;
      case stFilter: Filter.Filter(&Source, &Dest); break;
    }
    EXPECT_EQ(PictureOf(Dest), C.Expected);
    EXPECT_EQ(Source.GetPixel(0, 0).A, 128) << "the source is not changed";
  }
}

TEST(MorphologicalFilters, GrayscalePictures) {
  for (const TPictureCase& C : PictureCases) {
    SCOPED_TRACE(C.Name);
    TGrayscaleBitmap Source, Dest;
    MakeGray(Source, C.Input);
    TOpeningClosingGrayscaleFilter Filter;
    switch (C.Step) {
      case stDilate: Filter.Dilate(&Source, &Dest); break;
      case stErode: Filter.Erode(&Source, &Dest); break;
      case stFilter: Filter.Filter(&Source, &Dest); break;
    }
    EXPECT_EQ(PictureOf(Dest), C.Expected);
    EXPECT_EQ(PictureOf(Source), C.Input);
  }
}

TEST(MorphologicalFilters, SinglePixelHasNoNeighbours) {
  TColorBitmap One, Dest;
  One.Resize(1, 1);
  One.SetPixel(0, 0, TColorPixel{90, 100, 110, 120});
  TMorphologicalColorFilter Filter;
  Filter.Dilate(&One, &Dest);
  EXPECT_EQ(Dest.GetPixel(0, 0), (TColorPixel{0, 0, 0, 255}));
  Filter.Erode(&One, &Dest);
  EXPECT_EQ(Dest.GetPixel(0, 0), (TColorPixel{255, 255, 255, 255}));

  TGrayscaleBitmap Gray, GrayDest;
  Gray.Resize(1, 1);
  Gray.SetPixel(0, 0, 99);
  TMorphologicalGrayscaleFilter GrayFilter;
  GrayFilter.Dilate(&Gray, &GrayDest);
  EXPECT_EQ(GrayDest.GetPixel(0, 0), 0);
  GrayFilter.Erode(&Gray, &GrayDest);
  EXPECT_EQ(GrayDest.GetPixel(0, 0), 255);

  TColorBitmap Empty;
  Filter.Dilate(&Empty, &Dest);
  EXPECT_EQ(Dest.Width(), 0);
  EXPECT_EQ(Dest.Height(), 0);
}

TEST(MorphologicalFilters, ChannelsAreIndependentAndUniformColourKeepsOnlyItsColour) {
  // Centre of a plus: each channel's extreme comes from a different neighbour.
  TColorBitmap Source, Dest;
  Source.Resize(3, 3);
  for (int32_t Y = 0; Y < 3; ++Y)
    for (int32_t X = 0; X < 3; ++X) Source.SetPixel(X, Y, TColorPixel{50, 50, 50, 255});
  Source.SetPixel(1, 0, TColorPixel{90, 10, 50, 255});
  Source.SetPixel(0, 1, TColorPixel{20, 80, 50, 255});
  Source.SetPixel(2, 1, TColorPixel{50, 50, 70, 255});
  Source.SetPixel(1, 2, TColorPixel{50, 50, 5, 255});
  TMorphologicalColorFilter Filter;
  Filter.Dilate(&Source, &Dest);
  EXPECT_EQ(Dest.GetPixel(1, 1), (TColorPixel{90, 80, 70, 255}));
  Filter.Erode(&Source, &Dest);
  EXPECT_EQ(Dest.GetPixel(1, 1), (TColorPixel{20, 10, 5, 255}));

  InterfacePtr<IColorFilter> OpenClose(new TOpeningClosingFilter);
  const TSize Sizes[] = {{2, 1}, {1, 2}, {3, 3}, {7, 5}};
  for (const TSize& S : Sizes) {
    TColorBitmap Uniform, Out;
    Uniform.Resize(S.cx, S.cy);
    for (int32_t Y = 0; Y < S.cy; ++Y)
      for (int32_t X = 0; X < S.cx; ++X) Uniform.SetPixel(X, Y, TColorPixel{10, 20, 30, 40});
    OpenClose->Filter(&Uniform, &Out);
    for (int32_t Y = 0; Y < S.cy; ++Y)
      for (int32_t X = 0; X < S.cx; ++X) ASSERT_EQ(Out.GetPixel(X, Y), (TColorPixel{10, 20, 30, 255}));
  }
}

TEST(MorphologicalFilters, SourceMayBeTheDestination) {
  const std::vector<std::string> Input = {"#.##.", "..#..", "##..#", ".#.#."};
  TOpeningClosingFilter Filter;
  for (TStep Step : {stDilate, stErode, stFilter}) {
    SCOPED_TRACE(Step);
    TColorBitmap Apart, Dest, Same;
    MakeColor(Apart, Input);
    MakeColor(Same, Input);
    switch (Step) {
      case stDilate: Filter.Dilate(&Apart, &Dest), Filter.Dilate(&Same, &Same); break;
      case stErode: Filter.Erode(&Apart, &Dest), Filter.Erode(&Same, &Same); break;
      case stFilter: Filter.Filter(&Apart, &Dest), Filter.Filter(&Same, &Same); break;
    }
    EXPECT_EQ(PictureOf(Same), PictureOf(Dest));

    TGrayscaleBitmap GrayApart, GrayDest, GraySame;
    MakeGray(GrayApart, Input);
    MakeGray(GraySame, Input);
    TOpeningClosingGrayscaleFilter GrayFilter;
    switch (Step) {
      case stDilate: GrayFilter.Dilate(&GrayApart, &GrayDest), GrayFilter.Dilate(&GraySame, &GraySame); break;
      case stErode: GrayFilter.Erode(&GrayApart, &GrayDest), GrayFilter.Erode(&GraySame, &GraySame); break;
      case stFilter: GrayFilter.Filter(&GrayApart, &GrayDest), GrayFilter.Filter(&GraySame, &GraySame); break;
    }
    EXPECT_EQ(PictureOf(GraySame), PictureOf(GrayDest));
  }
}

// Filter runs the four steps row by row; it must equal erode, dilate, dilate, erode applied to
// whole images, at every size where the row rings wrap or the borders meet.
TEST(MorphologicalFilters, FilterEqualsTheFourWholeImageSteps) {
  std::mt19937 Random(777);
  const TSize Sizes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}, {3, 5}, {5, 3}, {4, 4}, {17, 9}, {33, 40}};
  for (const TSize& Size : Sizes) {
    SCOPED_TRACE(std::to_string(Size.cx) + "x" + std::to_string(Size.cy));
    TColorBitmap Source, Steps, Tmp, Filtered, InPlace;
    TGrayscaleBitmap GraySource, GraySteps, GrayTmp, GrayFiltered, GrayInPlace;
    Source.Resize(Size.cx, Size.cy);
    GraySource.Resize(Size.cx, Size.cy);
    for (int32_t Y = 0; Y < Size.cy; ++Y)
      for (int32_t X = 0; X < Size.cx; ++X) {
        const uint32_t V = Random();
        Source.SetPixel(X, Y, TColorPixel{uint8_t(V), uint8_t(V >> 8), uint8_t(V >> 16), uint8_t(V >> 24)});
        GraySource.SetPixel(X, Y, uint8_t(V >> 4));
      }
    TOpeningClosingFilter Filter;
    Filter.Erode(&Source, &Tmp);
    Filter.Dilate(&Tmp, &Steps);
    Filter.Dilate(&Steps, &Tmp);
    Filter.Erode(&Tmp, &Steps);
    Filter.Filter(&Source, &Filtered);
    InPlace.Assign(&Source);
    Filter.Filter(&InPlace, &InPlace);
    TOpeningClosingGrayscaleFilter GrayFilter;
    GrayFilter.Erode(&GraySource, &GrayTmp);
    GrayFilter.Dilate(&GrayTmp, &GraySteps);
    GrayFilter.Dilate(&GraySteps, &GrayTmp);
    GrayFilter.Erode(&GrayTmp, &GraySteps);
    GrayFilter.Filter(&GraySource, &GrayFiltered);
    GrayInPlace.Assign(&GraySource);
    GrayFilter.Filter(&GrayInPlace, &GrayInPlace);
    ASSERT_EQ(Filtered.Width(), Size.cx);
    ASSERT_EQ(Filtered.Height(), Size.cy);
    for (int32_t Y = 0; Y < Size.cy; ++Y)
      for (int32_t X = 0; X < Size.cx; ++X) {
        ASSERT_EQ(Filtered.GetPixel(X, Y), Steps.GetPixel(X, Y)) << X << "," << Y;
        ASSERT_EQ(InPlace.GetPixel(X, Y), Steps.GetPixel(X, Y)) << X << "," << Y;
        ASSERT_EQ(GrayFiltered.GetPixel(X, Y), GraySteps.GetPixel(X, Y)) << X << "," << Y;
        ASSERT_EQ(GrayInPlace.GetPixel(X, Y), GraySteps.GetPixel(X, Y)) << X << "," << Y;
      }
  }
}

TEST(CoreFilters, MinMaxLimit) {
  struct Case {
    int32_t Value, Low, High, Expected;
  };
  const Case Cases[] = {{-5, 0, 10, 0}, {15, 0, 10, 10}, {7, 0, 10, 7}, {0, 0, 10, 0}, {10, 0, 10, 10},
                        // Low above High: below Low gives Low (the common Limit gives High).
                        {1, 3, 0, 3}, {5, 3, 0, 0}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<int32_t>{C.Value, C.Low, C.High}));
    EXPECT_EQ(CoreFilters::Limit(C.Value, C.Low, C.High), C.Expected);
  }
  EXPECT_EQ(Limit(1, 3, 0), 0) << "the common utilities' Limit stays distinct";
  EXPECT_EQ(CoreFilters::Min(-3, 2), -3);
  EXPECT_EQ(CoreFilters::Min(4, 4), 4);
  EXPECT_EQ(CoreFilters::Max(-3, 2), 2);
  EXPECT_EQ(CoreFilters::Max(-2147483647 - 1, 2147483647), 2147483647);
}

}  // namespace
}  // namespace varnix
