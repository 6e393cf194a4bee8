#include "platform/vcl/StdCtrls.h"

#include <algorithm>
#include <cctype>

#include "platform/vcl/Menus.h"
#include "platform/vcl/Themes.h"

namespace varnix {

// ---------------------------------------------------------------------------------------------
// TCustomLabel

TCustomLabel::TCustomLabel(TComponent* AOwner) : TGraphicControl(AOwner) {
  SetBounds(0, 0, 65, 13);
  SetParentColor(true);
}

void TCustomLabel::SetAutoSize(bool Value) {
  if (FAutoSize == Value) return;
  FAutoSize = Value;
  AdjustBounds();
}

void TCustomLabel::AdjustBounds() {
  if (!FAutoSize || ComponentState().Contains(csLoading)) return;
  TBitmap Scratch;
  Scratch.SetSize(1, 1);
  TCanvas& C = Scratch.Canvas();
  C.Font().Assign(Font());
  const std::string T = ShowAccelChar ? StripHotkey(Caption()) : Caption();
  const TSize S = C.TextExtent(T.empty() ? " " : T);
  int32_t L = Left();
  if (Alignment == taRightJustify) L = Left() + Width() - S.cx;
  SetBounds(L, Top(), T.empty() ? 0 : S.cx, S.cy);
}

void TCustomLabel::TextChanged() {
  AdjustBounds();
  Invalidate();
}

void TCustomLabel::FontChanged() {
  TGraphicControl::FontChanged();
  AdjustBounds();
}

void TCustomLabel::Paint() {
  TCanvas& C = Canvas();
  if (!Transparent) {
    C.Brush().SetColor(Color());
    C.FillRect(ClientRect());
  }
  const std::string T = ShowAccelChar ? StripHotkey(Caption()) : Caption();
  const TSize S = C.TextExtent(T);
  int32_t X = 0, Y = 0;
  if (Alignment == taRightJustify) X = Width() - S.cx;
  if (Alignment == taCenter) X = (Width() - S.cx) / 2;
  if (Layout == tlCenter) Y = (Height() - S.cy) / 2;
  if (Layout == tlBottom) Y = Height() - S.cy;
  C.Brush().SetStyle(bsClear);
  if (!Enabled()) {
    C.Font().SetColor(clBtnHighlight);
    C.TextRect(ClientRect(), X + 1, Y + 1, T);
    C.Font().SetColor(clGrayText);
  }
  C.TextRect(ClientRect(), X, Y, T);
}

// ---------------------------------------------------------------------------------------------
// TButton

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 75, 25);
  SetTabStop(true);
}

void TButton::SetDefault(bool Value) {
  if (FDefault == Value) return;
  FDefault = Value;
  Invalidate();
}

void TButton::Click() {
  if (TCustomForm* F = ParentForm(); F && ModalResult != mrNone) F->SetModalResult(ModalResult);
  TWinControl::Click();
}

void TButton::WndProc(TMessage& Message) {
  if (Message.Msg == CM_DIALOGKEY) {
    const uint16_t Key = static_cast<uint16_t>(Message.WParam);
    bool Active = FDefault;
    if (TCustomForm* F = ParentForm())
      if (auto* Focused = dynamic_cast<TButton*>(F->ActiveControl())) Active = Focused == this;
    if (((Key == VK_RETURN && Active) || (Key == VK_ESCAPE && Cancel)) && CanFocus()) {
      Message.Result = 1;
      Click();
      return;
    }
    return;
  }
  TWinControl::WndProc(Message);
}

void TButton::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (Button == mbLeft) {
    FTracking = true;
    FPressed = true;
    Invalidate();
  }
  TWinControl::MouseDown(Button, Shift, X, Y);
}

void TButton::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  if (FTracking) {
    const bool Inside = ClientRect().Contains({X, Y});
    if (Inside != FPressed) {
      FPressed = Inside;
      Invalidate();
    }
  }
  TWinControl::MouseMove(Shift, X, Y);
}

void TButton::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (Button == mbLeft) {
    FTracking = false;
    FPressed = false;
    Invalidate();
  }
  TWinControl::MouseUp(Button, Shift, X, Y);
}

void TButton::KeyUp(uint16_t& Key, TShiftState Shift) {
  TWinControl::KeyUp(Key, Shift);
  if (Key == VK_SPACE) Click();
}

void TButton::PaintWindow(HDC DC) {
  TCanvas C;
  C.SetHandle(DC);
  C.Font().Assign(Font());
  const TRect R = ClientRect();
  ThemeServices()->DrawButtonFace(C, R, FPressed, Focused(), FDefault, Enabled());
  ThemeServices()->DrawCaption(C, R, Caption(), Enabled(), FPressed ? 1 : 0);
}

// ---------------------------------------------------------------------------------------------
// TCheckBox

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 97, 17);
  SetTabStop(true);
  ControlStyle.Exclude(csClickEvents);
  SetParentColor(true);
}

void TCheckBox::SetState(TCheckBoxState Value) {
  if (FState == Value) return;
  FState = Value;
  Invalidate();
  Click();
}

void TCheckBox::Toggle() {
  switch (FState) {
    case cbUnchecked: SetState(AllowGrayed ? cbGrayed : cbChecked); break;
    case cbChecked: SetState(cbUnchecked); break;
    case cbGrayed: SetState(cbChecked); break;
  }
}

void TCheckBox::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (Button == mbLeft) {
    FPressed = true;
    Invalidate();
  }
  TWinControl::MouseDown(Button, Shift, X, Y);
}

void TCheckBox::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  const bool Was = FPressed && Button == mbLeft;
  if (Button == mbLeft) {
    FPressed = false;
    Invalidate();
  }
  TComponentRef Self(this);
  if (Was && ClientRect().Contains({X, Y})) Toggle();
  if (Self) TWinControl::MouseUp(Button, Shift, X, Y);
}

void TCheckBox::KeyUp(uint16_t& Key, TShiftState Shift) {
  TWinControl::KeyUp(Key, Shift);
  if (Key == VK_SPACE) Toggle();
}

void TCheckBox::PaintWindow(HDC DC) {
  TCanvas C;
  C.SetHandle(DC);
  C.Font().Assign(Font());
  C.Brush().SetColor(Color());
  C.FillRect(ClientRect());
  const int32_t B = 13;
  const TRect Box = Bounds(0, (Height() - B) / 2, B, B);
  ThemeServices()->DrawCheckBox(C, Box, FState != cbUnchecked, Enabled(), FPressed);
  const std::string T = StripHotkey(Caption());
  const TSize S = C.TextExtent(T);
  const TRect TR = Bounds(B + 4, (Height() - S.cy) / 2, S.cx, S.cy);
  ThemeServices()->DrawCaption(C, TR, Caption(), Enabled());
  if (Focused()) ThemeServices()->DrawFocusRect(C, Rect(TR.Left - 1, TR.Top, TR.Right + 1, TR.Bottom));
}

// ---------------------------------------------------------------------------------------------
// TComboBox and its list

namespace {

class TComboListWindow : public TCustomForm {
 public:
  explicit TComboListWindow(TComboBox* Combo) : TCustomForm(nullptr), FCombo(Combo) {
    FIsPopup = true;
    BorderStyle = bsNone;
    SetColor(clWindow);
    FHot = Combo->ItemIndex();
  }
  const char* ClassName() const override { return "TComboListWindow"; }
  int32_t Chosen = -1;
  bool Dismissed = false;

  int32_t RowAt(int32_t Y) const {
    if (Y < 1) return -1;
    const int32_t R = (Y - 1) / FCombo->ItemHeight();
    return R < FCombo->Items().Count() ? R : -1;
  }
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override {
    TCustomForm::MouseMove(Shift, X, Y);
    const int32_t R = RowAt(Y);
    if (R >= 0 && R != FHot) {
      FHot = R;
      Invalidate();
    }
  }
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override {
    TCustomForm::MouseUp(Button, Shift, X, Y);
    if (Button == mbLeft && ClientRect().Contains({X, Y}) && RowAt(Y) >= 0) Chosen = RowAt(Y);
  }
  void KeyDown(uint16_t& Key, TShiftState Shift) override {
    (void)Shift;
    const int32_t N = FCombo->Items().Count();
    if (Key == VK_ESCAPE) Dismissed = true;
    if (Key == VK_RETURN && FHot >= 0) Chosen = FHot;
    if (Key == VK_DOWN && N > 0) FHot = std::min(N - 1, FHot + 1);
    if (Key == VK_UP && N > 0) FHot = std::max(0, FHot - 1);
    Invalidate();
    Key = 0;
  }

 protected:
  void PaintWindow(HDC DC) override {
    TCanvas C;
    C.SetHandle(DC);
    C.Font().Assign(FCombo->Font());
    C.Brush().SetColor(clWindow);
    C.FillRect(ClientRect());
    const int32_t H = FCombo->ItemHeight();
    for (int32_t I = 0; I < FCombo->Items().Count(); ++I) {
      const TRect R = Rect(1, 1 + I * H, Width() - 1, 1 + (I + 1) * H);
      if (I == FHot) {
        C.Brush().SetColor(clHighlight);
        C.FillRect(R);
      }
      C.Font().SetColor(I == FHot ? clHighlightText : clWindowText);
      C.Brush().SetStyle(bsClear);
      C.TextRect(R, R.Left + 2, R.Top + (H - C.TextHeight("Ag")) / 2, FCombo->Items()[I]);
      C.Brush().SetStyle(bsSolid);
    }
    C.Brush().SetColor(clWindowFrame);
    C.FrameRect(ClientRect());
  }

 private:
  TComboBox* FCombo;
  int32_t FHot = -1;
};

}  // namespace

TComboBox::TComboBox(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 145, 21);
  SetTabStop(true);
  SetColor(clWindow);
  ControlStyle.Exclude(csClickEvents);
}

void TComboBox::SetItemIndex(int32_t Value) {
  if (Value < -1 || Value >= FItems.Count()) Value = -1;
  if (FItemIndex == Value) return;
  FItemIndex = Value;
  TControl::SetText(Value >= 0 ? FItems[Value] : std::string());
  Invalidate();
}

const std::string& TComboBox::Text() const { return TControl::Text(); }

void TComboBox::SetText(const std::string& Value) {
  if (Style == csDropDownList) {
    // Only an item's text can be shown; any other text clears the selection.
    SetItemIndex(FItems.IndexOf(Value));
    return;
  }
  FItemIndex = FItems.IndexOf(Value);
  TControl::SetText(Value);
}

void TComboBox::SelectByUser(int32_t Index) {
  if (Index < 0 || Index >= FItems.Count()) return;
  TComponentRef Self(this);
  SetItemIndex(Index);
  Click();
  if (!Self) return;
  if (auto H = OnSelect)
    H(this);
  else if (auto C = OnChange)
    C(this);
}

void TComboBox::DropDown() {
  if (FDropped || FItems.Count() == 0) return;
  TComponentRef Self(this);
  if (auto H = OnDropDown) H(this);
  if (!Self) return;
  TOwned<TComboListWindow> W(new TComboListWindow(this));
  W->SetUniqueName(Name() + "List");
  const int32_t Rows = std::min(std::max(1, DropDownCount), FItems.Count());
  const TPoint P = ClientToScreen({0, Height()});
  W->SetBounds(P.X, P.Y, Width(), Rows * FItemHeight + 2);
  W->Font().Assign(Font());
  FDropped = true;
  Invalidate();
  TComboListWindow* Win = W.get();
  Application->RunPopup(Win, [Win] { return Win->Chosen >= 0 || Win->Dismissed; });
  const int32_t Chosen = Win->Chosen;
  W.reset();
  if (!Self) return;
  FDropped = false;
  Invalidate();
  if (auto H = OnCloseUp) H(this);
  if (Self && Chosen >= 0 && Chosen != FItemIndex) SelectByUser(Chosen);
}

void TComboBox::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TComponentRef Self(this);
  TWinControl::MouseDown(Button, Shift, X, Y);
  if (Self && Button == mbLeft && Enabled()) {
    Application->SetCaptureControl(nullptr);
    DropDown();
  }
}

void TComboBox::KeyDown(uint16_t& Key, TShiftState Shift) {
  TComponentRef Self(this);
  TWinControl::KeyDown(Key, Shift);
  if (!Self || Key == 0) return;
  const int32_t N = FItems.Count();
  if (N == 0) return;
  if (Key == VK_F1 + 3 || (Key == VK_DOWN && Shift.Contains(ssAlt))) {
    Key = 0;
    DropDown();
  } else if (Key == VK_DOWN) {
    Key = 0;
    SelectByUser(std::min(N - 1, FItemIndex + 1));
  } else if (Key == VK_UP) {
    Key = 0;
    SelectByUser(std::max(0, FItemIndex - 1));
  } else if (Style == csDropDownList && ((Key >= 'A' && Key <= 'Z') || (Key >= '0' && Key <= '9')) &&
             !Shift.Contains(ssCtrl) && !Shift.Contains(ssAlt)) {
    // The next item whose text starts with the letter.
    for (int32_t Step = 1; Step <= N; ++Step) {
      const int32_t I = (FItemIndex + Step + N) % N;
      if (!FItems[I].empty() && std::toupper(static_cast<unsigned char>(FItems[I][0])) == Key) {
        Key = 0;
        if (I != FItemIndex) SelectByUser(I);
        break;
      }
    }
  }
}

void TComboBox::PaintWindow(HDC DC) {
  TCanvas C;
  C.SetHandle(DC);
  C.Font().Assign(Font());
  const TRect R = ClientRect();
  const bool Focus = Focused() && Style == csDropDownList;
  ThemeServices()->DrawComboBox(C, R, Enabled(), Focus, FDropped);
  C.Font().SetColor(!Enabled() ? clGrayText : (Focus ? clHighlightText : clWindowText));
  C.Brush().SetStyle(bsClear);
  C.TextRect(Rect(R.Left + 4, R.Top + 2, R.Right - 20, R.Bottom - 2), R.Left + 4,
             (R.Height() - C.TextHeight("Ag")) / 2, Text());
}

// ---------------------------------------------------------------------------------------------
// TEdit

TEdit::TEdit(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
  SetColor(clWindow);
  SetCursor(crIBeam);
}

void TEdit::TextChanged() {
  Invalidate();
  if (auto H = OnChange) H(this);
}

void TEdit::KeyDown(uint16_t& Key, TShiftState Shift) {
  TComponentRef Self(this);
  TWinControl::KeyDown(Key, Shift);
  if (!Self || ReadOnly) return;
  if (Key == VK_BACK && !Text().empty()) {
    std::string T = Text();
    T.pop_back();
    SetText(T);
    Key = 0;
  }
}

void TEdit::KeyPress(char& Key) {
  TComponentRef Self(this);
  TWinControl::KeyPress(Key);
  if (!Self || ReadOnly) return;
  if (static_cast<unsigned char>(Key) >= 32 && Key != 127) SetText(Text() + Key);
}

void TEdit::PaintWindow(HDC DC) {
  TCanvas C;
  C.SetHandle(DC);
  C.Font().Assign(Font());
  const TRect R = ClientRect();
  C.Brush().SetColor(Enabled() ? Color() : clBtnFace);
  C.FillRect(R);
  ThemeServices()->DrawEdge(C, R, true);
  const int32_t Y = (R.Height() - C.TextHeight("Ag")) / 2;
  C.Brush().SetStyle(bsClear);
  const TRect Inner = Rect(3, 2, R.Right - 3, R.Bottom - 2);
  // Long texts show their end, where typing happens.
  const int32_t TW = C.TextWidth(Text());
  const int32_t X = std::min(4, Inner.Right - 1 - TW);
  C.TextRect(Inner, X, Y, Text());
  if (Focused()) {
    C.Pen().SetColor(clWindowText);
    C.MoveTo(X + TW, Y);
    C.LineTo(X + TW, Y + C.TextHeight("Ag"));
  }
}

// ---------------------------------------------------------------------------------------------
// TListBox

TListBox::TListBox(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 121, 97);
  SetTabStop(true);
  SetColor(clWindow);
  FItems.OnChange = [this](TObject*) {
    if (FItemIndex >= FItems.Count()) FItemIndex = -1;
    SetTopIndex(FTopIndex);
    Invalidate();
  };
}

void TListBox::SetItemIndex(int32_t Value) {
  if (Value < -1 || Value >= FItems.Count()) Value = -1;
  if (FItemIndex == Value) return;
  FItemIndex = Value;
  const int32_t Rows = std::max(1, (ClientHeight() - 4) / ItemHeight);
  if (Value >= 0 && Value < FTopIndex) SetTopIndex(Value);
  if (Value >= FTopIndex + Rows) SetTopIndex(Value - Rows + 1);
  Invalidate();
}

void TListBox::SetTopIndex(int32_t Value) {
  const int32_t Rows = std::max(1, (ClientHeight() - 4) / ItemHeight);
  Value = std::clamp(Value, 0, std::max(0, FItems.Count() - Rows));
  if (FTopIndex == Value) return;
  FTopIndex = Value;
  Invalidate();
}

int32_t TListBox::ItemAtPos(TPoint P) const {
  if (P.Y < 2 || P.X < 0 || P.X >= Width()) return -1;
  const int32_t I = FTopIndex + (P.Y - 2) / ItemHeight;
  return I < FItems.Count() ? I : -1;
}

void TListBox::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (Button == mbLeft) {
    const int32_t I = ItemAtPos({X, Y});
    if (I >= 0) SetItemIndex(I);
  }
  TWinControl::MouseDown(Button, Shift, X, Y);
}

bool TListBox::MouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) {
  if (TWinControl::MouseWheel(Shift, WheelDelta, MousePos)) return true;
  SetTopIndex(FTopIndex + (WheelDelta > 0 ? -3 : 3));
  return true;
}

void TListBox::KeyDown(uint16_t& Key, TShiftState Shift) {
  TComponentRef Self(this);
  TWinControl::KeyDown(Key, Shift);
  if (!Self) return;
  if (Key == VK_DOWN) {
    SetItemIndex(std::min(FItems.Count() - 1, FItemIndex + 1));
    Key = 0;
    Click();
  } else if (Key == VK_UP) {
    SetItemIndex(std::max(0, FItemIndex - 1));
    Key = 0;
    Click();
  }
}

void TListBox::PaintWindow(HDC DC) {
  TCanvas C;
  C.SetHandle(DC);
  C.Font().Assign(Font());
  const TRect R = ClientRect();
  C.Brush().SetColor(Color());
  C.FillRect(R);
  ThemeServices()->DrawEdge(C, R, true);
  C.IntersectClip(Rect(2, 2, R.Right - 2, R.Bottom - 2));
  for (int32_t I = FTopIndex; I < FItems.Count(); ++I) {
    const int32_t Y = 2 + (I - FTopIndex) * ItemHeight;
    if (Y >= R.Bottom) break;
    const TRect Row = Rect(2, Y, R.Right - 2, Y + ItemHeight);
    if (I == FItemIndex) {
      C.Brush().SetColor(clHighlight);
      C.FillRect(Row);
    }
    C.Font().SetColor(I == FItemIndex ? clHighlightText : clWindowText);
    C.Brush().SetStyle(bsClear);
    C.TextOut(Row.Left + 3, Y + (ItemHeight - C.TextHeight("Ag")) / 2, FItems[I]);
    C.Brush().SetStyle(bsSolid);
  }
  C.RestoreClip();
}

}  // namespace varnix
