#include "plugin/ProbeForms.h"

namespace varnix::test {

TProbe MainProbe;
TProbe AboutProbe;

namespace {

class TProbeForm : public TForm {
 public:
  TProbeForm(TComponent* AOwner, TProbe& Probe) : TForm(AOwner), FProbe(Probe) {
    SetName("ProbeForm");
    OnCreate = [this](TObject*) {
      ++FProbe.Created;
      if (FProbe.Create) FProbe.Create(*this);
    };
  }
  TModalResult ShowModal() override {
    ++FProbe.Shown;
    if (FProbe.Modal) Application->QueueCall([this] { FProbe.Modal(*this); });
    return TForm::ShowModal();
  }

 private:
  TProbe& FProbe;
};

class TProbeMainForm : public TProbeForm {
 public:
  explicit TProbeMainForm(TComponent* AOwner) : TProbeForm(AOwner, MainProbe) {}
};

class TProbeAboutForm : public TProbeForm {
 public:
  explicit TProbeAboutForm(TComponent* AOwner) : TProbeForm(AOwner, AboutProbe) {}
};

}  // namespace

TFormClass ProbeMainFormClass() { return FormClassOf<TProbeMainForm>("TProbeMainForm"); }
TFormClass ProbeAboutFormClass() { return FormClassOf<TProbeAboutForm>("TProbeAboutForm"); }

}  // namespace varnix::test
