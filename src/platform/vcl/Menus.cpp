#include "platform/vcl/Menus.h"

#include <algorithm>
#include <cctype>

#include "platform/vcl/ImgList.h"
#include "platform/vcl/Themes.h"

namespace varnix {

// ---------------------------------------------------------------------------------------------
// Short-cuts

TShortCut ShortCut(uint16_t Key, TShiftState Shift) {
  if ((Key & 0xFF00) != 0) return scNone;
  TShortCut R = Key;
  if (Shift.Contains(ssShift)) R |= scShift;
  if (Shift.Contains(ssCtrl)) R |= scCtrl;
  if (Shift.Contains(ssAlt)) R |= scAlt;
  return R;
}

void ShortCutToKey(TShortCut Value, uint16_t& Key, TShiftState& Shift) {
  Key = Value & 0xFF;
  Shift = {};
  if (Value & scShift) Shift.Include(ssShift);
  if (Value & scCtrl) Shift.Include(ssCtrl);
  if (Value & scAlt) Shift.Include(ssAlt);
}

namespace {
std::string KeyName(uint16_t Key) {
  if ((Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z')) return std::string(1, static_cast<char>(Key));
  if (Key >= VK_F1 && Key <= VK_F12) return "F" + std::to_string(Key - VK_F1 + 1);
  switch (Key) {
    case VK_BACK: return "BkSp";
    case VK_TAB: return "Tab";
    case VK_RETURN: return "Enter";
    case VK_ESCAPE: return "Esc";
    case VK_SPACE: return "Space";
    case VK_PRIOR: return "PgUp";
    case VK_NEXT: return "PgDn";
    case VK_END: return "End";
    case VK_HOME: return "Home";
    case VK_LEFT: return "Left";
    case VK_UP: return "Up";
    case VK_RIGHT: return "Right";
    case VK_DOWN: return "Down";
    case VK_INSERT: return "Ins";
    case VK_DELETE: return "Del";
    case VK_OEM_PLUS: return "+";
    case VK_OEM_MINUS: return "-";
    case VK_ADD: return "Num +";
    case VK_SUBTRACT: return "Num -";
    default: return "";
  }
}
}  // namespace

std::string ShortCutToText(TShortCut Value) {
  const std::string Name = KeyName(Value & 0xFF);
  if (Name.empty()) return "";
  std::string R;
  if (Value & scShift) R += "Shift+";
  if (Value & scCtrl) R += "Ctrl+";
  if (Value & scAlt) R += "Alt+";
  return R + Name;
}

TShortCut TextToShortCut(const std::string& Text) {
  std::string Rest = Text;
  TShortCut Flags = 0;
  for (;;) {
    auto Take = [&](const char* P, TShortCut F) {
      const size_t N = std::char_traits<char>::length(P);
      if (Rest.size() > N && std::equal(P, P + N, Rest.begin(), [](char A, char B) {
            return std::tolower(static_cast<unsigned char>(A)) == std::tolower(static_cast<unsigned char>(B));
          })) {
        Flags |= F;
        Rest = Rest.substr(N);
        return true;
      }
      return false;
    };
    if (!(Take("Shift+", scShift) || Take("Ctrl+", scCtrl) || Take("Alt+", scAlt))) break;
  }
  for (uint16_t K = 1; K < 256; ++K)
    if (KeyName(K) == Rest) return static_cast<TShortCut>(K | Flags);
  return scNone;
}

std::string StripHotkey(const std::string& Text) {
  std::string R;
  for (size_t I = 0; I < Text.size(); ++I) {
    if (Text[I] == '&') {
      if (I + 1 < Text.size() && Text[I + 1] == '&') {
        R += '&';
        ++I;
      }
      continue;
    }
    R += Text[I];
  }
  return R;
}

char GetHotkey(const std::string& Text) {
  for (size_t I = 0; I + 1 < Text.size(); ++I)
    if (Text[I] == '&') {
      if (Text[I + 1] == '&') {
        ++I;
        continue;
      }
      return static_cast<char>(std::toupper(static_cast<unsigned char>(Text[I + 1])));
    }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// TMenuItem

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner) {}

TMenuItem::~TMenuItem() {
  while (!FItems.empty()) {
    TMenuItem* C = FItems.back();
    FItems.pop_back();
    C->FParent = nullptr;
    Free(C);
  }
  if (FParent) FParent->Remove(this);
}

void TMenuItem::Add(TMenuItem* Item) { Insert(Count(), Item); }

void TMenuItem::Insert(int32_t Index, TMenuItem* Item) {
  if (!Item || Item == this) return;
  if (Item->FParent) Item->FParent->Remove(Item);
  Index = std::clamp<int32_t>(Index, 0, Count());
  FItems.insert(FItems.begin() + Index, Item);
  Item->FParent = this;
}

void TMenuItem::Remove(TMenuItem* Item) {
  auto It = std::find(FItems.begin(), FItems.end(), Item);
  if (It == FItems.end()) return;
  FItems.erase(It);
  Item->FParent = nullptr;
}

void TMenuItem::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  Remove(FItems[static_cast<size_t>(Index)]);
}

int32_t TMenuItem::IndexOf(const TMenuItem* Item) const {
  auto It = std::find(FItems.begin(), FItems.end(), Item);
  return It == FItems.end() ? -1 : static_cast<int32_t>(It - FItems.begin());
}

void TMenuItem::Clear() {
  while (!FItems.empty()) {
    TMenuItem* C = FItems.back();
    FItems.pop_back();
    C->FParent = nullptr;
    Free(C);
  }
}

TMenu* TMenuItem::GetParentMenu() const {
  const TMenuItem* I = this;
  while (I->FParent) I = I->FParent;
  return I->FMenu;
}

TMenuItem* TMenuItem::FindShortCut(TShortCut Value) {
  for (TMenuItem* I : FItems) {
    if (!I->FVisible || !I->FEnabled) continue;
    if (I->FShortCut == Value && Value != scNone && !I->IsLine()) return I;
    if (TMenuItem* Sub = I->FindShortCut(Value)) return Sub;
  }
  return nullptr;
}

void TMenuItem::Click() {
  if (!FEnabled) return;
  if (auto H = OnClick) H(this);
}

// ---------------------------------------------------------------------------------------------
// TMenu

TMenu::TMenu(TComponent* AOwner) : TComponent(AOwner), FItems(new TMenuItem(this)) { FItems->FMenu = this; }

TMenu::~TMenu() = default;

void TMenu::SetImages(TCustomImageList* Value) {
  FImages = Value;
  if (Value) Value->FreeNotification(this);
}

void TMenu::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FImages) FImages = nullptr;
  if (Operation == opRemove && AComponent == FItems) FItems = nullptr;
}

bool TMenu::IsShortCut(TWMKey& Message) {
  if (!FItems) return false;
  const TShortCut S = ShortCut(Message.CharCode, Message.Shift);
  if (S == scNone) return false;
  TMenuItem* Item = FItems->FindShortCut(S);
  if (!Item) return false;
  Item->Click();
  return true;
}

// ---------------------------------------------------------------------------------------------
// The menu window

namespace {

constexpr int32_t ItemHeight = 22;
constexpr int32_t SeparatorHeight = 7;

class TMenuWindow : public TCustomForm {
 public:
  TMenuWindow(TPopupMenu* Menu) : TCustomForm(nullptr), FMenu(Menu) {
    FIsPopup = true;
    BorderStyle = bsNone;
    SetColor(clMenu);
    for (int32_t I = 0; I < Menu->Items()->Count(); ++I)
      if (Menu->Items()->Items(I)->Visible()) FEntries.push_back(Menu->Items()->Items(I));
    TCanvas& C = PaintBuffer().Canvas();
    C.Font().Assign(Font());
    int32_t W = 60, H = 4;
    for (TMenuItem* I : FEntries) {
      if (I->IsLine()) {
        H += SeparatorHeight;
        continue;
      }
      int32_t TW = 28 + C.TextWidth(StripHotkey(I->Caption())) + 24;
      if (I->ShortCut() != scNone) TW += C.TextWidth(ShortCutToText(I->ShortCut())) + 16;
      W = std::max(W, TW);
      H += ItemHeight;
    }
    SetBounds(0, 0, W, H);
  }
  const char* ClassName() const override { return "TMenuWindow"; }

  TMenuItem* Chosen = nullptr;
  bool Dismissed = false;

  int32_t ItemAt(int32_t Y) const {
    int32_t Top = 2;
    for (size_t I = 0; I < FEntries.size(); ++I) {
      const int32_t H = FEntries[I]->IsLine() ? SeparatorHeight : ItemHeight;
      if (Y >= Top && Y < Top + H) return static_cast<int32_t>(I);
      Top += H;
    }
    return -1;
  }
  void Choose(int32_t Index) {
    if (Index < 0 || Index >= static_cast<int32_t>(FEntries.size())) return;
    TMenuItem* I = FEntries[static_cast<size_t>(Index)];
    if (I->IsLine() || !I->Enabled()) return;
    Chosen = I;
  }
  void ChooseItem(TMenuItem* Item) { Chosen = Item; }

  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override {
    TCustomForm::MouseMove(Shift, X, Y);
    const int32_t I = ClientRect().Contains({X, Y}) ? ItemAt(Y) : -1;
    if (I != FHot) {
      FHot = I;
      Invalidate();
    }
  }
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override {
    TCustomForm::MouseUp(Button, Shift, X, Y);
    if (ClientRect().Contains({X, Y})) Choose(ItemAt(Y));
  }
  void KeyDown(uint16_t& Key, TShiftState Shift) override {
    (void)Shift;
    const int32_t N = static_cast<int32_t>(FEntries.size());
    auto Selectable = [&](int32_t I) { return !FEntries[static_cast<size_t>(I)]->IsLine() && FEntries[static_cast<size_t>(I)]->Enabled(); };
    if (Key == VK_ESCAPE) {
      Dismissed = true;
    } else if (Key == VK_RETURN) {
      Choose(FHot);
    } else if ((Key == VK_DOWN || Key == VK_UP) && N > 0) {
      int32_t I = FHot;
      for (int32_t Step = 0; Step < N; ++Step) {
        I = Key == VK_DOWN ? (I + 1 + N) % N : (I - 1 + N) % N;
        if (Selectable(I)) break;
      }
      FHot = I;
      Invalidate();
    } else {
      for (int32_t I = 0; I < N; ++I)
        if (Selectable(I) && GetHotkey(FEntries[static_cast<size_t>(I)]->Caption()) == static_cast<char>(Key)) {
          Choose(I);
          break;
        }
    }
    Key = 0;
  }

 protected:
  void PaintWindow(HDC DC) override {
    TCanvas C;
    C.SetHandle(DC);
    C.Font().Assign(Font());
    ThemeServices()->DrawMenuBackground(C, ClientRect());
    int32_t Top = 2;
    for (size_t I = 0; I < FEntries.size(); ++I) {
      TMenuItem* Item = FEntries[I];
      if (Item->IsLine()) {
        ThemeServices()->DrawMenuSeparator(C, Rect(2, Top, Width() - 2, Top + SeparatorHeight));
        Top += SeparatorHeight;
        continue;
      }
      const TRect R = Rect(2, Top, Width() - 2, Top + ItemHeight);
      ThemeServices()->DrawMenuItem(C, R, static_cast<int32_t>(I) == FHot && Item->Enabled(), Item->Enabled(),
                                    Item->Checked(), Item->Caption(), ShortCutToText(Item->ShortCut()));
      if (FMenu->Images() && Item->ImageIndex() >= 0)
        FMenu->Images()->Draw(C, R.Left + 3, R.Top + (ItemHeight - FMenu->Images()->Height()) / 2, Item->ImageIndex(),
                              Item->Enabled());
      Top += ItemHeight;
    }
  }

 private:
  TPopupMenu* FMenu;
  std::vector<TMenuItem*> FEntries;
  int32_t FHot = -1;
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// TPopupMenu

TPopupMenu::TPopupMenu(TComponent* AOwner) : TMenu(AOwner) {}

void TPopupMenu::SetPopupComponent(TComponent* Value) {
  FPopupComponent = Value;
  if (Value) Value->FreeNotification(this);
}

void TPopupMenu::Notification(TComponent* AComponent, TOperation Operation) {
  TMenu::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FPopupComponent) FPopupComponent = nullptr;
}

bool TPopupMenu::ChooseItem(TMenuItem* Item) {
  auto* W = dynamic_cast<TMenuWindow*>(FWindow);
  if (!W || !Item || Item->GetParentMenu() != this) return false;
  W->ChooseItem(Item);
  return true;
}

void TPopupMenu::Popup(int32_t X, int32_t Y) {
  if (FWindow || !Items()) return;
  TComponentRef Self(this);
  if (auto H = OnPopup) H(this);
  if (!Self) return;
  TOwned<TMenuWindow> W(new TMenuWindow(this));
  W->SetName("MenuWindow");
  int32_t Left = X;
  if (Alignment == paRight) Left = X - W->Width();
  if (Alignment == paCenter) Left = X - W->Width() / 2;
  const TRect M = Screen->MonitorFromPoint({X, Y})->WorkareaRect;
  Left = std::clamp(Left, M.Left, std::max(M.Left, M.Right - W->Width()));
  int32_t Top = Y;
  if (Top + W->Height() > M.Bottom) Top = std::max(M.Top, Y - W->Height());
  W->SetBounds(Left, Top, W->Width(), W->Height());
  W->ModalOwner = Screen->ActiveForm();
  FWindow = W.get();
  TMenuWindow* Win = W.get();
  Application->RunPopup(Win, [Win] { return Win->Chosen != nullptr || Win->Dismissed; });
  TMenuItem* Chosen = Win->Chosen;
  if (!Self) return;
  FWindow = nullptr;
  W.reset();
  if (Chosen) {
    // Like a posted command: the click runs from the loop once the caller has finished.
    TComponentRef ItemRef(Chosen);
    Application->QueueCall([Chosen, ItemRef] {
      if (ItemRef) Chosen->Click();
    });
    // Run it now when no loop is going to take it (a popup opened outside any event loop).
    if (!Application->ModalForm()) Application->ProcessMessages();
  }
}

}  // namespace varnix
