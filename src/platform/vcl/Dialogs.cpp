#include "platform/vcl/Dialogs.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <iostream>

#include "platform/vcl/Backend.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/vcl/Themes.h"

namespace varnix {

namespace fs = std::filesystem;

// ---------------------------------------------------------------------------------------------
// Message form

namespace {

enum TMessageIcon { miNone, miStop, miQuestion, miWarning, miInformation };

class TMessageForm : public TForm {
 public:
  TMessageForm(TMessageIcon Icon, const std::string& Text) : TForm(nullptr), FIcon(Icon), FText(Text) {
    BorderStyle = bsDialog;
    Position = poScreenCenter;
  }
  const char* ClassName() const override { return "TMessageForm"; }

 protected:
  void PaintWindow(HDC DC) override {
    TCanvas C;
    C.SetHandle(DC);
    C.Font().Assign(Font());
    const int32_t X = FIcon == miNone ? 12 : 56;
    C.Brush().SetStyle(bsClear);
    C.TextOut(X, 16, FText);
    C.Brush().SetStyle(bsSolid);
    if (FIcon == miNone) return;
    const TRect R = Bounds(12, 12, 32, 32);
    TColor Fill = clBlue;
    std::string Glyph = "i";
    if (FIcon == miStop) Fill = clRed, Glyph = "X";
    if (FIcon == miQuestion) Fill = clBlue, Glyph = "?";
    if (FIcon == miWarning) {
      C.Brush().SetColor(clYellow);
      C.Pen().SetColor(clBlack);
      C.Polygon({{R.Left + 16, R.Top}, {R.Right - 1, R.Bottom - 1}, {R.Left, R.Bottom - 1}});
      Glyph = "!";
    } else {
      // A filled disc.
      C.Brush().SetColor(Fill);
      C.Pen().SetColor(Fill);
      std::vector<TPoint> Disc;
      for (int32_t A = 0; A < 32; ++A) {
        const double T = A * 3.14159265358979 / 16;
        Disc.push_back({R.Left + 16 + static_cast<int32_t>(15.5 * std::cos(T)), R.Top + 16 + static_cast<int32_t>(15.5 * std::sin(T))});
      }
      C.Polygon(Disc);
    }
    C.Font().SetStyle({fsBold});
    C.Font().SetHeight(-16);
    C.Font().SetColor(FIcon == miWarning ? clBlack : clWhite);
    C.Brush().SetStyle(bsClear);
    const TSize S = C.TextExtent(Glyph);
    C.TextOut(R.Left + (32 - S.cx) / 2, R.Top + (32 - S.cy) / 2 + 2, Glyph);
  }

 private:
  TMessageIcon FIcon;
  std::string FText;
};

struct TButtonSpec {
  const char* Caption;
  TModalResult Result;
};

TModalResult RunMessageForm(const std::string& Text, const std::string& Caption, TMessageIcon Icon,
                            const std::vector<TButtonSpec>& Buttons, TModalResult DefaultResult, TModalResult CancelResult) {
  if (Application->BackendKind() == bkHeadless) {
    std::string Flat = Text;
    std::replace(Flat.begin(), Flat.end(), '\r', '\n');
    std::cerr << "varnix: message \"" << Caption << "\": " << Flat << "\n";
  }
  TOwned<TMessageForm> F(new TMessageForm(Icon, Text));
  F->SetName("MessageForm");
  F->SetCaption(Caption);
  TCanvas& C = F->PaintBuffer().Canvas();
  C.Font().Assign(F->Font());
  const TSize S = C.TextExtent(Text);
  const int32_t TextLeft = Icon == miNone ? 12 : 56;
  const int32_t BW = 75, BH = 25, Gap = 8;
  const int32_t RowW = static_cast<int32_t>(Buttons.size()) * (BW + Gap) - Gap;
  const int32_t W = std::max({TextLeft + S.cx + 16, RowW + 24, 200});
  const int32_t TextBottom = std::max(16 + S.cy, Icon == miNone ? 0 : 44);
  const int32_t H = TextBottom + 16 + BH + 12;
  F->SetBounds(0, 0, W, H);
  int32_t X = (W - RowW) / 2;
  for (const TButtonSpec& B : Buttons) {
    auto* Btn = new TButton(F.get());
    Btn->SetName(std::string(StripHotkey(B.Caption)) + "Button");
    Btn->SetParent(F.get());
    Btn->SetCaption(B.Caption);
    Btn->ModalResult = B.Result;
    Btn->SetDefault(B.Result == DefaultResult);
    Btn->Cancel = B.Result == CancelResult;
    Btn->SetBounds(X, TextBottom + 16, BW, BH);
    X += BW + Gap;
  }
  return F->ShowModal();
}

TMessageIcon IconOf(int32_t Flags) {
  switch (Flags & 0xF0) {
    case MB_ICONSTOP: return miStop;
    case MB_ICONQUESTION: return miQuestion;
    case MB_ICONWARNING: return miWarning;
    case MB_ICONINFORMATION: return miInformation;
    default: return miNone;
  }
}

}  // namespace

int32_t ShowMessageBoxForm(const std::string& Text, const std::string& Caption, int32_t Flags) {
  std::vector<TButtonSpec> B;
  TModalResult Def = mrOk, Cancel = mrCancel;
  switch (Flags & 0xF) {
    case MB_OKCANCEL: B = {{"OK", mrOk}, {"Cancel", mrCancel}}; break;
    case MB_ABORTRETRYIGNORE: B = {{"&Abort", mrAbort}, {"&Retry", mrRetry}, {"&Ignore", mrIgnore}}; Def = mrAbort; Cancel = mrNone; break;
    case MB_YESNOCANCEL: B = {{"&Yes", mrYes}, {"&No", mrNo}, {"Cancel", mrCancel}}; Def = mrYes; break;
    case MB_YESNO: B = {{"&Yes", mrYes}, {"&No", mrNo}}; Def = mrYes; Cancel = mrNo; break;
    case MB_RETRYCANCEL: B = {{"&Retry", mrRetry}, {"Cancel", mrCancel}}; Def = mrRetry; break;
    default: B = {{"OK", mrOk}}; Cancel = mrOk; break;
  }
  const TModalResult R = RunMessageForm(Text, Caption, IconOf(Flags), B, Def, Cancel);
  // The modal results and the ID answers share their values.
  return R == mrNone ? IDCANCEL : R;
}

TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int32_t) {
  static const char* const Captions[] = {"Warning", "Error", "Information", "Confirm", ""};
  static const TMessageIcon Icons[] = {miWarning, miStop, miInformation, miQuestion, miNone};
  static const TButtonSpec Specs[] = {{"&Yes", mrYes},         {"&No", mrNo},          {"OK", mrOk},
                                      {"Cancel", mrCancel},    {"&Abort", mrAbort},     {"&Retry", mrRetry},
                                      {"&Ignore", mrIgnore},   {"&All", mrAll},         {"N&o to All", mrNoToAll},
                                      {"Yes to &All", mrYesToAll}, {"&Help", mrNone}};
  std::vector<TButtonSpec> B;
  for (int32_t I = mbYes; I <= mbHelp; ++I)
    if (Buttons.Contains(static_cast<TMsgDlgBtn>(I))) B.push_back(Specs[I]);
  if (B.empty()) B.push_back(Specs[mbOK]);
  TModalResult Def = B.front().Result;
  TModalResult Cancel = Buttons.Contains(mbCancel) ? mrCancel : (Buttons.Contains(mbNo) ? mrNo : (B.size() == 1 ? B[0].Result : mrNone));
  const std::string Title = DlgType == mtCustom ? Application->Title : Captions[DlgType];
  const TModalResult R = RunMessageForm(Msg, Title, Icons[DlgType], B, Def, Cancel);
  return R == mrNone ? mrCancel : R;
}

void ShowMessage(const std::string& Msg) { MessageDlg(Msg, mtCustom, {mbOK}); }

// ---------------------------------------------------------------------------------------------
// Filters

std::vector<TFilterEntry> ParseFilter(const std::string& Filter) {
  std::vector<std::string> Parts;
  std::string Cur;
  for (char C : Filter) {
    if (C == '|') {
      Parts.push_back(Cur);
      Cur.clear();
    } else {
      Cur += C;
    }
  }
  if (!Filter.empty()) Parts.push_back(Cur);
  std::vector<TFilterEntry> R;
  for (size_t I = 0; I + 1 < Parts.size(); I += 2) {
    TFilterEntry E;
    E.Description = Parts[I];
    std::string M;
    for (char C : Parts[I + 1] + ";") {
      if (C == ';') {
        if (!M.empty()) E.Masks.push_back(M);
        M.clear();
      } else if (C != ' ') {
        M += C;
      }
    }
    R.push_back(E);
  }
  return R;
}

bool MatchesMask(const std::string& Name, const std::string& Mask) {
  // "*.*" matches every name, also one without a dot, as users expect.
  if (Mask == "*.*" || Mask == "*") return true;
  size_t N = 0, M = 0, StarM = std::string::npos, StarN = 0;
  auto Lower = [](char C) { return static_cast<char>(std::tolower(static_cast<unsigned char>(C))); };
  while (N < Name.size()) {
    if (M < Mask.size() && (Mask[M] == '?' || Lower(Mask[M]) == Lower(Name[N]))) {
      ++N;
      ++M;
    } else if (M < Mask.size() && Mask[M] == '*') {
      StarM = M++;
      StarN = N;
    } else if (StarM != std::string::npos) {
      M = StarM + 1;
      N = ++StarN;
    } else {
      return false;
    }
  }
  while (M < Mask.size() && Mask[M] == '*') ++M;
  return M == Mask.size();
}

// ---------------------------------------------------------------------------------------------
// File dialog form

namespace {

class TFileDialogForm : public TForm {
 public:
  TFileDialogForm(TOpenDialog* Dialog, bool Save, std::function<bool(std::string&)> Validate)
      : TForm(nullptr), FDialog(Dialog), FSave(Save), FValidate(std::move(Validate)) {
    SetName("FileDialog");
    SetCaption(Dialog->Title.empty() ? (Save ? "Save As" : "Open") : Dialog->Title);
    Position = poScreenCenter;
    BorderStyle = Dialog->Options.Contains(ofEnableSizing) ? bsSizeable : bsDialog;
    SetBounds(0, 0, 460, 340);
    Constraints().SetMinWidth(360);
    Constraints().SetMinHeight(260);

    FDirLabel = new TLabel(this);
    FDirLabel->SetName("DirectoryLabel");
    FDirLabel->SetParent(this);
    FDirLabel->SetBounds(8, 8, 440, 13);
    FList = new TListBox(this);
    FList->SetName("FileList");
    FList->SetParent(this);
    FList->SetBounds(8, 26, 444, 210);
    FList->SetAnchors({akLeft, akTop, akRight, akBottom});
    FList->OnClick = [this](TObject*) { ListClick(); };
    FList->OnMouseDown = [this](TObject*, TMouseButton B, TShiftState S, int32_t, int32_t) {
      if (B == mbLeft) ListClick();
      if (B == mbLeft && S.Contains(ssDouble)) Open(FList->ItemIndex());
    };
    auto* NameLabel = new TLabel(this);
    NameLabel->SetName("FileNameLabel");
    NameLabel->SetParent(this);
    NameLabel->SetCaption("File &name:");
    NameLabel->SetBounds(8, 248, 70, 13);
    NameLabel->SetAnchors({akLeft, akBottom});
    FEdit = new TEdit(this);
    FEdit->SetName("FileNameEdit");
    FEdit->SetParent(this);
    FEdit->SetBounds(84, 244, 280, 21);
    FEdit->SetAnchors({akLeft, akRight, akBottom});
    FFilter = new TComboBox(this);
    FFilter->SetName("FilterCombo");
    FFilter->SetParent(this);
    FFilter->Style = csDropDownList;
    FFilter->SetBounds(84, 274, 280, 21);
    FFilter->SetAnchors({akLeft, akRight, akBottom});
    FFilters = ParseFilter(Dialog->Filter);
    for (const TFilterEntry& E : FFilters) FFilter->Items().Add(E.Description);
    if (!FFilters.empty()) FFilter->SetItemIndex(std::clamp(Dialog->FilterIndex - 1, 0, static_cast<int32_t>(FFilters.size()) - 1));
    FFilter->OnChange = [this](TObject*) { Fill(); };
    auto* Ok = new TButton(this);
    Ok->SetName("OkButton");
    Ok->SetParent(this);
    Ok->SetCaption(Save ? "&Save" : "&Open");
    Ok->SetDefault(true);
    Ok->SetBounds(376, 243, 75, 23);
    Ok->SetAnchors({akRight, akBottom});
    Ok->OnClick = [this](TObject*) { Confirm(); };
    auto* Cancel = new TButton(this);
    Cancel->SetName("CancelButton");
    Cancel->SetParent(this);
    Cancel->SetCaption("Cancel");
    Cancel->Cancel = true;
    Cancel->ModalResult = mrCancel;
    Cancel->SetBounds(376, 273, 75, 23);
    Cancel->SetAnchors({akRight, akBottom});

    std::error_code Ec;
    fs::path Start = Dialog->InitialDir.empty() ? fs::current_path(Ec) : fs::path(Dialog->InitialDir);
    if (!Dialog->FileName.empty()) {
      const fs::path P(Dialog->FileName);
      if (P.has_parent_path() && fs::is_directory(P.parent_path(), Ec)) Start = P.parent_path();
      FEdit->SetText(P.filename().string());
    }
    SetDirectory(Start);
  }
  const char* ClassName() const override { return "TFileDialogForm"; }

  std::string Result;

  bool ScriptAnswer(bool Confirmed, const std::string& FileName) override {
    if (!Confirmed) {
      SetModalResult(mrCancel);
      return true;
    }
    std::string Name = FileName;
    if (FValidate(Name)) {
      Result = Name;
      SetModalResult(mrOk);
    }
    return true;
  }

 private:
  void SetDirectory(const fs::path& Dir) {
    std::error_code Ec;
    FDir = fs::weakly_canonical(Dir, Ec);
    if (Ec) FDir = Dir;
    FDirLabel->SetCaption(FDir.string());
    Fill();
  }

  void Fill() {
    FEntries.clear();
    FList->Items().BeginUpdate();
    FList->Items().Clear();
    std::vector<std::string> Dirs, Files;
    std::error_code Ec;
    for (fs::directory_iterator It(FDir, Ec), End; !Ec && It != End; It.increment(Ec)) {
      const std::string N = It->path().filename().string();
      if (!N.empty() && N[0] == '.') continue;
      std::error_code E2;
      if (It->is_directory(E2)) {
        Dirs.push_back(N);
      } else {
        const int32_t FI = FFilter->ItemIndex();
        bool Match = FFilters.empty() || FI < 0;
        if (!Match)
          for (const std::string& M : FFilters[static_cast<size_t>(FI)].Masks) Match = Match || MatchesMask(N, M);
        if (Match) Files.push_back(N);
      }
    }
    std::sort(Dirs.begin(), Dirs.end());
    std::sort(Files.begin(), Files.end());
    if (FDir.has_parent_path() && FDir != FDir.root_path()) {
      FEntries.push_back({"..", true});
      FList->Items().Add("[..]");
    }
    for (const std::string& D : Dirs) {
      FEntries.push_back({D, true});
      FList->Items().Add("[" + D + "]");
    }
    for (const std::string& F : Files) {
      FEntries.push_back({F, false});
      FList->Items().Add(F);
    }
    FList->Items().EndUpdate();
  }

  void ListClick() {
    const int32_t I = FList->ItemIndex();
    if (I >= 0 && !FEntries[static_cast<size_t>(I)].second) FEdit->SetText(FEntries[static_cast<size_t>(I)].first);
  }

  void Open(int32_t I) {
    if (I < 0 || I >= static_cast<int32_t>(FEntries.size())) return;
    const auto& E = FEntries[static_cast<size_t>(I)];
    if (E.second)
      SetDirectory(E.first == ".." ? FDir.parent_path() : FDir / E.first);
    else {
      FEdit->SetText(E.first);
      Confirm();
    }
  }

  void Confirm() {
    const std::string T = FEdit->Text();
    if (T.empty()) return;
    fs::path P(T);
    if (P.is_relative()) P = FDir / P;
    std::error_code Ec;
    if (fs::is_directory(P, Ec)) {
      FEdit->SetText("");
      SetDirectory(P);
      return;
    }
    std::string Name = P.string();
    if (FValidate(Name)) {
      Result = Name;
      SetModalResult(mrOk);
    }
  }

  TOpenDialog* FDialog;
  bool FSave;
  std::function<bool(std::string&)> FValidate;
  fs::path FDir;
  std::vector<std::pair<std::string, bool>> FEntries;  // name, is a directory
  std::vector<TFilterEntry> FFilters;
  TLabel* FDirLabel = nullptr;
  TListBox* FList = nullptr;
  TEdit* FEdit = nullptr;
  TComboBox* FFilter = nullptr;
};

}  // namespace

TOpenDialog::TOpenDialog(TComponent* AOwner) : TComponent(AOwner) {}

bool TOpenDialog::Validate(std::string& Name) {
  fs::path P(Name);
  if (!DefaultExt.empty() && !P.has_extension()) {
    Name += "." + DefaultExt;
    P = fs::path(Name);
  }
  std::error_code Ec;
  const bool Exists = fs::exists(P, Ec);
  if (Options.Contains(ofPathMustExist)) {
    const fs::path Parent = P.has_parent_path() ? P.parent_path() : fs::path(".");
    if (!fs::is_directory(Parent, Ec)) {
      MessageDlg(Parent.string() + "\rPath does not exist.", mtWarning, {mbOK});
      return false;
    }
  }
  if (Options.Contains(ofFileMustExist) && !Exists) {
    MessageDlg(Name + "\rFile not found.\rCheck the file name and try again.", mtWarning, {mbOK});
    return false;
  }
  if (IsSave() && Options.Contains(ofOverwritePrompt) && Exists) {
    if (MessageDlg(Name + " already exists.\rDo you want to replace it?", mtWarning, {mbYes, mbNo}) != mrYes) return false;
  }
  return true;
}

bool TOpenDialog::Execute() {
  bool Confirmed = false;
  std::string Answer;
  if (Application->TakeDialogAnswer(Confirmed, Answer)) {
    if (!Confirmed || !Validate(Answer)) return false;
    FileName = Answer;
    return true;
  }
  TOwned<TFileDialogForm> F(new TFileDialogForm(this, IsSave(), [this](std::string& N) { return Validate(N); }));
  if (F->ShowModal() != mrOk) return false;
  FileName = F->Result;
  return true;
}

}  // namespace varnix
