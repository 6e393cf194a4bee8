// The gallery program end to end: rendered headless into a PNG whose structure is checked, and
// opened as a real SDL2 window under a private Xvfb server, clicked through real X events and
// photographed with the X server's own tools.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/vcl/Graphics.h"
#include "platform/vcl/Themes.h"

extern char** environ;

namespace varnix {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string ReadFile(const fs::path& P) {
  std::ifstream In(P, std::ios::binary);
  std::ostringstream S;
  S << In.rdbuf();
  return S.str();
}

// A child process; killed and reaped when the owner goes. Empty state: pid 0.
class TChild {
 public:
  TChild() = default;
  TChild(const std::vector<std::string>& Argv, const std::vector<std::string>& Env, const fs::path& Out) {
    std::vector<char*> A, E;
    for (const auto& S : Argv) A.push_back(const_cast<char*>(S.c_str()));
    A.push_back(nullptr);
    std::vector<std::string> All;
    for (char** P = environ; *P; ++P) All.emplace_back(*P);
    for (const auto& S : Env) All.push_back(S);
    for (auto& S : All) E.push_back(S.data());
    E.push_back(nullptr);
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_addopen(&Actions, 1, Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&Actions, 1, 2);
    if (posix_spawn(&FPid, A[0], &Actions, nullptr, A.data(), E.data()) != 0) FPid = 0;
    posix_spawn_file_actions_destroy(&Actions);
  }
  TChild(const TChild&) = delete;
  TChild& operator=(const TChild&) = delete;
  TChild(TChild&& O) noexcept : FPid(std::exchange(O.FPid, 0)) {}
  ~TChild() { Stop(); }
  pid_t Pid() const { return FPid; }
  // Waits for the exit code; -1 on time-out (the process keeps running).
  int Wait(std::chrono::milliseconds Limit) {
    const auto End = Clock::now() + Limit;
    while (FPid) {
      int Status = 0;
      if (waitpid(FPid, &Status, WNOHANG) == FPid) {
        FPid = 0;
        return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128;
      }
      if (Clock::now() > End) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }
  void Stop() noexcept {
    if (!FPid) return;
    kill(FPid, SIGTERM);
    int Status;
    for (int I = 0; I < 100 && waitpid(FPid, &Status, WNOHANG) == 0; ++I) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(FPid, &Status, WNOHANG) == 0) {
      kill(FPid, SIGKILL);
      waitpid(FPid, &Status, 0);
    }
    FPid = 0;
  }

 private:
  pid_t FPid = 0;
};

class GalleryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::path(::testing::TempDir()) / ("gallery-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(Dir);
  }
  void TearDown() override {
    // The pictures stay beside the test for a person to look at.
    const fs::path Keep = fs::current_path() / "gallery-pictures";
    fs::create_directories(Keep);
    for (const auto& E : fs::directory_iterator(Dir))
      if (E.path().extension() == ".png") fs::copy_file(E.path(), Keep / E.path().filename(), fs::copy_options::overwrite_existing);
    fs::remove_all(Dir);
  }
  fs::path Dir;
};

// A form rectangle from the layout file: {x, y, width, height}.
struct TBox {
  int X, Y, W, H;
};
TBox BoxOf(const nlohmann::json& L, const char* Name, const char* Kind = "form") {
  const auto& A = L.at(Name).at(Kind);
  return {A[0].get<int>(), A[1].get<int>(), A[2].get<int>(), A[3].get<int>()};
}

int DarkPixels(const TBitmap& B, TBox R) {
  int N = 0;
  for (int Y = R.Y; Y < R.Y + R.H; ++Y)
    for (int X = R.X; X < R.X + R.W; ++X) {
      const uint32_t P = B.RawPixel(X, Y);
      if ((P & 0xFF) < 100 && ((P >> 8) & 0xFF) < 100 && ((P >> 16) & 0xFF) < 100) ++N;
    }
  return N;
}

TEST_F(GalleryTest, HeadlessRunDrawsEveryControlWhereTheLayoutSays) {
  std::ofstream(Dir / "run.script") << "wait 150\nclick ClickButton\nwait-text CounterLabel \"Clicked 1\"\nclick OkButton\n";
  TChild G({VARNIX_GALLERY, "--ui", "headless", "--script", (Dir / "run.script").string(), "--screenshot",
            (Dir / "gallery-headless.png").string(), "--layout", (Dir / "layout.json").string()},
           {}, Dir / "out.txt");
  ASSERT_NE(G.Pid(), 0);
  ASSERT_EQ(G.Wait(std::chrono::seconds(60)), 0) << ReadFile(Dir / "out.txt");
  const std::string Out = ReadFile(Dir / "out.txt");
  EXPECT_NE(Out.find("gallery: clicked 1"), std::string::npos) << Out;
  EXPECT_NE(Out.find("gallery: closed with 1"), std::string::npos) << Out;

  const nlohmann::json L = nlohmann::json::parse(ReadFile(Dir / "layout.json"));
  TBitmap B;
  LoadPngFile(B, (Dir / "gallery-headless.png").string());
  const TBox F = BoxOf(L, "GalleryForm");
  ASSERT_EQ(B.Width(), F.W);
  ASSERT_EQ(B.Height(), F.H);
  const uint32_t Face = ColorToPixel(clBtnFace), White = ColorToPixel(clWhite);

  // The status bar lies along the bottom; its progress bar is half filled.
  const TBox S = BoxOf(L, "StatusBar");
  EXPECT_EQ(S.Y + S.H, F.H);
  EXPECT_EQ(S.W, F.W);
  const TBox P = BoxOf(L, "ProgressBar");
  EXPECT_GE(P.X, S.X);
  EXPECT_GE(P.Y, S.Y);
  EXPECT_EQ(B.RawPixel(P.X + P.W / 4, P.Y + P.H / 2), ColorToPixel(TThemeColors::ProgressFill));
  EXPECT_EQ(B.RawPixel(P.X + 3 * P.W / 4, P.Y + P.H / 2), White);
  EXPECT_GT(DarkPixels(B, BoxOf(L, "StatusBar")), 30) << "panel texts";

  // The tool panel runs along the top with the theme's button states side by side.
  const TBox T = BoxOf(L, "ThemeSampler");
  const TColor Faces[6] = {clBtnFace, TThemeColors::ButtonHotFace, TThemeColors::ButtonPressedFace,
                           TThemeColors::ButtonCheckedFace, TThemeColors::ButtonCheckedHotFace, clBtnFace};
  for (int I = 0; I < 6; ++I) {
    SCOPED_TRACE(I);
    EXPECT_EQ(B.RawPixel(T.X + I * 28 + 2, T.Y + 2), ColorToPixel(Faces[I]));
  }
  EXPECT_EQ(B.RawPixel(T.X + 12, T.Y + 12), ColorToPixel(clRed)) << "an image of the list, enabled";
  const uint32_t Disabled = B.RawPixel(T.X + 5 * 28 + 12, T.Y + 12);
  // Grey over the tinted face: red and green stay within a few levels of each other.
  EXPECT_LE(std::abs(static_cast<int>(Disabled & 0xFF) - static_cast<int>((Disabled >> 8) & 0xFF)), 8)
      << "the disabled image is grey, not red";
  const TBox Bevel = BoxOf(L, "Bevel1");
  EXPECT_EQ(B.RawPixel(Bevel.X, Bevel.Y + 5), ColorToPixel(clBtnShadow));
  EXPECT_EQ(B.RawPixel(Bevel.X + 1, Bevel.Y + 5), ColorToPixel(clBtnHighlight));

  // The label shows the click; the check box is ticked; the list shows its selected row.
  EXPECT_GT(DarkPixels(B, BoxOf(L, "CounterLabel")), 20);
  const TBox C = BoxOf(L, "SampleCheck");
  TBox Box{C.X + 2, C.Y + 3, 9, 11};
  EXPECT_GT(DarkPixels(B, Box), 8) << "the tick";
  const TBox List = BoxOf(L, "FileList");
  EXPECT_EQ(B.RawPixel(List.X + List.W - 10, List.Y + 2 + 2 * 16 + 8), ColorToPixel(clHighlight));
  const TBox Q = BoxOf(L, "Quality");
  EXPECT_EQ(B.RawPixel(Q.X + Q.W - 30, Q.Y + 4), White) << "the combo box field";
  EXPECT_GT(DarkPixels(B, Q), 20) << "with its text";

  // The scrolling checkerboard with both bars.
  const TBox K = BoxOf(L, "Checker");
  EXPECT_EQ(B.RawPixel(K.X + 4, K.Y + 4), White);
  EXPECT_EQ(B.RawPixel(K.X + 20, K.Y + 4), ColorToPixel(clSilver));
  EXPECT_NE(B.RawPixel(K.X + K.W - 8, K.Y + K.H / 2), White) << "vertical scroll bar";
  EXPECT_NE(B.RawPixel(K.X + K.W / 2, K.Y + K.H - 8), White) << "horizontal scroll bar";
  // The default button has a dark frame; the form's face elsewhere.
  const TBox Ok = BoxOf(L, "OkButton");
  EXPECT_EQ(B.RawPixel(Ok.X, Ok.Y + Ok.H / 2), ColorToPixel(clBlack));
  EXPECT_EQ(B.RawPixel(F.W - 20, F.H / 2), Face);
}

TEST_F(GalleryTest, AFailingScriptMakesTheGalleryFail) {
  std::ofstream(Dir / "bad.script") << "click NoSuchButton\n";
  TChild G({VARNIX_GALLERY, "--ui", "headless", "--script", (Dir / "bad.script").string()}, {}, Dir / "out.txt");
  EXPECT_EQ(G.Wait(std::chrono::seconds(60)), 1);
  const std::string Out = ReadFile(Dir / "out.txt");
  EXPECT_NE(Out.find("line 1: no visible control named NoSuchButton"), std::string::npos) << Out;
  EXPECT_NE(Out.find("gallery: closed with 2"), std::string::npos) << Out;
}

TEST_F(GalleryTest, EnvironmentChoosesTheBackEndTheScriptAndTheScreenshot) {
  std::ofstream(Dir / "env.script") << "click ClickButton\nkey escape\n";
  TChild G({VARNIX_GALLERY},
           {"VARNIX_UI=headless", "VARNIX_UI_SCRIPT=" + (Dir / "env.script").string(),
            "VARNIX_UI_SCREENSHOT=" + (Dir / "gallery-env.png").string()},
           Dir / "out.txt");
  EXPECT_EQ(G.Wait(std::chrono::seconds(60)), 0);
  const std::string Out = ReadFile(Dir / "out.txt");
  EXPECT_NE(Out.find("gallery: clicked 1"), std::string::npos) << Out;
  EXPECT_NE(Out.find("gallery: closed with 2"), std::string::npos) << "Escape is the cancel button";
  TBitmap B;
  LoadPngFile(B, (Dir / "gallery-env.png").string());
  EXPECT_EQ(B.Width(), 640);
}

// Runs a shell command line and returns its exit code.
int Shell(const std::string& Command) { return std::system(Command.c_str()); }

bool WaitFor(const std::function<bool()>& Done, std::chrono::milliseconds Limit) {
  const auto End = Clock::now() + Limit;
  while (!Done()) {
    if (Clock::now() > End) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST_F(GalleryTest, RealWindowUnderXvfbTakesRealClicksAndShowsOnTheXServer) {
  if (Shell("command -v Xvfb >/dev/null 2>&1") != 0) GTEST_SKIP() << "Xvfb is not installed";
  ASSERT_EQ(Shell("command -v xdotool >/dev/null && command -v xwd >/dev/null && command -v xwdtopnm >/dev/null"), 0)
      << "xdotool, xwd and netpbm are needed with Xvfb";
  // A free display number: no socket and no lock file.
  int Display = -1;
  for (int N = 90 + ::getpid() % 50; N < 400; ++N)
    if (!fs::exists("/tmp/.X11-unix/X" + std::to_string(N)) && !fs::exists("/tmp/.X" + std::to_string(N) + "-lock")) {
      Display = N;
      break;
    }
  ASSERT_GE(Display, 0);
  const std::string D = ":" + std::to_string(Display);
  TChild X({"/usr/bin/Xvfb", D, "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, {}, Dir / "xvfb.txt");
  ASSERT_NE(X.Pid(), 0);
  ASSERT_TRUE(WaitFor([&] { return fs::exists("/tmp/.X11-unix/X" + std::to_string(Display)); }, std::chrono::seconds(15)))
      << ReadFile(Dir / "xvfb.txt");

  TChild G({VARNIX_GALLERY, "--ui", "window", "--layout", (Dir / "layout.json").string()}, {"DISPLAY=" + D},
           Dir / "out.txt");
  ASSERT_TRUE(WaitFor([&] { return fs::exists(Dir / "layout.json"); }, std::chrono::seconds(20))) << ReadFile(Dir / "out.txt");
  const nlohmann::json L = nlohmann::json::parse(ReadFile(Dir / "layout.json"));
  ASSERT_EQ(Shell("DISPLAY=" + D + " xdotool search --sync --name 'Varnix Gallery' >/dev/null"), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));

  const TBox Button = BoxOf(L, "ClickButton", "screen");
  const std::string Xdo = "DISPLAY=" + D + " xdotool ";
  ASSERT_EQ(Shell(Xdo + "mousemove " + std::to_string(Button.X + Button.W / 2) + " " + std::to_string(Button.Y + Button.H / 2) +
                " click 1"),
            0);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(Dir / "out.txt").find("gallery: clicked 1") != std::string::npos; },
                      std::chrono::seconds(10)))
      << ReadFile(Dir / "out.txt");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const fs::path Shot = Dir / "gallery-xvfb.png";
  ASSERT_EQ(Shell("xwd -root -silent -display " + D + " | xwdtopnm 2>/dev/null | pnmtopng > " + Shot.string()), 0);
  TBitmap B;
  LoadPngFile(B, Shot.string());
  ASSERT_EQ(B.Width(), 1024);
  const TBox W = BoxOf(L, "GalleryForm", "screen");
  EXPECT_EQ(B.RawPixel(2, 2), 0xFF000000u) << "the bare root window around";
  EXPECT_EQ(B.RawPixel(W.X + W.W - 20, W.Y + W.H / 2), ColorToPixel(clBtnFace)) << "the form's face on the X server";
  const TBox Label = BoxOf(L, "CounterLabel", "screen");
  EXPECT_GT(DarkPixels(B, Label), 20) << "the label says the click arrived";
  const TBox P = BoxOf(L, "ProgressBar", "screen");
  EXPECT_EQ(B.RawPixel(P.X + P.W / 4, P.Y + P.H / 2), ColorToPixel(TThemeColors::ProgressFill));

  const TBox Ok = BoxOf(L, "OkButton", "screen");
  ASSERT_EQ(Shell(Xdo + "mousemove " + std::to_string(Ok.X + Ok.W / 2) + " " + std::to_string(Ok.Y + Ok.H / 2) + " click 1"), 0);
  EXPECT_EQ(G.Wait(std::chrono::seconds(15)), 0) << ReadFile(Dir / "out.txt");
  EXPECT_NE(ReadFile(Dir / "out.txt").find("gallery: closed with 1"), std::string::npos);
}

}  // namespace
}  // namespace varnix
