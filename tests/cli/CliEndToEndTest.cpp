// varnix-cli run as a program: the real binary on generated images and on the bundled sample,
// its outputs read back and checked against each other.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "imageio/ImageConversion.h"
#include "imageio/ImageFiles.h"
#include "ui/Markers.h"

#ifndef VARNIX_CLI_PATH
#error VARNIX_CLI_PATH must name the varnix-cli binary
#endif
#ifndef VARNIX_SAMPLES_DIR
#error VARNIX_SAMPLES_DIR must name the samples folder
#endif

namespace varnix {
namespace {

struct TRun {
  int Code = -1;
  std::string Out, Err;
};

std::string ReadAll(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

std::string Quote(const std::string& S) {
  std::string Q = "'";
  for (char C : S) Q += C == '\'' ? std::string("'\\''") : std::string(1, C);
  return Q + "'";
}

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Result;
  std::istringstream In(Text);
  for (std::string Line; std::getline(In, Line);) Result.push_back(Line);
  return Result;
}

class CliEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/varnix-cli-XXXXXX";
    Dir = mkdtemp(Template);
  }
  void TearDown() override { std::system(("rm -rf " + Quote(Dir)).c_str()); }
  std::string Path(const std::string& Name) const { return Dir + "/" + Name; }

  // Runs varnix-cli in the scratch folder with the arguments and the standard input given.
  TRun Run(const std::vector<std::string>& Args, const std::string& Input = "") const {
    std::ofstream(Path(".stdin"), std::ios::binary) << Input;
    std::string Command = "cd " + Quote(Dir) + " && " + Quote(VARNIX_CLI_PATH);
    for (const std::string& A : Args) Command += " " + Quote(A);
    Command += " <.stdin >.stdout 2>.stderr";
    const int Status = std::system(Command.c_str());
    TRun R;
    R.Code = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    R.Out = ReadAll(Path(".stdout"));
    R.Err = ReadAll(Path(".stderr"));
    return R;
  }

  void WriteMarkers(const std::string& Name, const std::vector<std::pair<TPoint, TSelectionMarkerType>>& Markers) const {
    TSelectionMarkerList List;
    for (const auto& [P, Type] : Markers) List.Add(P, Type);
    List.SaveToFile(Path(Name));
  }

  // A 48 x 40 picture: a bright disc of radius 10 around (24, 20) on a dark ground.
  void WriteDisc(const std::string& Name) const {
    TImage Image;
    Image.Allocate(48, 40, icRGB, id8Bits, iaNone);
    for (int32_t Y = 0; Y < 40; ++Y)
      for (int32_t X = 0; X < 48; ++X) {
        const bool Inside = (X - 24) * (X - 24) + (Y - 20) * (Y - 20) <= 100;
        uint8_t* P = Image.Row(Y) + 3 * X;
        P[0] = Inside ? 230 : 30;
        P[1] = Inside ? 200 : 40;
        P[2] = Inside ? 60 : 90;
      }
    WritePngFile(Path(Name), Image);
  }

  std::string Dir;
};

const std::vector<std::pair<TPoint, TSelectionMarkerType>> DiscMarkers = {
    {{24, 20}, mtObject}, {{2, 2}, mtBackground}, {{45, 37}, mtBackground}, {{45, 2}, mtBackground}};

TImage ReadMask(const std::string& File) {
  TImage Mask = ReadImageFile(File);
  EXPECT_EQ(Mask.ColorSpace(), icGray);
  EXPECT_EQ(Mask.Depth(), id8Bits);
  EXPECT_FALSE(Mask.HasAlpha());
  return Mask;
}

std::string Pixels(const TImage& Image) { return std::string(reinterpret_cast<const char*>(Image.Bits()), Image.ByteSize()); }

TEST_F(CliEndToEnd, SegmentSelectsTheDiscWithEveryMethod) {
  WriteDisc("disc.png");
  WriteMarkers("disc.vnx", DiscMarkers);
  for (const char* Method : {"none", "sharp", "medium", "soft", "very-soft"}) {
    SCOPED_TRACE(Method);
    const TRun R = Run({"segment", "disc.png", "--markers", "disc.vnx", "--aa", Method, "--out", "mask.png",
                        "--edgemask", "edge.png", "--hard", "hard.png"});
    ASSERT_EQ(R.Code, 0) << R.Err;
    EXPECT_EQ(R.Err, "");
    EXPECT_NE(R.Out.find("wrote mask.png\n"), std::string::npos) << R.Out;
    const TImage Mask = ReadMask(Path("mask.png"));
    ASSERT_EQ(Mask.Width(), 48);
    ASSERT_EQ(Mask.Height(), 40);
    int Intermediate = 0;
    for (int32_t Y = 0; Y < 40; ++Y)
      for (int32_t X = 0; X < 48; ++X) {
        const int D2 = (X - 24) * (X - 24) + (Y - 20) * (Y - 20);
        const uint8_t V = Mask.Row(Y)[X];
        if (D2 <= 64) { ASSERT_EQ(V, 255) << X << "," << Y; }
        if (D2 >= 144) { ASSERT_EQ(V, 0) << X << "," << Y; }
        Intermediate += V != 0 && V != 255;
      }
    const TImage Hard = ReadMask(Path("hard.png"));
    for (size_t i = 0; i < Hard.ByteSize(); ++i) ASSERT_TRUE(Hard.Bits()[i] == 0 || Hard.Bits()[i] == 255);
    const TImage Edge = ReadMask(Path("edge.png"));
    if (std::string(Method) == "none") { EXPECT_EQ(Intermediate, 0) << "none gives a hard mask"; }
    if (std::string(Method) == "none" || std::string(Method) == "sharp") {
      EXPECT_TRUE(Pixels(Mask) == Pixels(Edge)) << "without softening the mask is the edge mask";
    }
    if (std::string(Method) == "very-soft") { EXPECT_GT(Intermediate, 0) << "the edge is soft"; }
  }
}

TEST_F(CliEndToEnd, SampleWithEveryDumpIsConsistent) {
  const std::string Sample = VARNIX_SAMPLES_DIR "/coffee.png";
  const std::string Markers = VARNIX_SAMPLES_DIR "/coffee.vnx";
  const TRun R = Run({"segment", Sample, "--markers", Markers, "--out", "mask.png", "--cutout", "cut.png", "--gradient",
                      "g.png", "--xgradient", "gx.png", "--ygradient", "gy.png", "--regions", "r.bin", "--graph",
                      "graph.txt", "--hard", "hard.png", "--boundary", "b.txt", "--edgemask", "e.png", "--edges",
                      "edges.txt"});
  ASSERT_EQ(R.Code, 0) << R.Err;
  EXPECT_EQ(Lines(R.Out).size(), 12u) << R.Out;

  TSelectionMarkerList List;
  List.LoadFromFile(Markers);
  const TImage Photo = ConvertToRGBA8(ReadImageFile(Sample));
  const int32_t W = 600, H = 400;

  // The mask: object markers selected, background markers not; soft values along the edge only.
  const TImage Mask = ReadMask(Path("mask.png"));
  ASSERT_EQ(Mask.Width(), W);
  ASSERT_EQ(Mask.Height(), H);
  for (int32_t i = 0; i < List.GetCount(); ++i) {
    const TPoint P = List.GetMarker(i)->Position();
    const uint8_t V = Mask.Row(P.Y)[P.X];
    if (List.GetMarker(i)->MarkerType() == mtObject) {
      EXPECT_EQ(V, 255) << "object marker " << i;
    } else {
      EXPECT_EQ(V, 0) << "background marker " << i;
    }
  }
  std::map<int, int> Histogram;
  for (size_t i = 0; i < Mask.ByteSize(); ++i) Histogram[Mask.Bits()[i]]++;
  EXPECT_GT(Histogram[255], W * H / 4) << "the cup and saucer cover a good part of the photo";
  EXPECT_GT(Histogram[0], W * H / 4);
  EXPECT_GT(static_cast<int>(Histogram.size()), 100) << "soft anti-aliasing gives many edge values";

  // The cut-out: the photo's colour, alpha equal to the mask (the photo is opaque).
  const TImage Cut = ReadImageFile(Path("cut.png"));
  ASSERT_EQ(Cut.Describe(), "600 x 400 RGB + alpha 8-bit");
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) {
      const uint8_t* C = Cut.Row(Y) + 4 * X;
      ASSERT_EQ(C[3], Mask.Row(Y)[X]) << X << "," << Y;
      ASSERT_EQ(std::memcmp(C, Photo.Row(Y) + 4 * X, 3), 0) << X << "," << Y;
    }

  // Gradients: 16-bit, the magnitude normalised to 65535.
  for (const char* Name : {"g.png", "gx.png", "gy.png"}) {
    SCOPED_TRACE(Name);
    const TImage G = ReadImageFile(Path(Name));
    ASSERT_EQ(G.Describe(), "600 x 400 gray 16-bit");
    uint16_t Max = 0;
    for (int32_t Y = 0; Y < H; ++Y)
      for (int32_t X = 0; X < W; ++X) Max = std::max(Max, G.Row16(Y)[X]);
    EXPECT_EQ(Max, 65535);
  }

  // The region graph: N regions, M directed connections, every adjacency stored both ways with
  // the same level.
  const std::vector<std::string> Graph = Lines(ReadAll(Path("graph.txt")));
  int N = 0, M = 0;
  ASSERT_EQ(std::sscanf(Graph.at(0).c_str(), "regions %d connections %d", &N, &M), 2) << Graph.at(0);
  ASSERT_EQ(static_cast<int>(Graph.size()), N + 1);
  std::map<std::pair<int, int>, int> Levels;
  int Counted = 0;
  for (int R0 = 0; R0 < N; ++R0) {
    std::istringstream In(Graph[R0 + 1]);
    std::string Head;
    In >> Head;
    ASSERT_EQ(Head, std::to_string(R0) + ":");
    for (std::string Item; In >> Item; ++Counted) {
      int To = 0, Level = 0;
      ASSERT_EQ(std::sscanf(Item.c_str(), "%d@%d", &To, &Level), 2) << Item;
      ASSERT_TRUE(To >= 0 && To < N && To != R0) << Item;
      Levels[{R0, To}] = Level;
    }
  }
  EXPECT_EQ(Counted, M);
  for (const auto& [Pair, Level] : Levels) ASSERT_EQ(Levels.at({Pair.second, Pair.first}), Level);

  // The region numbers: the header, then one number per pixel, all of them regions of the graph.
  const std::string Regions = ReadAll(Path("r.bin"));
  ASSERT_EQ(Regions.size(), 8 + 4u * W * H);
  int32_t Header[2];
  std::memcpy(Header, Regions.data(), 8);
  EXPECT_EQ(Header[0], W);
  EXPECT_EQ(Header[1], H);
  std::set<int32_t> Used;
  for (size_t i = 0; i < static_cast<size_t>(W) * H; ++i) {
    int32_t V;
    std::memcpy(&V, Regions.data() + 8 + 4 * i, 4);
    ASSERT_TRUE(V >= 0 && V < N) << V;
    Used.insert(V);
  }
  EXPECT_EQ(static_cast<int>(Used.size()), N) << "every region has pixels";

  // The boundary: exactly the background pixels of the hard mask with an object 4-neighbour, in
  // raster order.
  const TImage Hard = ReadMask(Path("hard.png"));
  std::string ExpectedBoundary;
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) {
      auto At = [&](int32_t XX, int32_t YY) { return Hard.Row(YY)[XX]; };
      ASSERT_TRUE(At(X, Y) == 0 || At(X, Y) == 255);
      const bool Edge = At(X, Y) == 0 && ((Y > 0 && At(X, Y - 1) == 255) || (X > 0 && At(X - 1, Y) == 255) ||
                                          (X < W - 1 && At(X + 1, Y) == 255) || (Y < H - 1 && At(X, Y + 1) == 255));
      if (Edge) ExpectedBoundary += std::to_string(X) + " " + std::to_string(Y) + "\n";
    }
  EXPECT_EQ(ReadAll(Path("b.txt")), ExpectedBoundary);
  EXPECT_FALSE(ExpectedBoundary.empty());

  // The edge mask is the hard mask except at boundary points.
  const TImage EdgeMask = ReadMask(Path("e.png"));
  std::set<std::pair<int, int>> Boundary;
  for (const std::string& Line : Lines(ExpectedBoundary)) {
    int X, Y;
    std::sscanf(Line.c_str(), "%d %d", &X, &Y);
    Boundary.insert({X, Y});
  }
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X)
      if (!Boundary.count({X, Y})) { ASSERT_EQ(EdgeMask.Row(Y)[X], Hard.Row(Y)[X]) << X << "," << Y; }

  // The outline: inside pixels (edge mask >= 128) with the sides on which the outside lies.
  const std::vector<std::string> Edges = Lines(ReadAll(Path("edges.txt")));
  ASSERT_FALSE(Edges.empty());
  for (const std::string& Line : Edges) {
    int X = -1, Y = -1;
    char Sides[8] = {};
    ASSERT_EQ(std::sscanf(Line.c_str(), "%d %d %7s", &X, &Y, Sides), 3) << Line;
    ASSERT_TRUE(X >= 0 && X < W && Y >= 0 && Y < H) << Line;
    ASSERT_GE(EdgeMask.Row(Y)[X], 128) << Line;
    const std::string S = Sides;
    if (S == "-") continue;
    ASSERT_TRUE(S.find_first_not_of("LRTB") == std::string::npos) << Line;
    auto Outside = [&](int32_t XX, int32_t YY) { return EdgeMask.Row(YY)[XX] < 128; };
    EXPECT_EQ(S.find('L') != std::string::npos, X > 0 && Outside(X - 1, Y)) << Line;
    EXPECT_EQ(S.find('T') != std::string::npos, Y > 0 && Outside(X, Y - 1)) << Line;
  }
}

TEST_F(CliEndToEnd, BadInputsGiveClearErrors) {
  WriteDisc("disc.png");
  WriteMarkers("disc.vnx", DiscMarkers);
  const std::string Good = ReadAll(Path("disc.vnx"));
  std::ofstream(Path("short.vnx"), std::ios::binary) << Good.substr(0, Good.size() - 4);
  std::string Type = Good;
  Type[16 + 8] = 7;
  std::ofstream(Path("type.vnx"), std::ios::binary) << Type;
  std::string Png = ReadAll(Path("disc.png"));
  std::ofstream(Path("corrupt.png"), std::ios::binary) << Png.substr(0, Png.size() / 2);
  std::ofstream(Path("text.png")) << "not a picture";
  struct TCase {
    std::vector<std::string> Args;
    std::string Message;
  };
  const TCase Cases[] = {
      {{"segment", "missing.png", "--markers", "disc.vnx", "--out", "m.png"},
       "varnix-cli: error: missing.png: cannot open file (No such file or directory)\n"},
      {{"segment", "corrupt.png", "--markers", "disc.vnx", "--out", "m.png"},
       "varnix-cli: error: corrupt.png: corrupt or truncated PNG file (Read Error)\n"},
      {{"segment", "text.png", "--markers", "disc.vnx", "--out", "m.png"},
       "varnix-cli: error: text.png: not a PNG, JPEG or TIFF file\n"},
      {{"segment", "disc.png", "--markers", "short.vnx", "--out", "m.png"},
       "varnix-cli: error: short.vnx: Stream read error: the markers file announces 4 markers but holds only 3\n"},
      {{"segment", "disc.png", "--markers", "type.vnx", "--out", "m.png"},
       "varnix-cli: error: type.vnx: Invalid file format\n"},
      {{"segment", "disc.png", "--markers", "missing.vnx", "--out", "m.png"},
       "varnix-cli: error: missing.vnx: cannot open file (No such file or directory)\n"},
      {{"segment", "disc.png", "--markers", "disc.vnx", "--out", "no/dir/m.png"},
       "varnix-cli: error: no/dir/m.png: cannot create file (No such file or directory)\n"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Message);
    const TRun R = Run(C.Args);
    EXPECT_EQ(R.Code, 1);
    EXPECT_EQ(R.Err, C.Message);
  }
  EXPECT_NE(access(Path("m.png").c_str(), F_OK), 0) << "no mask after a failure";
}

TEST_F(CliEndToEnd, BadCommandLinesExitWithTwoAndHelpWithZero) {
  WriteDisc("disc.png");
  WriteMarkers("disc.vnx", DiscMarkers);
  struct TCase {
    std::vector<std::string> Args;
    std::string Err;
  };
  const TCase Cases[] = {
      {{}, "varnix-cli: no command given\nTry 'varnix-cli --help'.\n"},
      {{"segment", "disc.png", "--out", "m.png"}, "varnix-cli: option --markers is required\nTry 'varnix-cli segment --help'.\n"},
      {{"segment", "disc.png", "--markers", "disc.vnx", "--out", "disc.png"},
       "varnix-cli: --out would overwrite the input file 'disc.png'\nTry 'varnix-cli segment --help'.\n"},
      {{"batch", "x", "--out-dir", "o", "--jobs", "none"},
       "varnix-cli: --jobs needs a whole number from 1 to 1024, not 'none'\nTry 'varnix-cli batch --help'.\n"},
      {{"serve", "disc.png", "--aa", "max"},
       "varnix-cli: unknown anti-aliasing method 'max' (use none, sharp, medium, soft or very-soft)\nTry 'varnix-cli serve --help'.\n"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Err);
    const TRun R = Run(C.Args);
    EXPECT_EQ(R.Code, 2);
    EXPECT_EQ(R.Err, C.Err);
    EXPECT_EQ(R.Out, "");
  }
  EXPECT_EQ(ReadAll(Path("disc.png")).substr(1, 3), "PNG") << "the input was not overwritten";
  for (const std::vector<std::string>& Help : std::vector<std::vector<std::string>>{
           {"--help"}, {"help", "serve"}, {"segment", "--help"}, {"serve", "--help"}, {"batch", "-h"}}) {
    const TRun R = Run(Help);
    EXPECT_EQ(R.Code, 0) << Help[0];
    EXPECT_EQ(R.Out.rfind("Usage: varnix-cli", 0), 0u) << R.Out;
    EXPECT_EQ(R.Err, "");
  }
}

TEST_F(CliEndToEnd, MarkersOutsideTheImageActOnTheNearestBorderPixel) {
  WriteDisc("disc.png");
  WriteMarkers("clamped.vnx", {{{24, 20}, mtObject}, {{0, 5}, mtBackground}, {{47, 39}, mtBackground}});
  WriteMarkers("outside.vnx", {{{24, 20}, mtObject}, {{-10, 5}, mtBackground}, {{1000, 1000}, mtBackground}});
  const TRun A = Run({"segment", "disc.png", "--markers", "clamped.vnx", "--out", "a.png"});
  const TRun B = Run({"segment", "disc.png", "--markers", "outside.vnx", "--out", "b.png"});
  ASSERT_EQ(A.Code, 0) << A.Err;
  ASSERT_EQ(B.Code, 0) << B.Err;
  EXPECT_EQ(B.Err,
            "varnix-cli: warning: marker 1 at (-10, 5) lies outside the 48 x 40 image; it acts on the nearest border "
            "pixel\n"
            "varnix-cli: warning: marker 2 at (1000, 1000) lies outside the 48 x 40 image; it acts on the nearest "
            "border pixel\n");
  EXPECT_TRUE(Pixels(ReadMask(Path("a.png"))) == Pixels(ReadMask(Path("b.png"))));
}

TEST_F(CliEndToEnd, TinyImagesGiveSoundMasks) {
  struct TCase {
    int32_t Width, Height;
    std::vector<std::pair<TPoint, TSelectionMarkerType>> Markers;
    std::vector<uint8_t> Expected;
  };
  const TCase Cases[] = {
      {1, 1, {{{0, 0}, mtObject}}, {255}},
      {1, 1, {{{0, 0}, mtBackground}}, {0}},
      {1, 1, {{{0, 0}, mtObject}, {{0, 0}, mtBackground}}, {0}},  // the later marker's label reaches the pixel
      {2, 1, {{{0, 0}, mtObject}, {{1, 0}, mtBackground}}, {}},
      {1, 3, {{{0, 0}, mtObject}, {{0, 2}, mtBackground}}, {}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(std::to_string(C.Width) + " x " + std::to_string(C.Height) + ", " +
                 std::to_string(C.Markers.size()) + " markers");
    TImage Image;
    Image.Allocate(C.Width, C.Height, icGray, id8Bits, iaNone);
    for (size_t i = 0; i < Image.ByteSize(); ++i) Image.Bits()[i] = static_cast<uint8_t>(40 + 150 * i);
    WritePngFile(Path("tiny.png"), Image);
    WriteMarkers("tiny.vnx", C.Markers);
    for (const char* Method : {"none", "soft", "very-soft"}) {
      SCOPED_TRACE(Method);
      const TRun R = Run({"segment", "tiny.png", "--markers", "tiny.vnx", "--aa", Method, "--out", "m.png", "--cutout",
                          "c.png", "--edges", "e.txt", "--hard", "h.png"});
      ASSERT_EQ(R.Code, 0) << R.Err;
      const TImage Mask = ReadMask(Path("m.png"));
      ASSERT_EQ(Mask.Width(), C.Width);
      ASSERT_EQ(Mask.Height(), C.Height);
      if (!C.Expected.empty()) { EXPECT_EQ(Pixels(Mask), std::string(C.Expected.begin(), C.Expected.end())); }
      // The hard mask keeps every marker's label where no other marker shares its pixel. (The
      // anti-aliasing may still move the edge across a marker pixel at the border of such a
      // tiny image, so the soft mask is not held to that.)
      if (C.Markers.size() == 2 && C.Markers[0].first != C.Markers[1].first) {
        const TImage Hard = ReadMask(Path("h.png"));
        EXPECT_EQ(Hard.Row(0)[0], 255);
        EXPECT_EQ(Hard.Row(C.Height - 1)[C.Width - 1], 0);
      }
    }
  }
}

TEST_F(CliEndToEnd, ServeAnswersEveryLineAndMatchesSegment) {
  const std::string Sample = VARNIX_SAMPLES_DIR "/coffee.png";
  const std::string MarkersFile = VARNIX_SAMPLES_DIR "/coffee.vnx";
  TSelectionMarkerList List;
  List.LoadFromFile(MarkersFile);
  std::string Markers = "[";
  for (int32_t i = 0; i < List.GetCount(); ++i) {
    const TPoint P = List.GetMarker(i)->Position();
    Markers += (i ? ", [" : "[") + std::to_string(P.X) + ", " + std::to_string(P.Y) + ", " +
               std::to_string(static_cast<int>(List.GetMarker(i)->MarkerType())) + "]";
  }
  Markers += "]";
  const std::string Input = "{\"markers\": " + Markers + ", \"out\": \"s1.png\"}\n" +
                            "this is not json\n" +
                            "\n" +
                            "{\"markers\": [[1, 2, 5]], \"out\": \"x.png\"}\n" +
                            "{\"markers\": " + Markers + ", \"out\": \"s2.png\", \"aa\": \"none\"}\n" +
                            "{\"markers\": " + Markers + ", \"out\": \"no/dir/s3.png\"}\n" +
                            "{\"markers\": [[300, 200, 0], [-5, -5, 1]], \"out\": \"s4.png\", \"aa\": \"sharp\"}";
  const TRun R = Run({"serve", Sample, "--aa", "soft"}, Input);
  ASSERT_EQ(R.Code, 0) << R.Err;
  const std::vector<std::string> Answers = Lines(R.Out);
  ASSERT_EQ(Answers.size(), 6u) << R.Out;
  double Ms = -1;
  EXPECT_EQ(std::sscanf(Answers[0].c_str(), "{\"ok\":true,\"ms\":%lf}", &Ms), 1) << Answers[0];
  EXPECT_GT(Ms, 0.0);
  EXPECT_EQ(Answers[1], R"({"error":"the line is not valid JSON","ok":false})");
  EXPECT_EQ(Answers[2], R"({"error":"marker 0 has type 5; use 0 for object, 1 for background","ok":false})");
  EXPECT_EQ(Answers[3].rfind("{\"ok\":true,\"ms\":", 0), 0u) << Answers[3];
  EXPECT_EQ(Answers[4], R"x({"error":"no/dir/s3.png: cannot create file (No such file or directory)","ok":false})x");
  EXPECT_EQ(Answers[5].rfind("{\"ok\":true,\"ms\":", 0), 0u) << Answers[5];
  EXPECT_NE(R.Err.find("marker 1 at (-5, -5) lies outside"), std::string::npos) << R.Err;

  // The same markers through segment give the same masks.
  for (const auto& [Served, Method] : {std::pair<const char*, const char*>{"s1.png", "soft"}, {"s2.png", "none"}}) {
    SCOPED_TRACE(Method);
    const TRun S = Run({"segment", Sample, "--markers", MarkersFile, "--aa", Method, "--out", "seg.png"});
    ASSERT_EQ(S.Code, 0) << S.Err;
    EXPECT_TRUE(Pixels(ReadMask(Path(Served))) == Pixels(ReadMask(Path("seg.png"))));
  }
}

TEST_F(CliEndToEnd, BatchReportsEveryFileAndGoesOnAfterFailures) {
  std::system(("mkdir -p " + Quote(Path("in"))).c_str());
  WriteDisc("in/a.png");
  WriteMarkers("in/a.vnx", DiscMarkers);
  WriteDisc("in/e.png");
  WriteMarkers("in/e.vnx", {{{24, 20}, mtObject}, {{0, 0}, mtBackground}});
  const std::string Png = ReadAll(Path("in/a.png"));
  std::ofstream(Path("in/b.png"), std::ios::binary) << Png.substr(0, Png.size() / 2);
  WriteMarkers("in/b.vnx", DiscMarkers);
  WriteDisc("in/c.png");  // no markers: skipped
  WriteDisc("d.png");     // named, but no markers: an error

  const TRun R = Run({"batch", "in", "d.png", "--out-dir", "out/masks", "--jobs", "2"});
  EXPECT_EQ(R.Code, 1);
  std::set<std::string> OutLines, ErrLines;
  for (const std::string& L : Lines(R.Out)) OutLines.insert(L.substr(0, L.find(" (")));
  for (const std::string& L : Lines(R.Err)) ErrLines.insert(L);
  EXPECT_TRUE(OutLines.count("in/a.png -> out/masks/a.png")) << R.Out;
  EXPECT_TRUE(OutLines.count("in/e.png -> out/masks/e.png")) << R.Out;
  EXPECT_TRUE(OutLines.count("batch: 2 of 4 images segmented, 2 failed")) << R.Out;
  EXPECT_EQ(ErrLines, (std::set<std::string>{"d.png: no markers file d.vnx",
                                             "batch: 1 images without markers file skipped",
                                             "in/b.png: failed: corrupt or truncated PNG file (Read Error)"}))
      << R.Err;

  const TRun S = Run({"segment", "in/a.png", "--markers", "in/a.vnx", "--out", "seg.png"});
  ASSERT_EQ(S.Code, 0);
  EXPECT_TRUE(Pixels(ReadMask(Path("out/masks/a.png"))) == Pixels(ReadMask(Path("seg.png"))));
  EXPECT_NE(access(Path("out/masks/b.png").c_str(), F_OK), 0);

  std::remove(Path("in/b.png").c_str());
  const TRun Good = Run({"batch", "in", "--out-dir", "out/masks", "--aa", "none"});
  EXPECT_EQ(Good.Code, 0) << Good.Err;
  EXPECT_NE(Good.Out.find("batch: 2 of 2 images segmented, 0 failed"), std::string::npos) << Good.Out;

  const TRun Nothing = Run({"batch", "out", "--out-dir", "x"});
  EXPECT_EQ(Nothing.Code, 1);
  EXPECT_EQ(Nothing.Err, "varnix-cli: batch: no images with a markers file beside them were found\n");
}

}  // namespace
}  // namespace varnix
