#include "imageio/ImageFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "common/FileUtils.h"
#include "common/LogFile.h"
#include "imageio/ImageFileUtils.h"

namespace varnix {

int32_t ColorChannelCount(TImageColorSpace ColorSpace) {
  switch (ColorSpace) {
    case icGray:
      return 1;
    case icRGB:
    case icLab:
      return 3;
    case icCMYK:
      return 4;
  }
  return 1;
}

int32_t BytesPerSample(TImageDepth Depth) {
  switch (Depth) {
    case id8Bits:
      return 1;
    case id16Bits:
      return 2;
    case id32BitsFloat:
      return 4;
  }
  return 1;
}

const char* ColorSpaceName(TImageColorSpace ColorSpace) {
  switch (ColorSpace) {
    case icGray:
      return "gray";
    case icRGB:
      return "RGB";
    case icCMYK:
      return "CMYK";
    case icLab:
      return "Lab";
  }
  return "?";
}

const char* DepthName(TImageDepth Depth) {
  switch (Depth) {
    case id8Bits:
      return "8-bit";
    case id16Bits:
      return "16-bit";
    case id32BitsFloat:
      return "32-bit float";
  }
  return "?";
}

namespace imageio {

void Fail(const std::string& FileName, const std::string& Reason) {
  throw EImageFileError(FileName + ": " + Reason);
}

namespace {

// The reason why a size is refused, empty when it is acceptable.
std::string SizeProblem(int64_t Width, int64_t Height, int32_t Channels, int32_t SampleBytes,
                        const TImageLimits& Limits) {
  if (Width <= 0 || Height <= 0)
    return Format("image size %lld x %lld is empty", static_cast<long long>(Width), static_cast<long long>(Height));
  if (Width > Limits.MaxDimension || Height > Limits.MaxDimension)
    return Format("image size %lld x %lld exceeds the limit of %d pixels per side", static_cast<long long>(Width),
                  static_cast<long long>(Height), static_cast<int>(Limits.MaxDimension));
  // Both factors are at most MaxDimension (< 2^31), so the products below cannot overflow.
  const int64_t Pixels = Width * Height;
  if (Pixels > Limits.MaxPixels)
    return Format("image size %lld x %lld exceeds the limit of %lld pixels", static_cast<long long>(Width),
                  static_cast<long long>(Height), static_cast<long long>(Limits.MaxPixels));
  if (Pixels > Limits.MaxBytes / (static_cast<int64_t>(Channels) * SampleBytes))
    return Format("image size %lld x %lld with %d channels of %d bytes exceeds the limit of %lld bytes",
                  static_cast<long long>(Width), static_cast<long long>(Height), static_cast<int>(Channels),
                  static_cast<int>(SampleBytes), static_cast<long long>(Limits.MaxBytes));
  return {};
}

}  // namespace

void CheckImageSize(const std::string& FileName, int64_t Width, int64_t Height, int32_t Channels,
                    int32_t SampleBytes, const TImageLimits& Limits) {
  const std::string Problem = SizeProblem(Width, Height, Channels, SampleBytes, Limits);
  if (!Problem.empty()) Fail(FileName, Problem);
}

FILE* OpenForReading(const std::string& FileName) {
  struct stat St;
  if (stat(FileName.c_str(), &St) == 0 && S_ISDIR(St.st_mode)) Fail(FileName, "is a directory");
  FILE* File = std::fopen(FileName.c_str(), "rb");
  if (!File) Fail(FileName, Format("cannot open file (%s)", std::strerror(errno)));
  return File;
}


TAtomicFile::TAtomicFile(std::string Target) : FTarget(std::move(Target)) {
  FTempName = FTarget + ".tmp-XXXXXX";
  const int Fd = mkstemp(FTempName.data());
  if (Fd < 0) Fail(FTarget, Format("cannot create file (%s)", std::strerror(errno)));
  FStream = fdopen(Fd, "wb");
  if (!FStream) {
    const int Error = errno;
    close(Fd);
    unlink(FTempName.c_str());
    Fail(FTarget, Format("cannot create file (%s)", std::strerror(Error)));
  }
}

TAtomicFile::~TAtomicFile() {
  if (!FCommitted) Discard();
}

int TAtomicFile::Descriptor() const noexcept { return FStream ? fileno(FStream) : -1; }

void TAtomicFile::Discard() noexcept {
  if (FStream) {
    std::fclose(FStream);
    FStream = nullptr;
  }
  unlink(FTempName.c_str());
}

void TAtomicFile::Commit() {
  int Error = 0;
  if (std::fflush(FStream) != 0 || std::ferror(FStream)) Error = errno ? errno : EIO;
  if (Error == 0 && fchmod(fileno(FStream), NewFileMode()) != 0) Error = errno;
  if (Error == 0 && fsync(fileno(FStream)) != 0) Error = errno;
  const int CloseResult = std::fclose(FStream);
  FStream = nullptr;
  if (Error == 0 && CloseResult != 0) Error = errno;
  if (Error == 0 && std::rename(FTempName.c_str(), FTarget.c_str()) != 0) Error = errno;
  if (Error != 0) {
    unlink(FTempName.c_str());
    FCommitted = true;  // nothing left to discard
    Fail(FTarget, Format("cannot write file (%s)", std::strerror(Error)));
  }
  FCommitted = true;
}

}  // namespace imageio

void TImage::Allocate(int32_t Width, int32_t Height, TImageColorSpace ColorSpace, TImageDepth Depth,
                      TImageAlpha Alpha, const TImageLimits& Limits) {
  const int32_t Channels = ColorChannelCount(ColorSpace) + (Alpha != iaNone ? 1 : 0);
  const std::string Problem = imageio::SizeProblem(Width, Height, Channels, varnix::BytesPerSample(Depth), Limits);
  if (!Problem.empty()) throw EImageFileError(Problem);
  const size_t Size = static_cast<size_t>(Width) * static_cast<size_t>(Height) * static_cast<size_t>(Channels) *
                      static_cast<size_t>(varnix::BytesPerSample(Depth));
  FBits = GuardAllocation([&] { return std::make_unique<uint8_t[]>(Size); });
  FWidth = Width;
  FHeight = Height;
  FColorSpace = ColorSpace;
  FDepth = Depth;
  FAlpha = Alpha;
}

std::string TImage::Describe() const {
  std::string Mode = ColorSpaceName(FColorSpace);
  if (FAlpha == iaUnassociated) Mode += " + alpha";
  if (FAlpha == iaAssociated) Mode += " + premultiplied alpha";
  return varnix::Format("%d x %d %s %s", static_cast<int>(FWidth), static_cast<int>(FHeight), Mode.c_str(), DepthName(FDepth));
}

TImageFileFormat DetectImageFormat(const std::string& FileName) {
  imageio::TFileCloser File(imageio::OpenForReading(FileName));
  unsigned char Magic[8] = {};
  const size_t N = std::fread(Magic, 1, sizeof Magic, File.Get());
  if (std::ferror(File.Get())) imageio::Fail(FileName, Format("cannot read file (%s)", std::strerror(errno)));
  if (N == 0) imageio::Fail(FileName, "file is empty");
  static const unsigned char Png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (N >= 8 && std::memcmp(Magic, Png, 8) == 0) return ffPNG;
  if (N >= 3 && Magic[0] == 0xFF && Magic[1] == 0xD8 && Magic[2] == 0xFF) return ffJPEG;
  // Classic TIFF (42) and BigTIFF (43), both byte orders.
  if (N >= 4 && ((Magic[0] == 'I' && Magic[1] == 'I' && (Magic[2] == 42 || Magic[2] == 43) && Magic[3] == 0) ||
                 (Magic[0] == 'M' && Magic[1] == 'M' && Magic[2] == 0 && (Magic[3] == 42 || Magic[3] == 43))))
    return ffTIFF;
  imageio::Fail(FileName, "not a PNG, JPEG or TIFF file");
}

TImage ReadImageFile(const std::string& FileName, const TImageLimits& Limits) {
  switch (DetectImageFormat(FileName)) {
    case ffPNG:
      return ReadPngFile(FileName, Limits);
    case ffJPEG:
      return ReadJpegFile(FileName, Limits);
    case ffTIFF:
      return ReadTiffFile(FileName, Limits);
  }
  imageio::Fail(FileName, "not a PNG, JPEG or TIFF file");
}

void WriteImageFile(const std::string& FileName, const TImage& Image) {
  const size_t Dot = FileName.find_last_of('.');
  const size_t Slash = FileName.find_last_of('/');
  std::string Ext;
  if (Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash)) Ext = FileName.substr(Dot + 1);
  for (char& C : Ext) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
  if (Ext == "png") return WritePngFile(FileName, Image);
  if (Ext == "jpg" || Ext == "jpeg") return WriteJpegFile(FileName, Image);
  if (Ext == "tif" || Ext == "tiff") return WriteTiffFile(FileName, Image);
  imageio::Fail(FileName, "unknown image file extension (use .png, .jpg, .jpeg, .tif or .tiff)");
}

}  // namespace varnix
