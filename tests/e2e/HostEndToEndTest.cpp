// End to end: the real varnix-host loads a plug-in bundle and runs it on image files. The test
// bundle has the real entry points and host bridge with a main form that reads the document,
// computes the selection with the engine from a markers file and closes as the environment asks
// (FixtureMainForm.cpp). The written masks and layers are read back and checked.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imageio/ImageConversion.h"
#include "imageio/ImageFiles.h"
#include "ui/Markers.h"

namespace varnix {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

const std::string Host = VARNIX_HOST;
const std::string FixtureBundle = VARNIX_FIXTURE_BUNDLE;
const std::string ShippedBundle = VARNIX_SHIPPED_BUNDLE;
const std::string OneEntryLibrary = VARNIX_ONE_ENTRY_LIBRARY;

struct TRun {
  int Exit = -1;
  std::string Out;
  std::string Err;
};

std::string ReadText(const std::string& FileName) {
  std::ifstream In(FileName, std::ios::binary);
  std::stringstream S;
  S << In.rdbuf();
  return S.str();
}

// Runs varnix-host with Args (headless) and the extra environment Env, capturing both streams.
TRun RunHost(const std::vector<std::string>& Args, const std::vector<std::pair<std::string, std::string>>& Env = {}) {
  const std::string OutFile = ::testing::TempDir() + "/host-out-" + std::to_string(getpid());
  const std::string ErrFile = ::testing::TempDir() + "/host-err-" + std::to_string(getpid());
  const pid_t Child = fork();
  if (Child == 0) {
    const int O = open(OutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int E = open(ErrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(O, 1);
    dup2(E, 2);
    setenv("VARNIX_UI", "headless", 1);
    for (const auto& [K, V] : Env) setenv(K.c_str(), V.c_str(), 1);
    std::vector<char*> Argv{const_cast<char*>(Host.c_str())};
    for (const std::string& A : Args) Argv.push_back(const_cast<char*>(A.c_str()));
    Argv.push_back(nullptr);
    execv(Host.c_str(), Argv.data());
    _exit(127);
  }
  int Status = 0;
  waitpid(Child, &Status, 0);
  TRun R;
  R.Exit = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128 + WTERMSIG(Status);
  R.Out = ReadText(OutFile);
  R.Err = ReadText(ErrFile);
  std::remove(OutFile.c_str());
  std::remove(ErrFile.c_str());
  return R;
}

// ---- The scene: a bright disk on a dark ground ------------------------------------------------

constexpr int32_t W = 48, H = 40, CX = 24, CY = 20;

double Distance(int32_t X, int32_t Y) { return std::hypot(X - CX, Y - CY); }
bool InDisk(int32_t X, int32_t Y) { return Distance(X, Y) <= 11.0; }
// The layer's opacity: a band on the left is partly transparent.
uint8_t SceneAlpha(int32_t X, int32_t) { return X < 6 ? 200 : 255; }

void Put(TImage& I, int32_t X, int32_t Y, const std::vector<double>& Unit) {
  // Unit: the channels in 0..1 (Lab: L* 0..100, a*, b*), alpha last.
  for (size_t C = 0; C < Unit.size(); ++C) {
    double V = Unit[C];
    const bool Lab = I.ColorSpace() == icLab && C < 3;
    if (I.Depth() == id8Bits) {
      if (Lab) V = C == 0 ? V * 255.0 / 100.0 : V + 128.0;
      else V *= 255.0;
      I.Row(Y)[X * I.Channels() + C] = static_cast<uint8_t>(std::lround(V));
    } else if (I.Depth() == id16Bits) {
      if (Lab) V = C == 0 ? V * 65535.0 / 100.0 : V * 256.0 + 32768.0;
      else V *= 65535.0;
      I.Row16(Y)[X * I.Channels() + C] = static_cast<uint16_t>(std::lround(V));
    } else {
      I.RowFloat(Y)[X * I.Channels() + C] = static_cast<float>(V);
    }
  }
}

TImage MakeScene(TImageColorSpace Space, TImageDepth Depth) {
  TImage I;
  I.Allocate(W, H, Space, Depth, iaUnassociated);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) {
      const bool D = InDisk(X, Y);
      const double A = SceneAlpha(X, Y) / 255.0;
      switch (Space) {
        case icRGB:
          Put(I, X, Y, D ? std::vector<double>{220 / 255.0, 200 / 255.0, 60 / 255.0, A}
                         : std::vector<double>{30 / 255.0, 40 / 255.0, 50 / 255.0, A});
          break;
        case icGray:
          Put(I, X, Y, {D ? 210 / 255.0 : 40 / 255.0, A});
          break;
        case icCMYK:  // the naive inverses of the RGB colours above
          Put(I, X, Y, D ? std::vector<double>{0.0, 20 / 220.0, 160 / 220.0, 35 / 255.0, A}
                         : std::vector<double>{20 / 50.0, 10 / 50.0, 0.0, 205 / 255.0, A});
          break;
        case icLab:
          Put(I, X, Y, D ? std::vector<double>{80, 5, 60, A} : std::vector<double>{15, 0, -5, A});
          break;
      }
    }
  return I;
}

void WriteMarkers(const std::string& FileName) {
  TSelectionMarkerList L;
  for (TPoint P : {Point(24, 20), Point(20, 18), Point(28, 23)}) L.Add(P, mtObject);
  for (TPoint P : {Point(3, 3), Point(44, 3), Point(3, 36), Point(44, 36), Point(24, 2), Point(24, 37), Point(8, 20),
                   Point(40, 20)})
    L.Add(P, mtBackground);
  L.SaveToFile(FileName);
}

// The mask is the disk: certainly selected well inside it, certainly not well outside.
void ExpectDiskMask(const std::function<uint8_t(int32_t, int32_t)>& Mask) {
  int32_t Wrong = 0;
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) {
      const double D = Distance(X, Y);
      if (D <= 8.0 && Mask(X, Y) != 255) ++Wrong;
      if (D >= 14.0 && Mask(X, Y) != 0) ++Wrong;
    }
  EXPECT_EQ(Wrong, 0);
}

double Sample(const TImage& I, int32_t X, int32_t Y, int32_t C) {
  switch (I.Depth()) {
    case id8Bits:
      return I.Row(Y)[X * I.Channels() + C] / 255.0;
    case id16Bits:
      return I.Row16(Y)[X * I.Channels() + C] / 65535.0;
    default:
      return I.RowFloat(Y)[X * I.Channels() + C];
  }
}

class HostEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = ::testing::TempDir() + "/varnix-e2e-" + std::to_string(getpid()) + "-" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    Markers = Dir + "/scene.vnx";
    WriteMarkers(Markers);
  }
  void TearDown() override { fs::remove_all(Dir); }

  std::vector<std::pair<std::string, std::string>> FixtureEnv(const std::string& Action = "ok") const {
    return {{"VARNIX_FIXTURE_MARKERS", Markers}, {"VARNIX_FIXTURE_ACTION", Action}};
  }

  std::string Dir;
  std::string Markers;
};

struct TKind {
  const char* Name;
  TImageColorSpace Space;
  TImageDepth Depth;
  const char* Extension;
};

const TKind Kinds[] = {
    {"RGB PNG", icRGB, id8Bits, "png"},     {"16-bit RGB PNG", icRGB, id16Bits, "png"},
    {"gray PNG", icGray, id8Bits, "png"},   {"CMYK TIFF", icCMYK, id8Bits, "tif"},
    {"Lab TIFF", icLab, id8Bits, "tif"},    {"16-bit Lab TIFF", icLab, id16Bits, "tif"},
};

TEST_F(HostEndToEndTest, SelectionEntryWritesTheMaskOfEveryKindOfFile) {
  for (const TKind& K : Kinds)
    for (bool Ports : {true, false}) {
      SCOPED_TRACE(std::string(K.Name) + (Ports ? "" : ", no channel ports"));
      const std::string Input = Dir + "/scene." + K.Extension;
      const std::string MaskFile = Dir + "/mask.png";
      const std::string DumpFile = Dir + "/dump.png";
      const TImage Scene = MakeScene(K.Space, K.Depth);
      WriteImageFile(Input, Scene);
      fs::remove(MaskFile);
      auto Env = FixtureEnv();
      Env.emplace_back("VARNIX_FIXTURE_DUMP", DumpFile);
      std::vector<std::string> Args{"select", Input, "--plugin", FixtureBundle, "--out-mask", MaskFile};
      if (!Ports) Args.push_back("--no-channel-ports");
      const TRun R = RunHost(Args, Env);
      if (!Ports) {
        // The Selection entry needs the channel ports.
        EXPECT_EQ(R.Exit, 2);
        EXPECT_THAT(R.Err, HasSubstr("an error occurred while reading from channels (0) (result -30904)"));
        EXPECT_FALSE(fs::exists(MaskFile));
        continue;
      }
      ASSERT_EQ(R.Exit, 0) << R.Err;
      const TImage Mask = ReadImageFile(MaskFile);
      ASSERT_EQ(Mask.ColorSpace(), icGray);
      ASSERT_EQ(Mask.Depth(), id8Bits);
      ASSERT_EQ(Mask.Width(), W);
      ExpectDiskMask([&](int32_t X, int32_t Y) { return Mask.Row(Y)[X]; });

      // The document as the plug-in read it: monitor RGB, premultiplied by the layer's alpha.
      const TImage Dump = ReadImageFile(DumpFile);
      const TImage Reference = ConvertToRGBA8(Scene);
      int32_t Off = 0;
      for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X) {
          const uint8_t* P = Dump.Row(Y) + 4 * X;
          const uint8_t* Q = Reference.Row(Y) + 4 * X;
          if (std::abs(P[3] - Q[3]) > 1) ++Off;
          for (int C = 0; C < 3; ++C)
            if (std::abs(P[C] - Q[C] * Q[3] / 255) > 3) ++Off;
        }
      EXPECT_EQ(Off, 0);
    }
}

TEST_F(HostEndToEndTest, FilterEntryMultipliesTheMaskIntoTheLayerThroughBothReadPaths) {
  for (const TKind& K : Kinds)
    for (bool Ports : {true, false}) {
      SCOPED_TRACE(std::string(K.Name) + (Ports ? ", channel ports" : ", advance state"));
      const std::string Input = Dir + "/scene." + K.Extension;
      const std::string Output = Dir + "/layer." + K.Extension;
      const TImage Scene = MakeScene(K.Space, K.Depth);
      WriteImageFile(Input, Scene);
      fs::remove(Output);
      std::vector<std::string> Args{"filter", Input, "--plugin", FixtureBundle, "--out", Output};
      if (!Ports) Args.push_back("--no-channel-ports");
      const TRun R = RunHost(Args, FixtureEnv());
      ASSERT_EQ(R.Exit, 0) << R.Err;
      const TImage Layer = ReadImageFile(Output);
      ASSERT_EQ(Layer.ColorSpace(), Scene.ColorSpace());
      ASSERT_EQ(Layer.Depth(), Scene.Depth());
      ASSERT_EQ(Layer.Alpha(), iaUnassociated);
      // The colour is untouched; the new opacity is the old one where selected, 0 where not.
      int32_t ColorChanged = 0;
      for (int32_t Y = 0; Y < H; ++Y)
        for (int32_t X = 0; X < W; ++X)
          for (int32_t C = 0; C < Scene.ColorChannels(); ++C)
            if (Sample(Layer, X, Y, C) != Sample(Scene, X, Y, C)) ++ColorChanged;
      EXPECT_EQ(ColorChanged, 0);
      const int32_t A = Scene.ColorChannels();
      ExpectDiskMask([&](int32_t X, int32_t Y) -> uint8_t {
        const double New = Sample(Layer, X, Y, A), Old = Sample(Scene, X, Y, A);
        if (New == 0.0) return 0;
        return std::abs(New - Old) <= 1.0 / 255.0 ? 255 : 128;
      });
    }
}

TEST_F(HostEndToEndTest, ConvertedDocumentsAndFloatDepths) {
  // An RGB file opened as documents of other modes and depths still gives the disk.
  const std::string Input = Dir + "/scene.png";
  WriteImageFile(Input, MakeScene(icRGB, id8Bits));
  const std::vector<std::vector<std::string>> Variants = {
      {"--mode", "gray"}, {"--mode", "cmyk", "--depth", "16"}, {"--mode", "lab"}, {"--depth", "32"},
      {"--mode", "gray", "--depth", "32"}};
  for (const auto& V : Variants)
    for (const char* Entry : {"select", "filter"}) {
      SCOPED_TRACE(::testing::PrintToString(V) + " " + Entry);
      const std::string Output = Dir + (std::string(Entry) == "select" ? "/mask.png" : "/layer.png");
      std::vector<std::string> Args{Entry, Input, "--plugin", FixtureBundle,
                                    std::string(Entry) == "select" ? "--out-mask" : "--out", Output};
      Args.insert(Args.end(), V.begin(), V.end());
      if (std::string(Entry) == "filter") Args.push_back("--no-channel-ports");
      const TRun R = RunHost(Args, FixtureEnv());
      ASSERT_EQ(R.Exit, 0) << R.Err;
      const TImage Out = ReadImageFile(Output);
      if (std::string(Entry) == "select")
        ExpectDiskMask([&](int32_t X, int32_t Y) { return Out.Row(Y)[X]; });
      else
        ExpectDiskMask([&](int32_t X, int32_t Y) -> uint8_t { return Out.Row(Y)[4 * X + 3] == 0 ? 0 : 255; });
    }
}

TEST_F(HostEndToEndTest, CutOutAndMergedComposite) {
  const std::string Bottom = Dir + "/scene.png";
  const std::string Top = Dir + "/veil.png";
  WriteImageFile(Bottom, MakeScene(icRGB, id8Bits));
  TImage Veil;
  Veil.Allocate(W, H, icRGB, id8Bits, iaUnassociated);
  for (int32_t Y = 0; Y < H; ++Y)
    for (int32_t X = 0; X < W; ++X) {
      uint8_t* P = Veil.Row(Y) + 4 * X;
      P[0] = 0, P[1] = 0, P[2] = 255, P[3] = 128;
    }
  WriteImageFile(Top, Veil);

  // The target layer alone: the veil, premultiplied.
  const std::string Dump = Dir + "/dump.png";
  auto Env = FixtureEnv();
  Env.emplace_back("VARNIX_FIXTURE_DUMP", Dump);
  TRun R = RunHost({"select", Bottom, "--layer", Top, "--plugin", FixtureBundle}, Env);
  ASSERT_EQ(R.Exit, 0) << R.Err;
  const TImage Target = ReadImageFile(Dump);
  EXPECT_THAT(std::vector<uint8_t>(Target.Row(5) + 40, Target.Row(5) + 44), ::testing::ElementsAre(0, 0, 128, 128));

  // All layers: the veil over the scene, opaque.
  Env.emplace_back("VARNIX_FIXTURE_SAMPLE_ALL", "1");
  const std::string CutOut = Dir + "/cutout.png";
  R = RunHost({"select", Bottom, "--layer", Top, "--plugin", FixtureBundle, "--out-cutout", CutOut}, Env);
  ASSERT_EQ(R.Exit, 0) << R.Err;
  const TImage Merged = ReadImageFile(Dump);
  const uint8_t* P = Merged.Row(CY) + 4 * CX;  // disk (220, 200, 60) under half-opaque blue
  EXPECT_NEAR(P[0], 220 * 127 / 255, 2);
  EXPECT_NEAR(P[2], 60 * 127 / 255 + 128, 2);
  EXPECT_EQ(P[3], 255);
  // The cut-out is the target layer (the veil) with its opacity times the selection.
  const TImage Cut = ReadImageFile(CutOut);
  ASSERT_EQ(Cut.Channels(), 4);
  ExpectDiskMask([&](int32_t X, int32_t Y) -> uint8_t {
    const uint8_t* Q = Cut.Row(Y) + 4 * X;
    return Q[3] == 0 ? 0 : (Q[3] == 128 && Q[2] == 255) ? 255 : 1;
  });
}

TEST_F(HostEndToEndTest, CancelAndFailuresWriteNothing) {
  const std::string Input = Dir + "/scene.png";
  const std::string MaskFile = Dir + "/mask.png";
  WriteImageFile(Input, MakeScene(icRGB, id8Bits));
  struct TCase {
    const char* Action;
    int Exit;
    const char* Err;
    const char* Out;
  };
  const TCase Cases[] = {
      {"cancel", 1, "varnix-host: cancelled", ""},
      {"raise", 1, "fixture failure", "with message:\nfixture failure\n"},
      {"refuse", 2, "varnix-host: the fixture refused the document (result -30904)", ""},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Action);
    const TRun R = RunHost({"select", Input, "--plugin", FixtureBundle, "--out-mask", MaskFile}, FixtureEnv(C.Action));
    EXPECT_EQ(R.Exit, C.Exit) << R.Err;
    EXPECT_THAT(R.Err, HasSubstr(C.Err));
    EXPECT_THAT(R.Out, HasSubstr(C.Out));
    EXPECT_FALSE(fs::exists(MaskFile));
  }
  // No partial files are left in the folder either.
  for (const auto& E : fs::directory_iterator(Dir)) EXPECT_THAT(E.path().filename().string(), Not(HasSubstr("partial")));
}

TEST_F(HostEndToEndTest, IndexedDocumentIsRefusedByBothEntries) {
  const std::string Input = Dir + "/scene.png";
  WriteImageFile(Input, MakeScene(icRGB, id8Bits));
  TRun R = RunHost({"select", Input, "--mode", "indexed", "--plugin", FixtureBundle}, FixtureEnv());
  EXPECT_EQ(R.Exit, 2);
  EXPECT_THAT(R.Err, HasSubstr("Image mode not supported (result -30701)"));
  R = RunHost({"filter", Input, "--mode", "indexed", "--plugin", FixtureBundle}, FixtureEnv());
  EXPECT_EQ(R.Exit, 2);
  EXPECT_THAT(R.Err, HasSubstr("(result -30101)"));
}

TEST_F(HostEndToEndTest, FilterOnABackgroundLayerShowsTheMessage) {
  const std::string Input = Dir + "/scene.png";
  const std::string Output = Dir + "/layer.png";
  WriteImageFile(Input, MakeScene(icRGB, id8Bits));
  const TRun R = RunHost({"filter", Input, "--no-transparency", "--plugin", FixtureBundle, "--out", Output},
                         FixtureEnv());
  EXPECT_EQ(R.Exit, 1);
  EXPECT_THAT(R.Err, HasSubstr("Varnix cannot work on the selected layer because it is a\n"
                               "background layer without transparency information.\n\n"
                               "Please duplicate the selected layer and try again."));
  EXPECT_FALSE(fs::exists(Output));
}

TEST_F(HostEndToEndTest, BrokenBundlesAndFilesGiveClearErrors) {
  const std::string Input = Dir + "/scene.png";
  WriteImageFile(Input, MakeScene(icRGB, id8Bits));
  auto MakeBundle = [&](const std::string& Name, const std::string& Library, const std::string& Properties) {
    const std::string B = Dir + "/" + Name;
    fs::create_directories(B + "/Contents/Linux");
    fs::copy_file(FixtureBundle + "/Contents/Info.plist", B + "/Contents/Info.plist");
    std::ofstream(B + "/Contents/Linux/plugin.json") << Properties;
    if (!Library.empty()) fs::copy_file(Library, B + "/Contents/Linux/libvarnix.so");
    return B;
  };
  const std::string Properties = ReadText(FixtureBundle + "/Contents/Linux/plugin.json");
  const std::string Garbage = Dir + "/garbage.so";
  std::ofstream(Garbage) << "this is not a shared object";

  struct TCase {
    const char* Name;
    std::vector<std::string> Args;
    std::string Err;
  };
  const TCase Cases[] = {
      {"missing bundle", {"select", Input, "--plugin", Dir + "/nowhere.plugin"}, "no plug-in bundle there"},
      {"not a bundle", {"select", Input, "--plugin", Dir}, "not a plug-in bundle (Contents/Info.plist is missing)"},
      {"missing library",
       {"select", Input, "--plugin", MakeBundle("nolib.plugin", "", Properties)},
       "the plug-in library is missing"},
      {"broken library",
       {"select", Input, "--plugin", MakeBundle("garbage.plugin", Garbage, Properties)},
       "cannot load the plug-in library"},
      {"broken property file",
       {"select", Input, "--plugin", MakeBundle("badjson.plugin", OneEntryLibrary, "{ not json")},
       "not a valid plug-in property file"},
      {"missing entry point",
       {"filter", Input, "--plugin", MakeBundle("oneentry.plugin", OneEntryLibrary, Properties)},
       "the plug-in has no entry point PluginMain_Filter"},
      {"missing image", {"select", Dir + "/none.png", "--plugin", FixtureBundle}, Dir + "/none.png: cannot open"},
      {"unreadable image", {"select", Garbage, "--plugin", FixtureBundle}, Garbage + ":"},
      {"layer size", {"select", Input, "--layer", Dir + "/small.png", "--plugin", FixtureBundle},
       "is 2 x 2, but the document is 48 x 40"},
      {"unknown option", {"select", Input, "--frobnicate"}, "unknown option --frobnicate"},
  };
  TImage Small;
  Small.Allocate(2, 2, icRGB, id8Bits, iaNone);
  WriteImageFile(Dir + "/small.png", Small);
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    const TRun R = RunHost(C.Args, FixtureEnv());
    EXPECT_EQ(R.Exit, 2);
    EXPECT_THAT(R.Err, HasSubstr(C.Err));
  }
  // The bundle with one entry still serves that one.
  const TRun R = RunHost({"about", "--plugin", Dir + "/oneentry.plugin"});
  EXPECT_EQ(R.Exit, 0) << R.Err;
}

TEST_F(HostEndToEndTest, BundleStartUpSetsItsLocationForGood) {
  // The start-up's settings survive the library's own static initialisation: the bundle folder
  // it set wins over the environment's.
  const std::string Input = Dir + "/scene.png";
  const std::string Paths = Dir + "/paths.txt";
  WriteImageFile(Input, MakeScene(icRGB, id8Bits));
  auto Env = FixtureEnv();
  Env.emplace_back("VARNIX_FIXTURE_PATHS", Paths);
  Env.emplace_back("VARNIX_BUNDLE", Dir + "/elsewhere.plugin");
  const TRun R = RunHost({"select", Input, "--plugin", FixtureBundle}, Env);
  ASSERT_EQ(R.Exit, 0) << R.Err;
  EXPECT_EQ(ReadText(Paths), FixtureBundle + "\n" + FixtureBundle + "/Contents/Resources\n");
}

TEST_F(HostEndToEndTest, ShippedBundleWithoutItsEditorAnswersWithAMessage) {
  const std::string Input = Dir + "/scene.png";
  WriteImageFile(Input, MakeScene(icRGB, id8Bits));
  for (const char* Entry : {"select", "filter"}) {
    SCOPED_TRACE(Entry);
    const TRun R = RunHost({Entry, Input, "--plugin", ShippedBundle});
    EXPECT_EQ(R.Exit, 2);
    EXPECT_THAT(R.Err, HasSubstr("Varnix cannot open this window: it is not part of this build (result -30904)"));
  }
}

TEST_F(HostEndToEndTest, AboutBoxShowsHeadlessAndClosesWithAScriptedOk) {
  const std::string Script = Dir + "/ok.script";
  const std::string Shot = Dir + "/about.png";
  std::ofstream(Script) << "wait-text TitleLabel \"About Varnix\"\n"
                           "wait-text VersionLabel \"Version 1.00\"\n"
                           "key return\n";
  const TRun R = RunHost({"about", "--plugin", ShippedBundle, "--ui", "headless", "--ui-script", Script,
                          "--screenshot", Shot});
  EXPECT_EQ(R.Exit, 0) << R.Err;
  EXPECT_THAT(R.Err, Not(HasSubstr("closing it with Cancel")));
  EXPECT_THAT(R.Err, Not(HasSubstr("script failed")));
  const TImage Picture = ReadImageFile(Shot);
  EXPECT_EQ(Picture.Width(), 300);
  EXPECT_EQ(Picture.Height(), 152);
}

TEST_F(HostEndToEndTest, AboutBoxOfABundleWithoutVersionShowsZero) {
  // A copy of the shipped bundle whose information dictionary has no version entry.
  const std::string Bundle = Dir + "/Unversioned.plugin";
  fs::create_directories(Bundle + "/Contents/Linux");
  fs::copy(ShippedBundle + "/Contents/Linux", Bundle + "/Contents/Linux", fs::copy_options::recursive);
  std::string Plist = ReadText(ShippedBundle + "/Contents/Info.plist");
  const size_t Key = Plist.find("<key>CFBundleShortVersionString</key>");
  ASSERT_NE(Key, std::string::npos);
  Plist.erase(Key, Plist.find("</string>", Key) + 9 - Key);
  std::ofstream(Bundle + "/Contents/Info.plist") << Plist;
  const std::string Script = Dir + "/ok.script";
  std::ofstream(Script) << "wait-text VersionLabel \"Version 0.00\"\nclick OkButton\n";
  const TRun R = RunHost({"about", "--plugin", Bundle, "--ui-script", Script});
  EXPECT_EQ(R.Exit, 0) << R.Err;
  EXPECT_THAT(R.Err, Not(HasSubstr("script failed")));
  EXPECT_THAT(R.Err, Not(HasSubstr("closing it with Cancel")));
}

}  // namespace
}  // namespace varnix
