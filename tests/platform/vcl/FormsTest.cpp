#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "common/CommonUtils.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"
#include "VclTestSupport.h"

namespace varnix {
namespace {

using test::VclTest;

// A dialog with an OK (default) and a Cancel (cancel) button and an edit field.
struct TDialogFixture {
  TOwned<TForm> Form{new TForm(nullptr)};
  TButton* Ok;
  TButton* Cancel;
  TEdit* Edit;
  TDialogFixture() {
    Form->SetName("Dialog");
    Form->SetBounds(0, 0, 300, 200);
    Edit = new TEdit(Form.get());
    Edit->SetName("Edit");
    Edit->SetParent(Form.get());
    Edit->SetBounds(10, 10, 100, 21);
    Ok = new TButton(Form.get());
    Ok->SetName("OkButton");
    Ok->SetParent(Form.get());
    Ok->SetBounds(10, 150, 75, 25);
    Ok->SetDefault(true);
    Ok->ModalResult = mrOk;
    Cancel = new TButton(Form.get());
    Cancel->SetName("CancelButton");
    Cancel->SetParent(Form.get());
    Cancel->SetBounds(100, 150, 75, 25);
    Cancel->Cancel = true;
    Cancel->ModalResult = mrCancel;
  }
};

TEST_F(VclTest, ModalLoopEndsWithTheModalResultOfWhatClosedIt) {
  struct Case {
    const char* Name;
    std::function<void(TDialogFixture&)> Queue;
    TModalResult Expected;
  };
  const Case Cases[] = {
      {"click OK", [](TDialogFixture& D) { Application->QueueMouseClick(D.Ok, 10, 10); }, mrOk},
      {"click Cancel", [](TDialogFixture& D) { Application->QueueMouseClick(D.Cancel, 10, 10); }, mrCancel},
      {"Return clicks the default button", [](TDialogFixture&) { Application->QueueKey(VK_RETURN); }, mrOk},
      {"Escape clicks the cancel button", [](TDialogFixture&) { Application->QueueKey(VK_ESCAPE); }, mrCancel},
      {"Close from a handler", [](TDialogFixture& D) {
         Application->QueueCall([&D] { D.Form->Close(); });
       }, mrCancel},
      {"modal result set by a timer handler", [](TDialogFixture& D) {
         auto* T = new TTimer(D.Form.get());
         T->SetInterval(20);
         T->OnTimer = [&D](TObject*) { D.Form->SetModalResult(mrYes); };
         Application->QueueWait(2000);
       }, mrYes},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TDialogFixture D;
    C.Queue(D);
    EXPECT_EQ(D.Form->ShowModal(), C.Expected);
    EXPECT_FALSE(D.Form->Visible());
    Application->ClearEvents();
  }
}

TEST_F(VclTest, OnCloseSeesTheModalResultAndMayRefuse) {
  TDialogFixture D;
  std::vector<TModalResult> Seen;
  D.Form->OnClose = [&](TObject*, TCloseAction& Action) {
    Seen.push_back(D.Form->ModalResult());
    if (Seen.size() == 1) Action = caNone;  // refuse the first close
  };
  Application->QueueMouseClick(D.Cancel, 5, 5);
  Application->QueueMouseClick(D.Ok, 5, 5);
  EXPECT_EQ(D.Form->ShowModal(), mrOk);
  EXPECT_EQ(Seen, (std::vector<TModalResult>{mrCancel, mrOk}));
}

TEST_F(VclTest, HeadlessModalLoopWithoutEventsClosesWithCancelAndSaysSo) {
  TDialogFixture D;
  testing::internal::CaptureStderr();
  EXPECT_EQ(D.Form->ShowModal(), mrCancel);
  const std::string Err = testing::internal::GetCapturedStderr();
  EXPECT_NE(Err.find("closing it with Cancel"), std::string::npos) << Err;
  EXPECT_NE(Err.find("Dialog"), std::string::npos) << Err;
}

TEST_F(VclTest, ShowModalRefusesAVisibleForm) {
  TDialogFixture D;
  D.Form->Show();
  EXPECT_THROW(D.Form->ShowModal(), EInvalidOperation);
  D.Form->Hide();
}

TEST_F(VclTest, KeysGoToShortCutsFirstThenThePreviewingFormThenTheFocusedControl) {
  TDialogFixture D;
  D.Form->KeyPreview = true;
  std::vector<std::string> Log;
  D.Form->OnShortCut = [&](TWMKey& Msg, bool& Handled) {
    Handled = Msg.CharCode == 'N' && Msg.Shift.Contains(ssCtrl);
    if (Handled) Log.push_back("shortcut");
  };
  D.Form->OnKeyDown = [&](TObject*, uint16_t& Key, TShiftState) {
    Log.push_back(std::string("form ") + static_cast<char>(Key));
    if (Key == 'Y') Key = 0;  // consumed by the form
  };
  D.Edit->OnKeyDown = [&](TObject*, uint16_t& Key, TShiftState) { Log.push_back(std::string("edit ") + static_cast<char>(Key)); };
  D.Form->Show();
  D.Edit->SetFocus();
  Application->QueueKey('N', {ssCtrl});
  Application->QueueKey('X');
  Application->QueueKey('Y');
  Application->ProcessMessages();
  EXPECT_EQ(Log, (std::vector<std::string>{"shortcut", "form X", "edit X", "form Y"}));
  D.Form->Hide();
}

TEST_F(VclTest, PopupMenuShortCutsOfTheFocusedControlChainAreDispatched) {
  TDialogFixture D;
  auto* Menu = new TPopupMenu(D.Form.get());
  auto* Item = new TMenuItem(D.Form.get());
  Item->SetShortCut(ShortCut('S', {ssCtrl}));
  EXPECT_EQ(Item->ShortCut(), 16467);
  int Clicks = 0;
  Item->OnClick = [&](TObject*) { ++Clicks; };
  Menu->Items()->Add(Item);
  D.Form->SetPopupMenu(Menu);
  D.Form->Show();
  D.Edit->SetFocus();
  Application->QueueKey('S', {ssCtrl});
  Application->QueueKey('S');  // without Ctrl: not the short-cut
  Application->ProcessMessages();
  EXPECT_EQ(Clicks, 1);
  Item->SetEnabled(false);
  Application->QueueKey('S', {ssCtrl});
  Application->ProcessMessages();
  EXPECT_EQ(Clicks, 1) << "a disabled item ignores its short-cut";
  D.Form->Hide();
}

TEST_F(VclTest, TabMovesTheFocusInTabOrderAndHiddenControlsCannotTakeIt) {
  TDialogFixture D;
  D.Cancel->SetTabOrder(0);  // Cancel, Edit, Ok
  D.Form->Show();
  EXPECT_EQ(D.Form->ActiveControl(), D.Cancel) << "showing focuses the first tab stop";
  Application->QueueKey(VK_TAB);
  Application->ProcessMessages();
  EXPECT_EQ(D.Form->ActiveControl(), D.Edit);
  Application->QueueKey(VK_TAB);
  Application->ProcessMessages();
  EXPECT_TRUE(D.Ok->Focused());
  Application->QueueKey(VK_TAB, {ssShift});
  Application->ProcessMessages();
  EXPECT_TRUE(D.Edit->Focused());
  D.Ok->Hide();
  EXPECT_THROW(D.Ok->SetFocus(), EInvalidOperation);
  D.Form->Hide();
}

TEST_F(VclTest, ReturnClicksTheFocusedButtonRatherThanTheDefaultOne) {
  TDialogFixture D;
  Application->QueueCall([&D] { D.Cancel->SetFocus(); });
  Application->QueueKey(VK_RETURN);
  EXPECT_EQ(D.Form->ShowModal(), mrCancel);
}

TEST_F(VclTest, ExceptionsInHandlersReachTheExceptionEventAndTheLoopGoesOn) {
  TDialogFixture D;
  D.Edit->OnClick = [](TObject*) { throw EInvalidOperation("write failed"); };
  D.Edit->ControlStyle.Include(csClickEvents);
  std::vector<std::string> Messages;
  TObject* SenderSeen = reinterpret_cast<TObject*>(1);
  Application->OnException = [&](TObject* Sender, Exception& E) {
    SenderSeen = Sender;
    Messages.push_back(std::string(E.ClassName()) + ": " + E.Message());
  };
  Application->QueueMouseClick(D.Edit, 3, 3);
  Application->QueueMouseClick(D.Ok, 3, 3);
  EXPECT_EQ(D.Form->ShowModal(), mrOk);
  EXPECT_EQ(Messages, std::vector<std::string>{"EInvalidOperation: write failed"});
  EXPECT_EQ(SenderSeen, nullptr);
}

TEST_F(VclTest, WithoutAnExceptionEventTheStandardErrorBoxShowsTheMessage) {
  EInvalidOperation E("Disk full");
  testing::internal::CaptureStderr();
  Application->ShowException(E);
  const std::string Err = testing::internal::GetCapturedStderr();
  EXPECT_NE(Err.find("message \"Varnix\": Disk full."), std::string::npos) << Err;
  EXPECT_NE(Err.find("MessageForm"), std::string::npos) << "the box is a modal form that the idle end closes";
}

TEST_F(VclTest, MessageBoxAnswersWithTheButtonChosen) {
  struct Case {
    int32_t Flags;
    uint16_t Key;
    int32_t Expected;
  };
  const Case Cases[] = {{MB_OK | MB_ICONSTOP, VK_RETURN, IDOK},
                        {MB_OKCANCEL, VK_ESCAPE, IDCANCEL},
                        {MB_YESNO | MB_ICONQUESTION, VK_RETURN, IDYES},
                        {MB_YESNO, VK_ESCAPE, IDNO},
                        {MB_OK | MB_ICONINFORMATION, VK_ESCAPE, IDOK}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Flags);
    Application->QueueKey(C.Key);
    testing::internal::CaptureStderr();
    EXPECT_EQ(Application->MessageBox("Line one\rLine two", "Title", C.Flags), C.Expected);
    testing::internal::GetCapturedStderr();
  }
}

TEST_F(VclTest, WindowPlacementRoundTripsNormalBoundsAndShowState) {
  TOwned<TForm> F(new TForm(nullptr));
  F->SetBounds(100, 50, 400, 300);
  TWindowPlacement P;
  ASSERT_TRUE(F->GetWindowPlacement(P));
  EXPECT_EQ(P.ShowCmd, swHide);
  EXPECT_EQ(P.NormalBounds, Rect(100, 50, 500, 350));
  F->Show();
  P.NormalBounds = Rect(10, 20, 610, 420);
  P.ShowCmd = swShowMaximized;
  ASSERT_TRUE(F->SetWindowPlacement(P));
  EXPECT_EQ(F->WindowState(), wsMaximized);
  EXPECT_EQ(F->BoundsRect(), F->Monitor()->WorkareaRect);
  TWindowPlacement Q;
  F->GetWindowPlacement(Q);
  EXPECT_EQ(Q.ShowCmd, swShowMaximized);
  EXPECT_EQ(Q.NormalBounds, Rect(10, 20, 610, 420)) << "the normal bounds survive maximizing";
  Q.ShowCmd = swShowNormal;
  F->SetWindowPlacement(Q);
  EXPECT_EQ(F->WindowState(), wsNormal);
  EXPECT_EQ(F->BoundsRect(), Rect(10, 20, 610, 420));
  F->Hide();
}

TEST_F(VclTest, HeadlessScreenIsOneFullHdMonitorWithATaskBar) {
  ASSERT_EQ(Screen->MonitorCount(), 1);
  EXPECT_EQ(Screen->Monitors(0)->BoundsRect, Rect(0, 0, 1920, 1080));
  EXPECT_EQ(Screen->WorkAreaRect(), Rect(0, 0, 1920, 1040));
  TOwned<TForm> F(new TForm(nullptr));
  F->SetBounds(5000, 5000, 100, 100);
  EXPECT_EQ(F->Monitor(), Screen->Monitors(0)) << "off-screen forms belong to the primary monitor";
}

class TSampleForm : public TForm {
 public:
  explicit TSampleForm(TComponent* Owner) : TForm(Owner) {
    SetUniqueName("SampleForm");
    OnCreate = [this](TObject*) { Created = true; };
  }
  bool Created = false;
};

TEST_F(VclTest, FormClassCreatesAFormOwnedByTheApplicationAndRunsOnCreate) {
  const TFormClass Class = FormClassOf<TSampleForm>("TSampleForm");
  ASSERT_TRUE(Class);
  TCustomForm* F = Class.Create(Application.Get());
  EXPECT_EQ(F->Owner(), Application.Get());
  EXPECT_TRUE(static_cast<TSampleForm*>(F)->Created);
  TCustomForm* G = Class.Create(Application.Get());
  EXPECT_EQ(G->Name(), "SampleForm_1");
  Free(G);
  Free(F);
  EXPECT_EQ(Application->FindComponent("SampleForm"), nullptr);
}

TEST_F(VclTest, ExceptionInOnCreatePropagatesAndOnDestroyStillRuns) {
  static bool Destroyed;
  Destroyed = false;
  struct TFailing : TForm {
    explicit TFailing(TComponent* O) : TForm(O) {
      OnCreate = [](TObject*) { throw EInvalidOperation("Image mode not supported"); };
      OnDestroy = [](TObject*) { Destroyed = true; };
    }
  };
  EXPECT_THROW(FormClassOf<TFailing>("TFailing").Create(Application.Get()), EInvalidOperation);
  EXPECT_TRUE(Destroyed);
}

TEST_F(VclTest, NumberedCursorsComeFromImagesWithTheirHotSpots) {
  const std::string Dir = std::filesystem::temp_directory_path() / ("vcl-cursor-" + std::to_string(::getpid()));
  std::filesystem::create_directories(Dir);
  TBitmap Image;
  Image.SetSize(16, 12);
  Image.Fill(clBlack);
  SavePngFile(Image, Dir + "/HandGrabCursor.png");
  SavePngFile(Image, Dir + "/ObjectCursor.png");
  std::ofstream(Dir + "/ObjectCursor.hotspot") << "3 4\n";
  SetResourceDirectory(Dir);
  HCURSOR Hand = LoadCursorFromResource("HandGrabCursor");
  HCURSOR Object = LoadCursorFromResource("ObjectCursor");
  EXPECT_EQ(Hand->HotSpot, Point(8, 6)) << "the centre without a hot-spot file";
  EXPECT_EQ(Object->HotSpot, Point(3, 4));
  EXPECT_EQ(Object->Image.Width(), 16);
  Screen->SetCursors(101, Object);
  Screen->SetCursors(103, Hand);
  EXPECT_EQ(Screen->Cursors(101), Object);
  EXPECT_EQ(Screen->Cursors(103), Hand);
  EXPECT_EQ(Screen->Cursors(102), nullptr);
  EXPECT_THROW(LoadCursorFromResource("BackgroundCursor"), EResNotFound);
  Screen->SetCursor(crHourGlass);
  EXPECT_EQ(Screen->Cursor(), crHourGlass);
  Screen->SetCursor(crDefault);
  SetResourceDirectory("");
  std::filesystem::remove_all(Dir);
}

TEST_F(VclTest, MousePositionIsReportedInScreenCoordinates) {
  TOwned<TForm> F(new TForm(nullptr));
  F->SetBounds(200, 100, 300, 200);
  F->Show();
  TInputEvent Move;
  Move.Kind = ikMouseMove;
  Move.Form = F.get();
  Move.Pos = {10, 20};
  Application->DispatchEvent(Move);
  EXPECT_EQ(GetMousePos(), Point(210, 120)) << "the common utilities ask the application";
  F->Hide();
}

TEST_F(VclTest, MainThreadIsTheThreadThatCreatedTheApplication) {
  EXPECT_TRUE(IsMainThread());
  bool Other = true;
  std::thread T([&] { Other = Application->IsMainThread(); });
  T.join();
  EXPECT_FALSE(Other);
}

}  // namespace
}  // namespace varnix
