// The about box: a small modal window with the product's name, version, build date and
// copyright, all taken from the version information of the bundle.
//
// The unit registers the class with the host bridge at start-up (InitializeFormAbout), so that the
// Selection entry's about selector shows it; the editor opens it from its About command. The box
// is shown modally by its opener and freed afterwards; OK (or Return) closes it.
#pragma once

#include <string>

#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

namespace varnix {

class TAboutForm : public TForm {
 public:
  explicit TAboutForm(TComponent* AOwner);
  const char* ClassName() const override { return "TAboutForm"; }

  // Fills the labels from the version information.
  void FormCreate(TObject* Sender);

  // Components, owned by the form, in creation order.
  TLabel* TitleLabel;
  TLabel* CopyrightLabel;
  TLabel* VersionLabel;
  TLabel* BuildLabel;
  TButton* OkButton;

  // The title; its one "%s" receives the product name.
  std::string TitleCaptionTemplate = "About %s";
};

// The class reference the host bridge shows for the about selector.
TFormClass AboutFormClass();

// Registers the about box with the host bridge; REQUIRES: the bridge has been initialised.
void InitializeFormAbout();
void FinalizeFormAbout();

}  // namespace varnix
