// varnix-gallery [--ui headless|window] [--script FILE] [--screenshot FILE] [--layout FILE]
//
// Shows every control of the UI library on one form. The "Click me" button counts its clicks
// (and prints "gallery: clicked N"); OK and Cancel close the form. --layout writes, once the form
// is shown, the screen rectangle of every named control as JSON, for tests that check the
// picture's structure. The exit code is 0 unless the event script failed.
#include <nlohmann/json.hpp>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/ImgList.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/vcl/Themes.h"

using namespace varnix;

namespace {

// Draws the six tool-bar button states of the theme, 24 × 24 each, 4 pixels apart.
class TThemeSampler : public TCustomControl {
 public:
  explicit TThemeSampler(TComponent* Owner, TCustomImageList* Images) : TCustomControl(Owner), FImages(Images) {}

 protected:
  void Paint() override {
    TCanvas& C = Canvas();
    C.Brush().SetColor(Color());
    C.FillRect(ClientRect());
    const TThemedToolBar States[] = {ttbButtonNormal, ttbButtonHot, ttbButtonPressed, ttbButtonChecked, ttbButtonCheckedHot, ttbButtonDisabled};
    for (int I = 0; I < 6; ++I) {
      const TRect R = Bounds(I * 28, 0, 24, 24);
      ThemeServices()->DrawElement(C, ThemeServices()->GetElementDetails(States[I]), R);
      FImages->Draw(C, R.Left + 4, R.Top + 4, I % FImages->Count(), States[I] != ttbButtonDisabled);
    }
  }

 private:
  TCustomImageList* FImages;
};

// A scrolling view of a large checkerboard.
class TChecker : public TScrollingWinControl {
 public:
  using TScrollingWinControl::TScrollingWinControl;

 protected:
  void PaintWindow(HDC DC) override {
    TCanvas C;
    C.SetHandle(DC);
    const int32_t OX = HorzScrollBar().Position(), OY = VertScrollBar().Position();
    for (int32_t Y = -(OY % 16); Y < ClientHeight(); Y += 16)
      for (int32_t X = -(OX % 16); X < ClientWidth(); X += 16) {
        const bool Dark = (((X + OX) / 16) + ((Y + OY) / 16)) % 2 != 0;
        C.Brush().SetColor(Dark ? clSilver : clWhite);
        C.FillRect(Bounds(X, Y, 16, 16));
      }
  }
};

void MakeIcons(TBitmap& Strip) {
  Strip.SetSize(6 * 16, 16);
  Strip.Fill(clPurple);
  TCanvas& C = Strip.Canvas();
  const TColor Colors[] = {clRed, clBlue, clGreen, clNavy, clOlive, clTeal};
  for (int I = 0; I < 6; ++I) {
    C.Brush().SetColor(Colors[I]);
    C.Pen().SetColor(clBlack);
    if (I % 2 == 0)
      C.Rectangle(Bounds(I * 16 + 2, 2, 12, 12));
    else
      C.Polygon({{I * 16 + 8, 1}, {I * 16 + 14, 14}, {I * 16 + 1, 14}});
  }
}

template <class T>
T* Make(TForm* Form, TWinControl* Parent, const char* Name, TRect Bounds) {
  T* C = new T(Form);
  C->SetName(Name);
  C->SetParent(Parent);
  C->SetBoundsRect(Bounds);
  return C;
}

void WriteLayout(TForm* Form, const std::string& File) {
  nlohmann::json J;
  std::function<void(TWinControl*)> Walk = [&](TWinControl* W) {
    for (int32_t I = 0; I < W->ControlCount(); ++I) {
      TControl* C = W->Controls(I);
      if (!C->Name().empty()) {
        const TPoint P = C->Parent()->ClientToScreen({C->Left(), C->Top()});
        const TPoint F = C->Parent()->ClientToForm({C->Left(), C->Top()});
        J[C->Name()] = {{"screen", {P.X, P.Y, C->Width(), C->Height()}}, {"form", {F.X, F.Y, C->Width(), C->Height()}}};
      }
      if (auto* CW = dynamic_cast<TWinControl*>(C)) Walk(CW);
    }
  };
  Walk(Form);
  J["GalleryForm"] = {{"screen", {Form->Left(), Form->Top(), Form->Width(), Form->Height()}},
                      {"form", {0, 0, Form->Width(), Form->Height()}}};
  const std::string Tmp = File + ".tmp";
  {
    std::ofstream Out(Tmp);
    Out << J.dump(1) << "\n";
  }
  std::rename(Tmp.c_str(), File.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string UI, Script, Shot, Layout;
  for (int I = 1; I < argc; ++I) {
    const std::string A = argv[I];
    auto Next = [&](std::string& V) {
      if (I + 1 >= argc) {
        std::cerr << "varnix-gallery: " << A << " needs a value\n";
        std::exit(2);
      }
      V = argv[++I];
    };
    if (A == "--ui") Next(UI);
    else if (A == "--script") Next(Script);
    else if (A == "--screenshot") Next(Shot);
    else if (A == "--layout") Next(Layout);
    else {
      std::cerr << "usage: varnix-gallery [--ui headless|window] [--script FILE] [--screenshot FILE] [--layout FILE]\n";
      return 2;
    }
  }
  try {
    if (UI == "window")
      Application->SetBackend(bkWindow);
    else if (UI == "headless")
      Application->SetBackend(bkHeadless);
    else if (!UI.empty()) {
      std::cerr << "varnix-gallery: --ui takes headless or window\n";
      return 2;
    }
    if (!Script.empty()) Application->RunScriptFile(Script);
    if (!Shot.empty()) Application->ScreenshotFile = Shot;
    Application->Title = "Varnix Gallery";

    TOwned<TForm> Form(new TForm(Application.Get()));
    TForm* F = Form.get();
    F->SetName("GalleryForm");
    F->SetCaption("Varnix Gallery");
    F->Position = poScreenCenter;
    F->SetBounds(0, 0, 640, 420);
    F->Constraints().SetMinWidth(520);
    F->Constraints().SetMinHeight(360);
    F->KeyPreview = true;

    auto* Images = new TImageList(F, 16, 16);
    Images->SetName("Images");
    TBitmap Strip;
    MakeIcons(Strip);
    Images->AddMasked(Strip, clPurple);

    auto* Status = Make<TStatusBar>(F, F, "StatusBar", Rect(0, 0, 640, 19));
    Status->Panels().BeginUpdate();
    for (int32_t W : {60, 220, 120, 150, 50}) Status->Panels().Add()->SetWidth(W);
    Status->Panels()[3]->SetBevel(pbNone);
    Status->Panels()[4]->SetBevel(pbNone);
    Status->Panels().EndUpdate();
    Status->Panels()[0]->SetText(" 100.0%");
    Status->Panels()[1]->SetText(" Click on the object you want to select");
    Status->Panels()[2]->SetText(" Ready");
    auto* Progress = new TProgressBar(Status);
    Progress->SetName("ProgressBar");
    Progress->SetParent(Status);
    const TRect PR = Status->PanelRect(3);
    Progress->SetBounds(PR.Left, PR.Top + 2, PR.Width(), PR.Height() - 1);
    Progress->SetPosition(50);

    auto* Tools = Make<TPanel>(F, F, "ToolPanel", Rect(0, 0, 640, 36));
    Tools->SetAlign(alTop);
    Tools->SetBevelOuter(bvNone);
    auto* Sampler = new TThemeSampler(F, Images);
    Sampler->SetName("ThemeSampler");
    Sampler->SetParent(Tools);
    Sampler->SetBounds(6, 6, 6 * 28, 24);
    Make<TBevel>(F, Tools, "Bevel1", Rect(180, 6, 182, 30))->SetShape(bsLeftLine);
    auto* Counter = Make<TLabel>(F, Tools, "CounterLabel", Rect(190, 11, 250, 24));
    Counter->SetCaption("Not clicked");
    auto* MenuButton = Make<TButton>(F, Tools, "MenuButton", Rect(300, 6, 380, 30));
    MenuButton->SetCaption("&Menu");
    MenuButton->SetHint("Opens the pop-up menu");
    MenuButton->SetShowHint(true);

    auto* Main = Make<TPanel>(F, F, "MainPanel", Rect(0, 36, 640, 365));
    Main->SetAlign(alClient);
    Main->SetBevelOuter(bvLowered);
    auto* ClickButton = Make<TButton>(F, Main, "ClickButton", Rect(12, 12, 112, 37));
    ClickButton->SetCaption("Click me");
    auto* Check = Make<TCheckBox>(F, Main, "SampleCheck", Rect(12, 48, 172, 65));
    Check->SetCaption("Sample all layers");
    Check->SetChecked(true);
    Make<TLabel>(F, Main, "ComboLabel", Rect(12, 78, 80, 91))->SetCaption("Anti-aliasing:");
    auto* Combo = Make<TComboBox>(F, Main, "Quality", Rect(90, 74, 210, 95));
    Combo->Style = csDropDownList;
    for (const char* S : {"None", "Sharp", "Medium", "Soft", "Very Soft"}) Combo->Items().Add(S);
    Combo->SetItemIndex(3);
    auto* Edit = Make<TEdit>(F, Main, "NameEdit", Rect(12, 106, 210, 127));
    Edit->SetText("markers.vnx");
    auto* List = Make<TListBox>(F, Main, "FileList", Rect(12, 138, 210, 240));
    for (const char* S : {"[..]", "[photos]", "cat.vnx", "dog.vnx", "tree.vnx", "sky.vnx"}) List->Items().Add(S);
    List->SetItemIndex(2);
    auto* Checker = Make<TChecker>(F, Main, "Checker", Rect(230, 12, 470, 240));
    Checker->HorzScrollBar().SetRange(800);
    Checker->VertScrollBar().SetRange(600);
    Checker->HorzScrollBar().SetTracking(true);
    Checker->VertScrollBar().SetTracking(true);
    auto* Ok = Make<TButton>(F, Main, "OkButton", Rect(480, 12, 555, 37));
    Ok->SetCaption("OK");
    Ok->SetDefault(true);
    Ok->ModalResult = mrOk;
    Ok->SetAnchors({akTop, akRight});
    auto* Cancel = Make<TButton>(F, Main, "CancelButton", Rect(480, 44, 555, 69));
    Cancel->SetCaption("Cancel");
    Cancel->Cancel = true;
    Cancel->ModalResult = mrCancel;
    Cancel->SetAnchors({akTop, akRight});
    Make<TBevel>(F, Main, "Frame", Rect(480, 80, 555, 140))->SetShape(bsFrame);

    auto* Menu = new TPopupMenu(F);
    Menu->SetName("GalleryMenu");
    Menu->SetImages(Images);
    struct TItem {
      const char* Name;
      const char* Caption;
      int Image;
      TShortCut Key;
    };
    for (const TItem& I : {TItem{"NewItem", "Clear All Markers", 0, ShortCut('N', {ssCtrl})},
                           TItem{"OpenItem", "&Open Markers File...", 1, ShortCut('O', {ssCtrl})},
                           TItem{"N1", "-", -1, 0},
                           TItem{"ActualPixelsItem", "Actual Pixels", -1, ShortCut('0', {ssCtrl, ssAlt})}}) {
      auto* M = new TMenuItem(F);
      M->SetName(I.Name);
      M->SetCaption(I.Caption);
      M->SetImageIndex(I.Image);
      M->SetShortCut(I.Key);
      M->OnClick = [Status, M](TObject*) { Status->Panels()[2]->SetText(" " + StripHotkey(M->Caption())); };
      Menu->Items()->Add(M);
    }
    F->SetPopupMenu(Menu);
    MenuButton->OnClick = [Menu, MenuButton](TObject*) {
      Menu->SetPopupComponent(MenuButton);
      const TPoint P = MenuButton->ClientToScreen({0, MenuButton->Height()});
      Menu->Popup(P.X, P.Y);
    };

    int Clicks = 0;
    ClickButton->OnClick = [&](TObject*) {
      ++Clicks;
      Counter->SetCaption("Clicked " + std::to_string(Clicks));
      std::cout << "gallery: clicked " << Clicks << std::endl;
    };
    auto* Timer = new TTimer(F);
    Timer->SetInterval(100);
    Timer->OnTimer = [Status, Timer](TObject*) {
      Status->Panels()[2]->SetText(" Timer ran");
      Timer->SetEnabled(false);
    };
    bool LayoutWritten = false;
    F->OnActivate = [&](TObject*) {
      if (!Layout.empty() && !LayoutWritten) {
        LayoutWritten = true;
        WriteLayout(F, Layout);
      }
    };

    const TModalResult R = F->ShowModal();
    std::cout << "gallery: closed with " << R << std::endl;
    Form.reset();
    const bool Failed = !Application->ScriptError().empty();
    FinalizeForms();
    return Failed ? 1 : 0;
  } catch (Exception& E) {
    std::cerr << "varnix-gallery: " << E.Message() << "\n";
    return 1;
  }
}
