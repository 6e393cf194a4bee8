// The command line of varnix-cli: its three commands, their options, the help texts and the
// names of the anti-aliasing methods. Parsing only checks the shape of the command line
// (known options, values present, counts of operands); whether files exist is found out when
// the command runs.
//
//   varnix-cli segment IMAGE --markers FILE.vnx --out MASK.png [--aa METHOD] [--cutout CUT.png]
//                      [dump options]
//   varnix-cli serve IMAGE [--aa METHOD]
//   varnix-cli batch DIR_OR_FILES... --out-dir DIR [--aa METHOD] [--jobs N]
//   varnix-cli help [COMMAND], varnix-cli --help, varnix-cli COMMAND --help
//
// Options take their value as the next argument or after "=" (--aa=soft); "--" ends the options.
#pragma once

#include <string>
#include <vector>

#include "common/Objects.h"

namespace varnix {

// A command line that does not fit the commands. Command is the command it was meant for (empty
// when there was none), so that the message can point to that command's help.
class EUsageError : public Exception {
 public:
  EUsageError(std::string Msg, std::string ACommand) : Exception(std::move(Msg)), Command(std::move(ACommand)) {}
  const char* ClassName() const override { return "EUsageError"; }
  std::string Command;
};

// The anti-aliasing methods in the order of the engine's method enumeration ("None", "Sharp",
// "Medium", "Soft", "Very Soft"), named on the command line none, sharp, medium, soft, very-soft.
inline constexpr int AntiAliasingMethodCount = 5;
inline constexpr int DefaultAntiAliasing = 3;  // soft
// The index of a method name (any case; "very soft" and "verysoft" are accepted too), -1 for
// an unknown name.
int AntiAliasingFromName(const std::string& Name);
// "none" ... "very-soft". REQUIRES: 0 <= Index < AntiAliasingMethodCount.
const char* AntiAliasingName(int Index);

enum TCliCommand { ccHelp, ccSegment, ccServe, ccBatch };

struct TSegmentOptions {
  std::string Image;
  std::string Markers;
  std::string Out;
  std::string Cutout;
  int AntiAliasing = DefaultAntiAliasing;
  // Stage dumps; empty when not asked for.
  std::string Gradient, XGradient, YGradient;  // 16-bit gray PNG
  std::string Regions;                         // binary region numbers
  std::string Graph;                           // region adjacency text
  std::string Hard;                            // the hard 0/255 mask, PNG
  std::string Boundary;                        // boundary points, text
  std::string EdgeMask;                        // the corrected edge mask, PNG
  std::string Edges;                           // outline entries with their sides, text

  // Every output file with the option that names it, in the order of the options above.
  std::vector<std::pair<std::string, std::string>> Outputs() const;
  // Whether a dump needs the intermediate results of the selection run.
  bool NeedsIntermediates() const { return !Hard.empty() || !Boundary.empty() || !EdgeMask.empty(); }
};

struct TServeOptions {
  std::string Image;
  int AntiAliasing = DefaultAntiAliasing;
};

struct TBatchOptions {
  std::vector<std::string> Inputs;
  std::string OutDir;
  int AntiAliasing = DefaultAntiAliasing;
  int Jobs = 0;  // 0: one per processor
};

struct TCliArguments {
  TCliCommand Command = ccHelp;
  std::string HelpTopic;  // for ccHelp: the command whose help is asked for, empty for the overview
  TSegmentOptions Segment;
  TServeOptions Serve;
  TBatchOptions Batch;
};

// Parses the arguments that follow the program name. Raises EUsageError.
TCliArguments ParseArguments(const std::vector<std::string>& Args);

// The help text of a command, or the overview for an empty Command. An unknown command gives the
// overview.
std::string HelpText(const std::string& Command);

}  // namespace varnix
