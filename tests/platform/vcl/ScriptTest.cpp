#include <gtest/gtest.h>

#include <filesystem>

#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/EventScript.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"
#include "VclTestSupport.h"

namespace varnix {
namespace {

using test::VclTest;

// A form that records the mouse and key events of a panel and shows a status text.
struct TScriptFixture {
  TOwned<TForm> Form{new TForm(nullptr)};
  TCustomControl* Pad;
  TStatusBar* Status;
  TButton* Ok;
  TTimer* Timer;
  std::vector<std::string> Log;
  TScriptFixture() {
    Form->SetName("ScriptForm");
    Form->SetBounds(0, 0, 400, 300);
    Form->KeyPreview = true;
    Pad = new TCustomControl(Form.get());
    Pad->SetName("Pad");
    Pad->SetParent(Form.get());
    Pad->SetBounds(50, 40, 200, 100);
    auto Mods = [](TShiftState S) {
      return std::string(S.Contains(ssCtrl) ? "c" : "") + (S.Contains(ssAlt) ? "a" : "") + (S.Contains(ssShift) ? "s" : "");
    };
    Pad->OnMouseDown = [this, Mods](TObject*, TMouseButton, TShiftState S, int32_t X, int32_t Y) {
      Log.push_back("down " + std::to_string(X) + "," + std::to_string(Y) + Mods(S));
    };
    Pad->OnMouseMove = [this](TObject*, TShiftState S, int32_t X, int32_t Y) {
      if (S.Contains(ssLeft)) Log.push_back("drag " + std::to_string(X) + "," + std::to_string(Y));
    };
    Pad->OnMouseUp = [this](TObject*, TMouseButton, TShiftState, int32_t X, int32_t Y) {
      Log.push_back("up " + std::to_string(X) + "," + std::to_string(Y));
    };
    Form->OnKeyDown = [this, Mods](TObject*, uint16_t& Key, TShiftState S) {
      Log.push_back("key " + std::to_string(Key) + Mods(S));
    };
    Status = new TStatusBar(Form.get());
    Status->SetName("StatusBar");
    Status->SetParent(Form.get());
    Status->Panels().Add()->SetWidth(100);
    Status->Panels().Add()->SetWidth(100);
    Ok = new TButton(Form.get());
    Ok->SetName("OkButton");
    Ok->SetParent(Form.get());
    Ok->SetBounds(300, 200, 75, 25);
    Ok->ModalResult = mrOk;
    Ok->SetCaption("OK");
    Timer = new TTimer(Form.get());
    Timer->SetInterval(50);
    Timer->OnTimer = [this](TObject*) {
      Status->Panels()[1]->SetText("Ready");
      Timer->SetEnabled(false);
    };
  }
};

TEST_F(VclTest, ScriptDrivesMouseKeysAndWaitsForTexts) {
  TScriptFixture D;
  Application->RunScript(R"(# a drag on the pad, keys, then OK
press Pad 10 20
move Pad 30 20
release Pad 40 25
click Pad 5 6 ctrl shift
key f5
key plus ctrl
keydown space
keyup space
wait-text StatusBar.1 "Ready" 2000
click OkButton
)");
  EXPECT_EQ(D.Form->ShowModal(), mrOk);
  EXPECT_EQ(Application->ScriptError(), "");
  EXPECT_EQ(D.Log, (std::vector<std::string>{"down 10,20", "drag 30,20", "up 40,25", "down 5,6cs", "up 5,6",
                                             "key 116", "key 187c", "key 32"}));
}

TEST_F(VclTest, AFailedScriptCommandNamesItsLineAndTheModalFormClosesWithCancel) {
  struct Case {
    const char* Script;
    const char* Error;
  };
  const Case Cases[] = {
      {"wait 1\nclick Nowhere\nclick OkButton\n", "event script t line 2: no visible control named Nowhere"},
      {"\n\nfrobnicate\n", "event script t line 3: unknown command frobnicate"},
      {"key ctrl\n", "event script t line 1: unknown key ctrl"},
      {"wait-text StatusBar.1 \"Never\" 50\n", "event script t line 1: \"StatusBar.1\" did not become \"Never\" (it is \"\")"},
      {"menu Missing\n", "event script t line 1: no menu item named Missing"},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Script);
    TScriptFixture D;
    D.Timer->SetEnabled(false);
    Application->RunScript(C.Script, "t");
    testing::internal::CaptureStderr();
    EXPECT_EQ(D.Form->ShowModal(), mrCancel);
    const std::string Err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Application->ScriptError(), C.Error);
    EXPECT_NE(Err.find(C.Error), std::string::npos) << Err;
    EXPECT_NE(Err.find("closing \"ScriptForm\" with Cancel"), std::string::npos) << Err;
  }
}

TEST_F(VclTest, ScriptScreenshotsWriteTheActiveFormAsPng) {
  TScriptFixture D;
  const std::string Dir = std::filesystem::temp_directory_path() / ("vcl-shot-" + std::to_string(::getpid()));
  std::filesystem::create_directories(Dir);
  Application->ScreenshotFile = Dir + "/end.png";
  Application->RunScript("screenshot " + Dir + "/mid.png\nclick OkButton\n");
  EXPECT_EQ(D.Form->ShowModal(), mrOk);
  for (const char* Name : {"/mid.png", "/end.png"}) {
    SCOPED_TRACE(Name);
    TBitmap B;
    LoadPngFile(B, Dir + Name);
    EXPECT_EQ(B.Width(), 400);
    EXPECT_EQ(B.Height(), 300);
    EXPECT_EQ(B.RawPixel(2, 2), ColorToPixel(clBtnFace));
  }
  std::filesystem::remove_all(Dir);
}

TEST(ScriptWordsTest, QuotesKeepSpacesAndCommentsEndTheLine) {
  EXPECT_EQ(SplitScriptWords(R"(wait-text Status.1 " Click on the ""object""" 300 # note)"),
            (std::vector<std::string>{"wait-text", "Status.1", " Click on the \"object\"", "300"}));
  EXPECT_TRUE(SplitScriptWords("   # only a comment").empty());
}

}  // namespace
}  // namespace varnix
