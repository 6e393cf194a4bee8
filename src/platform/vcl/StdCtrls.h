// Standard controls: label, push button, check box, combo box, edit field and list box.
#pragma once

#include <cstdint>
#include <string>

#include "platform/vcl/Controls.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Forms.h"

namespace varnix {

enum TTextLayout { tlTop, tlCenter, tlBottom };

// A caption drawn on its parent. With AutoSize it takes the size of its text.
class TCustomLabel : public TGraphicControl {
 public:
  explicit TCustomLabel(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomLabel"; }
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  TAlignment Alignment = taLeftJustify;
  TTextLayout Layout = tlTop;
  bool Transparent = true;
  bool ShowAccelChar = true;

 protected:
  void Paint() override;
  void TextChanged() override;
  void FontChanged() override;
  void AdjustBounds();

 private:
  bool FAutoSize = true;
};

class TLabel : public TCustomLabel {
 public:
  explicit TLabel(TComponent* AOwner) : TCustomLabel(AOwner) {}
  const char* ClassName() const override { return "TLabel"; }
};

// A push button. Clicking sets the form's ModalResult to the button's ModalResult (when not
// mrNone) and fires OnClick; Return clicks the default button (or the focused button), Escape
// the cancel button.
class TButton : public TWinControl {
 public:
  explicit TButton(TComponent* AOwner);
  const char* ClassName() const override { return "TButton"; }
  bool Default() const { return FDefault; }
  void SetDefault(bool Value);
  bool Cancel = false;
  TModalResult ModalResult = mrNone;

  void Click() override;
  void WndProc(TMessage& Message) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseMove(TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void KeyUp(uint16_t& Key, TShiftState Shift) override;
  bool Pressed() const { return FPressed; }

 protected:
  void PaintWindow(HDC DC) override;

 private:
  bool FDefault = false;
  bool FPressed = false;
  bool FTracking = false;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

// A check box. Changing Checked (by the user or in code) fires OnClick.
class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(TComponent* AOwner);
  const char* ClassName() const override { return "TCheckBox"; }
  bool Checked() const { return FState == cbChecked; }
  void SetChecked(bool Value) { SetState(Value ? cbChecked : cbUnchecked); }
  TCheckBoxState State() const { return FState; }
  void SetState(TCheckBoxState Value);
  bool AllowGrayed = false;
  void Toggle();

  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void KeyUp(uint16_t& Key, TShiftState Shift) override;

 protected:
  void PaintWindow(HDC DC) override;

 private:
  TCheckBoxState FState = cbUnchecked;
  bool FPressed = false;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

// A combo box; the drop-down-list style offers a choice of its items only. When the user picks an
// item (from the list or with the keyboard) ItemIndex changes and OnClick, then OnChange, fire.
// Setting ItemIndex in code fires nothing. The open list is a popup form named <Name>List whose
// rows are ItemHeight pixels tall from y = 1.
class TComboBox : public TWinControl {
 public:
  explicit TComboBox(TComponent* AOwner);
  const char* ClassName() const override { return "TComboBox"; }
  TComboBoxStyle Style = csDropDown;
  TStrings& Items() { return FItems; }
  int32_t ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int32_t Value);
  int32_t ItemHeight() const { return FItemHeight; }
  void SetItemHeight(int32_t Value) { FItemHeight = std::max(1, Value); }
  int32_t DropDownCount = 8;
  bool AutoComplete = true;
  const std::string& Text() const override;
  void SetText(const std::string& Value) override;
  bool DroppedDown() const { return FDropped; }
  // Opens the list and returns when it closes.
  void DropDown();
  // What a user's pick does: select Index and fire OnClick and OnChange.
  void SelectByUser(int32_t Index);

  TNotifyEvent OnChange;
  TNotifyEvent OnSelect;
  TNotifyEvent OnDropDown;
  TNotifyEvent OnCloseUp;

  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  void KeyDown(uint16_t& Key, TShiftState Shift) override;
  bool WantsKey(uint16_t Key) const override { return Key == VK_UP || Key == VK_DOWN; }

 protected:
  void PaintWindow(HDC DC) override;

 private:
  TStrings FItems;
  int32_t FItemIndex = -1;
  int32_t FItemHeight = 13;
  bool FDropped = false;
};

// A one-line text field: typing appends, Backspace removes the last character.
class TEdit : public TWinControl {
 public:
  explicit TEdit(TComponent* AOwner);
  const char* ClassName() const override { return "TEdit"; }
  bool ReadOnly = false;
  TNotifyEvent OnChange;
  void KeyDown(uint16_t& Key, TShiftState Shift) override;
  void KeyPress(char& Key) override;

 protected:
  void PaintWindow(HDC DC) override;
  void TextChanged() override;
};

// A list of strings with one selected row; scrolls with the wheel and the arrow keys.
class TListBox : public TWinControl {
 public:
  explicit TListBox(TComponent* AOwner);
  const char* ClassName() const override { return "TListBox"; }
  TStrings& Items() { return FItems; }
  int32_t ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int32_t Value);
  int32_t ItemHeight = 16;
  int32_t TopIndex() const { return FTopIndex; }
  void SetTopIndex(int32_t Value);
  int32_t ItemAtPos(TPoint P) const;

  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  bool MouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) override;
  void KeyDown(uint16_t& Key, TShiftState Shift) override;
  bool WantsKey(uint16_t Key) const override { return Key == VK_UP || Key == VK_DOWN; }

 protected:
  void PaintWindow(HDC DC) override;

 private:
  TStrings FItems;
  int32_t FItemIndex = -1;
  int32_t FTopIndex = 0;
};

}  // namespace varnix
