// Event scripts: a text file of commands that drive the UI as a user would, one per line, '#'
// starting a comment. Coordinates are client coordinates of the named control, or of the active
// form when no name is given; modifiers are any of ctrl, alt, shift.
//
//   click [NAME] [X Y] [mods]        press and release the left button (default: the centre)
//   press|move|release [NAME] X Y [mods]   one step of a drag
//   key KEY [mods]                   key down and up; KEY is a letter, a digit, space, return,
//                                    escape, delete, tab, f1 … f12, plus, minus, left, right,
//                                    up, down
//   keydown KEY [mods] / keyup KEY [mods]
//   wait MS                          process events and timers for that long
//   wait-text NAME "TEXT" [MS]       until the control's caption or text (NAME.N: status-bar
//                                    panel N) equals TEXT; fails after MS (default 5000)
//   dialog-file PATH / dialog-cancel the answer of the open or save dialog (the one shown now,
//                                    else the next one)
//   menu NAME                        choose a menu item as a click would
//   screenshot PATH                  the active form as a PNG
//
// A failed command stops the script; its message names the line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnix {

class TApplication;
class TControl;
class TCustomForm;

class TEventScript {
 public:
  TEventScript(const std::string& Text, std::string Name);
  // Runs the next command (or continues a wait); TimerWait is the time to the next timer.
  void Step(TApplication& App, uint32_t TimerWait);
  bool Ended() const { return FNext >= FLines.size() && !FWaitingText; }
  const std::string& Error() const { return FError; }

 private:
  struct TLine {
    int32_t Number;
    std::vector<std::string> Words;
  };
  void Fail(const TLine& Line, const std::string& Message);
  void Execute(TApplication& App, const TLine& Line);
  bool CheckText(std::string& Actual);

  std::string FName;
  std::vector<TLine> FLines;
  size_t FNext = 0;
  std::string FError;
  bool FWaitingText = false;
  TLine FWaitLine;
  std::string FWaitName, FWaitText;
  uint32_t FWaitDeadline = 0;
};

// The visible control named Name in the forms a user would see first (popups, the innermost
// modal form, the active form, then every visible form); Name may also name a form. Null when none.
TControl* FindScriptControl(const std::string& Name);
// Splits a script line into words; a word in double quotes keeps its spaces ("" inside is a quote).
std::vector<std::string> SplitScriptWords(const std::string& Line);

}  // namespace varnix
