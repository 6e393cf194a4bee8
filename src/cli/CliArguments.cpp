#include "cli/CliArguments.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>

namespace varnix {

namespace {

const char* const MethodNames[AntiAliasingMethodCount] = {"none", "sharp", "medium", "soft", "very-soft"};

std::string Lower(std::string S) {
  for (char& C : S) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return S;
}

const char* const OverviewHelp =
    "Usage: varnix-cli COMMAND [ARGUMENTS]\n"
    "\n"
    "Turns a few marker points into a soft-edged selection mask, without any window.\n"
    "\n"
    "Commands:\n"
    "  segment   segment one image from a markers file, write the mask (and stage dumps)\n"
    "  serve     keep one image loaded and answer selection requests, one JSON line each\n"
    "  batch     segment every image that has a markers file beside it\n"
    "  help      show the help of a command\n"
    "\n"
    "Run 'varnix-cli COMMAND --help' for the options of a command.\n"
    "Images: PNG, JPEG and TIFF (8 or 16 bits, 32-bit float TIFF; gray, RGB, CMYK, Lab; with or\n"
    "without alpha). Markers files (.vnx) are those the editor saves.\n"
    "Exit status: 0 success, 1 the run failed, 2 the command line is wrong.\n";

const char* const SegmentHelp =
    "Usage: varnix-cli segment IMAGE --markers FILE.vnx --out MASK.png [options]\n"
    "\n"
    "Computes the selection of IMAGE from the markers in FILE.vnx (object markers select,\n"
    "background markers deselect) and writes it as an 8-bit gray PNG: 255 selected, 0 not\n"
    "selected, values between along the soft edge.\n"
    "\n"
    "Options:\n"
    "  --markers FILE.vnx   the markers file (required)\n"
    "  --out MASK.png       the mask to write (required)\n"
    "  --aa METHOD          edge anti-aliasing: none, sharp, medium, soft (default), very-soft\n"
    "  --cutout CUT.png     also write the image as 8-bit RGBA with the mask as its alpha\n"
    "                       (multiplied into the image's own alpha, if it has one)\n"
    "  -h, --help           show this help\n"
    "\n"
    "Stage dumps, each written only when asked for:\n"
    "  --gradient G.png     gradient magnitude, 16-bit gray PNG\n"
    "  --xgradient GX.png   horizontal gradient component, 16-bit gray PNG\n"
    "  --ygradient GY.png   vertical gradient component, 16-bit gray PNG\n"
    "  --regions R.bin      over-segmentation: int32 LE width, int32 LE height, then\n"
    "                       width x height int32 LE region numbers in raster order\n"
    "  --graph GRAPH.txt    region graph: 'regions N connections M' (M counts directed\n"
    "                       connections), then one line per region r: 'r:' followed by\n"
    "                       ' n@level' for each connection in list order\n"
    "  --hard HARD.png      the region watershed's hard 0/255 mask, 8-bit gray PNG\n"
    "  --boundary B.txt     one 'x y' line per boundary point, in list order\n"
    "  --edgemask E.png     the anti-aliasing's corrected edge mask, 8-bit gray PNG\n"
    "  --edges EDGES.txt    one 'x y SIDES' line per outline entry, in list order; SIDES are\n"
    "                       the letters of L R T B that apply, or '-' for none\n"
    "\n"
    "Images are read as 8-bit RGB premultiplied by their alpha: 16-bit samples become 8 bits\n"
    "by (v * 255 + 32767) div 65535, gray gives R = G = B, CMYK and Lab are converted to sRGB\n"
    "with fixed formulas (no colour management; embedded profiles are ignored).\n"
    "Markers outside the image act on the nearest border pixel (a warning says so).\n";

const char* const ServeHelp =
    "Usage: varnix-cli serve IMAGE [--aa METHOD]\n"
    "\n"
    "Loads IMAGE and preprocesses it once, then reads one JSON object per line on standard\n"
    "input and answers each with one JSON line on standard output:\n"
    "\n"
    "  request   {\"markers\": [[x, y, type], ...], \"out\": \"MASK.png\", \"aa\": \"soft\"}\n"
    "            type 0 is an object marker, 1 a background marker; \"aa\" is optional and\n"
    "            defaults to the --aa of the command line\n"
    "  answer    {\"ok\": true, \"ms\": <milliseconds of the selection run>}\n"
    "            {\"ok\": false, \"error\": \"...\"}\n"
    "\n"
    "A malformed line gets an error answer and the session goes on; blank lines are ignored.\n"
    "The session ends at the end of standard input. Warnings go to standard error.\n"
    "\n"
    "Options:\n"
    "  --aa METHOD          default anti-aliasing: none, sharp, medium, soft (default), very-soft\n"
    "  -h, --help           show this help\n";

const char* const BatchHelp =
    "Usage: varnix-cli batch DIR_OR_FILES... --out-dir DIR [--aa METHOD] [--jobs N]\n"
    "\n"
    "Segments every image that has a markers file beside it (same name, extension .vnx) and\n"
    "writes its mask as DIR/NAME.png. A folder stands for the PNG, JPEG and TIFF files in it\n"
    "(not in its subfolders); images in a folder without markers file are skipped, a file\n"
    "named on the command line without one is an error. Several files are segmented at once.\n"
    "A failed file is reported and the others go on.\n"
    "\n"
    "On a terminal a progress bar shows the work; otherwise every finished file gets one line\n"
    "(standard output when it succeeded, standard error when it failed). Exit status 0 when\n"
    "every file succeeded, 1 otherwise.\n"
    "\n"
    "Options:\n"
    "  --out-dir DIR        where the masks go (created when missing; required)\n"
    "  --aa METHOD          edge anti-aliasing: none, sharp, medium, soft (default), very-soft\n"
    "  --jobs N             files segmented at the same time (default: one per processor)\n"
    "  -h, --help           show this help\n";

// The options a command takes, each with the field it fills.
struct TOptionTable {
  std::map<std::string, std::string*> Strings;
  int* AntiAliasing = nullptr;
  int* Jobs = nullptr;
};

int ParseJobs(const std::string& Text, const std::string& Command) {
  errno = 0;
  char* End = nullptr;
  const long Value = std::strtol(Text.c_str(), &End, 10);
  if (Text.empty() || *End != '\0' || errno != 0 || Value < 1 || Value > 1024)
    throw EUsageError("--jobs needs a whole number from 1 to 1024, not '" + Text + "'", Command);
  return static_cast<int>(Value);
}

// Walks the arguments of one command, filling the table's fields and collecting the operands.
// Answers true when help was asked for.
bool ParseCommand(const std::vector<std::string>& Args, size_t First, const std::string& Command,
                  TOptionTable& Table, std::vector<std::string>& Operands) {
  // Help wins over anything else on the line, so that a broken command line can still ask for it.
  for (size_t i = First; i < Args.size() && Args[i] != "--"; ++i)
    if (Args[i] == "-h" || Args[i] == "--help") return true;
  std::map<std::string, bool> Seen;
  bool OptionsEnded = false;
  for (size_t i = First; i < Args.size(); ++i) {
    const std::string& Arg = Args[i];
    if (OptionsEnded || Arg.size() < 2 || Arg[0] != '-') {
      Operands.push_back(Arg);
      continue;
    }
    if (Arg == "--") {
      OptionsEnded = true;
      continue;
    }
    std::string Name = Arg, Value;
    bool HasValue = false;
    const size_t Equals = Arg.find('=');
    if (Arg.rfind("--", 0) == 0 && Equals != std::string::npos) {
      Name = Arg.substr(0, Equals);
      Value = Arg.substr(Equals + 1);
      HasValue = true;
    }
    const bool Known = Table.Strings.count(Name) || (Name == "--aa" && Table.AntiAliasing) ||
                       (Name == "--jobs" && Table.Jobs);
    if (!Known) throw EUsageError("unknown option '" + Name + "'", Command);
    if (Seen[Name]) throw EUsageError("option " + Name + " is given twice", Command);
    Seen[Name] = true;
    if (!HasValue) {
      if (i + 1 >= Args.size()) throw EUsageError("option " + Name + " needs a value", Command);
      Value = Args[++i];
    }
    if (Value.empty()) throw EUsageError("option " + Name + " needs a value", Command);
    if (Name == "--aa") {
      const int Method = AntiAliasingFromName(Value);
      if (Method < 0)
        throw EUsageError("unknown anti-aliasing method '" + Value + "' (use none, sharp, medium, soft or very-soft)",
                          Command);
      *Table.AntiAliasing = Method;
    } else if (Name == "--jobs") {
      *Table.Jobs = ParseJobs(Value, Command);
    } else {
      *Table.Strings[Name] = Value;
    }
  }
  return false;
}

void Require(const std::string& Value, const char* Option, const std::string& Command) {
  if (Value.empty()) throw EUsageError(std::string("option ") + Option + " is required", Command);
}

}  // namespace

int AntiAliasingFromName(const std::string& Name) {
  std::string Key = Lower(Name);
  if (Key == "very soft" || Key == "verysoft" || Key == "very_soft") Key = "very-soft";
  for (int i = 0; i < AntiAliasingMethodCount; ++i)
    if (Key == MethodNames[i]) return i;
  return -1;
}

const char* AntiAliasingName(int Index) { return MethodNames[Index]; }

std::vector<std::pair<std::string, std::string>> TSegmentOptions::Outputs() const {
  std::vector<std::pair<std::string, std::string>> Result;
  const std::pair<const char*, const std::string*> All[] = {
      {"--out", &Out},           {"--cutout", &Cutout}, {"--gradient", &Gradient}, {"--xgradient", &XGradient},
      {"--ygradient", &YGradient}, {"--regions", &Regions}, {"--graph", &Graph},     {"--hard", &Hard},
      {"--boundary", &Boundary}, {"--edgemask", &EdgeMask}, {"--edges", &Edges}};
  for (const auto& [Option, Value] : All)
    if (!Value->empty()) Result.emplace_back(Option, *Value);
  return Result;
}

TCliArguments ParseArguments(const std::vector<std::string>& Args) {
  TCliArguments Result;
  if (Args.empty()) throw EUsageError("no command given", "");
  const std::string& Command = Args[0];
  if (Command == "-h" || Command == "--help") return Result;
  if (Command == "help") {
    if (Args.size() > 2) throw EUsageError("help takes at most one command", "");
    if (Args.size() == 2) {
      if (Args[1] != "segment" && Args[1] != "serve" && Args[1] != "batch")
        throw EUsageError("unknown command '" + Args[1] + "'", "");
      Result.HelpTopic = Args[1];
    }
    return Result;
  }

  TOptionTable Table;
  std::vector<std::string> Operands;
  auto AskedForHelp = [&] {
    Result.Command = ccHelp;
    Result.HelpTopic = Command;
    return Result;
  };
  if (Command == "segment") {
    TSegmentOptions& S = Result.Segment;
    Table.Strings = {{"--markers", &S.Markers},   {"--out", &S.Out},           {"--cutout", &S.Cutout},
                     {"--gradient", &S.Gradient}, {"--xgradient", &S.XGradient}, {"--ygradient", &S.YGradient},
                     {"--regions", &S.Regions},   {"--graph", &S.Graph},       {"--hard", &S.Hard},
                     {"--boundary", &S.Boundary}, {"--edgemask", &S.EdgeMask}, {"--edges", &S.Edges}};
    Table.AntiAliasing = &S.AntiAliasing;
    if (ParseCommand(Args, 1, Command, Table, Operands)) return AskedForHelp();
    if (Operands.empty()) throw EUsageError("no image given", Command);
    if (Operands.size() > 1) throw EUsageError("only one image can be segmented, got '" + Operands[1] + "' too", Command);
    S.Image = Operands[0];
    Require(S.Markers, "--markers", Command);
    Require(S.Out, "--out", Command);
    // Two outputs in one file would leave only the last one written.
    const auto Outputs = S.Outputs();
    for (size_t i = 0; i < Outputs.size(); ++i)
      for (size_t j = i + 1; j < Outputs.size(); ++j)
        if (Outputs[i].second == Outputs[j].second)
          throw EUsageError(Outputs[i].first + " and " + Outputs[j].first + " name the same file '" +
                                Outputs[i].second + "'",
                            Command);
    Result.Command = ccSegment;
  } else if (Command == "serve") {
    Table.AntiAliasing = &Result.Serve.AntiAliasing;
    if (ParseCommand(Args, 1, Command, Table, Operands)) return AskedForHelp();
    if (Operands.empty()) throw EUsageError("no image given", Command);
    if (Operands.size() > 1) throw EUsageError("serve takes one image, got '" + Operands[1] + "' too", Command);
    Result.Serve.Image = Operands[0];
    Result.Command = ccServe;
  } else if (Command == "batch") {
    Table.Strings = {{"--out-dir", &Result.Batch.OutDir}};
    Table.AntiAliasing = &Result.Batch.AntiAliasing;
    Table.Jobs = &Result.Batch.Jobs;
    if (ParseCommand(Args, 1, Command, Table, Operands)) return AskedForHelp();
    if (Operands.empty()) throw EUsageError("no images or folders given", Command);
    Require(Result.Batch.OutDir, "--out-dir", Command);
    Result.Batch.Inputs = Operands;
    Result.Command = ccBatch;
  } else {
    throw EUsageError("unknown command '" + Command + "'", "");
  }
  return Result;
}

std::string HelpText(const std::string& Command) {
  if (Command == "segment") return SegmentHelp;
  if (Command == "serve") return ServeHelp;
  if (Command == "batch") return BatchHelp;
  return OverviewHelp;
}

}  // namespace varnix
