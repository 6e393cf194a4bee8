// The main form of the test bundle: it plays the editor's part without a window of its own. While
// it is created it reads the document through the host bridge and computes a selection with the
// engine from a markers file; once its modal loop runs it closes as the test asks.
//
// Environment:
//   VARNIX_FIXTURE_MARKERS     the markers file (.vnx); without it everything is selected
//   VARNIX_FIXTURE_ACTION      ok (default): write the selection and close with OK
//                              cancel: close with Cancel
//                              raise: an ordinary exception from an event handler
//                              refuse: a plug-in exception with a message for the host
//   VARNIX_FIXTURE_SAMPLE_ALL  1: read the merged composite of all layers
//   VARNIX_FIXTURE_DUMP        a PNG receiving the document as read: the premultiplied R, G, B, A
//                              bytes stored as they are
//   VARNIX_FIXTURE_PATHS       a text file receiving the bundle folder and the resource folder the
//                              bundle's start-up set, one per line
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "core/CoreClasses.h"
#include "engine/Algorithms.h"
#include "imageio/ImageFiles.h"
#include "platform/os/BundleInfo.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Graphics.h"
#include "plugin/Manager.h"
#include "ui/Markers.h"

namespace varnix {

namespace {

std::string Env(const char* Name) {
  const char* V = std::getenv(Name);
  return V ? V : "";
}

class TFixtureMainForm : public TForm {
 public:
  explicit TFixtureMainForm(TComponent* AOwner) : TForm(AOwner) {
    SetName("FixtureForm");
    OnCreate = [this](TObject*) { FormCreate(); };
  }

 private:
  void FormCreate() {
    TPluginManager* Manager = PluginManager();
    Manager->SampleAllLayers = Env("VARNIX_FIXTURE_SAMPLE_ALL") == "1";
    Manager->LoadBitmapFromDocument(FDocument);
    if (!Env("VARNIX_FIXTURE_DUMP").empty()) Dump(Env("VARNIX_FIXTURE_DUMP"));
    if (!Env("VARNIX_FIXTURE_PATHS").empty())
      std::ofstream(Env("VARNIX_FIXTURE_PATHS")) << BundlePath() << "\n" << ResourceDirectory() << "\n";
    ComputeSelection(Env("VARNIX_FIXTURE_MARKERS"));

    const std::string Action = Env("VARNIX_FIXTURE_ACTION");
    Application->QueueCall([this, Action] {
      if (Action == "cancel") {
        SetModalResult(mrCancel);
      } else if (Action == "raise") {
        throw Exception("fixture failure");
      } else if (Action == "refuse") {
        throw EPluginException(std::string("the fixture refused the document"));
      } else {
        SetModalResult(mrOk);
        PluginManager()->SaveSelection(FDocument, FMask);
      }
    });
  }

  void Dump(const std::string& FileName) {
    TImage Image;
    Image.Allocate(FDocument.Width(), FDocument.Height(), icRGB, id8Bits, iaUnassociated);
    for (int32_t Y = 0; Y < FDocument.Height(); ++Y)
      std::memcpy(Image.Row(Y), FDocument.Address(0, Y), static_cast<size_t>(FDocument.Width()) * 4);
    WritePngFile(FileName, Image);
  }

  void ComputeSelection(const std::string& MarkersFile) {
    if (MarkersFile.empty()) {
      FMask.Resize(FDocument.Width(), FDocument.Height());
      FMask.FillRect(Rect(0, 0, FDocument.Width(), FDocument.Height()), 255);
      return;
    }
    TSelectionMarkerList Markers;
    Markers.LoadFromFile(MarkersFile);
    InterfacePtr<ISelectionManager> Engine(new TSoilleRegionManager());
    Engine->Initialize(&FDocument);
    Engine->Preprocess();
    InterfacePtr<ICalculateSelection> Selector = Engine->CreateSelector();
    for (int32_t i = 0; i < Markers.Count(); ++i) {
      const TSelectionMarker* M = Markers.Markers(i);
      Selector->DefineMarker(M->Position(), M->MarkerType() == mtObject ? 255 : 0);
    }
    TPointList Edges;
    Selector->SetEdgePointList(&Edges);
    Selector->CalculateSelection(&FMask);
  }

  TColorBitmap FDocument;
  TGrayscaleBitmap FMask;
};

}  // namespace

void InitializeFixtureMainForm() {
  PluginManager()->RegisterMainForm(FormClassOf<TFixtureMainForm>("TFixtureMainForm"));
}

void FinalizeFixtureMainForm() {
  if (TPluginManager* M = PluginManager()) M->RegisterMainForm(TFormClass());
}

}  // namespace varnix
