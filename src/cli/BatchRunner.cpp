#include "cli/BatchRunner.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <map>
#include <system_error>
#include <thread>

namespace varnix {

namespace {

std::string Extension(const std::string& Path) {
  const size_t Slash = Path.find_last_of('/');
  const size_t Dot = Path.find_last_of('.');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash) || Dot == Slash + 1) return {};
  std::string Ext = Path.substr(Dot + 1);
  for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  return Ext;
}

std::string WithoutExtension(const std::string& Path) {
  const size_t Slash = Path.find_last_of('/');
  const size_t Dot = Path.find_last_of('.');
  if (Dot == std::string::npos || (Slash != std::string::npos && Dot < Slash) || Dot == Slash + 1) return Path;
  return Path.substr(0, Dot);
}

std::string BaseName(const std::string& Path) {
  const size_t Slash = Path.find_last_of('/');
  return Slash == std::string::npos ? Path : Path.substr(Slash + 1);
}

bool IsImageName(const std::string& Name) {
  const std::string Ext = Extension(Name);
  return Ext == "png" || Ext == "jpg" || Ext == "jpeg" || Ext == "tif" || Ext == "tiff";
}

bool IsFile(const std::string& Path) {
  struct stat St;
  return stat(Path.c_str(), &St) == 0 && S_ISREG(St.st_mode);
}

std::string JoinPath(const std::string& Dir, const std::string& Name) {
  if (Dir.empty()) return Name;
  return Dir.back() == '/' ? Dir + Name : Dir + "/" + Name;
}

double MillisecondsSince(std::chrono::steady_clock::time_point Start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - Start).count();
}

}  // namespace

std::string MarkersFileFor(const std::string& Image) { return WithoutExtension(Image) + ".vnx"; }

TBatchPlan PlanBatch(const std::vector<std::string>& Inputs, const std::string& OutDir) {
  TBatchPlan Plan;
  std::map<std::string, std::string> OutputOwner;  // mask file → image that writes it
  auto AddJob = [&](const std::string& Image) {
    TBatchJob Job;
    Job.Image = Image;
    Job.Markers = MarkersFileFor(Image);
    Job.Output = JoinPath(OutDir, BaseName(WithoutExtension(Image)) + ".png");
    const auto [It, Inserted] = OutputOwner.emplace(Job.Output, Image);
    if (!Inserted) {
      Plan.Problems.push_back(Image + ": its mask " + Job.Output + " would replace the mask of " + It->second);
      return;
    }
    Plan.Jobs.push_back(std::move(Job));
  };
  for (const std::string& Input : Inputs) {
    struct stat St;
    if (stat(Input.c_str(), &St) != 0) {
      Plan.Problems.push_back(Input + ": no such file or folder");
      continue;
    }
    if (S_ISDIR(St.st_mode)) {
      std::vector<std::string> Names;
      if (DIR* D = opendir(Input.c_str())) {
        while (dirent* E = readdir(D)) {
          const std::string Name = E->d_name;
          if (IsImageName(Name) && IsFile(JoinPath(Input, Name))) Names.push_back(Name);
        }
        closedir(D);
      } else {
        Plan.Problems.push_back(Input + ": cannot read the folder");
        continue;
      }
      std::sort(Names.begin(), Names.end());
      for (const std::string& Name : Names) {
        const std::string Image = JoinPath(Input, Name);
        if (IsFile(MarkersFileFor(Image)))
          AddJob(Image);
        else
          ++Plan.Skipped;
      }
    } else if (!IsFile(MarkersFileFor(Input))) {
      Plan.Problems.push_back(Input + ": no markers file " + MarkersFileFor(Input));
    } else {
      AddJob(Input);
    }
  }
  return Plan;
}

std::string WithoutImagePrefix(const std::string& Message, const std::string& Image) {
  const std::string Prefix = Image + ": ";
  return Message.rfind(Prefix, 0) == 0 ? Message.substr(Prefix.size()) : Message;
}

// ---- reporters ----

void TLineReporter::Finished(const TBatchJob& Job, bool Succeeded, const std::string& Message, double Milliseconds) {
  if (Succeeded)
    std::fprintf(FOut, "%s -> %s (%.0f ms)\n", Job.Image.c_str(), Job.Output.c_str(), Milliseconds);
  else
    std::fprintf(FErr, "%s: failed: %s\n", Job.Image.c_str(), WithoutImagePrefix(Message, Job.Image).c_str());
  std::fflush(FOut);
  std::fflush(FErr);
}

void TLineReporter::Note(const std::string& Message) {
  std::fprintf(FErr, "%s\n", Message.c_str());
  std::fflush(FErr);
}

void TLineReporter::End(int Succeeded, int Failed, double Seconds) {
  std::fprintf(FOut, "batch: %d of %d images segmented, %d failed (%.1f s)\n", Succeeded, Succeeded + Failed, Failed,
               Seconds);
  std::fflush(FOut);
}

void TProgressBarReporter::ClearLine() { std::fputs("\r\033[K", FTerminal); }

void TProgressBarReporter::Draw() {
  constexpr int Width = 30;
  const int Filled = FTotal > 0 ? FDone * Width / FTotal : Width;
  std::string Bar(static_cast<size_t>(Filled), '#');
  Bar.append(static_cast<size_t>(Width - Filled), '.');
  ClearLine();
  std::fprintf(FTerminal, "[%s] %d/%d", Bar.c_str(), FDone, FTotal);
  if (FFailed > 0) std::fprintf(FTerminal, ", %d failed", FFailed);
  if (!FCurrent.empty()) std::fprintf(FTerminal, "  %s", FCurrent.c_str());
  std::fflush(FTerminal);
}

void TProgressBarReporter::Begin(int Total) {
  FTotal = Total;
  Draw();
}

void TProgressBarReporter::Started(const TBatchJob& Job) {
  FCurrent = BaseName(Job.Image);
  Draw();
}

void TProgressBarReporter::Finished(const TBatchJob& Job, bool Succeeded, const std::string& Message, double) {
  ++FDone;
  if (!Succeeded) {
    ++FFailed;
    ClearLine();
    std::fflush(FTerminal);
    std::fprintf(FErr, "%s: failed: %s\n", Job.Image.c_str(), WithoutImagePrefix(Message, Job.Image).c_str());
    std::fflush(FErr);
  }
  if (FCurrent == BaseName(Job.Image)) FCurrent.clear();
  Draw();
}

void TProgressBarReporter::Note(const std::string& Message) {
  ClearLine();
  std::fflush(FTerminal);
  std::fprintf(FErr, "%s\n", Message.c_str());
  std::fflush(FErr);
  Draw();
}

void TProgressBarReporter::End(int Succeeded, int Failed, double Seconds) {
  FCurrent.clear();
  Draw();
  std::fprintf(FTerminal, "\nbatch: %d of %d images segmented, %d failed (%.1f s)\n", Succeeded, Succeeded + Failed,
               Failed, Seconds);
  std::fflush(FTerminal);
}

// ---- runner ----

TBatchResult RunBatch(const std::vector<TBatchJob>& Jobs, int Threads, const TBatchWork& Work,
                      TBatchReporter& Reporter, int FailedBefore) {
  const auto Start = std::chrono::steady_clock::now();
  std::mutex ReportLock;
  std::atomic<size_t> Next{0};
  TBatchResult Result;
  Result.Failed = FailedBefore;
  {
    std::lock_guard<std::mutex> Guard(ReportLock);
    Reporter.Begin(static_cast<int>(Jobs.size()));
  }
  auto Worker = [&] {
    for (size_t i = Next.fetch_add(1); i < Jobs.size(); i = Next.fetch_add(1)) {
      const TBatchJob& Job = Jobs[i];
      {
        std::lock_guard<std::mutex> Guard(ReportLock);
        Reporter.Started(Job);
      }
      const auto JobStart = std::chrono::steady_clock::now();
      std::string Error;
      bool Succeeded = true;
      try {
        Work(Job, [&](const std::string& Warning) {
          std::lock_guard<std::mutex> Guard(ReportLock);
          Reporter.Note(Job.Image + ": warning: " + WithoutImagePrefix(Warning, Job.Image));
        });
      } catch (const std::exception& E) {
        Succeeded = false;
        Error = E.what();
      } catch (...) {
        Succeeded = false;
        Error = "unknown error";
      }
      std::lock_guard<std::mutex> Guard(ReportLock);
      (Succeeded ? Result.Succeeded : Result.Failed)++;
      Reporter.Finished(Job, Succeeded, Error, MillisecondsSince(JobStart));
    }
  };
  const int Count = std::max(1, std::min<int>(Threads, static_cast<int>(Jobs.size())));
  std::vector<std::thread> Workers;
  for (int i = 1; i < Count; ++i) {
    try {
      Workers.emplace_back(Worker);
    } catch (const std::system_error&) {
      break;  // fewer workers than asked for; the ones there share the jobs
    }
  }
  Worker();
  for (std::thread& T : Workers) T.join();
  std::lock_guard<std::mutex> Guard(ReportLock);
  Reporter.End(Result.Succeeded, Result.Failed, MillisecondsSince(Start) / 1000.0);
  return Result;
}

}  // namespace varnix
