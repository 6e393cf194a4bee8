// Menus: menu items with captions ('&' marks the accelerator letter, "-" is a separator),
// short-cuts, images from an image list and click events; pop-up menus opened at a screen point.
//
// Short-cuts use the library's encoding: the key code plus scShift ($2000), scCtrl ($4000) and
// scAlt ($8000); Ctrl+N is 16462, Ctrl+Alt+0 is 49200, F1 is 112. Ctrl is the primary modifier
// (the Cmd key on macOS).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/vcl/Controls.h"
#include "platform/vcl/Forms.h"

namespace varnix {

class TCustomImageList;
class TMenu;

using TShortCut = uint16_t;
inline constexpr TShortCut scNone = 0, scShift = 0x2000, scCtrl = 0x4000, scAlt = 0x8000;

TShortCut ShortCut(uint16_t Key, TShiftState Shift);
void ShortCutToKey(TShortCut ShortCut, uint16_t& Key, TShiftState& Shift);
// "Ctrl+N", "Ctrl+Alt+0", "F1", "Del"; empty for scNone.
std::string ShortCutToText(TShortCut ShortCut);
// The inverse of ShortCutToText; scNone for text it does not understand.
TShortCut TextToShortCut(const std::string& Text);
// The caption without its accelerator marks ("&&" stays one '&').
std::string StripHotkey(const std::string& Text);
// The upper-case accelerator letter of a caption, or 0.
char GetHotkey(const std::string& Text);

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* AOwner);
  ~TMenuItem() override;
  const char* ClassName() const override { return "TMenuItem"; }

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& Value) { FCaption = Value; }
  TShortCut ShortCut() const { return FShortCut; }
  void SetShortCut(TShortCut Value) { FShortCut = Value; }
  int32_t ImageIndex() const { return FImageIndex; }
  void SetImageIndex(int32_t Value) { FImageIndex = Value; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value) { FEnabled = Value; }
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value) { FVisible = Value; }
  bool Checked() const { return FChecked; }
  void SetChecked(bool Value) { FChecked = Value; }
  std::string Hint;
  // Whether the caption is "-".
  bool IsLine() const { return FCaption == "-"; }

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TMenuItem* Items(int32_t Index) const { return FItems[static_cast<size_t>(Index)]; }
  void Add(TMenuItem* Item);
  void Insert(int32_t Index, TMenuItem* Item);
  void Remove(TMenuItem* Item);
  void Delete(int32_t Index);
  int32_t IndexOf(const TMenuItem* Item) const;
  // Removes and frees every child item.
  void Clear();
  TMenuItem* Parent() const { return FParent; }
  // The menu the item belongs to, or null.
  TMenu* GetParentMenu() const;
  // The item with this short-cut among this item's descendants (visible and enabled), or null.
  TMenuItem* FindShortCut(TShortCut Value);

  // Fires OnClick when the item is enabled.
  virtual void Click();
  TNotifyEvent OnClick;

 private:
  friend class TMenu;
  std::string FCaption;
  TShortCut FShortCut = scNone;
  int32_t FImageIndex = -1;
  bool FEnabled = true;
  bool FVisible = true;
  bool FChecked = false;
  std::vector<TMenuItem*> FItems;
  TMenuItem* FParent = nullptr;
  TMenu* FMenu = nullptr;
};

class TMenu : public TComponent {
 public:
  explicit TMenu(TComponent* AOwner);
  ~TMenu() override;
  const char* ClassName() const override { return "TMenu"; }
  // The root item; its children are the menu's entries.
  TMenuItem* Items() const { return FItems; }
  TCustomImageList* Images() const { return FImages; }
  void SetImages(TCustomImageList* Value);
  // Clicks the visible, enabled item whose short-cut matches the key; true when one did.
  bool IsShortCut(TWMKey& Message);

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TMenuItem* FItems;
  TCustomImageList* FImages = nullptr;
};

enum TPopupAlignment { paLeft, paRight, paCenter };

class TPopupMenu : public TMenu {
 public:
  explicit TPopupMenu(TComponent* AOwner);
  const char* ClassName() const override { return "TPopupMenu"; }
  TPopupAlignment Alignment = paLeft;
  bool AutoPopup = true;
  // The control the menu was opened for.
  TComponent* PopupComponent() const { return FPopupComponent; }
  void SetPopupComponent(TComponent* Value);
  // Opens the menu at screen point (X, Y): its left edge there (paLeft), its right edge (paRight)
  // or its middle (paCenter), kept on the monitor. Returns when an item was chosen or the menu
  // was dismissed; the chosen item's click runs right after, from the event loop.
  virtual void Popup(int32_t X, int32_t Y);
  TNotifyEvent OnPopup;
  // The menu window while the menu is open, else null.
  TCustomForm* Window() const { return FWindow; }
  // Chooses an item of the open menu (as a click on it would); false when it is not open.
  bool ChooseItem(TMenuItem* Item);

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TComponent* FPopupComponent = nullptr;
  TCustomForm* FWindow = nullptr;
};

}  // namespace varnix
