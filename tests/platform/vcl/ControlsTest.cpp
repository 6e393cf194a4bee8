#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/EventScript.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/ImgList.h"
#include "platform/vcl/Themes.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/vcl/WindowDescription.h"
#include "VclTestSupport.h"

namespace varnix {
namespace {

using test::Pixel;
using test::VclTest;

TEST_F(VclTest, AlignedControlsShareTheClientAreaAndConstraintsHold) {
  TOwned<TForm> F(new TForm(nullptr));
  F->SetBounds(0, 0, 400, 300);
  F->SetBorderWidth(1);
  auto* Status = new TStatusBar(F.get());  // aligned to the bottom by default
  Status->SetParent(F.get());
  auto* Tools = new TPanel(F.get());
  Tools->SetParent(F.get());
  Tools->SetHeight(30);
  Tools->SetAlign(alTop);
  auto* Main = new TPanel(F.get());
  Main->SetParent(F.get());
  Main->SetAlign(alClient);
  EXPECT_EQ(Tools->BoundsRect(), Rect(1, 1, 399, 31));
  EXPECT_EQ(Status->BoundsRect(), Rect(1, 280, 399, 299));
  EXPECT_EQ(Main->BoundsRect(), Rect(1, 31, 399, 280));
  F->SetHeight(200);
  EXPECT_EQ(Main->BoundsRect(), Rect(1, 31, 399, 180));
  F->Constraints().SetMinWidth(250);
  F->Constraints().SetMinHeight(120);
  F->SetBounds(0, 0, 100, 50);
  EXPECT_EQ(F->Width(), 250);
  EXPECT_EQ(F->Height(), 120);
  Status->SetVisible(false);
  EXPECT_EQ(Main->BoundsRect(), Rect(1, 31, 249, 119)) << "a hidden aligned control gives its space back";
}

TEST_F(VclTest, AnchoredControlsKeepTheirDistanceToTheRightAndBottomEdges) {
  TOwned<TForm> F(new TForm(nullptr));
  F->SetBounds(0, 0, 400, 300);
  auto* B = new TButton(F.get());
  B->SetParent(F.get());
  B->SetBounds(300, 250, 75, 25);
  B->SetAnchors({akRight, akBottom});
  auto* E = new TEdit(F.get());
  E->SetParent(F.get());
  E->SetBounds(10, 10, 100, 21);
  E->SetAnchors({akLeft, akTop, akRight});
  F->SetBounds(0, 0, 500, 350);
  EXPECT_EQ(B->BoundsRect(), Rect(400, 300, 475, 325));
  EXPECT_EQ(E->BoundsRect(), Rect(10, 10, 210, 31));
}

TEST_F(VclTest, BroadcastReachesEverySiblingUntilOneAnswers) {
  constexpr uint32_t CM_GROUP = CM_BASE + 200;
  struct TListener : TGraphicControl {
    using TGraphicControl::TGraphicControl;
    std::vector<intptr_t> Got;
    bool Answer = false;
    void WndProc(TMessage& M) override {
      if (M.Msg == CM_GROUP) {
        Got.push_back(M.WParam);
        if (Answer) M.Result = 1;
        return;
      }
      TGraphicControl::WndProc(M);
    }
  };
  TOwned<TForm> F(new TForm(nullptr));
  auto* P = new TPanel(F.get());
  P->SetParent(F.get());
  auto* A = new TListener(F.get());
  auto* B = new TListener(F.get());
  auto* C = new TListener(F.get());
  auto* Elsewhere = new TListener(F.get());
  for (TListener* L : {A, B, C}) L->SetParent(P);
  Elsewhere->SetParent(F.get());
  TMessage M{CM_GROUP, 7, reinterpret_cast<intptr_t>(A), 0};
  P->Broadcast(M);
  EXPECT_EQ(A->Got, std::vector<intptr_t>{7});
  EXPECT_EQ(C->Got, std::vector<intptr_t>{7});
  EXPECT_TRUE(Elsewhere->Got.empty()) << "only the parent's controls receive it";
  B->Answer = true;
  TMessage N{CM_GROUP, 8, 0, 0};
  P->Broadcast(N);
  EXPECT_EQ(N.Result, 1);
  EXPECT_EQ(C->Got.size(), 1u) << "the broadcast stops at the first answer";
}

TEST_F(VclTest, TimersFireInRealTimeWhileTheLoopWaits) {
  TOwned<TForm> F(new TForm(nullptr));
  auto* T = new TTimer(F.get());
  T->SetInterval(30);
  int Ticks = 0;
  T->OnTimer = [&](TObject*) { ++Ticks; };
  auto* Off = new TTimer(F.get());
  Off->SetEnabled(false);
  Off->SetInterval(10);
  int OffTicks = 0;
  Off->OnTimer = [&](TObject*) { ++OffTicks; };
  Application->QueueWait(200);
  Application->QueueCall([&] { F->SetModalResult(mrOk); });
  EXPECT_EQ(F->ShowModal(), mrOk);
  EXPECT_GE(Ticks, 3);
  EXPECT_LE(Ticks, 8);
  EXPECT_EQ(OffTicks, 0);
}

TEST_F(VclTest, CheckBoxClickTogglesAndFiresOnClickAlsoWhenSetInCode) {
  TOwned<TForm> F(new TForm(nullptr));
  auto* C = new TCheckBox(F.get());
  C->SetParent(F.get());
  C->SetBounds(10, 10, 120, 17);
  std::vector<bool> Seen;
  C->OnClick = [&](TObject*) { Seen.push_back(C->Checked()); };
  F->Show();
  Application->QueueMouseClick(C, 5, 8);
  Application->ProcessMessages();
  C->SetChecked(false);
  C->SetChecked(false);  // no change, no click
  EXPECT_EQ(Seen, (std::vector<bool>{true, false}));
  F->Hide();
}

// A form with a drop-down-list combo of the five anti-aliasing names.
struct TComboFixture {
  TOwned<TForm> Form{new TForm(nullptr)};
  TComboBox* Combo;
  std::vector<std::string> Clicks;
  TComboFixture() {
    Form->SetName("ComboForm");
    Combo = new TComboBox(Form.get());
    Combo->SetName("Quality");
    Combo->SetParent(Form.get());
    Combo->SetBounds(10, 10, 120, 21);
    Combo->Style = csDropDownList;
    Combo->SetItemHeight(13);
    for (const char* S : {"None", "Sharp", "Medium", "Soft", "Very Soft"}) Combo->Items().Add(S);
    Combo->SetItemIndex(3);
    Combo->OnClick = [this](TObject*) { Clicks.push_back(Combo->Text()); };
  }
};

TEST_F(VclTest, ComboBoxFiresOnClickWhenTheUserPicksAnItem) {
  TComboFixture D;
  EXPECT_EQ(D.Combo->Text(), "Soft");
  EXPECT_TRUE(D.Clicks.empty()) << "setting ItemIndex in code fires nothing";
  // Open the list with a click, then click its second row; then pick with the keyboard.
  Application->RunScript(
      "click Quality\n"
      "click QualityList 20 20\n"
      "key v\n"
      "key escape\n");
  D.Form->ShowModal();
  EXPECT_EQ(Application->ScriptError(), "");
  EXPECT_EQ(D.Clicks, (std::vector<std::string>{"Sharp", "Very Soft"}));
  EXPECT_EQ(D.Combo->ItemIndex(), 4);
}

TEST_F(VclTest, PopupMenuOpensAtAScreenPointAndRunsTheChosenItem) {
  TOwned<TForm> F(new TForm(nullptr));
  F->SetName("MenuForm");
  F->SetBounds(100, 100, 300, 200);
  auto* Menu = new TPopupMenu(F.get());
  Menu->SetName("OptionsMenu");
  std::vector<std::string> Log;
  const char* Names[] = {"NewItem", "N1", "OpenItem"};
  const char* Captions[] = {"Clear All Markers", "-", "&Open Markers File..."};
  for (int I = 0; I < 3; ++I) {
    auto* Item = new TMenuItem(F.get());
    Item->SetName(Names[I]);
    Item->SetCaption(Captions[I]);
    Item->OnClick = [&Log, Item](TObject*) { Log.push_back(Item->Name()); };
    Menu->Items()->Add(Item);
  }
  EXPECT_TRUE(Menu->Items()->Items(1)->IsLine());
  Menu->Alignment = paRight;
  int Popups = 0;
  Menu->OnPopup = [&](TObject*) { ++Popups; };
  // Opened from a handler: choose by name, then by a click on the first row, then dismiss.
  Application->QueueCall([&] {
    Menu->Popup(400, 300);
    Log.push_back("returned");
    Menu->Popup(400, 300);
    Log.push_back("returned");
    Menu->Popup(400, 300);
    Log.push_back("returned");
    F->SetModalResult(mrOk);
  });
  Application->RunScript("menu OpenItem\nclick MenuWindow 30 10\nkey escape\n");
  EXPECT_EQ(F->ShowModal(), mrOk);
  EXPECT_EQ(Application->ScriptError(), "");
  EXPECT_EQ(Popups, 3);
  // Chosen items run after Popup has returned, like a posted command (here from the next menu's loop).
  EXPECT_EQ(Log, (std::vector<std::string>{"returned", "OpenItem", "returned", "NewItem", "returned"}));
}

TEST_F(VclTest, ShortCutEncodingAndText) {
  struct Case {
    uint16_t Key;
    TShiftState Shift;
    TShortCut Code;
    const char* Text;
  };
  const Case Cases[] = {{'N', {ssCtrl}, 16462, "Ctrl+N"},
                        {'0', {ssCtrl, ssAlt}, 49200, "Ctrl+Alt+0"},
                        {VK_F1, {}, 112, "F1"},
                        {VK_DELETE, {}, 46, "Del"},
                        {VK_OEM_PLUS, {ssCtrl}, 0x40BB, "Ctrl++"},
                        {'S', {ssShift, ssCtrl}, 0x6053, "Shift+Ctrl+S"}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Text);
    EXPECT_EQ(ShortCut(C.Key, C.Shift), C.Code);
    EXPECT_EQ(ShortCutToText(C.Code), C.Text);
    EXPECT_EQ(TextToShortCut(C.Text), C.Code);
  }
  EXPECT_EQ(StripHotkey("&Save Markers && Co"), "Save Markers & Co");
  EXPECT_EQ(GetHotkey("&Help Topics"), 'H');
}

class DialogTest : public VclTest {
 protected:
  void SetUp() override {
    VclTest::SetUp();
    Dir = std::filesystem::temp_directory_path() / ("vcl-dialog-" + std::to_string(::getpid()));
    std::filesystem::create_directories(Dir);
    std::ofstream(Dir / "old.vnx") << "x";
  }
  void TearDown() override {
    std::filesystem::remove_all(Dir);
    VclTest::TearDown();
  }
  std::filesystem::path Dir;
};

TEST_F(DialogTest, ScriptedAnswersConfirmOrCancelAndObeyTheOptions) {
  TOwned<TComponent> Owner(new TComponent(nullptr));
  auto* Open = new TOpenDialog(Owner.get());
  Open->DefaultExt = "vnx";
  Open->Filter = "Varnix markers (*.vnx)|*.vnx|All files (*.*)|*.*";
  Open->Options = {ofHideReadOnly, ofPathMustExist, ofFileMustExist, ofEnableSizing};
  auto* Save = new TSaveDialog(Owner.get());
  Save->DefaultExt = "vnx";
  Save->Options = {ofOverwritePrompt, ofHideReadOnly, ofPathMustExist, ofEnableSizing};

  Application->SetDialogAnswer(true, (Dir / "old").string());
  EXPECT_TRUE(Open->Execute());
  EXPECT_EQ(Open->FileName, (Dir / "old.vnx").string()) << "the default extension is added";

  Application->SetDialogAnswer(false, "");
  EXPECT_FALSE(Open->Execute());

  testing::internal::CaptureStderr();
  Application->SetDialogAnswer(true, (Dir / "missing.vnx").string());
  EXPECT_FALSE(Open->Execute()) << "file must exist";
  EXPECT_NE(testing::internal::GetCapturedStderr().find("File not found"), std::string::npos);

  Application->SetDialogAnswer(true, (Dir / "new").string());
  EXPECT_TRUE(Save->Execute());
  EXPECT_EQ(Save->FileName, (Dir / "new.vnx").string());

  // Overwriting asks; Return answers Yes, Escape No.
  testing::internal::CaptureStderr();
  Application->SetDialogAnswer(true, (Dir / "old.vnx").string());
  Application->QueueKey(VK_RETURN);
  EXPECT_TRUE(Save->Execute());
  Application->SetDialogAnswer(true, (Dir / "old.vnx").string());
  Application->QueueKey(VK_ESCAPE);
  EXPECT_FALSE(Save->Execute());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("already exists"), std::string::npos);

  Application->SetDialogAnswer(true, (Dir / "nodir" / "x.vnx").string());
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Save->Execute()) << "path must exist";
  testing::internal::GetCapturedStderr();
}

TEST_F(DialogTest, TheDialogFormListsMatchingFilesAndTakesAnAnswerWhileOpen) {
  std::ofstream(Dir / "notes.txt") << "x";
  TOwned<TComponent> Owner(new TComponent(nullptr));
  auto* Open = new TOpenDialog(Owner.get());
  Open->Title = "Open Markers";
  Open->Filter = "Varnix markers (*.vnx)|*.vnx|All files (*.*)|*.*";
  Open->InitialDir = Dir.string();
  std::vector<std::string> Listed;
  Application->QueueCall([&] {
    auto* L = dynamic_cast<TListBox*>(FindScriptControl("FileList"));
    if (L) Listed = L->Items().Items();
  });
  Application->RunScript("wait-text FileDialog \"Open Markers\"\ndialog-file " + (Dir / "old.vnx").string() + "\n");
  EXPECT_TRUE(Open->Execute());
  EXPECT_EQ(Open->FileName, (Dir / "old.vnx").string());
  EXPECT_EQ(Listed, (std::vector<std::string>{"[..]", "old.vnx"})) << "the .txt file is filtered out";
}

TEST(FilterTest, PairsAndMasks) {
  const auto F = ParseFilter("Varnix markers (*.vnx)|*.vnx|Images|*.png;*.jpg");
  ASSERT_EQ(F.size(), 2u);
  EXPECT_EQ(F[0].Description, "Varnix markers (*.vnx)");
  EXPECT_EQ(F[1].Masks, (std::vector<std::string>{"*.png", "*.jpg"}));
  EXPECT_TRUE(MatchesMask("Photo.PNG", "*.png"));
  EXPECT_FALSE(MatchesMask("photo.png.txt", "*.png"));
  EXPECT_TRUE(MatchesMask("README", "*.*"));
  EXPECT_TRUE(MatchesMask("a1.vnx", "a?.vnx"));
}

TEST_F(VclTest, StatusBarPanelsLieSideBySideAndTheProgressBarDrawsItsPosition) {
  TOwned<TForm> F(new TForm(nullptr));
  F->SetBounds(0, 0, 1000, 300);
  auto* S = new TStatusBar(F.get());
  S->SetParent(F.get());
  int Changes = 0;
  struct TCounting : TStatusBar {
    using TStatusBar::TStatusBar;
    int* Count = nullptr;
    void PanelsChanged(bool Layout) override {
      TStatusBar::PanelsChanged(Layout);
      if (Count) ++*Count;
    }
  };
  auto* C = new TCounting(F.get());
  C->Count = &Changes;
  C->SetParent(F.get());
  C->Panels().BeginUpdate();
  C->Panels().Clear();
  for (int32_t W : {60, 350, 120, 300, 50}) C->Panels().Add()->SetWidth(W);
  C->Panels()[3]->SetBevel(pbNone);
  C->Panels().EndUpdate();
  EXPECT_EQ(Changes, 1) << "one notification per update bracket";
  EXPECT_EQ(C->PanelRect(0), Rect(0, 2, 58, 18));
  EXPECT_EQ(C->PanelRect(3), Rect(530, 2, 828, 18));
  EXPECT_EQ(C->PanelRect(4).Right, 998) << "the last panel reaches the right end";
  EXPECT_TRUE(C->PanelRect(5).IsEmpty());
  (void)S;

  auto* P = new TProgressBar(C);
  P->SetParent(C);
  const TRect R = C->PanelRect(3);
  P->SetBounds(R.Left, R.Top + 2, R.Width(), R.Height() - 1);
  P->SetPosition(150);
  EXPECT_EQ(P->Position(), 100);
  P->SetPosition(50);
  F->Show();
  TBitmap& B = F->PaintBuffer();
  F->PaintInvalidated();
  const TPoint O = P->ClientToForm({0, 0});
  const uint32_t Fill = test::OpaqueOf(TThemeColors::ProgressFill);
  EXPECT_EQ(B.RawPixel(O.X + 1, O.Y + 5), Fill);
  EXPECT_EQ(B.RawPixel(O.X + P->Width() / 2 - 2, O.Y + 5), Fill);
  EXPECT_NE(B.RawPixel(O.X + P->Width() / 2 + 3, O.Y + 5), Fill) << "half the bar at position 50";
  F->Hide();
}

TEST_F(VclTest, ImageListCutsAMaskedStripAndDrawsNormalOrDisabled) {
  // A strip of two 16 × 16 images on purple: a red square and a white one.
  TBitmap Strip;
  Strip.SetSize(32, 16);
  Strip.Fill(clPurple);
  Strip.Canvas().Brush().SetColor(clRed);
  Strip.Canvas().FillRect(Rect(4, 4, 12, 12));
  Strip.Canvas().Brush().SetColor(clWhite);
  Strip.Canvas().FillRect(Rect(20, 4, 28, 12));
  const std::string Dir = std::filesystem::temp_directory_path() / ("vcl-res-" + std::to_string(::getpid()));
  std::filesystem::create_directories(Dir);
  SavePngFile(Strip, Dir + "/Icons.png");
  SetResourceDirectory(Dir);

  TOwned<TComponent> Owner(new TComponent(nullptr));
  auto* L = new TImageList(Owner.get(), 16, 16);
  TChangeLink Link;
  int Changed = 0;
  Link.OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, L);
    ++Changed;
  };
  L->RegisterChanges(&Link);
  ASSERT_TRUE(L->ResourceLoad(rtBitmap, "Icons", clPurple));
  EXPECT_FALSE(L->ResourceLoad(rtBitmap, "Missing", clPurple));
  EXPECT_EQ(L->Count(), 2);
  EXPECT_EQ(Changed, 1);

  TBitmap Target;
  Target.SetSize(40, 20);
  Target.Fill(clBlue);
  L->Draw(Target.Canvas(), 2, 2, 0);
  L->Draw(Target.Canvas(), 22, 2, 1, false);
  L->Draw(Target.Canvas(), 0, 0, 7);  // outside the list: nothing
  EXPECT_EQ(Target.RawPixel(2 + 1, 2 + 1), Pixel(0, 0, 255)) << "the purple mask is transparent";
  EXPECT_EQ(Target.RawPixel(2 + 8, 2 + 8), Pixel(255, 0, 0));
  const uint32_t D = Target.RawPixel(22 + 8, 2 + 8);
  const uint8_t R = D & 0xFF, G = (D >> 8) & 0xFF, B = (D >> 16) & 0xFF;
  EXPECT_EQ(R, G) << "disabled images are grey over the blue";
  EXPECT_GT(B, R) << "and half transparent";
  EXPECT_GT(R, 40);
  EXPECT_EQ(Target.RawPixel(22 + 1, 2 + 1), Pixel(0, 0, 255));
  L->Delete(0);
  EXPECT_EQ(Changed, 2);
  std::filesystem::remove_all(Dir);
  SetResourceDirectory("");
}

TEST_F(VclTest, WindowDescriptionSetsGeometryAndCaptionsByName) {
  TOwned<TForm> F(new TForm(nullptr));
  F->SetName("MainForm");
  auto* Tools = new TPanel(F.get());
  Tools->SetName("ToolPanel");
  Tools->SetParent(F.get());
  auto* Ok = new TButton(F.get());
  Ok->SetName("OkButton");
  Ok->SetParent(F.get());
  auto* Item = new TMenuItem(F.get());
  Item->SetName("HelpItem");
  ApplyWindowDescription(F.get(), R"({
    "Form": {"Width": 640, "Height": 480, "MinWidth": 500, "Caption": "Editor"},
    "Components": [
      {"Name": "ToolPanel", "Align": "alTop", "Height": 30},
      {"Name": "OkButton", "Parent": "ToolPanel", "Left": 550, "Top": 3, "Width": 75, "Height": 24,
       "Anchors": ["akTop", "akRight"], "Caption": "OK"},
      {"Name": "HelpItem", "Caption": "&Help Topics"}]})",
                         "test.form.json");
  EXPECT_EQ(F->Caption(), "Editor");
  EXPECT_EQ(F->Constraints().MinWidth(), 500);
  EXPECT_EQ(Tools->BoundsRect(), Rect(0, 0, 640, 30));
  EXPECT_EQ(Ok->Parent(), Tools);
  EXPECT_EQ(Ok->Caption(), "OK");
  EXPECT_EQ(Item->Caption(), "&Help Topics");
  EXPECT_FALSE(Ok->ComponentState().Contains(csLoading));
  F->SetWidth(700);
  EXPECT_EQ(Ok->Left(), 610);

  struct Case {
    const char* Json;
    const char* Message;
  };
  const Case Bad[] = {
      {R"({"Components": [{"Name": "Nothing"}]})", "Window description bad.json: no component named Nothing"},
      {R"({"Components": [{"Name": "OkButton", "Width": "wide"}]})", "Window description bad.json: OkButton.Width must be an integer"},
      {R"({"Components": [{"Name": "OkButton", "Colour": 1}]})", "Window description bad.json: OkButton.Colour: unknown property"},
  };
  for (const Case& C : Bad) {
    SCOPED_TRACE(C.Json);
    try {
      ApplyWindowDescription(F.get(), C.Json, "bad.json");
      ADD_FAILURE() << "accepted";
    } catch (EWindowDescription& E) {
      EXPECT_EQ(E.Message(), C.Message);
    }
  }
  EXPECT_THROW(ApplyWindowDescription(F.get(), "{", "bad.json"), EWindowDescription);
}

TEST_F(VclTest, HintsAppearAfterAShortHoverWhenShown) {
  TOwned<TForm> F(new TForm(nullptr));
  auto* B = new TButton(F.get());
  B->SetParent(F.get());
  B->SetBounds(10, 10, 50, 25);
  B->SetHint("Zoom In (Ctrl++)");
  B->SetShowHint(true);
  auto* Quiet = new TButton(F.get());
  Quiet->SetParent(F.get());
  Quiet->SetBounds(100, 10, 50, 25);
  Quiet->SetHint("never shown");
  Application->HintPause = 50;
  F->Show();
  std::string Seen;
  TInputEvent Move;
  Move.Kind = ikMouseMove;
  Move.Form = F.get();
  Move.Pos = {20, 20};
  Application->QueueEvent(Move);
  Application->QueueWait(150);
  Application->QueueCall([&] { Seen = Application->HintControl() ? Application->HintText() : ""; });
  Move.Pos = {110, 20};
  Application->QueueEvent(Move);
  Application->QueueWait(150);
  Application->QueueCall([&] {
    Seen += Application->HintControl() ? "|" + Application->HintText() : "|none";
    F->SetModalResult(mrOk);
  });
  F->Hide();
  F->ShowModal();
  EXPECT_EQ(Seen, "Zoom In (Ctrl++)|none");
}

TEST_F(VclTest, ScrollBarsAppearWhenTheRangeExceedsTheClientAndUserScrollsArriveAsMessages) {
  struct TView : TScrollingWinControl {
    using TScrollingWinControl::TScrollingWinControl;
    std::vector<intptr_t> Codes;
    void WndProc(TMessage& M) override {
      if (M.Msg == WM_HSCROLL) Codes.push_back(M.WParam);
      TScrollingWinControl::WndProc(M);
    }
  };
  TOwned<TForm> F(new TForm(nullptr));
  F->SetBounds(0, 0, 300, 300);
  auto* V = new TView(F.get());
  V->SetParent(F.get());
  V->SetBounds(0, 0, 200, 100);
  V->HorzScrollBar().SetRange(500);
  EXPECT_TRUE(V->HorzScrollBar().IsScrollBarVisible());
  EXPECT_FALSE(V->VertScrollBar().IsScrollBarVisible());
  EXPECT_EQ(V->ClientHeight(), 100 - 16);
  V->HorzScrollBar().SetPosition(1000);
  EXPECT_EQ(V->HorzScrollBar().Position(), 300) << "clamped to range minus page";
  V->HorzScrollBar().SetPosition(0);
  F->Show();
  // A click on the right arrow, then a thumb drag with tracking.
  V->HorzScrollBar().SetTracking(true);
  Application->QueueMouseClick(V, 195, 90);
  TInputEvent E;
  E.Form = F.get();
  E.Kind = ikMouseDown;
  E.Pos = V->ClientToForm({25, 90});
  Application->QueueEvent(E);
  E.Kind = ikMouseMove;
  E.Pos = V->ClientToForm({75, 90});
  Application->QueueEvent(E);
  E.Kind = ikMouseUp;
  Application->QueueEvent(E);
  Application->ProcessMessages();
  ASSERT_GE(V->Codes.size(), 3u);
  EXPECT_EQ(V->Codes[0], SB_LINEDOWN);
  EXPECT_EQ(V->Codes[1], SB_THUMBTRACK);
  EXPECT_GT(V->HorzScrollBar().Position(), 8);
  F->Hide();
}

}  // namespace
}  // namespace varnix
