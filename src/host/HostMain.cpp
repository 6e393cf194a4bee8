// varnix-host: plays the image editor for the plug-in. It opens image files as a document of one
// or more layers, loads the plug-in bundle, calls one of its entry points with real host records
// and callbacks, and saves what the plug-in wrote back.
//
// Exit status: 0 success, 1 cancelled by the user (nothing written), 2 any error (nothing
// written; the message on standard error).

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "common/LogFile.h"
#include "host/HostDocument.h"
#include "host/HostSession.h"
#include "host/PluginBundle.h"
#include "imageio/ImageFiles.h"
#include "common/TextEncoding.h"

using namespace varnix;

namespace {

constexpr int ExitSuccess = 0;
constexpr int ExitCancelled = 1;
constexpr int ExitError = 2;

const char* const Usage =
    "usage: varnix-host select IMAGE [--layer IMAGE ...] [--out-mask MASK.png] [--out-cutout CUT.png] [options]\n"
    "       varnix-host filter IMAGE [--layer IMAGE ...] [--out IMAGE] [options]\n"
    "       varnix-host about [options]\n"
    "\n"
    "The document's layers are IMAGE and every --layer in order, bottom to top; the last one is\n"
    "the target layer.\n"
    "\n"
    "options:\n"
    "  --plugin DIR          the plug-in bundle (default: Varnix.plugin beside this program)\n"
    "  --mode MODE           convert the document to rgb, gray, cmyk, lab or indexed\n"
    "  --depth BITS          convert the document to 8, 16 or 32 bits per sample\n"
    "  --no-transparency     the target layer is a background layer without transparency\n"
    "  --no-channel-ports    leave the channel-port callbacks out of the records\n"
    "  --no-colour-suite     offer no colour-space suite\n"
    "  --ui headless|window  the plug-in's user interface back end\n"
    "  --ui-script FILE      the event script of the headless back end\n"
    "  --screenshot FILE     a picture of the plug-in's window\n"
    "  --help                this text\n";

// Raised for command lines that cannot be run.
VARNIX_DECLARE_EXCEPTION(EUsageError, Exception);

struct TArguments {
  std::string Command;
  std::vector<std::string> Images;
  std::string OutMask;
  std::string OutCutout;
  std::string Out;
  std::string Plugin;
  std::string Ui;
  std::string UiScript;
  std::string Screenshot;
  THostDocumentOptions Document;
  THostOptions Host;
};

TArguments ParseArguments(int argc, char** argv) {
  TArguments A;
  if (argc < 2) throw EUsageError("no command given");
  A.Command = argv[1];
  if (A.Command != "select" && A.Command != "filter" && A.Command != "about")
    throw EUsageError("unknown command \"" + A.Command + "\"");
  for (int i = 2; i < argc; ++i) {
    const std::string Arg = argv[i];
    auto Value = [&]() -> std::string {
      if (i + 1 >= argc) throw EUsageError(Arg + " needs a value");
      return argv[++i];
    };
    if (Arg == "--layer") {
      A.Images.push_back(Value());
    } else if (Arg == "--out-mask") {
      A.OutMask = Value();
    } else if (Arg == "--out-cutout") {
      A.OutCutout = Value();
    } else if (Arg == "--out") {
      A.Out = Value();
    } else if (Arg == "--plugin") {
      A.Plugin = Value();
    } else if (Arg == "--mode") {
      const std::string M = Value();
      A.Document.HasMode = true;
      if (M == "rgb")
        A.Document.Mode = hmRGB;
      else if (M == "gray")
        A.Document.Mode = hmGray;
      else if (M == "cmyk")
        A.Document.Mode = hmCMYK;
      else if (M == "lab")
        A.Document.Mode = hmLab;
      else if (M == "indexed")
        A.Document.Mode = hmIndexed;
      else
        throw EUsageError("unknown mode \"" + M + "\" (rgb, gray, cmyk, lab or indexed)");
    } else if (Arg == "--depth") {
      const std::string D = Value();
      if (D != "8" && D != "16" && D != "32") throw EUsageError("unknown depth \"" + D + "\" (8, 16 or 32)");
      A.Document.Depth = std::atoi(D.c_str());
    } else if (Arg == "--no-transparency") {
      A.Document.NoTransparency = true;
    } else if (Arg == "--no-channel-ports") {
      A.Host.ChannelPorts = false;
    } else if (Arg == "--no-colour-suite") {
      A.Host.ColorSuite = false;
    } else if (Arg == "--ui") {
      A.Ui = Value();
      if (A.Ui != "headless" && A.Ui != "window") throw EUsageError("--ui takes headless or window");
    } else if (Arg == "--ui-script") {
      A.UiScript = Value();
    } else if (Arg == "--screenshot") {
      A.Screenshot = Value();
    } else if (!Arg.empty() && Arg[0] == '-') {
      throw EUsageError("unknown option " + Arg);
    } else if (A.Images.empty()) {
      A.Images.push_back(Arg);
    } else {
      throw EUsageError("unexpected argument \"" + Arg + "\"");
    }
  }
  if (A.Command == "about") {
    if (!A.Images.empty()) throw EUsageError("about takes no image");
  } else if (A.Images.empty()) {
    throw EUsageError(A.Command + " needs an image");
  }
  if (A.Command != "select" && (!A.OutMask.empty() || !A.OutCutout.empty()))
    throw EUsageError("--out-mask and --out-cutout belong to select");
  if (A.Command != "filter" && !A.Out.empty()) throw EUsageError("--out belongs to filter");
  return A;
}

std::string LowerExtension(const std::string& FileName) {
  const size_t Slash = FileName.find_last_of('/');
  const size_t Dot = FileName.find_last_of('.');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash)) return std::string();
  std::string E = FileName.substr(Dot + 1);
  for (char& C : E) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return E;
}

// Checks before the plug-in runs that the layer can be saved to FileName.
void CheckLayerOutput(const std::string& FileName, const TImage& Original) {
  const std::string E = LowerExtension(FileName);
  if (E == "tif" || E == "tiff") return;
  if (E == "png") {
    if (Original.ColorSpace() != icGray && Original.ColorSpace() != icRGB)
      throw EUsageError(FileName + ": PNG cannot hold a " + std::string(ColorSpaceName(Original.ColorSpace())) +
                        " layer; use .tif");
    if (Original.Depth() == id32BitsFloat) throw EUsageError(FileName + ": PNG cannot hold float samples; use .tif");
    return;
  }
  throw EUsageError(FileName + ": a layer with transparency is saved as .png or .tif");
}

void CheckPngOutput(const std::string& FileName) {
  if (LowerExtension(FileName) != "png") throw EUsageError(FileName + ": this output is written as .png");
}

std::string ProgramFolder() {
  char Path[PATH_MAX];
  const ssize_t N = readlink("/proc/self/exe", Path, sizeof(Path) - 1);
  if (N <= 0) return ".";
  Path[N] = 0;
  std::string P(Path);
  const size_t Slash = P.find_last_of('/');
  return Slash == std::string::npos ? "." : P.substr(0, Slash);
}

std::string ResultMessage(int16_t Result, const std::string& ErrorString) {
  switch (Result) {
    case errReportString:
      return ErrorString.empty() ? std::string("the plug-in reported an error without a message")
                                 : Latin1ToUtf8(ErrorString);
    case selectionBadParameters:
      return "Bad parameters";
    case selectionBadMode:
      return "Image mode not supported";
    case filterBadMode:
      return "the plug-in does not support this image mode";
    case memFullErr:
      return "not enough memory";
    case paramErr:
      return "bad parameters";
    default:
      return Format("the plug-in failed with result %d", Result);
  }
}

// The outputs of one run, written under temporary names first and renamed into place together,
// so that a failure leaves none of them behind.
class TOutputSet {
 public:
  ~TOutputSet() {
    for (const auto& [Temp, Final] : FFiles) std::remove(Temp.c_str());
  }
  void Write(const std::string& FileName, const TImage& Image) {
    // The extension stays last: the writer picks the format by it.
    const size_t Slash = FileName.find_last_of('/');
    const std::string Folder = Slash == std::string::npos ? std::string() : FileName.substr(0, Slash + 1);
    const std::string Base = Slash == std::string::npos ? FileName : FileName.substr(Slash + 1);
    const std::string Temp = Folder + "." + Base + Format(".partial-%d.", static_cast<int>(getpid())) +
                             LowerExtension(FileName);
    WriteImageFile(Temp, Image);
    FFiles.emplace_back(Temp, FileName);
  }
  void Commit() {
    for (const auto& [Temp, Final] : FFiles)
      if (std::rename(Temp.c_str(), Final.c_str()) != 0)
        throw EImageFileError(Final + ": cannot write the file (" + std::strerror(errno) + ")");
    FFiles.clear();
  }

 private:
  std::vector<std::pair<std::string, std::string>> FFiles;
};

int Run(const TArguments& A) {
  // The plug-in's UI library reads its settings from the environment when it is loaded.
  if (!A.Ui.empty()) setenv("VARNIX_UI", A.Ui.c_str(), 1);
  if (!A.UiScript.empty()) setenv("VARNIX_UI_SCRIPT", A.UiScript.c_str(), 1);
  if (!A.Screenshot.empty()) setenv("VARNIX_UI_SCREENSHOT", A.Screenshot.c_str(), 1);

  // Everything that can fail before the call is checked before the plug-in is loaded.
  std::vector<TImage> Images;
  std::vector<const TImage*> ImagePointers;
  for (const std::string& Name : A.Images) Images.push_back(ReadImageFile(Name));
  for (const TImage& I : Images) ImagePointers.push_back(&I);
  if (!A.OutMask.empty()) CheckPngOutput(A.OutMask);
  if (!A.OutCutout.empty()) CheckPngOutput(A.OutCutout);
  if (!A.Out.empty()) CheckLayerOutput(A.Out, Images.back());

  std::unique_ptr<THostDocument> Document;
  if (A.Command != "about") {
    Document = std::make_unique<THostDocument>(ImagePointers, A.Images, A.Document);
  } else {
    // The about box needs no document; the session still wants one for its records.
    TImage Blank;
    Blank.Allocate(1, 1, icRGB, id8Bits, iaNone);
    Document = std::make_unique<THostDocument>(std::vector<const TImage*>{&Blank},
                                               std::vector<std::string>{"about"}, THostDocumentOptions());
  }

  TPluginBundle Bundle(A.Plugin.empty() ? ProgramFolder() + "/Varnix.plugin" : A.Plugin);
  THostSession Session(*Document, A.Host);
  int16_t Result = noErr;
  intptr_t Data = 0;

  if (A.Command == "about") {
    Bundle.Entry(ekSelection)(selectionSelectorAbout, Session.About(), &Data, &Result);
  } else if (A.Command == "select") {
    Bundle.Entry(ekSelection)(selectionSelectorExecute, Session.Selection(), &Data, &Result);
  } else {
    const PluginEntryProc Entry = Bundle.Entry(ekFilter);
    FilterRecord* Record = Session.Filter();
    // The call sequence of an editor's filter command: prepare, start, finish.
    Entry(filterSelectorPrepare, Record, &Data, &Result);
    if (Result == noErr) {
      Entry(filterSelectorStart, Record, &Data, &Result);
      Session.Finish();
      if (Result == noErr) Entry(filterSelectorFinish, Record, &Data, &Result);
    }
  }
  if (Session.SuitesHeld() != 0)
    std::cerr << "varnix-host: warning: the plug-in did not release the colour-space suite\n";

  if (Result == userCanceledErr) {
    std::cerr << "varnix-host: cancelled\n";
    return ExitCancelled;
  }
  if (Result != noErr) {
    std::cerr << "varnix-host: " << ResultMessage(Result, Session.ErrorString()) << " (result " << Result << ")\n";
    return ExitError;
  }

  TOutputSet Outputs;
  if (A.Command == "select") {
    if (!Session.SelectionWritten())
      std::cerr << "varnix-host: warning: the plug-in succeeded without writing a selection\n";
    if (!A.OutMask.empty()) {
      TImage Mask;
      Mask.Allocate(Document->Width(), Document->Height(), icGray, id8Bits, iaNone);
      for (int32_t Y = 0; Y < Document->Height(); ++Y)
        std::memcpy(Mask.Row(Y), Document->Selection.data() + static_cast<size_t>(Y) * Document->Width(),
                    static_cast<size_t>(Document->Width()));
      Outputs.Write(A.OutMask, Mask);
    }
    if (!A.OutCutout.empty()) Outputs.Write(A.OutCutout, Document->CutOut(Document->Selection));
  } else if (A.Command == "filter" && !A.Out.empty()) {
    Outputs.Write(A.Out, Document->ExportTarget(Images.back(), Session.ColorWritten()));
  }
  Outputs.Commit();
  return ExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
      std::cout << Usage;
      return 0;
    }
  }
  try {
    return Run(ParseArguments(argc, argv));
  } catch (const EUsageError& E) {
    std::cerr << "varnix-host: " << E.Message() << "\n\n" << Usage;
    return ExitError;
  } catch (const Exception& E) {
    std::cerr << "varnix-host: " << E.Message() << "\n";
    return ExitError;
  } catch (const std::exception& E) {
    std::cerr << "varnix-host: " << E.what() << "\n";
    return ExitError;
  }
}
