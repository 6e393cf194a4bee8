// The machinery of "varnix-cli batch": which files to segment, running several of them at once,
// and telling the user how it goes. What happens to one file is the caller's work function, so
// that this part knows nothing of the engine.
#pragma once

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace varnix {

struct TBatchJob {
  std::string Image;
  std::string Markers;  // the markers file beside the image
  std::string Output;   // the mask to write
};

struct TBatchPlan {
  std::vector<TBatchJob> Jobs;
  // Inputs that cannot be processed, one message each ("photo.jpg: no markers file photo.vnx").
  std::vector<std::string> Problems;
  // Images found in folders that have no markers file beside them.
  int Skipped = 0;
};

// The markers file that belongs to an image: the same name with the extension .vnx.
std::string MarkersFileFor(const std::string& Image);

// Lists the jobs for the inputs: a folder stands for its PNG, JPEG and TIFF files (by extension,
// in name order, not descending into subfolders), a file for itself. Each mask goes to
// OutDir/<name without extension>.png. A named file without markers file, an input that does
// not exist and a second image that would write the same mask are problems; the others go on.
TBatchPlan PlanBatch(const std::vector<std::string>& Inputs, const std::string& OutDir);

// Receives the progress of a batch. Calls come from the worker threads, one at a time (the
// runner serialises them).
class TBatchReporter {
 public:
  virtual ~TBatchReporter() = default;
  virtual void Begin(int Total) = 0;
  virtual void Started(const TBatchJob& Job) = 0;
  // Message is empty on success.
  virtual void Finished(const TBatchJob& Job, bool Succeeded, const std::string& Message, double Milliseconds) = 0;
  // A problem found before the work started (from the plan) or a warning of a job.
  virtual void Note(const std::string& Message) = 0;
  virtual void End(int Succeeded, int Failed, double Seconds) = 0;
};

// One line per finished file: successes on Out, failures on Err, and a summary on Out.
class TLineReporter : public TBatchReporter {
 public:
  TLineReporter(FILE* Out, FILE* Err) : FOut(Out), FErr(Err) {}
  void Begin(int) override {}
  void Started(const TBatchJob&) override {}
  void Finished(const TBatchJob& Job, bool Succeeded, const std::string& Message, double Milliseconds) override;
  void Note(const std::string& Message) override;
  void End(int Succeeded, int Failed, double Seconds) override;

 private:
  FILE* FOut;
  FILE* FErr;
};

// A progress bar redrawn in place on a terminal; failures and notes are printed above it.
class TProgressBarReporter : public TBatchReporter {
 public:
  TProgressBarReporter(FILE* Terminal, FILE* Err) : FTerminal(Terminal), FErr(Err) {}
  void Begin(int Total) override;
  void Started(const TBatchJob& Job) override;
  void Finished(const TBatchJob& Job, bool Succeeded, const std::string& Message, double Milliseconds) override;
  void Note(const std::string& Message) override;
  void End(int Succeeded, int Failed, double Seconds) override;

 private:
  void Draw();
  void ClearLine();

  FILE* FTerminal;
  FILE* FErr;
  int FTotal = 0;
  int FDone = 0;
  int FFailed = 0;
  std::string FCurrent;
};

// The work for one job; it reports failure by throwing (any std::exception), and may pass
// warnings to Warn.
using TBatchWork = std::function<void(const TBatchJob& Job, const std::function<void(const std::string&)>& Warn)>;

struct TBatchResult {
  int Succeeded = 0;
  int Failed = 0;
};

// Runs Work for every job on Threads worker threads (at least 1, at most the number of jobs), in
// plan order as the workers become free. Every job runs, whatever happens to the others.
// FailedBefore counts inputs that failed before the run (problems of the plan); they are part of
// the result and of the summary.
TBatchResult RunBatch(const std::vector<TBatchJob>& Jobs, int Threads, const TBatchWork& Work,
                      TBatchReporter& Reporter, int FailedBefore = 0);

// "photo.jpg: corrupt..." reported for photo.jpg reads better as "corrupt...": the prefix is
// dropped when the message starts with the image's own name.
std::string WithoutImagePrefix(const std::string& Message, const std::string& Image);

}  // namespace varnix
