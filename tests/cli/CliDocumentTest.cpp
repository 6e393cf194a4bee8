// Reading documents and markers for the command-line tool, and the exact formats of its outputs.
#include "cli/CliDocument.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

namespace varnix {
namespace {

class CliDocumentFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/varnix-clidoc-XXXXXX";
    Dir = mkdtemp(Template);
  }
  void TearDown() override { std::system(("rm -rf '" + Dir + "'").c_str()); }
  std::string Path(const std::string& Name) const { return Dir + "/" + Name; }
  static std::string ReadAll(const std::string& File) {
    std::ifstream In(File, std::ios::binary);
    std::stringstream S;
    S << In.rdbuf();
    return S.str();
  }
  static void WriteAll(const std::string& File, const std::string& Data) {
    std::ofstream(File, std::ios::binary) << Data;
  }
  std::string Dir;
};

std::string MarkersFile(int32_t Count, const std::string& Records) {
  std::string S = "TQWSHMRK";
  S += std::string("\x01\x00\x00\x00", 4);
  for (int i = 0; i < 4; ++i) S += static_cast<char>((static_cast<uint32_t>(Count) >> (8 * i)) & 0xFF);
  return S + Records;
}

TEST_F(CliDocumentFiles, DocumentsArePremultipliedByIntegerDivision) {
  TImage Rgba;
  Rgba.Allocate(3, 1, icRGB, id8Bits, iaUnassociated);
  const uint8_t Pixels[12] = {200, 100, 50, 128, 9, 8, 7, 0, 1, 2, 255, 255};
  std::memcpy(Rgba.Bits(), Pixels, 12);
  TColorBitmap Bitmap;
  PremultiplyInto(Rgba, Bitmap);
  ASSERT_EQ(Bitmap.Width(), 3);
  EXPECT_EQ(Bitmap.GetPixel(0, 0), (TColorPixel{100, 50, 25, 128}));
  EXPECT_EQ(Bitmap.GetPixel(1, 0), (TColorPixel{0, 0, 0, 0}));
  EXPECT_EQ(Bitmap.GetPixel(2, 0), (TColorPixel{1, 2, 255, 255}));

  // A 16-bit gray + alpha file: gray 32896 → 128, alpha 65535 → 255, both R = G = B.
  TImage Deep;
  Deep.Allocate(1, 1, icGray, id16Bits, iaUnassociated);
  Deep.Row16(0)[0] = 32896;
  Deep.Row16(0)[1] = 65535;
  WritePngFile(Path("deep.png"), Deep);
  TCliDocument Document;
  LoadDocument(Path("deep.png"), Document);
  EXPECT_EQ(Document.Bitmap.GetPixel(0, 0), (TColorPixel{128, 128, 128, 255}));
  EXPECT_EQ(Document.Rgba.Describe(), "1 x 1 RGB + alpha 8-bit");
}

TEST_F(CliDocumentFiles, MarkersFollowTheEditorsRulesAndNameTheFile) {
  const std::string Two = MarkersFile(2, std::string("\x03\0\0\0\x04\0\0\0\0", 9) + std::string("\xFF\xFF\xFF\xFF\x70\x11\x01\x00\x01", 9));
  WriteAll(Path("two.vnx"), Two);
  const std::vector<TCliMarker> Markers = LoadMarkers(Path("two.vnx"));
  ASSERT_EQ(Markers.size(), 2u);
  EXPECT_EQ(Markers[0].Position, Point(3, 4));
  EXPECT_EQ(Markers[0].Label, 255);
  EXPECT_EQ(Markers[1].Position, Point(-1, 70000));
  EXPECT_EQ(Markers[1].Label, 0);

  WriteAll(Path("type2.vnx"), MarkersFile(1, std::string("\x03\0\0\0\x04\0\0\0\x02", 9)));
  WriteAll(Path("short.vnx"), Two.substr(0, 30));
  WriteAll(Path("empty.vnx"), MarkersFile(0, ""));
  WriteAll(Path("version.vnx"), "TQWSHMRK" + std::string("\x02\0\0\0\0\0\0\0", 8));
  const std::pair<const char*, const char*> Cases[] = {
      {"type2.vnx", "Invalid file format"},
      {"version.vnx", "Invalid file format"},
      {"short.vnx", "Stream read error: the markers file announces 2 markers but holds only 1"},
      {"empty.vnx", "the markers file holds no markers"},
      {"missing.vnx", "cannot open file (No such file or directory)"},
  };
  for (const auto& [Name, Reason] : Cases) {
    SCOPED_TRACE(Name);
    try {
      LoadMarkers(Path(Name));
      ADD_FAILURE() << "no exception";
    } catch (const Exception& E) {
      EXPECT_EQ(E.Message(), Path(Name) + ": " + Reason);
    }
  }

  std::vector<std::string> Warnings;
  WarnAboutOutsideMarkers({{Point(3, 4), 255}, {Point(-1, 2), 0}, {Point(9, 5), 0}, {Point(8, 5), 0}}, 9, 6,
                          [&](const std::string& W) { Warnings.push_back(W); });
  EXPECT_EQ(Warnings, (std::vector<std::string>{
                          "marker 1 at (-1, 2) lies outside the 9 x 6 image; it acts on the nearest border pixel",
                          "marker 2 at (9, 5) lies outside the 9 x 6 image; it acts on the nearest border pixel"}));
}

TEST_F(CliDocumentFiles, MaskCutoutAndGradientFiles) {
  TGrayscaleBitmap Mask;
  Mask.Resize(5, 2);  // rows are padded to 8 bytes: the files must not show the padding
  for (int32_t Y = 0; Y < 2; ++Y)
    for (int32_t X = 0; X < 5; ++X) Mask.SetPixel(X, Y, static_cast<uint8_t>(X * 60 + Y));
  WriteMask(Path("mask.png"), Mask);
  TImage Read = ReadImageFile(Path("mask.png"));
  ASSERT_EQ(Read.Describe(), "5 x 2 gray 8-bit");
  EXPECT_EQ(Read.Row(1)[4], 241);

  TImage Rgba;
  Rgba.Allocate(5, 2, icRGB, id8Bits, iaUnassociated);
  for (size_t i = 0; i < Rgba.ByteSize(); ++i) Rgba.Bits()[i] = (i % 4 == 3) ? (i < 20 ? 255 : 100) : static_cast<uint8_t>(i);
  WriteCutout(Path("cut.png"), Rgba, Mask);
  TImage Cut = ReadImageFile(Path("cut.png"));
  ASSERT_EQ(Cut.Describe(), "5 x 2 RGB + alpha 8-bit");
  EXPECT_EQ(Cut.Row(0)[3 * 4 + 3], 180) << "opaque pixel: alpha = mask";
  EXPECT_EQ(Cut.Row(0)[3 * 4 + 1], 13) << "colour kept";
  EXPECT_EQ(Cut.Row(1)[4 * 4 + 3], 100 * 241 / 255) << "alpha 100 times mask 241";

  TWordGrayscaleBitmap Gradient;
  Gradient.Resize(3, 1);
  Gradient.SetPixel(0, 0, 0);
  Gradient.SetPixel(1, 0, 65535);
  Gradient.SetPixel(2, 0, 258);
  WriteWordBitmap(Path("g.png"), Gradient);
  TImage G = ReadImageFile(Path("g.png"));
  ASSERT_EQ(G.Describe(), "3 x 1 gray 16-bit");
  EXPECT_EQ(G.Row16(0)[1], 65535);
  EXPECT_EQ(G.Row16(0)[2], 258);
}

TEST_F(CliDocumentFiles, RegionGraphBoundaryAndEdgeDumpsHaveTheirExactFormats) {
  TIntegerGrayscaleBitmap Regions;
  Regions.Resize(2, 2);
  Regions.SetPixel(0, 0, 2);
  Regions.SetPixel(1, 0, 258);
  Regions.SetPixel(0, 1, -1);
  Regions.SetPixel(1, 1, 0);
  WriteRegions(Path("r.bin"), Regions);
  EXPECT_EQ(ReadAll(Path("r.bin")), std::string("\x02\0\0\0\x02\0\0\0"
                                                "\x02\0\0\0\x02\x01\0\0\xFF\xFF\xFF\xFF\0\0\0\0",
                                                24));

  TRegionList Graph;
  for (int i = 0; i < 4; ++i) Graph.AddRegion();
  Graph.Connect(0, 1, 7);
  Graph.Connect(1, 2, 9);
  Graph.Connect(2, 1, 5);  // already connected: ignored
  EXPECT_EQ(GraphText(Graph), "regions 4 connections 4\n0: 1@7\n1: 2@9 0@7\n2: 1@9\n3:\n");
  WriteGraph(Path("graph.txt"), Graph);
  EXPECT_EQ(ReadAll(Path("graph.txt")), GraphText(Graph));

  TPointList Points;
  Points.Add(Point(2, 0));
  Points.Add(Point(268435455, 7), {psRight});
  EXPECT_EQ(BoundaryText(Points), "2 0\n268435455 7\n");

  TPointList Edges;
  Edges.Add(Point(1, 1), {});
  Edges.Add(Point(2, 1), {psBottom, psLeft});
  Edges.Add(Point(3, 1), {psTop, psBottom, psRight, psLeft});
  Edges.Add(Point(0, 4), {psTop});
  EXPECT_EQ(EdgesText(Edges), "1 1 -\n2 1 LB\n3 1 LRTB\n0 4 T\n");
  WriteEdges(Path("edges.txt"), Edges);
  WriteBoundary(Path("b.txt"), TPointList());
  EXPECT_EQ(ReadAll(Path("edges.txt")), EdgesText(Edges));
  EXPECT_EQ(ReadAll(Path("b.txt")), "") << "an empty list gives an empty file";
}

}  // namespace
}  // namespace varnix
