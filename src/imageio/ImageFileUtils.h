// Pieces shared by the format readers and writers, and used by the command-line tool for its
// other output files; not part of the image file interface proper.
#pragma once

#include <cstdio>
#include <string>

#include "imageio/ImageFiles.h"

namespace varnix::imageio {

// Raises EImageFileError("<FileName>: <Reason>").
[[noreturn]] void Fail(const std::string& FileName, const std::string& Reason);

// Checks an announced image size against the limits before anything is allocated; Channels and
// SampleBytes give the decoded size. Raises EImageFileError naming the file.
void CheckImageSize(const std::string& FileName, int64_t Width, int64_t Height, int32_t Channels,
                    int32_t SampleBytes, const TImageLimits& Limits);

// Opens FileName for binary reading; raises EImageFileError ("cannot open file (reason)",
// "is a directory") when that fails.
FILE* OpenForReading(const std::string& FileName);

// Closes a FILE* on scope exit. Empty state: nullptr.
class TFileCloser {
 public:
  explicit TFileCloser(FILE* File) noexcept : FFile(File) {}
  ~TFileCloser() {
    if (FFile) std::fclose(FFile);
  }
  TFileCloser(const TFileCloser&) = delete;
  TFileCloser& operator=(const TFileCloser&) = delete;
  FILE* Get() const noexcept { return FFile; }

 private:
  FILE* FFile;
};

// A file written under a temporary name in the target's folder ("<target>.tmp-XXXXXX") and
// renamed over the target by Commit, so that readers see either the old file or the complete new
// one. Empty state: committed, or the destructor has removed the unfinished temporary file.
// The constructor and Commit raise EImageFileError naming the target; the destructor never
// throws.
class TAtomicFile {
 public:
  explicit TAtomicFile(std::string Target);
  ~TAtomicFile();
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  // The temporary file as a stdio stream (owned by this object).
  FILE* Stream() const noexcept { return FStream; }
  int Descriptor() const noexcept;
  const std::string& TempName() const noexcept { return FTempName; }
  // Flushes and syncs the data, gives the file the usual permissions of a new file, closes it
  // and renames it over the target.
  void Commit();

 private:
  void Discard() noexcept;

  std::string FTarget;
  std::string FTempName;
  FILE* FStream = nullptr;
  bool FCommitted = false;
};

}  // namespace varnix::imageio
