// The three commands of varnix-cli and the program's entry point.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

#include "cli/BatchRunner.h"
#include "cli/CliArguments.h"
#include "cli/CliDocument.h"
#include "cli/CliSegmenter.h"
#include "cli/ServeProtocol.h"
#include "common/LogFile.h"
#include "engine/MemoryHints.h"

namespace varnix {

namespace {

void WarnOnStderr(const std::string& Message) { std::fprintf(stderr, "varnix-cli: warning: %s\n", Message.c_str()); }

// Whether two names denote the same existing file (also through links or different spellings).
bool SameFile(const std::string& A, const std::string& B) {
  if (A == B) return true;
  struct stat SA, SB;
  return stat(A.c_str(), &SA) == 0 && stat(B.c_str(), &SB) == 0 && SA.st_dev == SB.st_dev && SA.st_ino == SB.st_ino;
}

// Creates Dir and its missing parents.
void MakeFolders(const std::string& Dir) {
  for (size_t i = 1; i <= Dir.size(); ++i) {
    if (i < Dir.size() && Dir[i] != '/') continue;
    const std::string Part = Dir.substr(0, i);
    if (mkdir(Part.c_str(), 0777) != 0 && errno != EEXIST)
      throw Exception(Format("%s: cannot create the folder (%s)", Part.c_str(), std::strerror(errno)));
  }
  struct stat St;
  if (stat(Dir.c_str(), &St) != 0 || !S_ISDIR(St.st_mode)) throw Exception(Dir + ": is not a folder");
}

int RunSegment(const TSegmentOptions& O) {
  for (const auto& [Option, File] : O.Outputs())
    if (SameFile(File, O.Image) || SameFile(File, O.Markers))
      throw EUsageError(Option + " would overwrite the input file '" + File + "'", "segment");

  TCliDocument Document;
  LoadDocument(O.Image, Document);
  const std::vector<TCliMarker> Markers = LoadMarkers(O.Markers);
  WarnAboutOutsideMarkers(Markers, Document.Bitmap.Width(), Document.Bitmap.Height(), WarnOnStderr);
  const TGaussianAntiAliasingMethod Method = static_cast<TGaussianAntiAliasingMethod>(O.AntiAliasing);

  TCliSegmenter Segmenter(&Document.Bitmap);
  Segmenter.Preprocess();
  TGrayscaleBitmap Selection;
  TPointList Edges;
  const double Milliseconds = Segmenter.Select(Markers, Method, Selection, Edges);

  auto Wrote = [](const std::string& File) { std::printf("wrote %s\n", File.c_str()); };
  WriteMask(O.Out, Selection);
  Wrote(O.Out);
  if (!O.Cutout.empty()) {
    WriteCutout(O.Cutout, Document.Rgba, Selection);
    Wrote(O.Cutout);
  }
  InterfacePtr<ISelectionGradient> Gradient = Segmenter.Manager()->GetGradient();
  if (!O.Gradient.empty()) {
    WriteWordBitmap(O.Gradient, *Gradient->GetGradient());
    Wrote(O.Gradient);
  }
  if (!O.XGradient.empty()) {
    WriteWordBitmap(O.XGradient, *Gradient->GetXGradient());
    Wrote(O.XGradient);
  }
  if (!O.YGradient.empty()) {
    WriteWordBitmap(O.YGradient, *Gradient->GetYGradient());
    Wrote(O.YGradient);
  }
  if (!O.Regions.empty()) {
    WriteRegions(O.Regions, Segmenter.RegionBitmap());
    Wrote(O.Regions);
  }
  if (!O.Graph.empty()) {
    WriteGraph(O.Graph, Segmenter.Regions());
    Wrote(O.Graph);
  }
  if (O.NeedsIntermediates()) {
    TGrayscaleBitmap Hard, EdgeMask;
    TPointList Boundary;
    Segmenter.Intermediates(Markers, Method, Hard, Boundary, EdgeMask);
    if (!O.Hard.empty()) {
      WriteMask(O.Hard, Hard);
      Wrote(O.Hard);
    }
    if (!O.Boundary.empty()) {
      WriteBoundary(O.Boundary, Boundary);
      Wrote(O.Boundary);
    }
    if (!O.EdgeMask.empty()) {
      WriteMask(O.EdgeMask, EdgeMask);
      Wrote(O.EdgeMask);
    }
  }
  if (!O.Edges.empty()) {
    WriteEdges(O.Edges, Edges);
    Wrote(O.Edges);
  }
  std::printf("%s: %d x %d, %d markers, %d regions, selection run %.1f ms (%s)\n", O.Image.c_str(),
              static_cast<int>(Selection.Width()), static_cast<int>(Selection.Height()),
              static_cast<int>(Markers.size()), static_cast<int>(Segmenter.Regions().RegionCount()), Milliseconds,
              AntiAliasingName(O.AntiAliasing));
  return 0;
}

int RunServe(const TServeOptions& O) {
  TCliDocument Document;
  LoadDocument(O.Image, Document);
  TCliSegmenter Segmenter(&Document.Bitmap);
  Segmenter.Preprocess();
  std::fprintf(stderr, "varnix-cli: serving %s (%d x %d); one JSON request per line\n", O.Image.c_str(),
               static_cast<int>(Document.Bitmap.Width()), static_cast<int>(Document.Bitmap.Height()));

  std::string Line;
  while (std::getline(std::cin, Line)) {
    if (Line.find_first_not_of(" \t\r") == std::string::npos) continue;
    std::string Answer;
    TServeRequest Request;
    std::string Error;
    if (!ParseServeRequest(Line, Request, Error)) {
      Answer = ServeFailure(Error);
    } else {
      try {
        std::vector<TCliMarker> Markers;
        for (const TServeMarker& M : Request.Markers)
          Markers.push_back({M.Position, M.Type == 0 ? uint8_t(255) : uint8_t(0)});
        WarnAboutOutsideMarkers(Markers, Document.Bitmap.Width(), Document.Bitmap.Height(), WarnOnStderr);
        const int Method = Request.AntiAliasing >= 0 ? Request.AntiAliasing : O.AntiAliasing;
        TGrayscaleBitmap Selection;
        TPointList Edges;
        const double Milliseconds =
            Segmenter.Select(Markers, static_cast<TGaussianAntiAliasingMethod>(Method), Selection, Edges);
        WriteMask(Request.Out, Selection);
        Answer = ServeSuccess(Milliseconds);
      } catch (const std::exception& E) {
        Answer = ServeFailure(E.what());
      }
    }
    std::fputs(Answer.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
  }
  return 0;
}

int RunBatchCommand(const TBatchOptions& O) {
  const TBatchPlan Plan = PlanBatch(O.Inputs, O.OutDir);
  if (Plan.Jobs.empty() && Plan.Problems.empty()) {
    std::fprintf(stderr, "varnix-cli: batch: no images with a markers file beside them were found\n");
    return 1;
  }
  if (!Plan.Jobs.empty()) MakeFolders(O.OutDir);

  TLineReporter Lines(stdout, stderr);
  TProgressBarReporter Bar(stdout, stderr);
  TBatchReporter& Reporter = isatty(fileno(stdout)) ? static_cast<TBatchReporter&>(Bar) : Lines;
  for (const std::string& Problem : Plan.Problems) Reporter.Note(Problem);
  if (Plan.Skipped > 0)
    Reporter.Note(Format("batch: %d images without markers file skipped", Plan.Skipped));

  const int Threads = O.Jobs > 0 ? O.Jobs : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  const TGaussianAntiAliasingMethod Method = static_cast<TGaussianAntiAliasingMethod>(O.AntiAliasing);
  auto Work = [Method](const TBatchJob& Job, const std::function<void(const std::string&)>& Warn) {
    TCliDocument Document;
    LoadDocument(Job.Image, Document);
    const std::vector<TCliMarker> Markers = LoadMarkers(Job.Markers);
    WarnAboutOutsideMarkers(Markers, Document.Bitmap.Width(), Document.Bitmap.Height(), Warn);
    TCliSegmenter Segmenter(&Document.Bitmap);
    Segmenter.Preprocess();
    TGrayscaleBitmap Selection;
    TPointList Edges;
    Segmenter.Select(Markers, Method, Selection, Edges);
    WriteMask(Job.Output, Selection);
  };
  const TBatchResult Result =
      RunBatch(Plan.Jobs, Threads, Work, Reporter, static_cast<int>(Plan.Problems.size()));
  return Result.Failed == 0 ? 0 : 1;
}

}  // namespace

int RunCli(const std::vector<std::string>& Args) {
  try {
    const TCliArguments A = ParseArguments(Args);
    InstallQuietExceptionTrace();
    switch (A.Command) {
      case ccHelp:
        std::fputs(HelpText(A.HelpTopic).c_str(), stdout);
        return 0;
      case ccSegment:
        return RunSegment(A.Segment);
      case ccServe:
        return RunServe(A.Serve);
      case ccBatch:
        return RunBatchCommand(A.Batch);
    }
  } catch (const EUsageError& E) {
    std::fprintf(stderr, "varnix-cli: %s\n", E.Message().c_str());
    std::fprintf(stderr, "Try 'varnix-cli %s--help'.\n", E.Command.empty() ? "" : (E.Command + " ").c_str());
    return 2;
  } catch (const std::exception& E) {
    std::fflush(stdout);
    std::fprintf(stderr, "varnix-cli: error: %s\n", E.what());
    return 1;
  }
  return 1;
}

}  // namespace varnix

int main(int argc, char** argv) {
  // Every selection run allocates and frees document-sized bitmaps; keep them for reuse.
  varnix::RetainFreedMemory();
  const std::vector<std::string> Args(argv + 1, argv + argc);
  return varnix::RunCli(Args);
}
