#include "platform/vcl/Forms.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "common/CommonClasses.h"
#include "common/CommonUtils.h"
#include "platform/vcl/Backend.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/EventScript.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/Themes.h"

namespace varnix {

namespace {

TApplication* GApplication = nullptr;
TScreen* GScreen = nullptr;

uint32_t NowMs() { return TIntervalTimer::GetTime(); }

bool QueryMousePos(TPoint& P) {
  if (!GApplication) return false;
  P = GApplication->MousePos();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Headless back end: one virtual monitor, no windows, no platform events.

class THeadlessBackend : public TBackend {
 public:
  TBackendKind Kind() const override { return bkHeadless; }
  std::vector<TMonitorInfo> Monitors() override { return {{Rect(0, 0, 1920, 1080), Rect(0, 0, 1920, 1040)}}; }
  bool PollEvent(TInputEvent&, uint32_t TimeoutMs) override {
    if (TimeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(TimeoutMs));
    return false;
  }
};

// A small popup that shows a hint text.
class THintWindow : public TCustomForm {
 public:
  explicit THintWindow(TComponent* AOwner) : TCustomForm(AOwner) {
    FIsPopup = true;
    BorderStyle = bsNone;
    SetColor(clInfoBk);
  }
  const char* ClassName() const override { return "THintWindow"; }

 protected:
  void PaintWindow(HDC DC) override {
    TCanvas C;
    C.SetHandle(DC);
    C.Brush().SetColor(clInfoBk);
    C.Pen().SetColor(clBlack);
    C.Rectangle(ClientRect());
    C.Font().Assign(Font());
    C.Font().SetColor(clInfoText);
    C.Brush().SetStyle(bsClear);
    C.TextOut(4, 2, Caption());
  }
};

}  // namespace

std::unique_ptr<TBackend> CreateHeadlessBackend() { return std::make_unique<THeadlessBackend>(); }

TApplication* TApplicationRef::Get() const {
  if (!GApplication) GApplication = new TApplication(nullptr);
  return GApplication;
}
TApplicationRef::operator bool() const { return GApplication != nullptr; }

TScreen* TScreenRef::Get() const {
  if (!GScreen) GScreen = new TScreen(nullptr);
  return GScreen;
}
TScreenRef::operator bool() const { return GScreen != nullptr; }

void FinalizeForms() {
  if (GApplication) {
    TApplication* A = GApplication;
    Free(A);
    GApplication = nullptr;
  }
  if (GScreen) {
    TScreen* S = GScreen;
    GScreen = nullptr;
    Free(S);
  }
  SetMousePosQuery(nullptr);
}

bool IsMainThread() { return Application->IsMainThread(); }

// ---------------------------------------------------------------------------------------------
// Cursor resources

HCURSOR LoadCursorFromResource(const std::string& Name) {
  auto C = std::make_unique<TCursorImage>();
  LoadBitmapResource(C->Image, Name);
  C->HotSpot = {C->Image.Width() / 2, C->Image.Height() / 2};
  std::ifstream Hot(ResourcePath(Name + ".hotspot"));
  int32_t X, Y;
  if (Hot >> X >> Y) C->HotSpot = {std::clamp(X, 0, std::max(0, C->Image.Width() - 1)), std::clamp(Y, 0, std::max(0, C->Image.Height() - 1))};
  return C.release();
}

// ---------------------------------------------------------------------------------------------
// TControlScrollBar

void TControlScrollBar::SetRange(int32_t Value) {
  Value = std::max(0, Value);
  if (FRange == Value) return;
  FRange = Value;
  FControl->ScrollBarChanged();
}

void TControlScrollBar::SetPosition(int32_t Value) {
  Value = std::clamp(Value, 0, MaxPosition());
  if (FPosition == Value) return;
  const int32_t Delta = FPosition - Value;
  FPosition = Value;
  if (FKind == sbHorizontal)
    FControl->ScrollBy(Delta, 0);
  else
    FControl->ScrollBy(0, Delta);
  FControl->Invalidate();
}

void TControlScrollBar::SetVisible(bool Value) {
  if (FVisible == Value) return;
  FVisible = Value;
  FControl->ScrollBarChanged();
}

void TControlScrollBar::SetSize(int32_t Value) {
  Value = std::max(1, Value);
  if (FSize == Value) return;
  FSize = Value;
  FControl->ScrollBarChanged();
}

namespace {
// Which bars a scrolling control shows: each depends on the space the other leaves.
void BarVisibility(const TScrollingWinControl& C, int32_t W0, int32_t H0, bool& H, bool& V) {
  auto& S = const_cast<TScrollingWinControl&>(C);
  TControlScrollBar& HB = S.HorzScrollBar();
  TControlScrollBar& VB = S.VertScrollBar();
  V = VB.Visible() && VB.Range() > H0;
  H = HB.Visible() && HB.Range() > W0 - (V ? VB.Size() : 0);
  if (H && !V) V = VB.Visible() && VB.Range() > H0 - HB.Size();
}
}  // namespace

bool TControlScrollBar::IsScrollBarVisible() const {
  const TRect E = FControl->EdgeInsets();
  bool H, V;
  BarVisibility(*FControl, FControl->Width() - E.Left - E.Right, FControl->Height() - E.Top - E.Bottom, H, V);
  return FKind == sbHorizontal ? H : V;
}

int32_t TControlScrollBar::PageSize() const {
  return FKind == sbHorizontal ? FControl->ClientWidth() : FControl->ClientHeight();
}

int32_t TControlScrollBar::MaxPosition() const { return std::max(0, FRange - PageSize()); }

// ---------------------------------------------------------------------------------------------
// TScrollingWinControl

TScrollingWinControl::TScrollingWinControl(TComponent* AOwner)
    : TWinControl(AOwner),
      FHorz(std::make_unique<TControlScrollBar>(this, sbHorizontal)),
      FVert(std::make_unique<TControlScrollBar>(this, sbVertical)) {}

TScrollingWinControl::~TScrollingWinControl() = default;

TRect TScrollingWinControl::NonClientInsets() const {
  TRect E = TWinControl::NonClientInsets();
  bool H, V;
  BarVisibility(*this, Width() - E.Left - E.Right, Height() - E.Top - E.Bottom, H, V);
  if (V) E.Right += FVert->Size();
  if (H) E.Bottom += FHorz->Size();
  return E;
}

void TScrollingWinControl::ScrollBarChanged() {
  // A change of range or visibility changes the client area: keep the positions valid.
  for (TControlScrollBar* B : {FHorz.get(), FVert.get()})
    if (B->Position() > B->MaxPosition()) B->SetPosition(B->MaxPosition());
  Realign();
  Invalidate();
}

void TScrollingWinControl::ScrollBy(int32_t DX, int32_t DY) {
  DisableAlign();
  for (TControl* C : FControls) C->SetBounds(C->Left() + DX, C->Top() + DY, C->Width(), C->Height());
  EnableAlign();
}

TRect TScrollingWinControl::ScrollBarRect(TScrollBarKind Kind) const {
  const TRect E = TWinControl::NonClientInsets();
  bool H, V;
  BarVisibility(*this, Width() - E.Left - E.Right, Height() - E.Top - E.Bottom, H, V);
  if (Kind == sbVertical) {
    if (!V) return TRect{};
    return Rect(Width() - E.Right - FVert->Size(), E.Top, Width() - E.Right, Height() - E.Bottom - (H ? FHorz->Size() : 0));
  }
  if (!H) return TRect{};
  return Rect(E.Left, Height() - E.Bottom - FHorz->Size(), Width() - E.Right - (V ? FVert->Size() : 0), Height() - E.Bottom);
}

namespace {
// Thumb placement along a bar of length Len (arrows of Size at both ends).
void ThumbSpan(const TControlScrollBar& B, int32_t Len, int32_t& Start, int32_t& Length) {
  const int32_t Track = std::max(0, Len - 2 * B.Size());
  const int32_t Page = std::max(1, B.PageSize());
  Length = B.Range() > 0 ? std::clamp(static_cast<int32_t>(int64_t(Track) * Page / B.Range()), std::min(Track, 8), Track) : Track;
  const int32_t MaxPos = B.MaxPosition();
  Start = B.Size() + (MaxPos > 0 ? static_cast<int32_t>(int64_t(Track - Length) * B.Position() / MaxPos) : 0);
}
}  // namespace

void TScrollingWinControl::PaintNonClient(HDC DC) {
  TWinControl::PaintNonClient(DC);
  TCanvas C;
  C.SetHandle(DC);
  for (TScrollBarKind K : {sbHorizontal, sbVertical}) {
    const TRect R = ScrollBarRect(K);
    if (R.IsEmpty()) continue;
    TControlScrollBar& B = K == sbHorizontal ? *FHorz : *FVert;
    int32_t Start, Length;
    ThumbSpan(B, K == sbHorizontal ? R.Width() : R.Height(), Start, Length);
    ThemeServices()->DrawScrollBar(C, R, K == sbVertical, Start, Length, B.Size());
  }
  const TRect HR = ScrollBarRect(sbHorizontal), VR = ScrollBarRect(sbVertical);
  if (!HR.IsEmpty() && !VR.IsEmpty()) {
    C.Brush().SetColor(clBtnFace);
    C.FillRect(Rect(VR.Left, HR.Top, VR.Right, HR.Bottom));
  }
}

bool TScrollingWinControl::NonClientMouse(int32_t Kind, TMouseButton Button, int32_t X, int32_t Y) {
  if (Kind == 0) {
    if (Button != mbLeft) return false;
    for (TScrollBarKind K : {sbHorizontal, sbVertical}) {
      const TRect R = ScrollBarRect(K);
      if (!R.Contains({X, Y})) continue;
      TControlScrollBar& B = K == sbHorizontal ? *FHorz : *FVert;
      const int32_t Along = K == sbHorizontal ? X - R.Left : Y - R.Top;
      const int32_t Len = K == sbHorizontal ? R.Width() : R.Height();
      int32_t Start, Length;
      ThumbSpan(B, Len, Start, Length);
      const uint32_t Msg = K == sbHorizontal ? WM_HSCROLL : WM_VSCROLL;
      if (Along < B.Size())
        Perform(Msg, SB_LINEUP);
      else if (Along >= Len - B.Size())
        Perform(Msg, SB_LINEDOWN);
      else if (Along < Start)
        Perform(Msg, SB_PAGEUP);
      else if (Along >= Start + Length)
        Perform(Msg, SB_PAGEDOWN);
      else {
        FDragBar = K;
        FDragOffset = Along - Start;
      }
      return true;
    }
    return false;
  }
  if (FDragBar < 0) return Kind == 2 ? false : false;
  const TScrollBarKind K = static_cast<TScrollBarKind>(FDragBar);
  const TRect R = ScrollBarRect(K);
  TControlScrollBar& B = K == sbHorizontal ? *FHorz : *FVert;
  const int32_t Along = K == sbHorizontal ? X - R.Left : Y - R.Top;
  const int32_t Len = K == sbHorizontal ? R.Width() : R.Height();
  int32_t Start, Length;
  ThumbSpan(B, Len, Start, Length);
  const int32_t Track = std::max(1, Len - 2 * B.Size() - Length);
  const int32_t Pos = static_cast<int32_t>(int64_t(Along - FDragOffset - B.Size()) * B.MaxPosition() / Track);
  const uint32_t Msg = K == sbHorizontal ? WM_HSCROLL : WM_VSCROLL;
  if (Kind == 1) {
    Perform(Msg, SB_THUMBTRACK, std::clamp(Pos, 0, B.MaxPosition()));
  } else {
    Perform(Msg, SB_THUMBPOSITION, std::clamp(Pos, 0, B.MaxPosition()));
    Perform(Msg, SB_ENDSCROLL);
    FDragBar = -1;
  }
  return true;
}

void TScrollingWinControl::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  TWinControl::MouseDown(Button, Shift, X, Y);
}

void TScrollingWinControl::WndProc(TMessage& Message) {
  if (Message.Msg == WM_HSCROLL || Message.Msg == WM_VSCROLL) {
    TControlScrollBar& B = Message.Msg == WM_HSCROLL ? *FHorz : *FVert;
    const int32_t Page = std::max(1, B.PageSize());
    switch (static_cast<TScrollCode>(Message.WParam)) {
      case SB_LINEUP: B.SetPosition(B.Position() - B.Increment); break;
      case SB_LINEDOWN: B.SetPosition(B.Position() + B.Increment); break;
      case SB_PAGEUP: B.SetPosition(B.Position() - Page); break;
      case SB_PAGEDOWN: B.SetPosition(B.Position() + Page); break;
      case SB_THUMBTRACK:
        if (B.Tracking()) B.SetPosition(static_cast<int32_t>(Message.LParam));
        break;
      case SB_THUMBPOSITION: B.SetPosition(static_cast<int32_t>(Message.LParam)); break;
      case SB_TOP: B.SetPosition(0); break;
      case SB_BOTTOM: B.SetPosition(B.MaxPosition()); break;
      default: break;
    }
    Message.Result = 0;
    return;
  }
  TWinControl::WndProc(Message);
}

// ---------------------------------------------------------------------------------------------
// TCustomForm

TCustomForm::TCustomForm(TComponent* AOwner) : TScrollingWinControl(AOwner) {
  FFormState.Include(fsCreating);
  TControl::SetVisible(false);
  SetParentFont(false);
  SetColor(clBtnFace);
  SetBounds(0, 0, 320, 240);
  Screen->FForms.push_back(this);
  HorzScrollBar().SetVisible(false);
  VertScrollBar().SetVisible(false);
}

void TCustomForm::AfterConstruction() {
  TScrollingWinControl::AfterConstruction();
  FFormState.Exclude(fsCreating);
  DoCreate();
}

void TCustomForm::BeforeDestruction() {
  if (!Destroying() && !FDestroyed) {
    FDestroyed = true;
    if (Visible()) {
      try {
        SetVisible(false);
      } catch (...) {
      }
    }
    try {
      DoDestroy();
    } catch (Exception& E) {
      if (Application) Application->HandleException(this, E);
    }
    if (Application) Application->FormDestroying(this);
    if (Screen) {
      auto& L = Screen->FForms;
      L.erase(std::remove(L.begin(), L.end(), this), L.end());
      if (Screen->FActiveForm == this) Screen->FActiveForm = nullptr;
    }
  }
  TScrollingWinControl::BeforeDestruction();
}

TCustomForm::~TCustomForm() {
  if (!FDestroyed) {
    FDestroyed = true;
    if (Application) Application->FormDestroying(this);
    if (Screen) {
      auto& L = Screen->FForms;
      L.erase(std::remove(L.begin(), L.end(), this), L.end());
      if (Screen->FActiveForm == this) Screen->FActiveForm = nullptr;
    }
  }
}

void TCustomForm::DoCreate() {
  if (auto H = OnCreate) H(this);
}
void TCustomForm::DoDestroy() {
  if (auto H = OnDestroy) H(this);
}
void TCustomForm::DoClose(TCloseAction& Action) {
  if (auto H = OnClose) H(this, Action);
}
void TCustomForm::DoShow() {
  if (auto H = OnShow) H(this);
}
void TCustomForm::DoHide() {
  if (auto H = OnHide) H(this);
}

void TCustomForm::CreateParams(TCreateParams& Params) {
  TScrollingWinControl::CreateParams(Params);
  Params.WndParent = nullptr;
}

void TCustomForm::TextChanged() {
  TScrollingWinControl::TextChanged();
  if (Application && Visible()) Application->Backend().FormCaptionChanged(this);
}

bool TCustomForm::Showing() const { return Visible(); }

bool TCustomForm::Active() const { return Screen->ActiveForm() == this; }

void TCustomForm::SetVisible(bool Value) {
  if (Visible() == Value) return;
  if (Value) {
    if (Position == poScreenCenter || Position == poDesktopCenter || Position == poMainFormCenter ||
        Position == poOwnerFormCenter) {
      const TRect W = Monitor()->WorkareaRect;
      SetBounds((W.Left + W.Right - Width()) / 2, (W.Top + W.Bottom - Height()) / 2, Width(), Height());
    }
    HandleNeeded();
    FFormState.Include(fsVisible);
    TScrollingWinControl::SetVisible(true);
    Application->Backend().FormShown(this);
    InvalidateFormRect(Rect(0, 0, Width(), Height()));
    DoShow();
    if (!FIsPopup) Activate();
  } else {
    DoHide();
    FFormState.Exclude(fsVisible);
    TScrollingWinControl::SetVisible(false);
    if (Application) Application->Backend().FormHidden(this);
    if (Screen && Screen->FActiveForm == this) {
      Deactivate();
      Screen->FActiveForm = nullptr;
      // The most recent other visible form becomes active.
      for (auto It = Screen->FForms.rbegin(); It != Screen->FForms.rend(); ++It)
        if (*It != this && (*It)->Visible() && !(*It)->IsPopup()) {
          (*It)->Activate();
          break;
        }
    }
  }
}

void TCustomForm::Activate() {
  if (Screen->FActiveForm == this) return;
  if (TCustomForm* Old = Screen->FActiveForm) Old->Deactivate();
  Screen->FActiveForm = this;
  FFormState.Include(fsActivated);
  if (!FActiveControl) {
    for (TWinControl* C : TabList())
      if (C->TabStop() && C->CanFocus()) {
        SetActiveControl(C);
        break;
      }
  }
  Perform(CM_ACTIVATE);
  if (auto H = OnActivate) H(this);
}

void TCustomForm::Deactivate() {
  Perform(CM_DEACTIVATE);
  if (auto H = OnDeactivate) H(this);
}

void TCustomForm::SetModalResult(TModalResult Value) { FModalResult = Value; }

bool TCustomForm::CloseQuery() {
  bool CanClose = true;
  if (auto H = OnCloseQuery) H(this, CanClose);
  return CanClose;
}

void TCustomForm::CloseModal() {
  try {
    TCloseAction Action = caNone;
    if (CloseQuery()) {
      Action = caHide;
      DoClose(Action);
    }
    if (Action == caNone) FModalResult = mrNone;
  } catch (Exception& E) {
    FModalResult = mrNone;
    Application->HandleException(this, E);
  }
}

void TCustomForm::Close() {
  if (FFormState.Contains(fsModal)) {
    FModalResult = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction Action = caHide;
  DoClose(Action);
  if (Action == caHide || Action == caMinimize)
    Hide();
  else if (Action == caFree)
    Release();
}

void TCustomForm::Release() {
  TComponentRef Self(this);
  Application->QueueCall([this, Self] {
    if (Self) Free(this);
  });
}

TModalResult TCustomForm::ShowModal() {
  if (Visible() || FFormState.Contains(fsModal)) throw EInvalidOperation("Cannot make a visible window modal");
  TApplication& App = *Application;
  App.CancelHint();
  App.ClosePopups();
  App.SetCaptureControl(nullptr);
  if (!ModalOwner && Screen->ActiveForm() != this) ModalOwner = Screen->ActiveForm();
  FFormState.Include(fsModal);
  FModalResult = mrNone;
  TComponentRef Self(this);
  App.FModalStack.push_back(this);
  struct TPop {
    TApplication& A;
    TCustomForm* F;
    ~TPop() {
      auto It = std::find(A.FModalStack.begin(), A.FModalStack.end(), F);
      if (It != A.FModalStack.end()) A.FModalStack.erase(It);
    }
  } Pop{App, this};
  Show();
  int32_t IdleEnds = 0;
  while (Self && FModalResult == mrNone) {
    if (!App.DispatchNext(true, true)) {
      if (++IdleEnds > 1) {
        // The close was refused and nothing else can happen: end the loop regardless.
        FModalResult = mrCancel;
        break;
      }
      App.IdleEndModal(this);
    }
    if (Self && FModalResult != mrNone) {
      CloseModal();
      if (IdleEnds > 1) FModalResult = mrCancel;
    }
  }
  if (!Self) return mrCancel;
  if (!App.ScreenshotFile.empty()) App.WriteScreenshot(this);
  FFormState.Exclude(fsModal);
  Hide();
  ModalOwner = nullptr;
  return FModalResult;
}

void TCustomForm::SetWindowState(TWindowState Value) {
  if (FWindowState == Value) return;
  if (Value == wsMaximized) {
    if (FWindowState == wsNormal) FNormalBounds = BoundsRect();
    FWindowState = Value;
    const TRect W = Monitor()->WorkareaRect;
    SetBounds(W.Left, W.Top, W.Width(), W.Height());
  } else {
    const TWindowState Old = FWindowState;
    FWindowState = Value;
    if (Old == wsMaximized && !FNormalBounds.IsEmpty()) SetBoundsRect(FNormalBounds);
  }
}

bool TCustomForm::GetWindowPlacement(TWindowPlacement& Placement) const {
  Placement.NormalBounds = FWindowState == wsNormal ? BoundsRect() : FNormalBounds;
  Placement.ShowCmd = !Visible() ? swHide : (FWindowState == wsMaximized ? swShowMaximized : swShowNormal);
  return true;
}

bool TCustomForm::SetWindowPlacement(const TWindowPlacement& Placement) {
  const TRect& B = Placement.NormalBounds;
  switch (Placement.ShowCmd) {
    case swShowMaximized:
      SetWindowState(wsNormal);
      SetBoundsRect(B);
      SetWindowState(wsMaximized);
      break;
    case swShowNormal:
      SetWindowState(wsNormal);
      SetBoundsRect(B);
      break;
    case swHide:
      if (FWindowState == wsMaximized)
        FNormalBounds = B;
      else
        SetBoundsRect(B);
      if (Visible()) Hide();
      break;
  }
  return true;
}

TMonitor* TCustomForm::Monitor() const { return Screen->MonitorFromRect(BoundsRect()); }

void TCustomForm::SetActiveControl(TWinControl* Control) {
  if (FActiveControl == Control) return;
  if (Control && (!ContainsControl(Control) || !Control->CanFocus()))
    throw EInvalidOperation("Cannot focus a disabled or invisible window");
  TWinControl* Old = FActiveControl;
  FActiveControl = Control;
  TComponentRef NewRef(Control);
  if (Old) {
    Old->Invalidate();
    Old->Perform(WM_KILLFOCUS);
    Old->Perform(CM_EXIT);
    Old->DoExit();
  }
  if (Control && NewRef && FActiveControl == Control) {
    Control->Invalidate();
    Control->Perform(WM_SETFOCUS);
    Control->Perform(CM_ENTER);
    Control->DoEnter();
  }
}

void TCustomForm::FocusControl(TWinControl* Control) { SetActiveControl(Control); }

namespace {
void CollectTabStops(TWinControl* Parent, std::vector<TWinControl*>& Out) {
  for (TWinControl* C : Parent->TabList()) {
    if (!C->Visible() || !C->Enabled()) continue;
    if (C->TabStop()) Out.push_back(C);
    CollectTabStops(C, Out);
  }
}
}  // namespace

void TCustomForm::SelectNext(bool GoForward) {
  std::vector<TWinControl*> L;
  CollectTabStops(this, L);
  if (L.empty()) return;
  auto It = std::find(L.begin(), L.end(), FActiveControl);
  size_t I;
  if (It == L.end())
    I = GoForward ? 0 : L.size() - 1;
  else {
    const size_t Cur = static_cast<size_t>(It - L.begin());
    I = GoForward ? (Cur + 1) % L.size() : (Cur + L.size() - 1) % L.size();
  }
  SetActiveControl(L[I]);
}

void TCustomForm::ControlRemoved(TControl* Control) {
  if (FActiveControl && (FActiveControl == Control || (dynamic_cast<TWinControl*>(Control) &&
                                                        static_cast<TWinControl*>(Control)->ContainsControl(FActiveControl))))
    FActiveControl = nullptr;
  if (Application) Application->ControlDestroying(Control);
}

void TCustomForm::BoundsChanged() {
  if (Application && Visible()) Application->Backend().FormBoundsChanged(this);
  InvalidateFormRect(Rect(0, 0, Width(), Height()));
}

TBitmap& TCustomForm::PaintBuffer() { return FBuffer; }

void TCustomForm::InvalidateFormRect(const TRect& R) {
  const TRect C = IntersectRect(R, Rect(0, 0, Width(), Height()));
  if (C.IsEmpty()) return;
  if (FInvalid.IsEmpty())
    FInvalid = C;
  else
    FInvalid = Rect(std::min(FInvalid.Left, C.Left), std::min(FInvalid.Top, C.Top), std::max(FInvalid.Right, C.Right),
                    std::max(FInvalid.Bottom, C.Bottom));
}

void TCustomForm::PaintInvalidated() {
  if (FPainting || FInvalid.IsEmpty() || Width() <= 0 || Height() <= 0) return;
  if (FBuffer.Width() != Width() || FBuffer.Height() != Height()) {
    FBuffer.SetSize(Width(), Height());
    FInvalid = Rect(0, 0, Width(), Height());
  }
  HandleNeeded();
  FPainting = true;
  struct TReset {
    bool& B;
    ~TReset() { B = false; }
  } Reset{FPainting};
  TDeviceContext DC;
  DC.Bitmap = &FBuffer;
  DC.Origin = {0, 0};
  DC.Clip = FInvalid;
  FInvalid = TRect{};
  PaintTree(&DC);
  if (Application && Visible()) Application->Backend().Present(this);
}

void TCustomForm::SaveScreenshot(const std::string& FileName) {
  InvalidateFormRect(Rect(0, 0, Width(), Height()));
  PaintInvalidated();
  SavePngFile(FBuffer, FileName);
}

void TCustomForm::WndProc(TMessage& Message) {
  if (Message.Msg == WM_SETICON) {
    Message.Result = 0;  // forms carry no window icon here
    return;
  }
  if (Message.Msg == WM_CLOSE) {
    Close();
    return;
  }
  if (Message.Msg == CM_DIALOGKEY) {
    const uint16_t Key = static_cast<uint16_t>(Message.WParam);
    if (Key == VK_TAB) {
      SelectNext((Message.LParam & 1) == 0);
      Message.Result = 1;
      return;
    }
    Broadcast(Message);
    return;
  }
  TScrollingWinControl::WndProc(Message);
}

bool TCustomForm::IsShortCut(TWMKey& Message) {
  for (TControl* C = FActiveControl; C; C = C->Parent())
    if (C->PopupMenu() && C->PopupMenu()->IsShortCut(Message)) return true;
  if (PopupMenu() && !FActiveControl && PopupMenu()->IsShortCut(Message)) return true;
  bool Handled = false;
  if (auto H = OnShortCut) H(Message, Handled);
  return Handled;
}

void TCustomForm::DispatchKeyDown(uint16_t Key, TShiftState Shift) {
  TComponentRef Self(this);
  TWinControl* Target = FActiveControl ? FActiveControl : this;
  TComponentRef TargetRef(Target);
  TWMKey Msg{Key, Shift, 0};
  if (IsShortCut(Msg)) return;
  if (!Self || !TargetRef) return;
  if ((Key == VK_TAB || Key == VK_RETURN || Key == VK_ESCAPE) && !Target->WantsKey(Key)) {
    TMessage M{CM_DIALOGKEY, Key, Shift.Contains(ssShift) ? 1 : 0, 0};
    WndProc(M);
    if (M.Result != 0 || !Self || !TargetRef) return;
  }
  if (KeyPreview && Target != this) {
    KeyDown(Key, Shift);
    if (Key == 0 || !Self || !TargetRef) return;
  }
  Target->KeyDown(Key, Shift);
}

void TCustomForm::DispatchKeyUp(uint16_t Key, TShiftState Shift) {
  TComponentRef Self(this);
  TWinControl* Target = FActiveControl ? FActiveControl : this;
  TComponentRef TargetRef(Target);
  if (KeyPreview && Target != this) {
    KeyUp(Key, Shift);
    if (Key == 0 || !Self || !TargetRef) return;
  }
  Target->KeyUp(Key, Shift);
}

void TCustomForm::DispatchChar(char Key) {
  TComponentRef Self(this);
  TWinControl* Target = FActiveControl ? FActiveControl : this;
  TComponentRef TargetRef(Target);
  if (KeyPreview && Target != this) {
    KeyPress(Key);
    if (Key == 0 || !Self || !TargetRef) return;
  }
  Target->KeyPress(Key);
}

// ---------------------------------------------------------------------------------------------
// TScreen

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner) {}

TScreen::~TScreen() {
  for (auto& [Index, C] : FCursors)
    if (GApplication && C) GApplication->Backend().FreeCursor(C.get());
}

HCURSOR TScreen::Cursors(int32_t Index) const {
  for (const auto& [I, C] : FCursors)
    if (I == Index) return C.get();
  return nullptr;
}

void TScreen::SetCursors(int32_t Index, HCURSOR Cursor) {
  for (auto& [I, C] : FCursors)
    if (I == Index) {
      if (C.get() == Cursor) return;
      if (GApplication && C) GApplication->Backend().FreeCursor(C.get());
      C.reset(Cursor);
      if (GApplication) GApplication->UpdateCursor();
      return;
    }
  FCursors.emplace_back(Index, std::unique_ptr<TCursorImage>(Cursor));
}

void TScreen::SetCursor(TCursor Value) {
  if (FCursor == Value) return;
  FCursor = Value;
  if (GApplication) GApplication->UpdateCursor();
}

void TScreen::UpdateMonitors() {
  FMonitors.clear();
  std::vector<TMonitorInfo> L = Application->Backend().Monitors();
  if (L.empty()) L.push_back({Rect(0, 0, 1920, 1080), Rect(0, 0, 1920, 1040)});
  for (size_t I = 0; I < L.size(); ++I) {
    auto M = std::make_unique<TMonitor>();
    M->MonitorNum = static_cast<int32_t>(I);
    M->BoundsRect = L[I].Bounds;
    M->WorkareaRect = L[I].WorkArea;
    M->Primary = I == 0;
    FMonitors.push_back(std::move(M));
  }
}

TMonitor* TScreen::PrimaryMonitor() const {
  if (FMonitors.empty()) const_cast<TScreen*>(this)->UpdateMonitors();
  return FMonitors.front().get();
}

TMonitor* TScreen::MonitorFromPoint(TPoint P) const {
  PrimaryMonitor();
  for (const auto& M : FMonitors)
    if (M->BoundsRect.Contains(P)) return M.get();
  return FMonitors.front().get();
}

TMonitor* TScreen::MonitorFromRect(const TRect& R) const {
  PrimaryMonitor();
  TMonitor* Best = FMonitors.front().get();
  int64_t BestArea = 0;
  for (const auto& M : FMonitors) {
    const TRect I = IntersectRect(M->BoundsRect, R);
    const int64_t Area = I.IsEmpty() ? 0 : int64_t(I.Width()) * I.Height();
    if (Area > BestArea) {
      BestArea = Area;
      Best = M.get();
    }
  }
  return Best;
}

// ---------------------------------------------------------------------------------------------
// TApplication

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner), FMainThreadID(std::this_thread::get_id()) {
  SetMousePosQuery(QueryMousePos);
  if (const char* S = std::getenv("VARNIX_UI_SCREENSHOT"); S && *S) ScreenshotFile = S;
  if (const char* S = std::getenv("VARNIX_UI_SCRIPT"); S && *S) {
    FScriptPendingFile = S;
  }
}

TApplication::~TApplication() {
  if (GApplication == this) {
    // Forms owned by the application go first, while the back end still exists.
    DestroyComponents();
  }
  if (FHintWindow) {
    TCustomForm* H = FHintWindow;
    FHintWindow = nullptr;
    Free(H);
  }
  if (GScreen) {
    TScreen* S = GScreen;
    GScreen = nullptr;
    Free(S);
  }
  FBackend.reset();
  if (GApplication == this) GApplication = nullptr;
}

TBackend& TApplication::Backend() {
  if (!FBackend) {
    const char* UI = std::getenv("VARNIX_UI");
    std::string Want = UI && *UI ? UI : "";
    if (Want.empty()) {
      const char* D = std::getenv("DISPLAY");
      const char* W = std::getenv("WAYLAND_DISPLAY");
      Want = (D && *D) || (W && *W) ? "window" : "headless";
    }
    if (Want == "window") {
      std::string Error;
      FBackend = CreateSdlBackend(Error);
      if (!FBackend) std::cerr << "varnix: no window system (" << Error << "); running headless\n";
    } else if (Want != "headless") {
      std::cerr << "varnix: unknown VARNIX_UI \"" << Want << "\"; running headless\n";
    }
    if (!FBackend) FBackend = CreateHeadlessBackend();
    if (GScreen) GScreen->UpdateMonitors();
    if (!FScriptPendingFile.empty()) {
      const std::string F = std::move(FScriptPendingFile);
      FScriptPendingFile.clear();
      RunScriptFile(F);
    }
  }
  return *FBackend;
}

void TApplication::SetBackend(TBackendKind Kind) {
  if (FBackend && FBackend->Kind() == Kind) return;
  if (Kind == bkWindow) {
    std::string Error;
    auto B = CreateSdlBackend(Error);
    if (!B) throw EInvalidOperation("Cannot open a window: " + Error);
    FBackend = std::move(B);
  } else {
    FBackend = CreateHeadlessBackend();
  }
  FScriptPendingFile.clear();
  Screen->UpdateMonitors();
}

TBackendKind TApplication::BackendKind() { return Backend().Kind(); }

void TApplication::HandleException(TObject* Sender, Exception& E) {
  if (auto H = OnException)
    H(Sender, E);
  else
    ShowException(E);
}

void TApplication::ShowException(Exception& E) {
  std::string Msg = E.Message();
  if (!Msg.empty() && static_cast<unsigned char>(Msg.back()) > '.') Msg += '.';
  MessageBox(Msg, Title, MB_OK | MB_ICONSTOP);
}

int32_t TApplication::MessageBox(const std::string& Text, const std::string& Caption, int32_t Flags) {
  return ShowMessageBoxForm(Text, Caption, Flags);
}

void TApplication::QueueEvent(const TInputEvent& Event) { FQueue.push_back(Event); }

void TApplication::QueueMouseClick(TControl* Control, int32_t X, int32_t Y, TShiftState Shift) {
  TInputEvent E;
  E.Form = Control->ParentForm();
  E.Pos = Control->ClientToForm({X, Y});
  E.Shift = Shift;
  E.Kind = ikMouseMove;
  QueueEvent(E);
  E.Kind = ikMouseDown;
  QueueEvent(E);
  E.Kind = ikMouseUp;
  QueueEvent(E);
}

void TApplication::QueueKey(uint16_t Key, TShiftState Shift) {
  TInputEvent E;
  E.Key = Key;
  E.Shift = Shift;
  E.Kind = ikKeyDown;
  QueueEvent(E);
  E.Kind = ikKeyUp;
  QueueEvent(E);
}

void TApplication::QueueWait(uint32_t Milliseconds) {
  TInputEvent E;
  E.Kind = ikWait;
  E.WaitMs = Milliseconds;
  QueueEvent(E);
}

void TApplication::QueueCall(std::function<void()> Fn) {
  TInputEvent E;
  E.Kind = ikCall;
  E.Call = std::move(Fn);
  QueueEvent(E);
}

void TApplication::RunScript(const std::string& Text, const std::string& Name) {
  FScriptError.clear();
  FScript = std::make_unique<TEventScript>(Text, Name);
}

void TApplication::RunScriptFile(const std::string& FileName) {
  std::ifstream In(FileName, std::ios::binary);
  if (!In) {
    FScriptError = "cannot open event script " + FileName;
    std::cerr << "varnix: " << FScriptError << "\n";
    FScript.reset();
    return;
  }
  std::ostringstream S;
  S << In.rdbuf();
  RunScript(S.str(), FileName);
}

bool TApplication::ScriptRunning() const { return FScript && !FScript->Ended(); }

bool TApplication::TakeDialogAnswer(bool& Confirmed, std::string& FileName) {
  if (!FHasDialogAnswer) return false;
  FHasDialogAnswer = false;
  Confirmed = FDialogConfirmed;
  FileName = FDialogFile;
  return true;
}

void TApplication::SetDialogAnswer(bool Confirmed, const std::string& FileName) {
  FHasDialogAnswer = true;
  FDialogConfirmed = Confirmed;
  FDialogFile = FileName;
}

void TApplication::RegisterTimer(TTimer* Timer) {
  if (std::find(FTimers.begin(), FTimers.end(), Timer) == FTimers.end()) FTimers.push_back(Timer);
}

void TApplication::UnregisterTimer(TTimer* Timer) {
  FTimers.erase(std::remove(FTimers.begin(), FTimers.end(), Timer), FTimers.end());
}

uint32_t TApplication::FireTimers() {
  if (FInTimers) return 10;
  FInTimers = true;
  struct TReset {
    bool& B;
    ~TReset() { B = false; }
  } Reset{FInTimers};
  uint32_t MinWait = UINT32_MAX;
  const std::vector<TTimer*> Timers = FTimers;
  for (TTimer* T : Timers) {
    if (std::find(FTimers.begin(), FTimers.end(), T) == FTimers.end()) continue;  // freed meanwhile
    uint32_t Wait;
    const uint32_t Now = NowMs();
    if (T->Due(Now, Wait)) {
      try {
        T->Fire(Now);
      } catch (Exception& E) {
        HandleException(T, E);
      } catch (std::exception& E) {
        Exception X(E.what());
        HandleException(T, X);
      }
      continue;
    }
    MinWait = std::min(MinWait, Wait);
  }
  return MinWait;
}

void TApplication::PaintForms() {
  if (!GScreen) return;
  const std::vector<TCustomForm*> Forms = Screen->FForms;
  for (TCustomForm* F : Forms) {
    if (std::find(Screen->FForms.begin(), Screen->FForms.end(), F) == Screen->FForms.end()) continue;
    if (!F->Visible() || !F->HasInvalidArea()) continue;
    try {
      F->PaintInvalidated();
    } catch (Exception& E) {
      HandleException(F, E);
    }
  }
}

void TApplication::ProcessMessages() {
  FireTimers();
  while (!FQueue.empty() && FQueue.front().Kind != ikWait) {
    TInputEvent E = std::move(FQueue.front());
    FQueue.pop_front();
    DispatchEvent(E);
  }
  TInputEvent E;
  while (Backend().PollEvent(E, 0)) DispatchEvent(E);
  PaintForms();
}

void TApplication::HandleMessage() {
  if (!DispatchNext(true, true)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool TApplication::DispatchNext(bool AllowScript, bool AllowWait) {
  TBackend& B = Backend();
  uint32_t Wait = FireTimers();
  TInputEvent PE;
  if (FWaiting) {
    // A wait holds back the queued events behind it; timers and platform input go on.
    const int32_t Left = static_cast<int32_t>(FWaitUntil - NowMs());
    if (Left <= 0) {
      FWaiting = false;
      return true;
    }
    PaintForms();
    CheckHint();
    if (B.PollEvent(PE, std::min<uint32_t>({static_cast<uint32_t>(Left), Wait, 10u}))) DispatchEvent(PE);
    return true;
  }
  if (!FQueue.empty()) {
    TInputEvent E = std::move(FQueue.front());
    FQueue.pop_front();
    if (E.Kind == ikWait) {
      if (AllowWait) {
        FWaiting = true;
        FWaitUntil = NowMs() + E.WaitMs;
      }
      return true;
    }
    DispatchEvent(E);
    return true;
  }
  if (B.PollEvent(PE, 0)) {
    DispatchEvent(PE);
    return true;
  }
  PaintForms();
  CheckHint();
  if (AllowScript && FScript && !FScript->Ended()) {
    const bool WasRunning = !FScript->Ended();
    FScript->Step(*this, Wait);
    if (WasRunning && FScript && FScript->Ended()) ScriptEnded();
    return true;
  }
  if (B.Kind() == bkHeadless) return false;
  if (B.PollEvent(PE, std::min<uint32_t>(Wait, 20u))) DispatchEvent(PE);
  return true;
}

void TApplication::ScriptEnded() {
  if (!FScript) return;
  if (!FScript->Error().empty()) FScriptError = FScript->Error();
  if (!ScreenshotFile.empty()) {
    if (TCustomForm* F = Screen->ActiveForm()) WriteScreenshot(F);
  }
}

void TApplication::WriteScreenshot(TCustomForm* Form) {
  try {
    Form->SaveScreenshot(ScreenshotFile);
  } catch (Exception& E) {
    std::cerr << "varnix: screenshot failed: " << E.Message() << "\n";
  }
}

void TApplication::IdleEndModal(TCustomForm* Form) {
  if (FScript && !FScript->Error().empty())
    std::cerr << "varnix: the event script failed; closing \"" << Form->Name() << "\" with Cancel\n";
  else if (FScript)
    std::cerr << "varnix: the event script ended without closing \"" << Form->Name() << "\"; closing it with Cancel\n";
  else
    std::cerr << "varnix: no events left for \"" << Form->Name() << "\" (headless); closing it with Cancel\n";
  Form->FModalResult = mrCancel;
}

void TApplication::DispatchEvent(const TInputEvent& E) {
  try {
    switch (E.Kind) {
      case ikMouseDown:
      case ikMouseMove:
      case ikMouseUp:
      case ikMouseWheel: DispatchMouse(E); break;
      case ikKeyDown:
      case ikKeyUp:
      case ikChar: DispatchKey(E); break;
      case ikClose:
        if (E.Form && std::find(Screen->FForms.begin(), Screen->FForms.end(), E.Form) != Screen->FForms.end()) {
          TCustomForm* Blocking = ModalForm();
          if (!Blocking || Blocking == E.Form) E.Form->Close();
        }
        break;
      case ikCall:
        if (E.Call) E.Call();
        break;
      case ikWait: break;
    }
  } catch (Exception& X) {
    HandleException(nullptr, X);
  } catch (std::exception& X) {
    Exception Wrapped(X.what());
    HandleException(nullptr, Wrapped);
  }
}


void TApplication::DispatchMouse(const TInputEvent& E) {
  TCustomForm* Form = E.Form ? E.Form : Screen->ActiveForm();
  if (!Form) return;
  auto& Forms = Screen->FForms;
  if (std::find(Forms.begin(), Forms.end(), Form) == Forms.end() || !Form->Visible()) return;
  // Popups take the input; a press elsewhere dismisses them.
  if (PopupForm()) {
    if (std::find(FPopupStack.begin(), FPopupStack.end(), Form) == FPopupStack.end()) {
      if (E.Kind == ikMouseDown) ClosePopups();
      return;
    }
  } else if (TCustomForm* Modal = ModalForm()) {
    // Forms below the modal one are disabled.
    if (Form != Modal && !Form->IsPopup()) {
      bool Above = false;
      for (auto It = FModalStack.rbegin(); It != FModalStack.rend(); ++It)
        if (*It == Form) Above = It == FModalStack.rbegin();
      if (!Above) return;
    }
  }
  const TPoint Screen = {Form->Left() + E.Pos.X, Form->Top() + E.Pos.Y};
  FMouseScreen = Screen;
  TShiftState Shift = E.Shift;
  if (E.Kind == ikMouseDown) FButtons.Include(MouseButtonFlag(E.Button));
  Shift = Shift + FButtons;

  // The control under the pointer (or the one holding the capture).
  TControl* Target = nullptr;
  bool NonClient = false;
  if (FCapture && TComponentRef(FCapture) && FCapture->ParentForm() == Form) {
    Target = FCapture;
  } else {
    FCapture = nullptr;
    TWinControl* W = Form;
    TPoint P = E.Pos;  // in W's bounds coordinates
    for (;;) {
      const TPoint CO = W->ClientOffset();
      const TPoint CP = {P.X - CO.X, P.Y - CO.Y};
      if (W != Form && !W->ClientRect().Contains(CP)) {
        Target = W;
        NonClient = true;
        break;
      }
      TControl* C = W->ControlAtPos(CP, true);
      if (!C) {
        Target = W;
        break;
      }
      if (!C->Enabled()) {
        Target = dynamic_cast<TWinControl*>(C) ? nullptr : W;
        break;
      }
      if (auto* CW = dynamic_cast<TWinControl*>(C)) {
        W = CW;
        P = {CP.X - C->Left(), CP.Y - C->Top()};
        continue;
      }
      Target = C;
      break;
    }
  }
  if (!Target) {
    if (E.Kind == ikMouseUp) FButtons.Exclude(MouseButtonFlag(E.Button));
    return;
  }
  const TPoint FormClient0 = Target->ClientToForm({0, 0});
  const TPoint CP = {E.Pos.X - FormClient0.X, E.Pos.Y - FormClient0.Y};
  TComponentRef Ref(Target);
  auto* Scroller = dynamic_cast<TScrollingWinControl*>(Target);
  const TPoint BP = {CP.X + Target->ClientOffset().X, CP.Y + Target->ClientOffset().Y};

  switch (E.Kind) {
    case ikMouseMove:
      if (Scroller && FCapture == Target && FNonClientCapture) {
        Scroller->NonClientMouse(1, mbLeft, BP.X, BP.Y);
        return;
      }
      SetHover(NonClient && !FCapture ? nullptr : Target, Screen);
      if (Ref && !NonClient) Target->MouseMove(Shift, CP.X, CP.Y);
      break;
    case ikMouseDown: {
      CancelHint();
      if (NonClient) {
        if (Scroller && Scroller->NonClientMouse(0, E.Button, BP.X, BP.Y)) {
          FCapture = Target;
          FNonClientCapture = true;
        }
        return;
      }
      FNonClientCapture = false;
      if (Target->ControlStyle.Contains(csCaptureMouse)) {
        FCapture = Target;
        FCaptureButton = E.Button;
      }
      if (auto* W = dynamic_cast<TWinControl*>(Target))
        if (W->TabStop() && W->CanFocus() && W != Form) W->SetFocus();
      if (!Ref) return;
      const uint32_t Now = NowMs();
      bool Double = E.DoubleClick;
      if (!Double && E.Button == mbLeft && FLastClickControl == Target && Now - FLastClickTime < 500 &&
          std::abs(Screen.X - FLastClickPos.X) <= 4 && std::abs(Screen.Y - FLastClickPos.Y) <= 4)
        Double = true;
      if (E.Button == mbLeft) {
        FLastClickTime = Double ? 0 : Now;
        FLastClickPos = Screen;
        FLastClickControl = Double ? nullptr : Target;
      }
      if (Double && Target->ControlStyle.Contains(csDoubleClicks)) {
        Shift.Include(ssDouble);
        Target->DblClick();
        if (!Ref) return;
      }
      if (E.Button == mbLeft) FPressed = Target;
      Target->MouseDown(E.Button, Shift, CP.X, CP.Y);
      break;
    }
    case ikMouseUp: {
      FButtons.Exclude(MouseButtonFlag(E.Button));
      Shift.Exclude(MouseButtonFlag(E.Button));
      if (Scroller && FCapture == Target && FNonClientCapture) {
        FCapture = nullptr;
        FNonClientCapture = false;
        Scroller->NonClientMouse(2, E.Button, BP.X, BP.Y);
        return;
      }
      if (NonClient) return;
      if (FCapture == Target && FButtons.Empty()) FCapture = nullptr;
      const bool Clicked = E.Button == mbLeft && FPressed == Target;
      if (E.Button == mbLeft) FPressed = nullptr;
      if (Clicked && Target->ControlStyle.Contains(csClickEvents) && Target->ClientRect().Contains(CP)) {
        Target->Click();
        if (!Ref) return;
      }
      Target->MouseUp(E.Button, Shift, CP.X, CP.Y);
      if (!Ref) return;
      if (E.Button == mbRight) {
        for (TControl* C = Target; C; C = C->Parent()) {
          if (TPopupMenu* M = C->PopupMenu()) {
            if (M->AutoPopup) {
              M->SetPopupComponent(Target);
              M->Popup(Screen.X, Screen.Y);
            }
            break;
          }
        }
      }
      break;
    }
    case ikMouseWheel: {
      for (TControl* C = Target; C; C = C->Parent()) {
        TComponentRef CR(C);
        if (C->MouseWheel(Shift, E.WheelDelta, Screen)) return;
        if (!CR) return;
        if (auto* S = dynamic_cast<TScrollingWinControl*>(C)) {
          if (S->VertScrollBar().IsScrollBarVisible()) {
            for (int32_t I = 0; I < 3; ++I) S->Perform(WM_VSCROLL, E.WheelDelta > 0 ? SB_LINEUP : SB_LINEDOWN);
            return;
          }
        }
      }
      break;
    }
    default: break;
  }
}

void TApplication::DispatchKey(const TInputEvent& E) {
  TCustomForm* Form = PopupForm();
  if (!Form) Form = ModalForm() ? ModalForm() : Screen->ActiveForm();
  if (E.Form && !PopupForm()) {
    // Keys for a form below a modal one are dropped.
    if (ModalForm() && E.Form != ModalForm()) return;
    Form = E.Form;
  }
  if (!Form) return;
  CancelHint();
  switch (E.Kind) {
    case ikKeyDown: Form->DispatchKeyDown(E.Key, E.Shift); break;
    case ikKeyUp: Form->DispatchKeyUp(E.Key, E.Shift); break;
    case ikChar: Form->DispatchChar(E.Char); break;
    default: break;
  }
}

void TApplication::SetHover(TControl* Control, TPoint ScreenPos) {
  (void)ScreenPos;
  if (Control != FHover) {
    TControl* Old = FHover;
    FHover = Control;
    if (Old && TComponentRef(Old)) Old->Perform(CM_MOUSELEAVE);
    if (Control && TComponentRef(Control)) Control->Perform(CM_MOUSEENTER);
    if (FHintShown) CancelHint();
    FHintControl = Control;
    FHintStart = NowMs();
  }
  UpdateCursor();
}

void TApplication::CheckHint() {
  if (!FHintControl) return;
  const uint32_t Elapsed = NowMs() - FHintStart;
  if (!FHintShown) {
    if (Elapsed < HintPause || !ShowHint || FCapture) return;
    if (!FHintControl->ShowHint() || FHintControl->Hint().empty() || !FHintControl->Showing()) return;
    std::string Text = FHintControl->Hint();
    if (size_t Bar = Text.find('|'); Bar != std::string::npos) Text = Text.substr(0, Bar);
    FHintShown = true;
    FHintText = Text;
    if (!FHintWindow) {
      FHintWindow = new THintWindow(nullptr);
      FHintWindow->SetName("HintWindow");
    }
    FHintWindow->SetCaption(Text);
    TCanvas& C = FHintWindow->PaintBuffer().Canvas();
    C.Font().Assign(FHintWindow->Font());
    const TSize S = C.TextExtent(Text);
    FHintWindow->SetBounds(FMouseScreen.X, FMouseScreen.Y + 20, S.cx + 8, S.cy + 4);
    FHintWindow->Show();
  } else if (Elapsed >= HintPause + HintHidePause) {
    CancelHint();
    FHintControl = nullptr;
  }
}

void TApplication::CancelHint() {
  if (FHintShown) {
    FHintShown = false;
    FHintText.clear();
    if (FHintWindow) FHintWindow->Hide();
  }
  FHintStart = NowMs();
}

TPoint TApplication::MousePos() const {
  TPoint P;
  if (FBackend && FBackend->MousePos(P)) return P;
  return FMouseScreen;
}

void TApplication::UpdateCursor() {
  if (!FBackend) return;
  TCursor C = GScreen ? GScreen->Cursor() : crDefault;
  if (C == crDefault)
    for (TControl* H = FHover; H && C == crDefault; H = H->Parent()) C = H->Cursor();
  FBackend->SetCursor(C, GScreen ? GScreen->Cursors(C) : nullptr);
}

void TApplication::CursorChanged(TControl* Control) {
  for (TControl* H = FHover; H; H = H->Parent())
    if (H == Control) {
      UpdateCursor();
      return;
    }
}

void TApplication::ControlDestroying(TControl* Control) {
  auto Inside = [Control](TControl* C) {
    for (; C; C = C->Parent())
      if (C == Control) return true;
    return false;
  };
  if (Inside(FCapture)) FCapture = nullptr;
  if (Inside(FHover)) FHover = nullptr;
  if (Inside(FPressed)) FPressed = nullptr;
  if (Inside(FLastClickControl)) FLastClickControl = nullptr;
  if (Inside(FHintControl)) {
    CancelHint();
    FHintControl = nullptr;
  }
}

void TApplication::FormInvalidated(TCustomForm*) {}

void TApplication::FormDestroying(TCustomForm* Form) {
  ControlDestroying(Form);
  FPopupStack.erase(std::remove(FPopupStack.begin(), FPopupStack.end(), Form), FPopupStack.end());
  FModalStack.erase(std::remove(FModalStack.begin(), FModalStack.end(), Form), FModalStack.end());
  if (Form == FHintWindow) FHintWindow = nullptr;
  if (FBackend) FBackend->FormDestroyed(Form);
}

void TApplication::RunPopup(TCustomForm* Popup, const std::function<bool()>& Done) {
  TComponentRef Ref(Popup);
  FPopupStack.push_back(Popup);
  Popup->Show();
  while (Ref && Popup->Visible() && !Done() &&
         std::find(FPopupStack.begin(), FPopupStack.end(), Popup) != FPopupStack.end()) {
    if (!DispatchNext(true, true)) break;  // headless and nothing left: dismiss
  }
  if (!Ref) return;
  FPopupStack.erase(std::remove(FPopupStack.begin(), FPopupStack.end(), Popup), FPopupStack.end());
  Popup->Hide();
}

void TApplication::ClosePopups() {
  const std::vector<TCustomForm*> L = FPopupStack;
  FPopupStack.clear();
  for (TCustomForm* F : L) F->Hide();
}

}  // namespace varnix
