// Controls of the UI library: the visual component base (TControl), windowless controls
// (TGraphicControl), controls with a window of their own (TWinControl), and windowed controls that
// paint on a canvas (TCustomControl).
//
// Geometry: Left/Top/Width/Height are in the parent's client coordinates; a control's client
// coordinates start at the top-left of its client area. Align places a control along an edge of
// its parent (top, bottom, left, right) or over the rest (client); anchors keep a distance to the
// parent's right or bottom edge when the parent resizes; Constraints bound the size.
//
// Painting: controls never draw outside a paint pass. Invalidate marks the control's area of its
// form; the application repaints the form when it is idle (or Update/Repaint does it at once),
// painting each windowed control's background (WM_ERASEBKGND), its content (WM_PAINT, whose WParam
// is the device context), its windowless children, then its windowed children.
//
// Messages: Perform sends a TMessage to WndProc; Broadcast sends one to every child of a windowed
// control. Handlers (std::function) may free their sender; dispatch code checks a TComponentRef
// before touching the control again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/Classes.h"
#include "platform/vcl/Graphics.h"

namespace varnix {

class TWinControl;
class TCustomForm;
class TPopupMenu;

// Messages the library sends; values above CM_BASE are the library's own.
inline constexpr uint32_t WM_SIZE = 0x0005;
inline constexpr uint32_t WM_SETFOCUS = 0x0007;
inline constexpr uint32_t WM_KILLFOCUS = 0x0008;
inline constexpr uint32_t WM_PAINT = 0x000F;
inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_ERASEBKGND = 0x0014;
inline constexpr uint32_t WM_SETICON = 0x0080;
inline constexpr uint32_t WM_KEYDOWN = 0x0100;
inline constexpr uint32_t WM_KEYUP = 0x0101;
inline constexpr uint32_t WM_HSCROLL = 0x0114;
inline constexpr uint32_t WM_VSCROLL = 0x0115;
inline constexpr uint32_t WM_MOUSEWHEEL = 0x020A;
inline constexpr uint32_t WM_USER = 0x0400;
inline constexpr uint32_t CM_BASE = 0xB000;
inline constexpr uint32_t CM_ACTIVATE = CM_BASE + 0;
inline constexpr uint32_t CM_DEACTIVATE = CM_BASE + 1;
inline constexpr uint32_t CM_ENABLEDCHANGED = CM_BASE + 11;
inline constexpr uint32_t CM_COLORCHANGED = CM_BASE + 12;
inline constexpr uint32_t CM_FONTCHANGED = CM_BASE + 13;
inline constexpr uint32_t CM_CURSORCHANGED = CM_BASE + 14;
inline constexpr uint32_t CM_PARENTFONTCHANGED = CM_BASE + 15;
inline constexpr uint32_t CM_PARENTCOLORCHANGED = CM_BASE + 16;
inline constexpr uint32_t CM_HITTEST = CM_BASE + 17;
inline constexpr uint32_t CM_VISIBLECHANGED = CM_BASE + 18;
inline constexpr uint32_t CM_TEXTCHANGED = CM_BASE + 19;
inline constexpr uint32_t CM_MOUSEENTER = CM_BASE + 20;
inline constexpr uint32_t CM_MOUSELEAVE = CM_BASE + 21;
inline constexpr uint32_t CM_BUTTONPRESSED = CM_BASE + 24;
inline constexpr uint32_t CM_SHOWINGCHANGED = CM_BASE + 25;
inline constexpr uint32_t CM_ENTER = CM_BASE + 26;
inline constexpr uint32_t CM_EXIT = CM_BASE + 27;
inline constexpr uint32_t CM_DIALOGKEY = CM_BASE + 31;
inline constexpr uint32_t CM_CANCELMODE = CM_BASE + 37;
inline constexpr uint32_t CM_PARENTSHOWHINTCHANGED = CM_BASE + 43;

// WM_SETICON selectors.
inline constexpr intptr_t ICON_SMALL = 0;
inline constexpr intptr_t ICON_BIG = 1;

// Scroll-message codes (the WParam of WM_HSCROLL and WM_VSCROLL).
enum TScrollCode { SB_LINEUP, SB_LINEDOWN, SB_PAGEUP, SB_PAGEDOWN, SB_THUMBPOSITION, SB_THUMBTRACK, SB_TOP, SB_BOTTOM, SB_ENDSCROLL };

// Window styles the library interprets.
inline constexpr uint32_t WS_EX_DLGMODALFRAME = 0x00000001;
inline constexpr uint32_t WS_EX_WINDOWEDGE = 0x00000100;
inline constexpr uint32_t WS_EX_CLIENTEDGE = 0x00000200;
inline constexpr uint32_t CS_VREDRAW = 0x0001;
inline constexpr uint32_t CS_HREDRAW = 0x0002;

// Virtual key codes.
inline constexpr uint16_t VK_LBUTTON = 0x01, VK_RBUTTON = 0x02, VK_BACK = 0x08, VK_TAB = 0x09,
                          VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12,
                          VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23,
                          VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28,
                          VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D, VK_F1 = 0x70,
                          VK_F12 = 0x7B, VK_OEM_PLUS = 0xBB, VK_OEM_COMMA = 0xBC, VK_OEM_MINUS = 0xBD,
                          VK_OEM_PERIOD = 0xBE;

// Cursors: indices into the screen's cursor table. Positive numbers are the application's own.
using TCursor = int16_t;
inline constexpr TCursor crDefault = 0, crNone = -1, crArrow = -2, crCross = -3, crIBeam = -4,
                         crSizeNESW = -6, crSizeNS = -7, crSizeNWSE = -8, crSizeWE = -9, crHourGlass = -11,
                         crNo = -18, crHandPoint = -21, crSizeAll = -22;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = TSet<TAnchorKind>;
enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TControlStyleFlag { csAcceptsControls, csCaptureMouse, csClickEvents, csSetCaption, csOpaque, csDoubleClicks };
using TControlStyle = TSet<TControlStyleFlag>;

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y)>;
using TMouseMoveEvent = std::function<void(TObject* Sender, TShiftState Shift, int32_t X, int32_t Y)>;
using TKeyEvent = std::function<void(TObject* Sender, uint16_t& Key, TShiftState Shift)>;
using TKeyPressEvent = std::function<void(TObject* Sender, char& Key)>;
using TMouseWheelEvent = std::function<void(TObject* Sender, TShiftState Shift, int32_t WheelDelta, TPoint MousePos, bool& Handled)>;

// Size limits of a control; 0 means no limit.
class TSizeConstraints : public TObject {
 public:
  int32_t MinWidth() const { return FMinWidth; }
  int32_t MinHeight() const { return FMinHeight; }
  int32_t MaxWidth() const { return FMaxWidth; }
  int32_t MaxHeight() const { return FMaxHeight; }
  void SetMinWidth(int32_t Value);
  void SetMinHeight(int32_t Value);
  void SetMaxWidth(int32_t Value);
  void SetMaxHeight(int32_t Value);
  TNotifyEvent OnChange;

 private:
  void Changed();
  int32_t FMinWidth = 0, FMinHeight = 0, FMaxWidth = 0, FMaxHeight = 0;
};

// The parameters a windowed control's window is made with; CreateParams may change them.
struct TCreateParams {
  std::string Caption;
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  TWinControl* WndParent = nullptr;
  struct {
    uint32_t style = CS_HREDRAW | CS_VREDRAW;
  } WindowClass;
};

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;
  void BeforeDestruction() override;
  const char* ClassName() const override { return "TControl"; }

  TWinControl* Parent() const { return FParent; }
  virtual void SetParent(TWinControl* AParent);

  int32_t Left() const { return FLeft; }
  int32_t Top() const { return FTop; }
  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  void SetLeft(int32_t Value) { SetBounds(Value, FTop, FWidth, FHeight); }
  void SetTop(int32_t Value) { SetBounds(FLeft, Value, FWidth, FHeight); }
  void SetWidth(int32_t Value) { SetBounds(FLeft, FTop, Value, FHeight); }
  void SetHeight(int32_t Value) { SetBounds(FLeft, FTop, FWidth, Value); }
  // Moves and sizes the control (the size kept within Constraints), realigns its parent and, when
  // the size changed, its own children, and calls Resize.
  virtual void SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight);
  TRect BoundsRect() const { return Bounds(FLeft, FTop, FWidth, FHeight); }
  void SetBoundsRect(const TRect& R) { SetBounds(R.Left, R.Top, R.Width(), R.Height()); }

  // The client area in client coordinates: (0, 0, ClientWidth, ClientHeight).
  virtual TRect ClientRect() const;
  int32_t ClientWidth() const { return ClientRect().Width(); }
  int32_t ClientHeight() const { return ClientRect().Height(); }
  void SetClientWidth(int32_t Value);
  void SetClientHeight(int32_t Value);
  // Where the client area starts inside the control's bounds.
  virtual TPoint ClientOffset() const { return {0, 0}; }
  // Screen position of the client area's top-left corner.
  TPoint ClientOrigin() const;
  TPoint ClientToScreen(TPoint P) const;
  TPoint ScreenToClient(TPoint P) const;
  // The position of a client point in the client coordinates of the form.
  TPoint ClientToForm(TPoint P) const;

  TAlign Align() const { return FAlign; }
  void SetAlign(TAlign Value);
  TAnchors Anchors() const { return FAnchors; }
  void SetAnchors(TAnchors Value);
  TSizeConstraints& Constraints() { return FConstraints; }

  bool Visible() const { return FVisible; }
  virtual void SetVisible(bool Value);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible here and in every parent up to a shown form.
  virtual bool Showing() const;
  bool Enabled() const { return FEnabled; }
  virtual void SetEnabled(bool Value);

  // Caption and Text are the same string.
  const std::string& Caption() const { return FText; }
  void SetCaption(const std::string& Value) { SetText(Value); }
  virtual const std::string& Text() const { return FText; }
  virtual void SetText(const std::string& Value);

  TFont& Font() { return FFont; }
  bool ParentFont() const { return FParentFont; }
  void SetParentFont(bool Value);
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value);

  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& Value) { FHint = Value; }
  // With ParentShowHint the parent's ShowHint applies; setting ShowHint turns ParentShowHint off.
  bool ShowHint() const;
  void SetShowHint(bool Value);
  bool ParentShowHint() const { return FParentShowHint; }
  void SetParentShowHint(bool Value) { FParentShowHint = Value; }
  TPopupMenu* PopupMenu() const { return FPopupMenu; }
  void SetPopupMenu(TPopupMenu* Value);

  TControlStyle ControlStyle;

  // Sends a message to WndProc and returns its Result.
  intptr_t Perform(uint32_t Msg, intptr_t WParam = 0, intptr_t LParam = 0);
  virtual void WndProc(TMessage& Message);

  // Marks the whole control for repainting.
  virtual void Invalidate();
  // Marks R (client coordinates) for repainting.
  void InvalidateRect(const TRect& R);
  // Paints what is marked now.
  void Update();
  void Repaint() { Invalidate(); Update(); }
  void Refresh() { Repaint(); }

  void BringToFront();
  void SendToBack();

  // The form this control lies on (itself for a form), or null.
  TCustomForm* ParentForm() const;

  // Mouse and key entry points used by the application's dispatch.
  virtual void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseMove(TShiftState Shift, int32_t X, int32_t Y);
  virtual void MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y);
  virtual bool MouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos);
  virtual void Click();
  virtual void DblClick();
  virtual void MouseEnter() {}
  virtual void MouseLeave() {}
  bool MouseInControl() const { return FMouseInControl; }

  TNotifyEvent OnClick;
  TNotifyEvent OnDblClick;
  TMouseEvent OnMouseDown;
  TMouseMoveEvent OnMouseMove;
  TMouseEvent OnMouseUp;
  TMouseWheelEvent OnMouseWheel;
  TNotifyEvent OnResize;
  TNotifyEvent OnMouseEnter;
  TNotifyEvent OnMouseLeave;

  // Paints the control into DC (device coordinates of the control's own top-left corner).
  virtual void PaintControl(HDC DC) { (void)DC; }
  // Whether (X, Y) in client coordinates belongs to the control for mouse input.
  virtual bool HitTest(int32_t X, int32_t Y) const;

 protected:
  friend class TWinControl;
  friend class TApplication;
  virtual void Resize();
  virtual void TextChanged() { Invalidate(); }
  virtual void FontChanged();
  virtual void ColorChanged() { Invalidate(); }
  virtual void VisibleChanged() {}
  virtual void EnabledChanged() { Invalidate(); }
  virtual bool CanResize(int32_t& NewWidth, int32_t& NewHeight);
  void ApplyConstraints(int32_t& NewWidth, int32_t& NewHeight) const;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void ParentFontChanged();
  void ParentColorChanged();
  // Remembers the current bounds as the base from which anchors keep their distances.
  void UpdateAnchorRules();
  void RequestAlign();

  TWinControl* FParent = nullptr;
  int32_t FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  bool FMouseInControl = false;

 private:
  friend class TCustomForm;
  TAlign FAlign = alNone;
  TAnchors FAnchors{akLeft, akTop};
  TRect FAnchorBase;       // bounds when last set from outside
  TSize FAnchorParentSize;  // parent's client size then
  bool FAnchorValid = false;
  TSizeConstraints FConstraints;
  bool FVisible = true;
  bool FEnabled = true;
  std::string FText;
  TFont FFont;
  bool FParentFont = true;
  TColor FColor = clBtnFace;
  bool FParentColor = false;
  TCursor FCursor = crDefault;
  std::string FHint;
  bool FShowHint = false;
  bool FParentShowHint = true;
  TPopupMenu* FPopupMenu = nullptr;
  bool FInFontChange = false;
};

// A canvas that paints on a control; the paint pass binds it to the control's device context.
class TControlCanvas : public TCanvas {
 public:
  TControl* Control = nullptr;
};

// A windowless control: painted by its parent onto the parent's device context.
class TGraphicControl : public TControl {
 public:
  explicit TGraphicControl(TComponent* AOwner);
  const char* ClassName() const override { return "TGraphicControl"; }
  TCanvas& Canvas() { return FCanvas; }
  void PaintControl(HDC DC) override;

 protected:
  virtual void Paint() {}

 private:
  TControlCanvas FCanvas;
};

class TWinControl : public TControl {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;
  const char* ClassName() const override { return "TWinControl"; }

  int32_t ControlCount() const { return static_cast<int32_t>(FControls.size()); }
  TControl* Controls(int32_t Index) const { return FControls[static_cast<size_t>(Index)]; }
  void InsertControl(TControl* AControl);
  void RemoveControl(TControl* AControl);
  bool ContainsControl(const TControl* AControl) const;
  // The topmost visible child at client point P (windowless and windowed), or null.
  TControl* ControlAtPos(TPoint P, bool AllowDisabled, bool AllowWinControls = true) const;

  // Sends Message to every child in turn until one sets a non-zero Result.
  void Broadcast(TMessage& Message);

  int32_t TabOrder() const;
  void SetTabOrder(int32_t Value);
  bool TabStop() const { return FTabStop; }
  void SetTabStop(bool Value) { FTabStop = Value; }
  // Visible and enabled here and in every parent.
  virtual bool CanFocus() const;
  bool Focused() const;
  // Makes this control the active control of its form. Raises EInvalidOperation when it cannot
  // take the focus (hidden or disabled).
  virtual void SetFocus();
  // The windowed children in tab order.
  std::vector<TWinControl*> TabList() const;

  // "Window exists": a windowed control gets its window when its form is shown (or through
  // HandleNeeded); CreateParams then CreateWnd run once, and the visible children follow.
  bool HandleAllocated() const { return FHandle != 0; }
  void HandleNeeded();
  intptr_t Handle();
  virtual void DestroyHandle();

  int32_t BorderWidth() const { return FBorderWidth; }
  void SetBorderWidth(int32_t Value);
  bool DoubleBuffered = false;

  TRect ClientRect() const override;
  TPoint ClientOffset() const override;
  bool Showing() const override;

  void DisableAlign() { ++FAlignLevel; }
  void EnableAlign();
  void Realign();

  virtual void KeyDown(uint16_t& Key, TShiftState Shift);
  virtual void KeyUp(uint16_t& Key, TShiftState Shift);
  virtual void KeyPress(char& Key);
  TKeyEvent OnKeyDown;
  TKeyEvent OnKeyUp;
  TKeyPressEvent OnKeyPress;
  TNotifyEvent OnEnter;
  TNotifyEvent OnExit;

  void WndProc(TMessage& Message) override;
  void PaintControl(HDC DC) override;
  // Paints this control's non-client area, background, content and children into DC (whose
  // origin is this control's top-left corner).
  virtual void PaintTree(HDC DC);

  // Whether the control takes keys for itself that the form would otherwise use (arrows, Return).
  virtual bool WantsKey(uint16_t Key) const { (void)Key; return false; }

 protected:
  friend class TControl;
  friend class TCustomForm;
  friend class TApplication;
  virtual void CreateParams(TCreateParams& Params);
  virtual void CreateWnd();
  virtual void CreateHandle();
  // Lays out the aligned and anchored children inside Rect (client coordinates).
  virtual void AlignControls(TControl* AControl, TRect& Rect);
  void Resize() override;
  void VisibleChanged() override;
  // Non-client frame (client edge, scroll bars) in coordinates of the control's bounds.
  virtual void PaintNonClient(HDC DC);
  virtual TRect NonClientInsets() const;
  // Default background erase: fills the client area with Color.
  virtual void EraseBackground(HDC DC);
  // The content of the client area; the base draws the windowless children only.
  virtual void PaintWindow(HDC DC) { (void)DC; }
  void PaintControls(HDC DC);
  virtual void DoEnter();
  virtual void DoExit();
  void ShowingChangedTree();

  std::vector<TControl*> FControls;
  TCreateParams FParams;
  bool FFullRedraw = true;

 private:
  intptr_t FHandle = 0;
  bool FTabStop = false;
  bool FShowingState = false;
  int32_t FBorderWidth = 0;
  int32_t FAlignLevel = 0;
  bool FAligning = false;
  std::vector<TWinControl*> FTabOrderList;
};

// A windowed control that paints itself on a canvas through Paint.
class TCustomControl : public TWinControl {
 public:
  explicit TCustomControl(TComponent* AOwner);
  const char* ClassName() const override { return "TCustomControl"; }
  TCanvas& Canvas() { return FCanvas; }
  TNotifyEvent OnPaint;

 protected:
  virtual void Paint();
  void PaintWindow(HDC DC) override;

 private:
  TControlCanvas FCanvas;
};

// The form a control lies on, or null.
TCustomForm* GetParentForm(const TControl* Control);
// The drag threshold in pixels (a movement this far from the press starts a drag).
inline constexpr int32_t DragThreshold = 5;
// A mouse button's shift-state flag.
TShiftStateFlag MouseButtonFlag(TMouseButton Button);

}  // namespace varnix
