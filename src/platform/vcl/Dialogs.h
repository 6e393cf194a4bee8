// Message boxes and the open and save dialogs. Both are forms of the library, shown modally, so
// they work the same in every back end and an event script can answer them (a file dialog takes
// "dialog-file PATH" or "dialog-cancel").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/vcl/Forms.h"

namespace varnix {

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel, mbAbort, mbRetry, mbIgnore, mbAll, mbNoToAll, mbYesToAll, mbHelp };
using TMsgDlgButtons = TSet<TMsgDlgBtn>;

// A modal message form; returns the modal result of the button chosen (mrCancel when closed).
TModalResult MessageDlg(const std::string& Msg, TMsgDlgType DlgType, TMsgDlgButtons Buttons, int32_t HelpCtx = 0);
void ShowMessage(const std::string& Msg);
// The message box behind TApplication::MessageBox (MB_ flags in, ID answer out). The text is
// also written to standard error when the back end is headless, so unattended runs show it.
int32_t ShowMessageBoxForm(const std::string& Text, const std::string& Caption, int32_t Flags);

enum TOpenOption {
  ofReadOnly, ofOverwritePrompt, ofHideReadOnly, ofNoChangeDir, ofShowHelp, ofNoValidate, ofAllowMultiSelect,
  ofExtensionDifferent, ofPathMustExist, ofFileMustExist, ofCreatePrompt, ofShareAware, ofNoReadOnlyReturn,
  ofNoTestFileCreate, ofNoNetworkButton, ofNoLongNames, ofOldStyleDialog, ofNoDereferenceLinks, ofEnableIncludeNotify,
  ofEnableSizing
};
using TOpenOptions = TSet<TOpenOption>;

// One description/pattern pair of a filter string "Text (*.x)|*.x|All files (*.*)|*.*"; a
// pattern may list several masks separated by ';'.
struct TFilterEntry {
  std::string Description;
  std::vector<std::string> Masks;
};
std::vector<TFilterEntry> ParseFilter(const std::string& Filter);
// Whether a file name matches a mask with '*' and '?' (case-insensitive).
bool MatchesMask(const std::string& FileName, const std::string& Mask);

class TOpenDialog : public TComponent {
 public:
  explicit TOpenDialog(TComponent* AOwner);
  const char* ClassName() const override { return "TOpenDialog"; }
  std::string Title;
  std::string Filter;
  int32_t FilterIndex = 1;  // 1-based, as the filter string counts its pairs
  std::string DefaultExt;   // without the dot
  std::string FileName;
  std::string InitialDir;
  TOpenOptions Options{ofHideReadOnly, ofEnableSizing};
  // Shows the dialog; true when the user confirmed a file, which is then in FileName (with the
  // default extension added when the name has none).
  virtual bool Execute();

 protected:
  virtual bool IsSave() const { return false; }
  // Checks a chosen name against the options; false (after telling the user) to keep asking.
  bool Validate(std::string& Name);
};

class TSaveDialog : public TOpenDialog {
 public:
  explicit TSaveDialog(TComponent* AOwner) : TOpenDialog(AOwner) {}
  const char* ClassName() const override { return "TSaveDialog"; }

 protected:
  bool IsSave() const override { return true; }
};

}  // namespace varnix
