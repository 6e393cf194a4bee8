// The SDL2 back end: every visible form is a window; pop-ups are SDL pop-up-menu windows and hints
// tooltip windows. Forms paint into their own pictures, which are copied to the window surfaces.
#include <SDL.h>

#include <deque>
#include <map>

#include "platform/vcl/Backend.h"

// LeakSanitizer's switches, present only in sanitizer builds.
extern "C" void __lsan_disable() __attribute__((weak));
extern "C" void __lsan_enable() __attribute__((weak));

namespace varnix {

namespace {

// While the window back end lives, allocations on the UI thread are not reported as leaks: the
// X11, input-method and session-bus libraries that SDL loads keep state that SDL frees only partly
// when it unloads them, and the stacks of those blocks cannot be told apart once the libraries
// are gone. The library's own leak checking happens in the headless tests.
struct TLeakCheckPause {
  TLeakCheckPause() {
    if (__lsan_disable) __lsan_disable();
  }
  ~TLeakCheckPause() {
    if (__lsan_enable) __lsan_enable();
  }
  TLeakCheckPause(const TLeakCheckPause&) = delete;
  TLeakCheckPause& operator=(const TLeakCheckPause&) = delete;
};

// cp1252 text to UTF-8, for window titles.
std::string ToUtf8(const std::string& S);
// UTF-8 to cp1252 characters; characters outside cp1252 become '?'.
std::string FromUtf8(const char* S);

TShiftState ModsToShift(uint16_t Mods) {
  TShiftState S;
  if (Mods & KMOD_SHIFT) S.Include(ssShift);
  if (Mods & KMOD_ALT) S.Include(ssAlt);
#ifdef __APPLE__
  if (Mods & KMOD_GUI) S.Include(ssCtrl);  // the primary modifier is Cmd
#else
  if (Mods & KMOD_CTRL) S.Include(ssCtrl);
#endif
  return S;
}

uint16_t KeyToVk(SDL_Keycode K) {
  if (K >= SDLK_a && K <= SDLK_z) return static_cast<uint16_t>('A' + (K - SDLK_a));
  if (K >= SDLK_0 && K <= SDLK_9) return static_cast<uint16_t>('0' + (K - SDLK_0));
  if (K >= SDLK_F1 && K <= SDLK_F12) return static_cast<uint16_t>(VK_F1 + (K - SDLK_F1));
  switch (K) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_HOME: return VK_HOME;
    case SDLK_END: return VK_END;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_UP: return VK_UP;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_EQUALS:
    case SDLK_PLUS: return VK_OEM_PLUS;
    case SDLK_MINUS: return VK_OEM_MINUS;
    case SDLK_COMMA: return VK_OEM_COMMA;
    case SDLK_PERIOD: return VK_OEM_PERIOD;
    case SDLK_KP_PLUS: return VK_ADD;
    case SDLK_KP_MINUS: return VK_SUBTRACT;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
#ifdef __APPLE__
    case SDLK_LGUI:
    case SDLK_RGUI: return VK_CONTROL;
#endif
    default: return 0;
  }
}

class TSdlBackend : public TBackend {
 public:
  TSdlBackend() : FPause(std::make_unique<TLeakCheckPause>()) {}
  ~TSdlBackend() override {
    for (auto& [F, W] : FWindows) SDL_DestroyWindow(W);
    FWindows.clear();
    for (auto& [I, C] : FSystemCursors) SDL_FreeCursor(C);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
  }

  bool Init(std::string& Error) {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
      Error = SDL_GetError();
      return false;
    }
    SDL_StartTextInput();
    return true;
  }

  TBackendKind Kind() const override { return bkWindow; }

  std::vector<TMonitorInfo> Monitors() override {
    std::vector<TMonitorInfo> L;
    const int N = SDL_GetNumVideoDisplays();
    for (int I = 0; I < N; ++I) {
      SDL_Rect B, U;
      if (SDL_GetDisplayBounds(I, &B) != 0) continue;
      if (SDL_GetDisplayUsableBounds(I, &U) != 0) U = B;
      L.push_back({Bounds(B.x, B.y, B.w, B.h), Bounds(U.x, U.y, U.w, U.h)});
    }
    return L;
  }

  void FormShown(TCustomForm* Form) override {
    if (FWindows.count(Form)) {
      SDL_ShowWindow(FWindows[Form]);
      return;
    }
    Uint32 Flags = SDL_WINDOW_SHOWN;
    if (Form->IsPopup()) {
      Flags |= SDL_WINDOW_BORDERLESS | SDL_WINDOW_SKIP_TASKBAR | SDL_WINDOW_ALWAYS_ON_TOP;
      Flags |= Form->ClassName() == std::string("THintWindow") ? SDL_WINDOW_TOOLTIP : SDL_WINDOW_POPUP_MENU;
    } else if (Form->BorderStyle == bsSizeable || Form->BorderStyle == bsSizeToolWin) {
      Flags |= SDL_WINDOW_RESIZABLE;
    } else if (Form->BorderStyle == bsNone) {
      Flags |= SDL_WINDOW_BORDERLESS;
    }
    SDL_Window* W = SDL_CreateWindow(ToUtf8(Form->Caption()).c_str(), Form->Left(), Form->Top(),
                                     std::max(1, Form->Width()), std::max(1, Form->Height()), Flags);
    if (!W) return;
    FWindows[Form] = W;
    FForms[SDL_GetWindowID(W)] = Form;
    if (Form->Constraints().MinWidth() > 0 || Form->Constraints().MinHeight() > 0)
      SDL_SetWindowMinimumSize(W, std::max(1, Form->Constraints().MinWidth()), std::max(1, Form->Constraints().MinHeight()));
    Form->InvalidateFormRect(Rect(0, 0, Form->Width(), Form->Height()));
  }

  void DestroyWindowOf(TCustomForm* Form) {
    auto It = FWindows.find(Form);
    if (It == FWindows.end()) return;
    FForms.erase(SDL_GetWindowID(It->second));
    SDL_DestroyWindow(It->second);
    FWindows.erase(It);
  }

  void FormHidden(TCustomForm* Form) override { DestroyWindowOf(Form); }
  void FormDestroyed(TCustomForm* Form) override { DestroyWindowOf(Form); }

  void FormBoundsChanged(TCustomForm* Form) override {
    if (FSyncing) return;
    auto It = FWindows.find(Form);
    if (It == FWindows.end()) return;
    int X, Y, W, H;
    SDL_GetWindowPosition(It->second, &X, &Y);
    SDL_GetWindowSize(It->second, &W, &H);
    if (X != Form->Left() || Y != Form->Top()) SDL_SetWindowPosition(It->second, Form->Left(), Form->Top());
    if (W != Form->Width() || H != Form->Height())
      SDL_SetWindowSize(It->second, std::max(1, Form->Width()), std::max(1, Form->Height()));
  }

  void FormCaptionChanged(TCustomForm* Form) override {
    auto It = FWindows.find(Form);
    if (It != FWindows.end()) SDL_SetWindowTitle(It->second, ToUtf8(Form->Caption()).c_str());
  }

  void Present(TCustomForm* Form) override {
    auto It = FWindows.find(Form);
    if (It == FWindows.end()) return;
    TBitmap& B = Form->PaintBuffer();
    if (B.Width() <= 0 || B.Height() <= 0) return;
    SDL_Surface* Target = SDL_GetWindowSurface(It->second);
    if (!Target) return;
    SDL_Surface* Source = SDL_CreateRGBSurfaceWithFormatFrom(B.ScanLine(0), B.Width(), B.Height(), 32, B.RowBytes(),
                                                             SDL_PIXELFORMAT_RGBA32);
    if (!Source) return;
    SDL_SetSurfaceBlendMode(Source, SDL_BLENDMODE_NONE);
    SDL_BlitSurface(Source, nullptr, Target, nullptr);
    SDL_FreeSurface(Source);
    SDL_UpdateWindowSurface(It->second);
  }

  TCustomForm* FormOf(Uint32 WindowID) const {
    auto It = FForms.find(WindowID);
    return It == FForms.end() ? nullptr : It->second;
  }

  bool Translate(const SDL_Event& Ev, TInputEvent& E) {
    switch (Ev.type) {
      case SDL_MOUSEMOTION:
        E.Form = FormOf(Ev.motion.windowID);
        if (!E.Form) return false;
        E.Kind = ikMouseMove;
        E.Pos = {Ev.motion.x, Ev.motion.y};
        E.Shift = ModsToShift(SDL_GetModState());
        return true;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEBUTTONUP:
        E.Form = FormOf(Ev.button.windowID);
        if (!E.Form) return false;
        E.Kind = Ev.type == SDL_MOUSEBUTTONDOWN ? ikMouseDown : ikMouseUp;
        E.Pos = {Ev.button.x, Ev.button.y};
        E.Button = Ev.button.button == SDL_BUTTON_RIGHT ? mbRight : (Ev.button.button == SDL_BUTTON_MIDDLE ? mbMiddle : mbLeft);
        E.DoubleClick = Ev.type == SDL_MOUSEBUTTONDOWN && Ev.button.clicks == 2;
        E.Shift = ModsToShift(SDL_GetModState());
        return true;
      case SDL_MOUSEWHEEL: {
        E.Form = FormOf(Ev.wheel.windowID);
        if (!E.Form || Ev.wheel.y == 0) return false;
        int X, Y;
        SDL_GetMouseState(&X, &Y);
        E.Kind = ikMouseWheel;
        E.Pos = {X, Y};
        E.WheelDelta = Ev.wheel.y * 120;
        E.Shift = ModsToShift(SDL_GetModState());
        return true;
      }
      case SDL_KEYDOWN:
      case SDL_KEYUP:
        E.Form = FormOf(Ev.key.windowID);
        E.Kind = Ev.type == SDL_KEYDOWN ? ikKeyDown : ikKeyUp;
        E.Key = KeyToVk(Ev.key.keysym.sym);
        E.Shift = ModsToShift(Ev.key.keysym.mod);
        return E.Key != 0;
      case SDL_TEXTINPUT: {
        const std::string Chars = FromUtf8(Ev.text.text);
        for (char C : Chars) {
          TInputEvent X;
          X.Kind = ikChar;
          X.Form = FormOf(Ev.text.windowID);
          X.Char = C;
          FPending.push_back(X);
        }
        return false;
      }
      case SDL_WINDOWEVENT: {
        TCustomForm* F = FormOf(Ev.window.windowID);
        if (!F) return false;
        switch (Ev.window.event) {
          case SDL_WINDOWEVENT_CLOSE:
            E.Kind = ikClose;
            E.Form = F;
            return true;
          case SDL_WINDOWEVENT_SIZE_CHANGED:
          case SDL_WINDOWEVENT_MOVED: {
            int X, Y, W, H;
            SDL_GetWindowPosition(FWindows[F], &X, &Y);
            SDL_GetWindowSize(FWindows[F], &W, &H);
            FSyncing = true;
            F->SetBounds(X, Y, W, H);
            FSyncing = false;
            F->InvalidateFormRect(Rect(0, 0, W, H));
            return false;
          }
          case SDL_WINDOWEVENT_EXPOSED:
            F->InvalidateFormRect(Rect(0, 0, F->Width(), F->Height()));
            return false;
          case SDL_WINDOWEVENT_FOCUS_GAINED:
            if (!F->IsPopup() && (!Application->ModalForm() || Application->ModalForm() == F)) F->Activate();
            return false;
          default: return false;
        }
      }
      default: return false;
    }
  }

  bool PollEvent(TInputEvent& E, uint32_t TimeoutMs) override {
    if (!FPending.empty()) {
      E = FPending.front();
      FPending.pop_front();
      return true;
    }
    SDL_Event Ev;
    const int Got = TimeoutMs == 0 ? SDL_PollEvent(&Ev) : SDL_WaitEventTimeout(&Ev, static_cast<int>(std::min<uint32_t>(TimeoutMs, 1000)));
    if (!Got) return false;
    if (Translate(Ev, E)) return true;
    if (!FPending.empty()) {
      E = FPending.front();
      FPending.pop_front();
      return true;
    }
    return false;
  }

  void SetCursor(TCursor Index, HCURSOR Cursor) override {
    SDL_Cursor* C = nullptr;
    if (Cursor) {
      if (!Cursor->Native) Cursor->Native = MakeColorCursor(*Cursor);
      C = static_cast<SDL_Cursor*>(Cursor->Native);
    }
    if (!C) C = SystemCursor(Index);
    if (C && C != FCurrent) {
      SDL_SetCursor(C);
      FCurrent = C;
    }
  }

  void FreeCursor(HCURSOR Cursor) override {
    if (!Cursor || !Cursor->Native) return;
    if (FCurrent == Cursor->Native) {
      SDL_SetCursor(SystemCursor(crDefault));
      FCurrent = nullptr;
    }
    SDL_FreeCursor(static_cast<SDL_Cursor*>(Cursor->Native));
    Cursor->Native = nullptr;
  }

  bool MousePos(TPoint& P) override {
    int X, Y;
    SDL_GetGlobalMouseState(&X, &Y);
    P = {X, Y};
    return true;
  }

 private:
  SDL_Cursor* SystemCursor(TCursor Index) {
    SDL_SystemCursor Id = SDL_SYSTEM_CURSOR_ARROW;
    switch (Index) {
      case crIBeam: Id = SDL_SYSTEM_CURSOR_IBEAM; break;
      case crHourGlass: Id = SDL_SYSTEM_CURSOR_WAIT; break;
      case crCross: Id = SDL_SYSTEM_CURSOR_CROSSHAIR; break;
      case crHandPoint: Id = SDL_SYSTEM_CURSOR_HAND; break;
      case crSizeAll: Id = SDL_SYSTEM_CURSOR_SIZEALL; break;
      case crSizeNS: Id = SDL_SYSTEM_CURSOR_SIZENS; break;
      case crSizeWE: Id = SDL_SYSTEM_CURSOR_SIZEWE; break;
      case crSizeNWSE: Id = SDL_SYSTEM_CURSOR_SIZENWSE; break;
      case crSizeNESW: Id = SDL_SYSTEM_CURSOR_SIZENESW; break;
      case crNo: Id = SDL_SYSTEM_CURSOR_NO; break;
      default: break;
    }
    auto It = FSystemCursors.find(Id);
    if (It != FSystemCursors.end()) return It->second;
    SDL_Cursor* C = SDL_CreateSystemCursor(Id);
    if (C) FSystemCursors[Id] = C;
    return C;
  }

  static SDL_Cursor* MakeColorCursor(const TCursorImage& Image) {
    const TBitmap& B = Image.Image;
    if (B.Width() <= 0 || B.Height() <= 0) return nullptr;
    SDL_Surface* S = SDL_CreateRGBSurfaceWithFormat(0, B.Width(), B.Height(), 32, SDL_PIXELFORMAT_RGBA32);
    if (!S) return nullptr;
    // SDL wants straight alpha.
    for (int32_t Y = 0; Y < B.Height(); ++Y) {
      const uint8_t* Src = B.ScanLine(Y);
      uint8_t* Dst = static_cast<uint8_t*>(S->pixels) + Y * S->pitch;
      for (int32_t X = 0; X < B.Width(); ++X, Src += 4, Dst += 4) {
        const uint32_t A = Src[3];
        for (int C = 0; C < 3; ++C) Dst[C] = A ? static_cast<uint8_t>(std::min<uint32_t>(255, (Src[C] * 255 + A / 2) / A)) : 0;
        Dst[3] = static_cast<uint8_t>(A);
      }
    }
    SDL_Cursor* C = SDL_CreateColorCursor(S, Image.HotSpot.X, Image.HotSpot.Y);
    SDL_FreeSurface(S);
    return C;
  }

  std::map<TCustomForm*, SDL_Window*> FWindows;
  std::map<Uint32, TCustomForm*> FForms;
  std::map<SDL_SystemCursor, SDL_Cursor*> FSystemCursors;
  SDL_Cursor* FCurrent = nullptr;
  std::deque<TInputEvent> FPending;
  bool FSyncing = false;
  // Released after the destructor body has shut SDL down.
  std::unique_ptr<TLeakCheckPause> FPause;
};

uint32_t DecodeCp1252High(uint32_t U) {
  static const uint16_t High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                    0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  for (uint32_t I = 0; I < 32; ++I)
    if (High[I] == U) return 0x80 + I;
  return '?';
}

std::string ToUtf8(const std::string& S) {
  static const uint16_t High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                    0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};
  std::string R;
  for (unsigned char C : S) {
    uint32_t U = C >= 0x80 && C < 0xA0 ? High[C - 0x80] : C;
    if (U < 0x80) {
      R += static_cast<char>(U);
    } else if (U < 0x800) {
      R += static_cast<char>(0xC0 | (U >> 6));
      R += static_cast<char>(0x80 | (U & 0x3F));
    } else {
      R += static_cast<char>(0xE0 | (U >> 12));
      R += static_cast<char>(0x80 | ((U >> 6) & 0x3F));
      R += static_cast<char>(0x80 | (U & 0x3F));
    }
  }
  return R;
}

std::string FromUtf8(const char* S) {
  std::string R;
  const unsigned char* P = reinterpret_cast<const unsigned char*>(S);
  while (*P) {
    uint32_t U;
    int N;
    if (*P < 0x80) U = *P, N = 1;
    else if ((*P & 0xE0) == 0xC0) U = *P & 0x1F, N = 2;
    else if ((*P & 0xF0) == 0xE0) U = *P & 0x0F, N = 3;
    else U = *P & 0x07, N = 4;
    int I = 1;
    for (; I < N && (P[I] & 0xC0) == 0x80; ++I) U = (U << 6) | (P[I] & 0x3F);
    P += I;
    if (I < N) {
      R += '?';
      continue;
    }
    if (U < 0x80 || (U >= 0xA0 && U < 0x100))
      R += static_cast<char>(U);
    else
      R += static_cast<char>(DecodeCp1252High(U));
  }
  return R;
}

}  // namespace

std::unique_ptr<TBackend> CreateSdlBackend(std::string& Error) {
  auto B = std::make_unique<TSdlBackend>();
  if (!B->Init(Error)) return nullptr;
  return B;
}

}  // namespace varnix

