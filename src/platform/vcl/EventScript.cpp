#include "platform/vcl/EventScript.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>

#include "common/CommonClasses.h"
#include "platform/vcl/Backend.h"
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Menus.h"

namespace varnix {

std::vector<std::string> SplitScriptWords(const std::string& Line) {
  std::vector<std::string> Words;
  size_t I = 0;
  while (I < Line.size()) {
    while (I < Line.size() && std::isspace(static_cast<unsigned char>(Line[I]))) ++I;
    if (I >= Line.size() || Line[I] == '#') break;
    std::string W;
    if (Line[I] == '"') {
      ++I;
      while (I < Line.size()) {
        if (Line[I] == '"') {
          if (I + 1 < Line.size() && Line[I + 1] == '"') {
            W += '"';
            I += 2;
            continue;
          }
          ++I;
          break;
        }
        W += Line[I++];
      }
    } else {
      while (I < Line.size() && !std::isspace(static_cast<unsigned char>(Line[I]))) W += Line[I++];
    }
    Words.push_back(W);
  }
  return Words;
}

namespace {

bool ParseInt(const std::string& S, int32_t& V) {
  if (S.empty()) return false;
  const char* B = S.data();
  const char* E = B + S.size();
  auto R = std::from_chars(B, E, V);
  return R.ec == std::errc() && R.ptr == E;
}

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

bool ParseKey(const std::string& Word, uint16_t& Key) {
  const std::string K = Lower(Word);
  if (K.size() == 1 && std::isalnum(static_cast<unsigned char>(K[0]))) {
    Key = static_cast<uint16_t>(std::toupper(static_cast<unsigned char>(K[0])));
    return true;
  }
  static const std::pair<const char*, uint16_t> Names[] = {
      {"space", VK_SPACE}, {"return", VK_RETURN}, {"enter", VK_RETURN}, {"escape", VK_ESCAPE}, {"delete", VK_DELETE},
      {"plus", VK_OEM_PLUS}, {"minus", VK_OEM_MINUS}, {"tab", VK_TAB}, {"backspace", VK_BACK}, {"left", VK_LEFT},
      {"right", VK_RIGHT}, {"up", VK_UP}, {"down", VK_DOWN}, {"home", VK_HOME}, {"end", VK_END}};
  for (const auto& [N, V] : Names)
    if (K == N) {
      Key = V;
      return true;
    }
  if (K.size() >= 2 && K[0] == 'f') {
    int32_t N;
    if (ParseInt(K.substr(1), N) && N >= 1 && N <= 12) {
      Key = static_cast<uint16_t>(VK_F1 + N - 1);
      return true;
    }
  }
  return false;
}

// Modifier words from position From on; false at an unknown word.
bool ParseMods(const std::vector<std::string>& W, size_t From, TShiftState& Shift, std::string& Bad) {
  for (size_t I = From; I < W.size(); ++I) {
    const std::string M = Lower(W[I]);
    if (M == "ctrl" || M == "cmd")
      Shift.Include(ssCtrl);
    else if (M == "alt")
      Shift.Include(ssAlt);
    else if (M == "shift")
      Shift.Include(ssShift);
    else {
      Bad = W[I];
      return false;
    }
  }
  return true;
}

TControl* FindIn(TComponent* Root, const std::string& Name) {
  if (auto* C = dynamic_cast<TControl*>(Root); C && SameName(C->Name(), Name)) return C;
  for (int32_t I = 0; I < Root->ComponentCount(); ++I)
    if (TControl* C = FindIn(Root->Components(I), Name)) return C;
  if (auto* W = dynamic_cast<TWinControl*>(Root))
    for (int32_t I = 0; I < W->ControlCount(); ++I)
      if (TControl* C = FindIn(W->Controls(I), Name)) return C;
  return nullptr;
}

TMenuItem* FindItem(TComponent* Root, const std::string& Name) {
  if (auto* M = dynamic_cast<TMenuItem*>(Root); M && SameName(M->Name(), Name)) return M;
  for (int32_t I = 0; I < Root->ComponentCount(); ++I)
    if (TMenuItem* M = FindItem(Root->Components(I), Name)) return M;
  return nullptr;
}

std::vector<TCustomForm*> SearchOrder() {
  std::vector<TCustomForm*> L;
  auto Add = [&L](TCustomForm* F) {
    if (F && std::find(L.begin(), L.end(), F) == L.end()) L.push_back(F);
  };
  Add(Application->PopupForm());
  Add(Application->ModalForm());
  Add(Screen->ActiveForm());
  for (int32_t I = Screen->FormCount() - 1; I >= 0; --I)
    if (Screen->Forms(I)->Visible()) Add(Screen->Forms(I));
  return L;
}

}  // namespace

TControl* FindScriptControl(const std::string& Name) {
  for (TCustomForm* F : SearchOrder())
    if (TControl* C = FindIn(F, Name)) return C;
  return nullptr;
}

TEventScript::TEventScript(const std::string& Text, std::string Name) : FName(std::move(Name)) {
  int32_t Number = 0;
  size_t Start = 0;
  while (Start <= Text.size()) {
    size_t End = Text.find('\n', Start);
    if (End == std::string::npos) End = Text.size();
    std::string Line = Text.substr(Start, End - Start);
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    ++Number;
    std::vector<std::string> Words = SplitScriptWords(Line);
    if (!Words.empty()) FLines.push_back({Number, std::move(Words)});
    Start = End + 1;
  }
}

void TEventScript::Fail(const TLine& Line, const std::string& Message) {
  FError = "event script " + FName + " line " + std::to_string(Line.Number) + ": " + Message;
  std::cerr << "varnix: " << FError << "\n";
  FNext = FLines.size();
  FWaitingText = false;
}

bool TEventScript::CheckText(std::string& Actual) {
  std::string Name = FWaitName;
  int32_t Panel = -1;
  if (size_t Dot = Name.rfind('.'); Dot != std::string::npos) {
    int32_t N;
    if (ParseInt(Name.substr(Dot + 1), N)) {
      Panel = N;
      Name = Name.substr(0, Dot);
    }
  }
  TControl* C = FindScriptControl(Name);
  if (!C) {
    Actual = "(no control " + Name + ")";
    return false;
  }
  if (Panel >= 0) {
    auto* Bar = dynamic_cast<TStatusBar*>(C);
    if (!Bar || Panel >= Bar->Panels().Count()) {
      Actual = "(no panel " + std::to_string(Panel) + ")";
      return false;
    }
    Actual = Bar->Panels()[Panel]->Text();
  } else {
    Actual = C->Text();
  }
  return Actual == FWaitText;
}

void TEventScript::Step(TApplication& App, uint32_t TimerWait) {
  if (FWaitingText) {
    std::string Actual;
    if (CheckText(Actual)) {
      FWaitingText = false;
      return;
    }
    if (static_cast<int32_t>(TIntervalTimer::GetTime() - FWaitDeadline) >= 0) {
      Fail(FWaitLine, "\"" + FWaitName + "\" did not become \"" + FWaitText + "\" (it is \"" + Actual + "\")");
      return;
    }
    TInputEvent E;
    if (App.Backend().PollEvent(E, std::min<uint32_t>(TimerWait, 10u))) App.DispatchEvent(E);
    return;
  }
  if (FNext >= FLines.size()) return;
  const TLine& Line = FLines[FNext++];
  try {
    Execute(App, Line);
  } catch (Exception& E) {
    Fail(Line, E.Message());
  }
}

void TEventScript::Execute(TApplication& App, const TLine& Line) {
  const std::vector<std::string>& W = Line.Words;
  const std::string Cmd = Lower(W[0]);
  auto Need = [&](size_t N, const char* Usage) {
    if (W.size() < N) throw Exception(std::string("usage: ") + Usage);
  };

  if (Cmd == "click" || Cmd == "press" || Cmd == "move" || Cmd == "release") {
    // [NAME] [X Y] [mods]
    size_t I = 1;
    TControl* Target = nullptr;
    int32_t X = 0, Y = 0;
    if (I < W.size() && !ParseInt(W[I], X) && Lower(W[I]) != "ctrl" && Lower(W[I]) != "alt" && Lower(W[I]) != "shift") {
      Target = FindScriptControl(W[I]);
      if (!Target) throw Exception("no visible control named " + W[I]);
      ++I;
    }
    if (!Target) {
      Target = Screen->ActiveForm();
      if (!Target) throw Exception("no active form");
    }
    bool HavePos = false;
    if (I + 1 < W.size() && ParseInt(W[I], X) && ParseInt(W[I + 1], Y)) {
      HavePos = true;
      I += 2;
    }
    if (!HavePos) {
      if (Cmd != "click") throw Exception("usage: " + Cmd + " [NAME] X Y [ctrl] [alt] [shift]");
      X = Target->ClientWidth() / 2;
      Y = Target->ClientHeight() / 2;
    }
    TShiftState Shift;
    std::string Bad;
    if (!ParseMods(W, I, Shift, Bad)) throw Exception("unknown word " + Bad);
    if (!Target->Showing() && !dynamic_cast<TCustomForm*>(Target)) throw Exception(Target->Name() + " is not visible");
    TInputEvent E;
    E.Form = Target->ParentForm();
    E.Pos = Target->ClientToForm({X, Y});
    E.Shift = Shift;
    E.Button = mbLeft;
    if (Cmd == "click") {
      E.Kind = ikMouseMove;
      App.QueueEvent(E);
      E.Kind = ikMouseDown;
      App.QueueEvent(E);
      E.Kind = ikMouseUp;
      App.QueueEvent(E);
    } else {
      E.Kind = Cmd == "press" ? ikMouseDown : (Cmd == "move" ? ikMouseMove : ikMouseUp);
      if (Cmd == "press") {
        TInputEvent M = E;
        M.Kind = ikMouseMove;
        App.QueueEvent(M);
      }
      App.QueueEvent(E);
    }
    return;
  }
  if (Cmd == "key" || Cmd == "keydown" || Cmd == "keyup") {
    Need(2, "key KEY [ctrl] [alt] [shift]");
    uint16_t Key;
    if (!ParseKey(W[1], Key)) throw Exception("unknown key " + W[1]);
    TShiftState Shift;
    std::string Bad;
    if (!ParseMods(W, 2, Shift, Bad)) throw Exception("unknown word " + Bad);
    TInputEvent E;
    E.Key = Key;
    E.Shift = Shift;
    if (Cmd != "keyup") {
      E.Kind = ikKeyDown;
      App.QueueEvent(E);
      // A printable key also types its character (for edit fields).
      if (!Shift.Contains(ssCtrl) && !Shift.Contains(ssAlt) &&
          ((Key >= '0' && Key <= '9') || (Key >= 'A' && Key <= 'Z') || Key == VK_SPACE)) {
        TInputEvent C = E;
        C.Kind = ikChar;
        C.Char = Key == VK_SPACE ? ' ' : (Shift.Contains(ssShift) || Key < 'A' ? static_cast<char>(Key) : static_cast<char>(Key + 32));
        App.QueueEvent(C);
      }
    }
    if (Cmd != "keydown") {
      E.Kind = ikKeyUp;
      App.QueueEvent(E);
    }
    return;
  }
  if (Cmd == "wait") {
    Need(2, "wait MS");
    int32_t Ms;
    if (!ParseInt(W[1], Ms) || Ms < 0) throw Exception("not a time: " + W[1]);
    App.QueueWait(static_cast<uint32_t>(Ms));
    return;
  }
  if (Cmd == "wait-text") {
    Need(3, "wait-text NAME \"TEXT\" [TIMEOUT_MS]");
    int32_t Ms = 5000;
    if (W.size() > 3 && (!ParseInt(W[3], Ms) || Ms < 0)) throw Exception("not a time: " + W[3]);
    FWaitName = W[1];
    FWaitText = W[2];
    FWaitLine = Line;
    FWaitDeadline = TIntervalTimer::GetTime() + static_cast<uint32_t>(Ms);
    FWaitingText = true;
    return;
  }
  if (Cmd == "dialog-file" || Cmd == "dialog-cancel") {
    if (Cmd == "dialog-file") Need(2, "dialog-file PATH");
    const bool Confirmed = Cmd == "dialog-file";
    const std::string Path = Confirmed ? W[1] : std::string();
    if (TCustomForm* M = App.ModalForm(); M && M->ScriptAnswer(Confirmed, Path)) return;
    App.SetDialogAnswer(Confirmed, Path);
    return;
  }
  if (Cmd == "menu") {
    Need(2, "menu NAME");
    TMenuItem* Item = nullptr;
    for (TCustomForm* F : SearchOrder())
      if ((Item = FindItem(F, W[1]))) break;
    if (!Item)
      for (int32_t I = Screen->FormCount() - 1; I >= 0 && !Item; --I) Item = FindItem(Screen->Forms(I), W[1]);
    if (!Item) throw Exception("no menu item named " + W[1]);
    if (!Item->Enabled() || !Item->Visible()) throw Exception("menu item " + W[1] + " is disabled or hidden");
    if (auto* Menu = dynamic_cast<TPopupMenu*>(Item->GetParentMenu()); Menu && Menu->ChooseItem(Item)) return;
    Item->Click();
    return;
  }
  if (Cmd == "screenshot") {
    Need(2, "screenshot PATH");
    TCustomForm* F = Screen->ActiveForm();
    if (!F) throw Exception("no active form");
    F->SaveScreenshot(W[1]);
    return;
  }
  throw Exception("unknown command " + W[0]);
}

}  // namespace varnix
