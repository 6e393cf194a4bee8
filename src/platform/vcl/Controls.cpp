#include "platform/vcl/Controls.h"

#include <algorithm>

#include "platform/vcl/Forms.h"
#include "platform/vcl/Menus.h"
#include "platform/vcl/Themes.h"

namespace varnix {

TShiftStateFlag MouseButtonFlag(TMouseButton Button) {
  switch (Button) {
    case mbRight: return ssRight;
    case mbMiddle: return ssMiddle;
    default: return ssLeft;
  }
}

TCustomForm* GetParentForm(const TControl* Control) {
  const TControl* C = Control;
  while (C && C->Parent()) C = C->Parent();
  return C ? dynamic_cast<TCustomForm*>(const_cast<TControl*>(C)) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// TSizeConstraints

void TSizeConstraints::Changed() {
  if (auto H = OnChange) H(this);
}
void TSizeConstraints::SetMinWidth(int32_t Value) {
  if (FMinWidth == Value) return;
  FMinWidth = std::max(0, Value);
  Changed();
}
void TSizeConstraints::SetMinHeight(int32_t Value) {
  if (FMinHeight == Value) return;
  FMinHeight = std::max(0, Value);
  Changed();
}
void TSizeConstraints::SetMaxWidth(int32_t Value) {
  if (FMaxWidth == Value) return;
  FMaxWidth = std::max(0, Value);
  Changed();
}
void TSizeConstraints::SetMaxHeight(int32_t Value) {
  if (FMaxHeight == Value) return;
  FMaxHeight = std::max(0, Value);
  Changed();
}

// ---------------------------------------------------------------------------------------------
// TControl

TControl::TControl(TComponent* AOwner) : TComponent(AOwner) {
  ControlStyle = {csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks};
  FFont.OnChange = [this](TObject*) { FontChanged(); };
  FConstraints.OnChange = [this](TObject*) { SetBounds(FLeft, FTop, FWidth, FHeight); };
}

void TControl::BeforeDestruction() {
  if (!Destroying()) {
    if (Application) Application->ControlDestroying(this);
  }
  TComponent::BeforeDestruction();
  if (FParent) FParent->RemoveControl(this);
}

TControl::~TControl() {
  if (Application) Application->ControlDestroying(this);
  if (FParent) FParent->RemoveControl(this);
}

void TControl::SetParent(TWinControl* AParent) {
  if (FParent == AParent) return;
  if (AParent == this) throw EInvalidOperation("A control cannot be its own parent");
  if (FParent) {
    Invalidate();
    FParent->RemoveControl(this);
  }
  if (AParent) {
    AParent->InsertControl(this);
    if (FParentFont) ParentFontChanged();
    if (FParentColor) ParentColorChanged();
    UpdateAnchorRules();
    RequestAlign();
    Invalidate();
    if (auto* W = dynamic_cast<TWinControl*>(this)) {
      if (AParent->HandleAllocated() && FVisible) W->HandleNeeded();
      W->ShowingChangedTree();
    }
  }
}

void TControl::ApplyConstraints(int32_t& NewWidth, int32_t& NewHeight) const {
  if (FConstraints.MaxWidth() > 0) NewWidth = std::min(NewWidth, FConstraints.MaxWidth());
  if (FConstraints.MaxHeight() > 0) NewHeight = std::min(NewHeight, FConstraints.MaxHeight());
  NewWidth = std::max(NewWidth, FConstraints.MinWidth());
  NewHeight = std::max(NewHeight, FConstraints.MinHeight());
  NewWidth = std::max(NewWidth, 0);
  NewHeight = std::max(NewHeight, 0);
}

bool TControl::CanResize(int32_t& NewWidth, int32_t& NewHeight) {
  ApplyConstraints(NewWidth, NewHeight);
  return true;
}

void TControl::SetBounds(int32_t ALeft, int32_t ATop, int32_t AWidth, int32_t AHeight) {
  CanResize(AWidth, AHeight);
  const bool Moved = ALeft != FLeft || ATop != FTop;
  const bool Sized = AWidth != FWidth || AHeight != FHeight;
  if (!Moved && !Sized) {
    if (!(FParent && FParent->FAligning)) UpdateAnchorRules();
    return;
  }
  Invalidate();
  FLeft = ALeft;
  FTop = ATop;
  FWidth = AWidth;
  FHeight = AHeight;
  Invalidate();
  if (!(FParent && FParent->FAligning)) {
    UpdateAnchorRules();
    if (FAlign != alNone) RequestAlign();
  }
  if (Sized) Resize();
  if (auto* F = dynamic_cast<TCustomForm*>(this)) F->BoundsChanged();
}

void TControl::UpdateAnchorRules() {
  if (!FParent) {
    FAnchorValid = false;
    return;
  }
  FAnchorBase = BoundsRect();
  FAnchorParentSize = {FParent->ClientWidth(), FParent->ClientHeight()};
  FAnchorValid = true;
}

void TControl::RequestAlign() {
  if (FParent) FParent->Realign();
}

void TControl::Resize() {
  if (auto H = OnResize) H(this);
}

TRect TControl::ClientRect() const { return Rect(0, 0, FWidth, FHeight); }

void TControl::SetClientWidth(int32_t Value) { SetWidth(Value + FWidth - ClientWidth()); }
void TControl::SetClientHeight(int32_t Value) { SetHeight(Value + FHeight - ClientHeight()); }

TPoint TControl::ClientToForm(TPoint P) const {
  const TPoint O = ClientOffset();
  P.X += O.X;
  P.Y += O.Y;
  if (!FParent) return P;  // the form: its client area is its window
  return FParent->ClientToForm({P.X + FLeft, P.Y + FTop});
}

TPoint TControl::ClientOrigin() const {
  const TPoint P = ClientToForm({0, 0});
  const TControl* Top = this;
  while (Top->FParent) Top = Top->FParent;
  return {Top->FLeft + P.X, Top->FTop + P.Y};
}

TPoint TControl::ClientToScreen(TPoint P) const {
  const TPoint O = ClientOrigin();
  return {P.X + O.X, P.Y + O.Y};
}

TPoint TControl::ScreenToClient(TPoint P) const {
  const TPoint O = ClientOrigin();
  return {P.X - O.X, P.Y - O.Y};
}

void TControl::SetAlign(TAlign Value) {
  if (FAlign == Value) return;
  FAlign = Value;
  if (FAlign == alNone) UpdateAnchorRules();
  RequestAlign();
}

void TControl::SetAnchors(TAnchors Value) {
  if (FAnchors == Value) return;
  FAnchors = Value;
  UpdateAnchorRules();
}

void TControl::SetVisible(bool Value) {
  if (FVisible == Value) return;
  if (!Value) Invalidate();
  FVisible = Value;
  if (Value) Invalidate();
  if (Value)
    if (auto* W = dynamic_cast<TWinControl*>(this))
      if (FParent && FParent->HandleAllocated()) W->HandleNeeded();
  VisibleChanged();
  Perform(CM_VISIBLECHANGED, Value ? 1 : 0);
  if (FAlign != alNone || !FParent) RequestAlign();
  if (FParent) FParent->Realign();
  if (auto* W = dynamic_cast<TWinControl*>(this)) W->ShowingChangedTree();
}

bool TControl::Showing() const { return FVisible && FParent && FParent->Showing(); }

void TControl::SetEnabled(bool Value) {
  if (FEnabled == Value) return;
  FEnabled = Value;
  EnabledChanged();
  Perform(CM_ENABLEDCHANGED);
}

void TControl::SetText(const std::string& Value) {
  if (FText == Value) return;
  FText = Value;
  TextChanged();
  Perform(CM_TEXTCHANGED);
}

void TControl::FontChanged() {
  if (FInFontChange) return;
  FParentFont = false;
  Invalidate();
  Perform(CM_FONTCHANGED);
  if (auto* W = dynamic_cast<TWinControl*>(this))
    for (TControl* C : W->FControls)
      if (C->FParentFont) C->ParentFontChanged();
}

void TControl::ParentFontChanged() {
  if (!FParent) return;
  FInFontChange = true;
  FFont.Assign(FParent->Font());
  FInFontChange = false;
  Invalidate();
  Perform(CM_FONTCHANGED);
  if (auto* W = dynamic_cast<TWinControl*>(this))
    for (TControl* C : W->FControls)
      if (C->FParentFont) C->ParentFontChanged();
}

void TControl::SetParentFont(bool Value) {
  FParentFont = Value;
  if (Value) ParentFontChanged();
}

void TControl::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  FParentColor = false;
  ColorChanged();
  if (auto* W = dynamic_cast<TWinControl*>(this))
    for (TControl* C : W->FControls)
      if (C->FParentColor) C->ParentColorChanged();
}

void TControl::ParentColorChanged() {
  if (!FParent) return;
  FColor = FParent->Color();
  ColorChanged();
  if (auto* W = dynamic_cast<TWinControl*>(this))
    for (TControl* C : W->FControls)
      if (C->FParentColor) C->ParentColorChanged();
}

void TControl::SetParentColor(bool Value) {
  FParentColor = Value;
  if (Value) ParentColorChanged();
}

void TControl::SetCursor(TCursor Value) {
  if (FCursor == Value) return;
  FCursor = Value;
  Perform(CM_CURSORCHANGED);
  if (Application) Application->CursorChanged(this);
}

bool TControl::ShowHint() const {
  if (FParentShowHint && FParent) return FParent->ShowHint();
  return FShowHint;
}

void TControl::SetShowHint(bool Value) {
  FShowHint = Value;
  FParentShowHint = false;
}

void TControl::SetPopupMenu(TPopupMenu* Value) {
  if (FPopupMenu == Value) return;
  FPopupMenu = Value;
  if (Value) Value->FreeNotification(this);
}

void TControl::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == FPopupMenu) FPopupMenu = nullptr;
}

intptr_t TControl::Perform(uint32_t Msg, intptr_t WParam, intptr_t LParam) {
  TMessage M{Msg, WParam, LParam, 0};
  WndProc(M);
  return M.Result;
}

void TControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case CM_MOUSEENTER:
      FMouseInControl = true;
      MouseEnter();
      if (auto H = OnMouseEnter) H(this);
      break;
    case CM_MOUSELEAVE:
      FMouseInControl = false;
      MouseLeave();
      if (auto H = OnMouseLeave) H(this);
      break;
    default:
      break;
  }
}

void TControl::Invalidate() {
  if (!FVisible && FParent) return;
  TCustomForm* F = ParentForm();
  if (!F) return;
  const TPoint O = FParent ? FParent->ClientToForm({FLeft, FTop}) : TPoint{0, 0};
  F->InvalidateFormRect(Bounds(O.X, O.Y, FWidth, FHeight));
}

void TControl::InvalidateRect(const TRect& R) {
  TCustomForm* F = ParentForm();
  if (!F) return;
  const TPoint O = ClientToForm({R.Left, R.Top});
  F->InvalidateFormRect(Bounds(O.X, O.Y, R.Width(), R.Height()));
}

void TControl::Update() {
  if (TCustomForm* F = ParentForm()) F->PaintInvalidated();
}

void TControl::BringToFront() {
  if (!FParent) return;
  auto& L = FParent->FControls;
  L.erase(std::find(L.begin(), L.end(), this));
  L.push_back(this);
  Invalidate();
}

void TControl::SendToBack() {
  if (!FParent) return;
  auto& L = FParent->FControls;
  L.erase(std::find(L.begin(), L.end(), this));
  L.insert(L.begin(), this);
  Invalidate();
}

TCustomForm* TControl::ParentForm() const { return GetParentForm(this); }

bool TControl::HitTest(int32_t X, int32_t Y) const { return ClientRect().Contains({X, Y}); }

void TControl::MouseDown(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (auto H = OnMouseDown) H(this, Button, Shift, X, Y);
}

void TControl::MouseMove(TShiftState Shift, int32_t X, int32_t Y) {
  if (auto H = OnMouseMove) H(this, Shift, X, Y);
}

void TControl::MouseUp(TMouseButton Button, TShiftState Shift, int32_t X, int32_t Y) {
  if (auto H = OnMouseUp) H(this, Button, Shift, X, Y);
}

bool TControl::MouseWheel(TShiftState Shift, int32_t WheelDelta, TPoint MousePos) {
  bool Handled = false;
  if (auto H = OnMouseWheel) H(this, Shift, WheelDelta, MousePos, Handled);
  return Handled;
}

void TControl::Click() {
  if (auto H = OnClick) H(this);
}

void TControl::DblClick() {
  if (auto H = OnDblClick) H(this);
}

// ---------------------------------------------------------------------------------------------
// TGraphicControl

TGraphicControl::TGraphicControl(TComponent* AOwner) : TControl(AOwner) { FCanvas.Control = this; }

void TGraphicControl::PaintControl(HDC DC) {
  // The canvas is bound for the duration of Paint only, also when Paint raises.
  struct TUnbind {
    TCanvas& C;
    ~TUnbind() { C.SetHandle(nullptr); }
  } Unbind{FCanvas};
  FCanvas.SetHandle(DC);
  FCanvas.Font().Assign(Font());
  FCanvas.Brush().SetColor(Color());
  Paint();
}

// ---------------------------------------------------------------------------------------------
// TWinControl

namespace {
intptr_t NextHandle = 1;
}

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {
  ControlStyle.Include(csAcceptsControls);
}

TWinControl::~TWinControl() {
  // Children whose owner is elsewhere lose their parent; never reach back into this object.
  for (TControl* C : FControls) C->FParent = nullptr;
  FControls.clear();
  FTabOrderList.clear();
}

void TWinControl::InsertControl(TControl* AControl) {
  if (!AControl || ContainsControl(AControl)) return;
  FControls.push_back(AControl);
  AControl->FParent = this;
  if (auto* W = dynamic_cast<TWinControl*>(AControl)) FTabOrderList.push_back(W);
}

void TWinControl::RemoveControl(TControl* AControl) {
  auto It = std::find(FControls.begin(), FControls.end(), AControl);
  if (It == FControls.end()) return;
  if (TCustomForm* F = ParentForm()) F->ControlRemoved(AControl);
  FControls.erase(It);
  FTabOrderList.erase(std::remove(FTabOrderList.begin(), FTabOrderList.end(), AControl), FTabOrderList.end());
  AControl->FParent = nullptr;
  if (!Destroying()) Realign();
}

bool TWinControl::ContainsControl(const TControl* AControl) const {
  for (const TControl* C = AControl; C; C = C->Parent())
    if (C == this) return true;
  return false;
}

TControl* TWinControl::ControlAtPos(TPoint P, bool AllowDisabled, bool AllowWinControls) const {
  for (auto It = FControls.rbegin(); It != FControls.rend(); ++It) {
    TControl* C = *It;
    if (!C->Visible() || (!AllowDisabled && !C->Enabled())) continue;
    if (!AllowWinControls && dynamic_cast<TWinControl*>(C)) continue;
    const TPoint O = C->ClientOffset();
    if (C->BoundsRect().Contains(P) && (dynamic_cast<TWinControl*>(C) || C->HitTest(P.X - C->Left() - O.X, P.Y - C->Top() - O.Y)))
      return C;
  }
  return nullptr;
}

void TWinControl::Broadcast(TMessage& Message) {
  const std::vector<TControl*> Children = FControls;
  for (TControl* C : Children) {
    if (!ContainsControl(C)) continue;  // removed by an earlier receiver
    C->WndProc(Message);
    if (Message.Result != 0) return;
  }
}

int32_t TWinControl::TabOrder() const {
  if (!Parent()) return -1;
  const auto& L = Parent()->FTabOrderList;
  auto It = std::find(L.begin(), L.end(), this);
  return It == L.end() ? -1 : static_cast<int32_t>(It - L.begin());
}

void TWinControl::SetTabOrder(int32_t Value) {
  if (!Parent()) return;
  auto& L = Parent()->FTabOrderList;
  auto It = std::find(L.begin(), L.end(), this);
  if (It == L.end()) return;
  L.erase(It);
  Value = std::clamp<int32_t>(Value, 0, static_cast<int32_t>(L.size()));
  L.insert(L.begin() + Value, this);
}

std::vector<TWinControl*> TWinControl::TabList() const { return FTabOrderList; }

bool TWinControl::CanFocus() const {
  for (const TControl* C = this; C; C = C->Parent()) {
    if (!C->Visible() || !C->Enabled()) return false;
    if (!C->Parent()) return dynamic_cast<const TCustomForm*>(C) != nullptr;
  }
  return false;
}

bool TWinControl::Focused() const {
  TCustomForm* F = ParentForm();
  return F && F->ActiveControl() == this;
}

void TWinControl::SetFocus() {
  TCustomForm* F = ParentForm();
  if (!F) return;
  if (F == this) {
    F->SetActiveControl(nullptr);
    return;
  }
  F->FocusControl(this);
}

void TWinControl::DoEnter() {
  if (auto H = OnEnter) H(this);
}

void TWinControl::DoExit() {
  if (auto H = OnExit) H(this);
}

void TWinControl::CreateParams(TCreateParams& Params) {
  Params.Caption = Text();
  Params.X = Left();
  Params.Y = Top();
  Params.Width = Width();
  Params.Height = Height();
  Params.WndParent = Parent();
}

void TWinControl::CreateWnd() {}

void TWinControl::CreateHandle() {
  if (FHandle) return;
  FParams = TCreateParams{};
  CreateParams(FParams);
  FFullRedraw = (FParams.WindowClass.style & (CS_HREDRAW | CS_VREDRAW)) != 0;
  FHandle = NextHandle++;
  CreateWnd();
  const std::vector<TControl*> Children = FControls;
  for (TControl* C : Children)
    if (auto* W = dynamic_cast<TWinControl*>(C))
      if (W->Visible() && ContainsControl(W)) W->HandleNeeded();
  Realign();
  Invalidate();
}

void TWinControl::HandleNeeded() {
  if (FHandle) return;
  if (Parent() && !Parent()->HandleAllocated()) {
    Parent()->HandleNeeded();
    if (FHandle) return;
  }
  CreateHandle();
}

intptr_t TWinControl::Handle() {
  HandleNeeded();
  return FHandle;
}

void TWinControl::DestroyHandle() {
  for (TControl* C : FControls)
    if (auto* W = dynamic_cast<TWinControl*>(C)) W->DestroyHandle();
  FHandle = 0;
}

void TWinControl::SetBorderWidth(int32_t Value) {
  if (FBorderWidth == Value) return;
  FBorderWidth = std::max(0, Value);
  Realign();
  Invalidate();
}

TRect TWinControl::NonClientInsets() const {
  const int32_t E = (FParams.ExStyle & WS_EX_CLIENTEDGE) ? 2 : 0;
  return Rect(E, E, E, E);
}

TPoint TWinControl::ClientOffset() const {
  const TRect I = NonClientInsets();
  return {I.Left, I.Top};
}

TRect TWinControl::ClientRect() const {
  const TRect I = NonClientInsets();
  return Rect(0, 0, std::max(0, Width() - I.Left - I.Right), std::max(0, Height() - I.Top - I.Bottom));
}

bool TWinControl::Showing() const { return TControl::Showing(); }

void TWinControl::ShowingChangedTree() {
  const bool Now = Showing();
  if (Now != FShowingState) {
    FShowingState = Now;
    Perform(CM_SHOWINGCHANGED, Now ? 1 : 0);
  }
  const std::vector<TControl*> Children = FControls;
  for (TControl* C : Children)
    if (auto* W = dynamic_cast<TWinControl*>(C))
      if (ContainsControl(W)) W->ShowingChangedTree();
}

void TWinControl::VisibleChanged() { TControl::VisibleChanged(); }

void TWinControl::EnableAlign() {
  if (FAlignLevel > 0 && --FAlignLevel == 0) Realign();
}

void TWinControl::Realign() {
  if (FAlignLevel > 0 || FAligning || Destroying()) return;
  TRect R = ClientRect();
  R = Rect(R.Left + FBorderWidth, R.Top + FBorderWidth, R.Right - FBorderWidth, R.Bottom - FBorderWidth);
  FAligning = true;
  struct TReset {
    bool& B;
    ~TReset() { B = false; }
  } Reset{FAligning};
  AlignControls(nullptr, R);
}

void TWinControl::AlignControls(TControl*, TRect& R) {
  auto Collect = [this](TAlign A) {
    std::vector<TControl*> L;
    for (TControl* C : FControls)
      if (C->Align() == A && C->Visible()) L.push_back(C);
    return L;
  };
  std::vector<TControl*> L = Collect(alTop);
  std::stable_sort(L.begin(), L.end(), [](TControl* A, TControl* B) { return A->Top() < B->Top(); });
  for (TControl* C : L) {
    C->SetBounds(R.Left, R.Top, R.Width(), C->Height());
    R.Top += C->Height();
  }
  L = Collect(alBottom);
  std::stable_sort(L.begin(), L.end(), [](TControl* A, TControl* B) { return A->Top() > B->Top(); });
  for (TControl* C : L) {
    C->SetBounds(R.Left, R.Bottom - C->Height(), R.Width(), C->Height());
    R.Bottom -= C->Height();
  }
  L = Collect(alLeft);
  std::stable_sort(L.begin(), L.end(), [](TControl* A, TControl* B) { return A->Left() < B->Left(); });
  for (TControl* C : L) {
    C->SetBounds(R.Left, R.Top, C->Width(), std::max(0, R.Height()));
    R.Left += C->Width();
  }
  L = Collect(alRight);
  std::stable_sort(L.begin(), L.end(), [](TControl* A, TControl* B) { return A->Left() > B->Left(); });
  for (TControl* C : L) {
    C->SetBounds(R.Right - C->Width(), R.Top, C->Width(), std::max(0, R.Height()));
    R.Right -= C->Width();
  }
  for (TControl* C : Collect(alClient)) C->SetBounds(R.Left, R.Top, std::max(0, R.Width()), std::max(0, R.Height()));
  // Anchored controls keep their distances to the edges they are anchored to.
  const int32_t CW = ClientWidth(), CH = ClientHeight();
  for (TControl* C : FControls) {
    if (C->Align() != alNone || !C->FAnchorValid) continue;
    const TAnchors A = C->Anchors();
    if (A == TAnchors{akLeft, akTop}) continue;
    const TRect B = C->FAnchorBase;
    const int32_t DX = CW - C->FAnchorParentSize.cx, DY = CH - C->FAnchorParentSize.cy;
    int32_t L2 = B.Left, T2 = B.Top, W2 = B.Width(), H2 = B.Height();
    if (A.Contains(akRight)) {
      if (A.Contains(akLeft))
        W2 += DX;
      else
        L2 += DX;
    } else if (!A.Contains(akLeft)) {
      L2 += DX / 2;
    }
    if (A.Contains(akBottom)) {
      if (A.Contains(akTop))
        H2 += DY;
      else
        T2 += DY;
    } else if (!A.Contains(akTop)) {
      T2 += DY / 2;
    }
    C->SetBounds(L2, T2, std::max(0, W2), std::max(0, H2));
  }
}

void TWinControl::Resize() {
  Realign();
  if (FFullRedraw) Invalidate();
  TControl::Resize();
}

void TWinControl::KeyDown(uint16_t& Key, TShiftState Shift) {
  if (auto H = OnKeyDown) H(this, Key, Shift);
}

void TWinControl::KeyUp(uint16_t& Key, TShiftState Shift) {
  if (auto H = OnKeyUp) H(this, Key, Shift);
}

void TWinControl::KeyPress(char& Key) {
  if (auto H = OnKeyPress) H(this, Key);
}

void TWinControl::WndProc(TMessage& Message) {
  switch (Message.Msg) {
    case WM_ERASEBKGND:
      EraseBackground(reinterpret_cast<HDC>(Message.WParam));
      Message.Result = 1;
      return;
    case WM_PAINT: {
      HDC DC = reinterpret_cast<HDC>(Message.WParam);
      PaintWindow(DC);
      PaintControls(DC);
      Message.Result = 0;
      return;
    }
    case CM_DIALOGKEY:
      Broadcast(Message);
      return;
    default:
      TControl::WndProc(Message);
  }
}

void TWinControl::EraseBackground(HDC DC) {
  TCanvas C;
  C.SetHandle(DC);
  C.Brush().SetColor(Color());
  C.FillRect(ClientRect());
}

void TWinControl::PaintNonClient(HDC DC) {
  if (FParams.ExStyle & WS_EX_CLIENTEDGE) {
    TCanvas C;
    C.SetHandle(DC);
    TRect R = Rect(0, 0, Width(), Height());
    ThemeServices()->DrawEdge(C, R, true);
  }
}

void TWinControl::PaintControls(HDC DC) {
  const std::vector<TControl*> Children = FControls;
  for (TControl* C : Children) {
    if (!C->Visible() || dynamic_cast<TWinControl*>(C) || !ContainsControl(C)) continue;
    TDeviceContext Child = *DC;
    Child.Origin = {DC->Origin.X + C->Left(), DC->Origin.Y + C->Top()};
    Child.Clip = IntersectRect(DC->Clip, Bounds(Child.Origin.X, Child.Origin.Y, C->Width(), C->Height()));
    if (Child.Clip.IsEmpty()) continue;
    C->PaintControl(&Child);
  }
}

void TWinControl::PaintControl(HDC DC) { PaintTree(DC); }

void TWinControl::PaintTree(HDC DC) {
  if (!HandleAllocated()) return;
  PaintNonClient(DC);
  const TPoint O = ClientOffset();
  const TRect CR = ClientRect();
  TDeviceContext Client = *DC;
  Client.Origin = {DC->Origin.X + O.X, DC->Origin.Y + O.Y};
  Client.Clip = IntersectRect(DC->Clip, Bounds(Client.Origin.X, Client.Origin.Y, CR.Width(), CR.Height()));
  if (Client.Clip.IsEmpty()) return;
  TComponentRef Self(this);
  Perform(WM_ERASEBKGND, reinterpret_cast<intptr_t>(&Client));
  if (!Self) return;
  Perform(WM_PAINT, reinterpret_cast<intptr_t>(&Client));
  if (!Self) return;
  const std::vector<TControl*> Children = FControls;
  for (TControl* C : Children) {
    auto* W = dynamic_cast<TWinControl*>(C);
    if (!W || !W->Visible() || !ContainsControl(W)) continue;
    TDeviceContext Child = Client;
    Child.Origin = {Client.Origin.X + W->Left(), Client.Origin.Y + W->Top()};
    Child.Clip = IntersectRect(Client.Clip, Bounds(Child.Origin.X, Child.Origin.Y, W->Width(), W->Height()));
    if (Child.Clip.IsEmpty()) continue;
    W->PaintTree(&Child);
  }
}

// ---------------------------------------------------------------------------------------------
// TCustomControl

TCustomControl::TCustomControl(TComponent* AOwner) : TWinControl(AOwner) { FCanvas.Control = this; }

void TCustomControl::Paint() {
  if (auto H = OnPaint) H(this);
}

void TCustomControl::PaintWindow(HDC DC) {
  struct TUnbind {
    TCanvas& C;
    ~TUnbind() { C.SetHandle(nullptr); }
  } Unbind{FCanvas};
  FCanvas.SetHandle(DC);
  FCanvas.Font().Assign(Font());
  FCanvas.Brush().SetColor(Color());
  Paint();
}

}  // namespace varnix
