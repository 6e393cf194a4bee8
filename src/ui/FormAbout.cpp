#include "ui/FormAbout.h"

#include "common/CommonUtils.h"
#include "platform/vcl/WindowDescription.h"
#include "plugin/Manager.h"
#include "settings/VerInfo.h"

namespace varnix {

namespace {

// Layout of the box (client coordinates at 96 pixels per inch).
constexpr int32_t BoxClientWidth = 300;
constexpr int32_t BoxClientHeight = 152;
constexpr int32_t Margin = 16;
constexpr int32_t LabelWidth = BoxClientWidth - 2 * Margin;

TLabel* MakeLabel(TAboutForm* Form, const char* Name, int32_t Top, int32_t Height) {
  TLabel* L = new TLabel(Form);
  L->SetName(Name);
  L->SetParent(Form);
  L->SetAutoSize(false);
  L->SetBounds(Margin, Top, LabelWidth, Height);
  return L;
}

}  // namespace

TAboutForm::TAboutForm(TComponent* AOwner) : TForm(AOwner) {
  SetUniqueName("AboutForm");
  SetColor(clBtnFace);
  Font().SetCharset(1);  // the default character set
  Font().SetColor(clWindowText);
  Font().SetHeight(-11);
  Font().SetName("MS Sans Serif");
  Font().SetStyle({});
  Position = poScreenCenter;
  PixelsPerInch = 96;
  BorderStyle = bsDialog;
  SetClientWidth(BoxClientWidth);
  SetClientHeight(BoxClientHeight);
  OnCreate = [this](TObject* Sender) { FormCreate(Sender); };

  TitleLabel = MakeLabel(this, "TitleLabel", Margin, 20);
  TitleLabel->SetParentFont(false);
  TitleLabel->Font().SetCharset(1);
  TitleLabel->Font().SetColor(clWindowText);
  TitleLabel->Font().SetHeight(-11);
  TitleLabel->Font().SetName("MS Sans Serif");
  TitleLabel->Font().SetStyle({fsBold});
  CopyrightLabel = MakeLabel(this, "CopyrightLabel", 44, 16);
  VersionLabel = MakeLabel(this, "VersionLabel", 68, 16);
  BuildLabel = MakeLabel(this, "BuildLabel", 88, 16);

  OkButton = new TButton(this);
  OkButton->SetName("OkButton");
  OkButton->SetParent(this);
  OkButton->SetCaption("OK");
  OkButton->SetDefault(true);
  OkButton->ModalResult = mrOk;
  OkButton->SetTabOrder(0);
  OkButton->SetBounds((BoxClientWidth - 75) / 2, BoxClientHeight - 25 - 12, 75, 25);

  // The geometry and the title template come from the box's window description when the bundle
  // has one; the layout above stands otherwise.
  if (LoadWindowDescription(this, "AboutForm") && !TitleLabel->Caption().empty())
    TitleCaptionTemplate = TitleLabel->Caption();
}

void TAboutForm::FormCreate(TObject* Sender) {
  (void)Sender;
  InitializeForm(this);
  TVersionInfo* Info = VersionInfo();
  SetCaption("About " + Info->GetName());
  // The template's "%s" is replaced by hand: a template from a window description is not
  // trusted as a printf format.
  std::string Title = TitleCaptionTemplate;
  const size_t At = Title.find("%s");
  if (At != std::string::npos) Title.replace(At, 2, Info->GetName());
  TitleLabel->SetCaption(Title);
  VersionLabel->SetCaption("Version " + Info->Version->GetText());
  BuildLabel->SetCaption("Built on " + DateToString(Info->BuildDate));
  CopyrightLabel->SetCaption(Info->Copyright);
}

TFormClass AboutFormClass() { return FormClassOf<TAboutForm>("TAboutForm"); }

void InitializeFormAbout() { PluginManager()->RegisterAboutForm(AboutFormClass()); }

void FinalizeFormAbout() {
  if (TPluginManager* M = PluginManager()) M->RegisterAboutForm(TFormClass());
}

}  // namespace varnix
