// Forms, the application object and the screen.
//
// `Application` and `Screen` are created on first use, on the thread that first touches them,
// which becomes the main (UI) thread; FinalizeForms frees both. The back end (headless or SDL2
// windows) is chosen when the application is created:
//   VARNIX_UI=headless|window   the back end; without it: "window" when DISPLAY or WAYLAND_DISPLAY
//                               is set, else "headless". "window" falls back to headless, with a
//                               note on standard error, when no display can be opened.
//   VARNIX_UI_SCRIPT=FILE       an event script run by the modal loops (see EventScript.h).
//   VARNIX_UI_SCREENSHOT=FILE   a PNG of the active form written when the script ends and when a
//                               modal loop ends.
// Tests choose explicitly with Application->SetBackend, queue events with QueueEvent and run
// scripts with RunScript.
//
// Headless: no window; the screen is one virtual 1920 × 1080 monitor whose work area leaves out a
// 40-pixel bar at the bottom. Events come from the queue and the script; timers fire in real
// time. A modal loop whose queue is empty after the script has ended (or without a script)
// closes its form with Cancel and says so on standard error, so nothing waits forever.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/vcl/Controls.h"

namespace varnix {

class TCustomForm;
class TApplication;
class TScreen;
class TTimer;
class TEventScript;
class TBackend;

// Modal results.
using TModalResult = int32_t;
inline constexpr TModalResult mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6,
                              mrNo = 7, mrAll = 8, mrNoToAll = 9, mrYesToAll = 10, mrClose = 11;

// Message-box flags and answers.
inline constexpr int32_t MB_OK = 0x0, MB_OKCANCEL = 0x1, MB_ABORTRETRYIGNORE = 0x2, MB_YESNOCANCEL = 0x3,
                         MB_YESNO = 0x4, MB_RETRYCANCEL = 0x5, MB_ICONSTOP = 0x10, MB_ICONERROR = 0x10,
                         MB_ICONHAND = 0x10, MB_ICONQUESTION = 0x20, MB_ICONWARNING = 0x30,
                         MB_ICONEXCLAMATION = 0x30, MB_ICONINFORMATION = 0x40, MB_ICONASTERISK = 0x40;
inline constexpr int32_t IDOK = 1, IDCANCEL = 2, IDABORT = 3, IDRETRY = 4, IDIGNORE = 5, IDYES = 6, IDNO = 7;

enum TScrollBarKind { sbHorizontal, sbVertical };

class TScrollingWinControl;

// One scroll bar of a scrolling control. Range is the size of the content; the bar is shown
// when Visible and Range exceeds the client size. Position stays within 0 … Range − client size.
class TControlScrollBar : public TObject {
 public:
  TControlScrollBar(TScrollingWinControl* Control, TScrollBarKind Kind) : FControl(Control), FKind(Kind) {}
  TScrollBarKind Kind() const { return FKind; }
  int32_t Range() const { return FRange; }
  void SetRange(int32_t Value);
  int32_t Position() const { return FPosition; }
  void SetPosition(int32_t Value);
  bool Tracking() const { return FTracking; }
  void SetTracking(bool Value) { FTracking = Value; }
  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);
  // Thickness of the bar in pixels.
  int32_t Size() const { return FSize; }
  void SetSize(int32_t Value);
  int32_t Increment = 8;
  bool IsScrollBarVisible() const;
  // The largest position: Range − the client size, at least 0.
  int32_t MaxPosition() const;
  // Client size along the bar (what one page shows).
  int32_t PageSize() const;

 private:
  TScrollingWinControl* FControl;
  TScrollBarKind FKind;
  int32_t FRange = 0;
  int32_t FPosition = 0;
  bool FTracking = false;
  bool FVisible = true;
  int32_t FSize = 16;
};

// A windowed control with a horizontal and a vertical scroll bar in its non-client area. A user
// action on a bar (arrows, track, thumb drag) arrives as WM_HSCROLL / WM_VSCROLL (WParam: the
// TScrollCode, LParam: the thumb position), whose default handling moves the position.
class TScrollingWinControl : public TWinControl {
 public:
  explicit TScrollingWinControl(TComponent* AOwner);
  ~TScrollingWinControl() override;
  const char* ClassName() const override { return "TScrollingWinControl"; }
  TControlScrollBar& HorzScrollBar() { return *FHorz; }
  TControlScrollBar& VertScrollBar() { return *FVert; }
  bool AutoScroll = false;

  void WndProc(TMessage& Message) override;
  void MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) override;
  // The border insets without the scroll bars.
  TRect EdgeInsets() const { return TWinControl::NonClientInsets(); }
  // Scroll-bar areas in coordinates of the control's bounds (empty when hidden).
  TRect ScrollBarRect(TScrollBarKind Kind) const;
  // Mouse input in the non-client area (bounds coordinates); true when a scroll bar took it.
  bool NonClientMouse(int32_t Kind, TMouseButton Button, int32_t X, int32_t Y);

 protected:
  friend class TControlScrollBar;
  TRect NonClientInsets() const override;
  void PaintNonClient(HDC DC) override;
  void ScrollBarChanged();
  // Moves the windowed and windowless children by (DX, DY) when the position changes.
  virtual void ScrollBy(int32_t DX, int32_t DY);

 private:
  std::unique_ptr<TControlScrollBar> FHorz, FVert;
  int32_t FDragBar = -1;  // kind of the bar whose thumb is dragged, -1 none
  int32_t FDragOffset = 0;
};

enum TCloseAction { caNone, caHide, caFree, caMinimize };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition { poDesigned, poDefault, poDefaultPosOnly, poDefaultSizeOnly, poScreenCenter, poDesktopCenter, poMainFormCenter, poOwnerFormCenter };
enum TFormStateFlag { fsCreating, fsVisible, fsShowing, fsModal, fsActivated };
using TFormState = TSet<TFormStateFlag>;

// How a form is shown in a window placement.
enum TShowCommand { swHide, swShowNormal, swShowMaximized };

// The placement of a form's window: its normal (restored) bounds in screen coordinates and its
// show state.
struct TWindowPlacement {
  TRect NormalBounds;
  TShowCommand ShowCmd = swShowNormal;
};

// The keyboard message of a short-cut event: the key code and the modifiers held.
struct TWMKey {
  uint16_t CharCode = 0;
  TShiftState Shift;
  intptr_t Result = 0;
};
using TShortCutEvent = std::function<void(TWMKey& Msg, bool& Handled)>;
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;
using TCloseQueryEvent = std::function<void(TObject* Sender, bool& CanClose)>;

class TMonitor;

class TCustomForm : public TScrollingWinControl {
 public:
  explicit TCustomForm(TComponent* AOwner);
  ~TCustomForm() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;
  const char* ClassName() const override { return "TCustomForm"; }

  // Shows the form modally: a nested event loop that ends when ModalResult becomes non-zero (a
  // button with a modal result, a handler, Close) and OnCloseQuery/OnClose agree. Returns the
  // modal result; the form is hidden afterwards. Raises EInvalidOperation for a visible form.
  virtual TModalResult ShowModal();
  TModalResult ModalResult() const { return FModalResult; }
  void SetModalResult(TModalResult Value);
  // A modal form gets ModalResult mrCancel; another runs OnCloseQuery and OnClose and hides or
  // frees itself as the close action says.
  void Close();
  bool CloseQuery();
  void Release();

  TFormState FormState() const { return FFormState; }
  bool Active() const;
  bool KeyPreview = false;
  TFormBorderStyle BorderStyle = bsSizeable;
  TPosition Position = poDesigned;
  int32_t PixelsPerInch = 96;

  TWindowState WindowState() const { return FWindowState; }
  void SetWindowState(TWindowState Value);
  // The placement in screen coordinates; false when the form has no window placement to report
  // (never here: every form has one).
  bool GetWindowPlacement(TWindowPlacement& Placement) const;
  bool SetWindowPlacement(const TWindowPlacement& Placement);
  // The monitor that holds most of the form (the primary one when none does).
  TMonitor* Monitor() const;

  TWinControl* ActiveControl() const { return FActiveControl; }
  void SetActiveControl(TWinControl* Control);
  void FocusControl(TWinControl* Control);
  // Moves the focus to the next (or previous) tab stop.
  void SelectNext(bool GoForward);

  // The form's picture: its client area, repainted where invalid.
  TBitmap& PaintBuffer();
  // Repaints what is invalid into the form's picture and presents it.
  void PaintInvalidated();
  void InvalidateFormRect(const TRect& R);
  bool HasInvalidArea() const { return !FInvalid.IsEmpty(); }
  // Paints the whole form and writes it as a PNG. Raises EInvalidGraphic on write failure.
  void SaveScreenshot(const std::string& FileName);

  TNotifyEvent OnCreate;
  TNotifyEvent OnDestroy;
  TNotifyEvent OnActivate;
  TNotifyEvent OnDeactivate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;
  TShortCutEvent OnShortCut;

  void WndProc(TMessage& Message) override;
  bool Showing() const override;
  void SetVisible(bool Value) override;

  // Keyboard entry points used by the application.
  void DispatchKeyDown(uint16_t Key, TShiftState Shift);
  void DispatchKeyUp(uint16_t Key, TShiftState Shift);
  void DispatchChar(char Key);
  // Short-cut processing: the popup menus of the focused control and its parents, then
  // OnShortCut. True when handled.
  virtual bool IsShortCut(TWMKey& Message);

  // A popup window (menus, drop-down lists, hints): no activation, closes when the user clicks
  // outside it.
  bool IsPopup() const { return FIsPopup; }
  // Owner window of a popup or modal form (input to it is blocked while this form is modal).
  TCustomForm* ModalOwner = nullptr;

  // An event script's answer for a dialog shown as this form; false when the form is no dialog.
  virtual bool ScriptAnswer(bool Confirmed, const std::string& FileName) {
    (void)Confirmed;
    (void)FileName;
    return false;
  }

  // Internal links for the application and the back end.
  void BoundsChanged();
  void ControlRemoved(TControl* Control);
  void Activate();
  void Deactivate();
  void* BackendData = nullptr;

 protected:
  virtual void DoCreate();
  virtual void DoDestroy();
  virtual void DoClose(TCloseAction& Action);
  virtual void DoShow();
  virtual void DoHide();
  void CreateParams(TCreateParams& Params) override;
  TRect NonClientInsets() const override { return TScrollingWinControl::NonClientInsets(); }
  void TextChanged() override;
  bool FIsPopup = false;

 private:
  friend class TApplication;
  void CloseModal();

  TModalResult FModalResult = mrNone;
  TFormState FFormState;
  TWindowState FWindowState = wsNormal;
  TRect FNormalBounds;
  TWinControl* FActiveControl = nullptr;
  TBitmap FBuffer;
  TRect FInvalid;
  bool FPainting = false;
  bool FDestroyed = false;
};

class TForm : public TCustomForm {
 public:
  explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
  const char* ClassName() const override { return "TForm"; }
};

// A class reference to a form class: its name and a factory that creates a form with the given
// owner (a class's constructor runs its OnCreate, so creation may raise).
struct TFormClass {
  const char* ClassName = nullptr;
  TCustomForm* (*Create)(TComponent* Owner) = nullptr;
  explicit operator bool() const { return Create != nullptr; }
  friend bool operator==(const TFormClass& A, const TFormClass& B) { return A.Create == B.Create; }
};

// The class reference of form class T (T must be constructible from a TComponent* owner).
template <class T>
TFormClass FormClassOf(const char* Name) {
  return TFormClass{Name, [](TComponent* Owner) -> TCustomForm* { return NewObject<T>(Owner); }};
}

class TMonitor : public TObject {
 public:
  int32_t MonitorNum = 0;
  TRect BoundsRect;
  TRect WorkareaRect;
  bool Primary = false;
  int32_t Left() const { return BoundsRect.Left; }
  int32_t Top() const { return BoundsRect.Top; }
  int32_t Width() const { return BoundsRect.Width(); }
  int32_t Height() const { return BoundsRect.Height(); }
};

// A cursor image with its hot spot, made from a 32-bit bitmap.
struct TCursorImage {
  TBitmap Image;
  TPoint HotSpot;
  void* Native = nullptr;  // the back end's cursor, made on first use
};
using HCURSOR = TCursorImage*;

// Loads the cursor resource Name: Name.png with an optional Name.hotspot holding "X Y" (the
// centre when absent). Raises EResNotFound when the image does not exist.
HCURSOR LoadCursorFromResource(const std::string& Name);

class TScreen : public TComponent {
 public:
  explicit TScreen(TComponent* AOwner);
  ~TScreen() override;
  const char* ClassName() const override { return "TScreen"; }

  // The cursor table: the library's standard cursors (0 and below) and the application's own
  // numbered ones. Setting takes ownership of the image; an unknown index reads as crDefault's.
  HCURSOR Cursors(int32_t Index) const;
  void SetCursors(int32_t Index, HCURSOR Cursor);
  // The cursor shown everywhere while it is not crDefault (e.g. crHourGlass during a wait).
  TCursor Cursor() const { return FCursor; }
  void SetCursor(TCursor Value);

  int32_t MonitorCount() const { return static_cast<int32_t>(FMonitors.size()); }
  TMonitor* Monitors(int32_t Index) const { return FMonitors[static_cast<size_t>(Index)].get(); }
  TMonitor* PrimaryMonitor() const;
  TMonitor* MonitorFromPoint(TPoint P) const;
  TMonitor* MonitorFromRect(const TRect& R) const;
  TRect WorkAreaRect() const { return PrimaryMonitor()->WorkareaRect; }
  int32_t Width() const { return PrimaryMonitor()->Width(); }
  int32_t Height() const { return PrimaryMonitor()->Height(); }
  // Re-reads the monitors from the back end.
  void UpdateMonitors();

  int32_t FormCount() const { return static_cast<int32_t>(FForms.size()); }
  TCustomForm* Forms(int32_t Index) const { return FForms[static_cast<size_t>(Index)]; }
  TCustomForm* ActiveForm() const { return FActiveForm; }

 private:
  friend class TCustomForm;
  friend class TApplication;
  std::vector<std::unique_ptr<TMonitor>> FMonitors;
  std::vector<std::pair<int32_t, std::unique_ptr<TCursorImage>>> FCursors;
  std::vector<TCustomForm*> FForms;
  TCustomForm* FActiveForm = nullptr;
  TCursor FCursor = crDefault;
};

using TExceptionEvent = std::function<void(TObject* Sender, Exception& E)>;

enum TInputKind { ikMouseDown, ikMouseMove, ikMouseUp, ikMouseWheel, ikKeyDown, ikKeyUp, ikChar, ikWait, ikClose, ikCall };

// A synthetic or platform input event. Form null: the active form. Pos: client coordinates of
// Form.
struct TInputEvent {
  TInputKind Kind = ikMouseMove;
  TCustomForm* Form = nullptr;
  TPoint Pos;
  TMouseButton Button = mbLeft;
  TShiftState Shift;
  uint16_t Key = 0;
  char Char = 0;
  int32_t WheelDelta = 0;
  uint32_t WaitMs = 0;
  bool DoubleClick = false;
  std::function<void()> Call;  // ikCall: run on the UI thread
};

enum TBackendKind { bkHeadless, bkWindow };

class TApplication : public TComponent {
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;
  const char* ClassName() const override { return "TApplication"; }

  // The exception event: receives every Exception that escapes an event handler, a timer or a
  // paint while events are dispatched. Without it ShowException shows the standard error box.
  TExceptionEvent OnException;
  void HandleException(TObject* Sender, Exception& E);
  // The standard exception box: the message (with a full stop added) in an error box with OK.
  void ShowException(Exception& E);
  // A message box with Flags' buttons and icon (MB_...); returns the button chosen (ID...).
  int32_t MessageBox(const std::string& Text, const std::string& Caption, int32_t Flags = MB_OK);

  std::string Title = "Varnix";
  std::thread::id MainThreadID() const { return FMainThreadID; }
  bool IsMainThread() const { return std::this_thread::get_id() == FMainThreadID; }

  // Dispatches every pending event, fires due timers and repaints invalid forms. Runs no script
  // command.
  void ProcessMessages();
  // Waits for and dispatches one event (or script command, or timer); the modal loops call it.
  void HandleMessage();
  bool Terminated() const { return FTerminated; }
  void Terminate() { FTerminated = true; }

  // Hints.
  bool ShowHint = true;
  uint32_t HintPause = 500;
  uint32_t HintHidePause = 2500;
  void CancelHint();
  // The control whose hint is shown, or null.
  TControl* HintControl() const { return FHintShown ? FHintControl : nullptr; }
  const std::string& HintText() const { return FHintText; }

  // Back end. SetBackend replaces the current one (tests call it first); Backend() creates the
  // one the environment asks for on first use.
  void SetBackend(TBackendKind Kind);
  TBackendKind BackendKind();
  TBackend& Backend();

  // Synthetic events (both back ends): appended to the queue the loops take events from.
  void QueueEvent(const TInputEvent& Event);
  void QueueMouseClick(TControl* Control, int32_t X, int32_t Y, TShiftState Shift = {});
  void QueueKey(uint16_t Key, TShiftState Shift = {});
  void QueueWait(uint32_t Milliseconds);
  // Runs Fn on the UI thread from the loop, in queue order.
  void QueueCall(std::function<void()> Fn);
  size_t PendingEvents() const { return FQueue.size(); }
  void ClearEvents() { FQueue.clear(); }

  // Event scripts: RunScript starts a script from its text (Name names it in messages); the
  // modal loops run its commands. ScriptError is the message of a failed command, empty if none.
  void RunScript(const std::string& Text, const std::string& Name = "script");
  void RunScriptFile(const std::string& FileName);
  bool ScriptRunning() const;
  const std::string& ScriptError() const { return FScriptError; }
  std::string ScreenshotFile;

  // The pending answer of the next file dialog (set by the script): Cancel or a path.
  bool TakeDialogAnswer(bool& Confirmed, std::string& FileName);
  void SetDialogAnswer(bool Confirmed, const std::string& FileName);

  // Timers register themselves here.
  void RegisterTimer(TTimer* Timer);
  void UnregisterTimer(TTimer* Timer);
  // Fires due timers; returns milliseconds to the next one (UINT32_MAX when none).
  uint32_t FireTimers();

  // Mouse capture and the control under the pointer.
  TControl* CaptureControl() const { return FCapture; }
  void SetCaptureControl(TControl* Control) { FCapture = Control; }
  TControl* HoverControl() const { return FHover; }
  // The mouse position in screen coordinates (headless: the last synthetic position).
  TPoint MousePos() const;
  // Dispatches one input event now (the loops call it; tests may too).
  void DispatchEvent(const TInputEvent& Event);

  // The modal form the loops serve, innermost first.
  TCustomForm* ModalForm() const { return FModalStack.empty() ? nullptr : FModalStack.back(); }
  // The popup that takes input (menus, lists), or null.
  TCustomForm* PopupForm() const { return FPopupStack.empty() ? nullptr : FPopupStack.back(); }
  // Runs a nested loop for a popup until Done() is true or the popup is dismissed.
  void RunPopup(TCustomForm* Popup, const std::function<bool()>& Done);
  void ClosePopups();

  // Links from the controls.
  void ControlDestroying(TControl* Control);
  void CursorChanged(TControl* Control);
  void FormInvalidated(TCustomForm* Form);
  void FormDestroying(TCustomForm* Form);
  void UpdateCursor();

 private:
  friend class TCustomForm;
  friend class TEventScript;
  bool DispatchNext(bool AllowScript, bool AllowWait);
  void PaintForms();
  void DispatchMouse(const TInputEvent& E);
  void DispatchKey(const TInputEvent& E);
  void SetHover(TControl* Control, TPoint ScreenPos);
  void CheckHint();
  void IdleEndModal(TCustomForm* Form);
  void WriteScreenshot(TCustomForm* Form);
  void ScriptEnded();

  std::thread::id FMainThreadID;
  std::unique_ptr<TBackend> FBackend;
  std::deque<TInputEvent> FQueue;
  std::unique_ptr<TEventScript> FScript;
  std::string FScriptError;
  std::vector<TTimer*> FTimers;
  std::vector<TCustomForm*> FModalStack;
  std::vector<TCustomForm*> FPopupStack;
  TControl* FCapture = nullptr;
  TMouseButton FCaptureButton = mbLeft;
  TControl* FHover = nullptr;
  TControl* FPressed = nullptr;  // the control a left press started on (for Click)
  TPoint FMouseScreen;
  TShiftState FButtons;
  uint32_t FLastClickTime = 0;
  TPoint FLastClickPos;
  TControl* FLastClickControl = nullptr;
  TControl* FHintControl = nullptr;
  uint32_t FHintStart = 0;
  bool FHintShown = false;
  std::string FHintText;
  TCustomForm* FHintWindow = nullptr;
  bool FHasDialogAnswer = false;
  bool FDialogConfirmed = false;
  std::string FDialogFile;
  bool FTerminated = false;
  bool FInTimers = false;
  uint32_t FWaitUntil = 0;
  bool FWaiting = false;
  bool FNonClientCapture = false;
  std::string FScriptPendingFile;
};

// Access to the application and the screen, created on first use.
class TApplicationRef {
 public:
  TApplication* operator->() const { return Get(); }
  TApplication& operator*() const { return *Get(); }
  TApplication* Get() const;
  // Whether the application exists (does not create it).
  explicit operator bool() const;
};
class TScreenRef {
 public:
  TScreen* operator->() const { return Get(); }
  TScreen* Get() const;
  explicit operator bool() const;
};
inline TApplicationRef Application;
inline TScreenRef Screen;

// Frees the application (and every form it owns) and the screen.
void FinalizeForms();
// Whether the calling thread is the application's main thread.
bool IsMainThread();

}  // namespace varnix
