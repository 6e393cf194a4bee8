// TIFF through libtiff. libtiff reports errors through a handler and a failed return value, not
// through longjmp, so this file is plain C++: each file gets its own handler context (libtiff's
// per-handle handlers), which keeps concurrent reads in different threads apart.
#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "common/LogFile.h"
#include "imageio/ImageFileUtils.h"

namespace varnix {

namespace {

using imageio::Fail;

// The first error libtiff reported for one file.
struct TTiffContext {
  char Message[512] = {};
  bool HasError = false;
};

extern "C" int TiffErrorHandler(TIFF*, void* UserData, const char* Module, const char* Fmt, va_list Args) {
  TTiffContext* Context = static_cast<TTiffContext*>(UserData);
  if (!Context->HasError) {
    char Text[400];
    std::vsnprintf(Text, sizeof Text, Fmt, Args);
    if (Module && *Module)
      std::snprintf(Context->Message, sizeof Context->Message, "%s: %s", Module, Text);
    else
      std::snprintf(Context->Message, sizeof Context->Message, "%s", Text);
    Context->HasError = true;
  }
  return 1;  // handled: libtiff's global handler does not print it
}

extern "C" int TiffWarningHandler(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Owns libtiff's open options. Empty state: null (only after a failed allocation).
class TTiffOptions {
 public:
  TTiffOptions(TTiffContext& Context, int64_t MaxAllocation) : FOptions(TIFFOpenOptionsAlloc()) {
    if (!FOptions) throw EOutOfMemory();
    TIFFOpenOptionsSetErrorHandlerExtR(FOptions, TiffErrorHandler, &Context);
    TIFFOpenOptionsSetWarningHandlerExtR(FOptions, TiffWarningHandler, &Context);
    TIFFOpenOptionsSetMaxSingleMemAlloc(FOptions, static_cast<tmsize_t>(MaxAllocation));
  }
  ~TTiffOptions() { TIFFOpenOptionsFree(FOptions); }
  TTiffOptions(const TTiffOptions&) = delete;
  TTiffOptions& operator=(const TTiffOptions&) = delete;
  TIFFOpenOptions* Get() const { return FOptions; }

 private:
  TIFFOpenOptions* FOptions;
};

// Owns an open TIFF (and through it the file descriptor). Empty state: null.
class TTiffHandle {
 public:
  explicit TTiffHandle(TIFF* Tiff) noexcept : FTiff(Tiff) {}
  ~TTiffHandle() { Close(); }
  TTiffHandle(const TTiffHandle&) = delete;
  TTiffHandle& operator=(const TTiffHandle&) = delete;
  TIFF* Get() const noexcept { return FTiff; }
  void Close() noexcept {
    if (FTiff) TIFFClose(FTiff);
    FTiff = nullptr;
  }

 private:
  TIFF* FTiff;
};

std::string TiffReason(const TTiffContext& Context, const char* Fallback) {
  return Context.HasError ? std::string(Context.Message) : std::string(Fallback);
}

// The reason of a failed write, with the system's error when there is one.
std::string TiffWriteReason(const TTiffContext& Context) {
  const int Error = errno;
  std::string Reason = TiffReason(Context, "write error");
  if (Error != 0) Reason += std::string(": ") + std::strerror(Error);
  return Reason;
}

// Reads one plane of the image into Dest (Width × Height pixels of PixelBytes each): the whole
// interleaved image for contiguous files (Plane 0), one sample of every pixel for planar ones.
// Strips and tiles are both handled. Returns an empty string on success, otherwise the reason.
std::string ReadPlane(TIFF* Tiff, const TTiffContext& Context, uint16_t Plane, uint8_t* Dest, size_t PixelBytes,
                      uint32_t Width, uint32_t Height) {
  const size_t RowBytes = PixelBytes * Width;
  if (TIFFIsTiled(Tiff)) {
    uint32_t TileWidth = 0, TileHeight = 0;
    if (!TIFFGetField(Tiff, TIFFTAG_TILEWIDTH, &TileWidth) || !TIFFGetField(Tiff, TIFFTAG_TILELENGTH, &TileHeight) ||
        TileWidth == 0 || TileHeight == 0)
      return "invalid tile size";
    const size_t TileRowBytes = PixelBytes * TileWidth;
    const size_t TileBytes = TileRowBytes * TileHeight;
    if (TileBytes / TileHeight != TileRowBytes || TileBytes > (size_t(1) << 31)) return "invalid tile size";
    std::vector<uint8_t> Tile = GuardAllocation([&] { return std::vector<uint8_t>(TileBytes); });
    for (uint32_t TY = 0; TY < Height; TY += TileHeight) {
      for (uint32_t TX = 0; TX < Width; TX += TileWidth) {
        const uint32_t Index = TIFFComputeTile(Tiff, TX, TY, 0, Plane);
        const tmsize_t Read = TIFFReadEncodedTile(Tiff, Index, Tile.data(), static_cast<tmsize_t>(TileBytes));
        if (Read < 0) return TiffReason(Context, "cannot read a tile");
        if (static_cast<size_t>(Read) < TileBytes) return Format("tile %u is incomplete", Index);
        const uint32_t Rows = TileHeight < Height - TY ? TileHeight : Height - TY;
        const uint32_t Columns = TileWidth < Width - TX ? TileWidth : Width - TX;
        for (uint32_t R = 0; R < Rows; ++R)
          std::memcpy(Dest + (static_cast<size_t>(TY) + R) * RowBytes + static_cast<size_t>(TX) * PixelBytes,
                      Tile.data() + R * TileRowBytes, Columns * PixelBytes);
      }
    }
    return {};
  }
  uint32_t RowsPerStrip = 0;
  TIFFGetFieldDefaulted(Tiff, TIFFTAG_ROWSPERSTRIP, &RowsPerStrip);
  if (RowsPerStrip == 0 || RowsPerStrip > Height) RowsPerStrip = Height;
  for (uint32_t Row = 0; Row < Height; Row += RowsPerStrip) {
    const uint32_t Rows = RowsPerStrip < Height - Row ? RowsPerStrip : Height - Row;
    const size_t Bytes = static_cast<size_t>(Rows) * RowBytes;
    const uint32_t Strip = TIFFComputeStrip(Tiff, Row, Plane);
    const tmsize_t Read = TIFFReadEncodedStrip(Tiff, Strip, Dest + static_cast<size_t>(Row) * RowBytes,
                                               static_cast<tmsize_t>(Bytes));
    if (Read < 0) return TiffReason(Context, "cannot read a strip");
    if (static_cast<size_t>(Read) < Bytes) return Format("strip %u is incomplete", Strip);
  }
  return {};
}

// Layouts that only libtiff's RGBA interface understands (palette, subsampled YCbCr, bilevel):
// 8-bit RGB or RGBA (associated alpha), or 8-bit gray for gray photometrics.
TImage ReadThroughRgba(const std::string& FileName, TIFF* Tiff, const TTiffContext& Context, uint32_t Width,
                       uint32_t Height, uint16_t Photometric, uint16_t ExtraSamples, const TImageLimits& Limits) {
  char Reason[1024] = {};
  if (!TIFFRGBAImageOK(Tiff, Reason)) Fail(FileName, Format("unsupported TIFF layout (%s)", Reason));
  imageio::CheckImageSize(FileName, Width, Height, 4, 1, Limits);
  const bool Gray = Photometric == PHOTOMETRIC_MINISBLACK || Photometric == PHOTOMETRIC_MINISWHITE;
  const bool Alpha = !Gray && ExtraSamples > 0;
  TImage Image;
  Image.Allocate(static_cast<int32_t>(Width), static_cast<int32_t>(Height), Gray ? icGray : icRGB, id8Bits,
                 Alpha ? iaAssociated : iaNone, Limits);
  std::vector<uint32_t> Raster =
      GuardAllocation([&] { return std::vector<uint32_t>(static_cast<size_t>(Width) * Height); });
  if (!TIFFReadRGBAImageOriented(Tiff, Width, Height, Raster.data(), ORIENTATION_TOPLEFT, 1))
    Fail(FileName, Format("corrupt or truncated TIFF file (%s)", TiffReason(Context, "cannot read the image").c_str()));
  // libtiff reports some damaged strips and still answers success when asked to go on; its
  // error handler has seen them.
  if (Context.HasError) Fail(FileName, Format("corrupt or truncated TIFF file (%s)", Context.Message));
  const uint32_t* P = Raster.data();
  for (int32_t Y = 0; Y < Image.Height(); ++Y) {
    uint8_t* D = Image.Row(Y);
    for (int32_t X = 0; X < Image.Width(); ++X, ++P) {
      *D++ = static_cast<uint8_t>(TIFFGetR(*P));
      if (Gray) continue;
      *D++ = static_cast<uint8_t>(TIFFGetG(*P));
      *D++ = static_cast<uint8_t>(TIFFGetB(*P));
      if (Alpha) *D++ = static_cast<uint8_t>(TIFFGetA(*P));
    }
  }
  return Image;
}

// Flips the colour samples of every pixel in place: Value → Max − Value for min-is-white gray,
// and the sign bit of a* and b* for CIELab (signed in the file, offset in the image).
void FixSamples(TImage& Image, bool InvertGray, bool SignedLab) {
  const int32_t Channels = Image.Channels();
  const size_t Pixels = static_cast<size_t>(Image.Width()) * Image.Height();
  if (InvertGray) {
    switch (Image.Depth()) {
      case id8Bits: {
        uint8_t* P = Image.Bits();
        for (size_t i = 0; i < Pixels; ++i, P += Channels) *P = static_cast<uint8_t>(255 - *P);
        break;
      }
      case id16Bits: {
        uint16_t* P = Image.Row16(0);
        for (size_t i = 0; i < Pixels; ++i, P += Channels) *P = static_cast<uint16_t>(65535 - *P);
        break;
      }
      case id32BitsFloat: {
        float* P = Image.RowFloat(0);
        for (size_t i = 0; i < Pixels; ++i, P += Channels) *P = 1.0f - *P;
        break;
      }
    }
  }
  if (SignedLab) {
    if (Image.Depth() == id8Bits) {
      uint8_t* P = Image.Bits();
      for (size_t i = 0; i < Pixels; ++i, P += Channels) {
        P[1] ^= 0x80;
        P[2] ^= 0x80;
      }
    } else if (Image.Depth() == id16Bits) {
      uint16_t* P = Image.Row16(0);
      for (size_t i = 0; i < Pixels; ++i, P += Channels) {
        P[1] ^= 0x8000;
        P[2] ^= 0x8000;
      }
    }
  }
}

}  // namespace

TImage ReadTiffFile(const std::string& FileName, const TImageLimits& Limits) {
  // Opening through our own descriptor gives the usual "cannot open" message; "m" keeps libtiff
  // from mapping the file, so a file truncated while it is read cannot fault the process.
  imageio::TFileCloser Probe(imageio::OpenForReading(FileName));
  const int Fd = dup(fileno(Probe.Get()));
  if (Fd < 0) Fail(FileName, Format("cannot open file (%s)", std::strerror(errno)));
  TTiffContext Context;
  // libtiff's own allocations (directories, compressed strips) are bounded too, at the image
  // limit but never so low that ordinary directories fail.
  TTiffOptions Options(Context, Limits.MaxBytes > (int64_t(64) << 20) ? Limits.MaxBytes : int64_t(64) << 20);
  TTiffHandle Tiff(TIFFFdOpenExt(Fd, FileName.c_str(), "rm", Options.Get()));
  if (!Tiff.Get()) {
    close(Fd);
    Fail(FileName, Format("corrupt or unsupported TIFF file (%s)", TiffReason(Context, "cannot open").c_str()));
  }
  TIFF* T = Tiff.Get();

  uint32_t Width = 0, Height = 0;
  uint16_t SamplesPerPixel = 1, BitsPerSample = 1, SampleFormat = SAMPLEFORMAT_UINT, Planar = PLANARCONFIG_CONTIG;
  uint16_t Photometric = 0, InkSet = INKSET_CMYK, ExtraCount = 0;
  uint16_t* ExtraTypes = nullptr;
  if (!TIFFGetField(T, TIFFTAG_IMAGEWIDTH, &Width) || !TIFFGetField(T, TIFFTAG_IMAGELENGTH, &Height))
    Fail(FileName, "corrupt TIFF file (no image size)");
  TIFFGetFieldDefaulted(T, TIFFTAG_SAMPLESPERPIXEL, &SamplesPerPixel);
  TIFFGetFieldDefaulted(T, TIFFTAG_BITSPERSAMPLE, &BitsPerSample);
  TIFFGetFieldDefaulted(T, TIFFTAG_SAMPLEFORMAT, &SampleFormat);
  TIFFGetFieldDefaulted(T, TIFFTAG_PLANARCONFIG, &Planar);
  TIFFGetFieldDefaulted(T, TIFFTAG_INKSET, &InkSet);
  TIFFGetFieldDefaulted(T, TIFFTAG_EXTRASAMPLES, &ExtraCount, &ExtraTypes);
  if (!TIFFGetField(T, TIFFTAG_PHOTOMETRIC, &Photometric))
    Fail(FileName, "corrupt TIFF file (no photometric interpretation)");
  imageio::CheckImageSize(FileName, Width, Height, 1, 1, Limits);

  std::vector<uint8_t> Icc;
  uint32_t IccLength = 0;
  void* IccData = nullptr;
  if (TIFFGetField(T, TIFFTAG_ICCPROFILE, &IccLength, &IccData) && IccData && IccLength > 0)
    Icc.assign(static_cast<uint8_t*>(IccData), static_cast<uint8_t*>(IccData) + IccLength);

  TImageColorSpace ColorSpace = icGray;
  bool InvertGray = false, SignedLab = false, ViaRgba = false;
  switch (Photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE:
      ColorSpace = icGray;
      InvertGray = Photometric == PHOTOMETRIC_MINISWHITE;
      ViaRgba = BitsPerSample < 8;
      break;
    case PHOTOMETRIC_RGB:
      ColorSpace = icRGB;
      break;
    case PHOTOMETRIC_SEPARATED:
      if (InkSet != INKSET_CMYK || SamplesPerPixel < 4)
        Fail(FileName, "unsupported TIFF separation (only CMYK ink sets are read)");
      ColorSpace = icCMYK;
      break;
    case PHOTOMETRIC_CIELAB:
      ColorSpace = icLab;
      SignedLab = true;
      break;
    case PHOTOMETRIC_ICCLAB:
      ColorSpace = icLab;
      break;
    case PHOTOMETRIC_PALETTE:
    case PHOTOMETRIC_YCBCR:
      ViaRgba = true;
      break;
    default:
      Fail(FileName, Format("unsupported TIFF photometric interpretation %u", static_cast<unsigned>(Photometric)));
  }
  if (ViaRgba) {
    const uint16_t ColorSamples = Photometric == PHOTOMETRIC_YCBCR ? 3 : 1;
    TImage Image = ReadThroughRgba(FileName, T, Context, Width, Height, Photometric,
                                   SamplesPerPixel > ColorSamples ? SamplesPerPixel - ColorSamples : 0, Limits);
    Image.Format = ffTIFF;
    Image.Indexed = Photometric == PHOTOMETRIC_PALETTE;
    Image.IccProfile = std::move(Icc);
    return Image;
  }

  TImageDepth Depth;
  if (BitsPerSample == 8 && (SampleFormat == SAMPLEFORMAT_UINT || SampleFormat == SAMPLEFORMAT_VOID))
    Depth = id8Bits;
  else if (BitsPerSample == 16 && (SampleFormat == SAMPLEFORMAT_UINT || SampleFormat == SAMPLEFORMAT_VOID))
    Depth = id16Bits;
  else if (BitsPerSample == 32 && SampleFormat == SAMPLEFORMAT_IEEEFP)
    Depth = id32BitsFloat;
  else
    Fail(FileName, Format("unsupported TIFF sample type (%u bits, %s)", static_cast<unsigned>(BitsPerSample),
                          SampleFormat == SAMPLEFORMAT_IEEEFP ? "float"
                          : SampleFormat == SAMPLEFORMAT_INT  ? "signed integer"
                                                              : "unsigned integer"));
  const int32_t ColorSamples = ColorChannelCount(ColorSpace);
  if (SamplesPerPixel < ColorSamples)
    Fail(FileName, Format("corrupt TIFF file (%u samples per pixel for %s)", static_cast<unsigned>(SamplesPerPixel),
                          ColorSpaceName(ColorSpace)));
  const int32_t Extra = SamplesPerPixel - ColorSamples;
  TImageAlpha Alpha = iaNone;
  if (Extra > 0) {
    // An unspecified first extra sample is taken as transparency, as image editors write it.
    const uint16_t Type = ExtraCount > 0 && ExtraTypes ? ExtraTypes[0] : EXTRASAMPLE_UNSPECIFIED;
    Alpha = Type == EXTRASAMPLE_ASSOCALPHA ? iaAssociated : iaUnassociated;
  }
  const int32_t SampleBytes = BytesPerSample(Depth);
  imageio::CheckImageSize(FileName, Width, Height, SamplesPerPixel, SampleBytes, Limits);

  TImage Image;
  Image.Allocate(static_cast<int32_t>(Width), static_cast<int32_t>(Height), ColorSpace, Depth, Alpha, Limits);
  Image.Format = ffTIFF;
  Image.IccProfile = std::move(Icc);
  const int32_t Kept = Image.Channels();
  const size_t Pixels = static_cast<size_t>(Width) * Height;

  std::string Problem;
  if (Planar == PLANARCONFIG_CONTIG && Kept == SamplesPerPixel) {
    Problem = ReadPlane(T, Context, 0, Image.Bits(), static_cast<size_t>(Kept) * SampleBytes, Width, Height);
  } else if (Planar == PLANARCONFIG_CONTIG) {
    // Extra samples beyond the alpha are dropped while copying.
    const size_t SourcePixel = static_cast<size_t>(SamplesPerPixel) * SampleBytes;
    std::vector<uint8_t> Raw = GuardAllocation([&] { return std::vector<uint8_t>(Pixels * SourcePixel); });
    Problem = ReadPlane(T, Context, 0, Raw.data(), SourcePixel, Width, Height);
    if (Problem.empty()) {
      const size_t TargetPixel = static_cast<size_t>(Kept) * SampleBytes;
      for (size_t i = 0; i < Pixels; ++i) std::memcpy(Image.Bits() + i * TargetPixel, Raw.data() + i * SourcePixel, TargetPixel);
    }
  } else {
    std::vector<uint8_t> Plane = GuardAllocation([&] { return std::vector<uint8_t>(Pixels * SampleBytes); });
    const size_t TargetPixel = static_cast<size_t>(Kept) * SampleBytes;
    for (int32_t C = 0; C < Kept && Problem.empty(); ++C) {
      Problem = ReadPlane(T, Context, static_cast<uint16_t>(C), Plane.data(), SampleBytes, Width, Height);
      if (!Problem.empty()) break;
      uint8_t* D = Image.Bits() + static_cast<size_t>(C) * SampleBytes;
      const uint8_t* S = Plane.data();
      for (size_t i = 0; i < Pixels; ++i, D += TargetPixel, S += SampleBytes) std::memcpy(D, S, SampleBytes);
    }
  }
  if (!Problem.empty()) Fail(FileName, "corrupt or truncated TIFF file (" + Problem + ")");
  FixSamples(Image, InvertGray, SignedLab);
  return Image;
}

void WriteTiffFile(const std::string& FileName, const TImage& Image) {
  if (Image.Width() <= 0 || Image.Height() <= 0) Fail(FileName, "cannot write an empty image");
  uint16_t Photometric = PHOTOMETRIC_MINISBLACK;
  switch (Image.ColorSpace()) {
    case icGray:
      Photometric = PHOTOMETRIC_MINISBLACK;
      break;
    case icRGB:
      Photometric = PHOTOMETRIC_RGB;
      break;
    case icCMYK:
      Photometric = PHOTOMETRIC_SEPARATED;
      break;
    case icLab:
      Photometric = PHOTOMETRIC_CIELAB;
      break;
  }
  const int32_t SampleBytes = Image.BytesPerSample();

  imageio::TAtomicFile Out(FileName);
  const int Fd = dup(Out.Descriptor());
  if (Fd < 0) Fail(FileName, Format("cannot create file (%s)", std::strerror(errno)));
  TTiffContext Context;
  TTiffOptions Options(Context, int64_t(1) << 31);
  // Classic TIFF addresses 4 GB; larger images go out as BigTIFF.
  const bool Big = Image.ByteSize() > (size_t(3) << 30);
  TTiffHandle Tiff(TIFFFdOpenExt(Fd, FileName.c_str(), Big ? "w8" : "w", Options.Get()));
  if (!Tiff.Get()) {
    close(Fd);
    Fail(FileName, Format("cannot write TIFF file (%s)", TiffReason(Context, "cannot open").c_str()));
  }
  TIFF* T = Tiff.Get();
  TIFFSetField(T, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(Image.Width()));
  TIFFSetField(T, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(Image.Height()));
  TIFFSetField(T, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(Image.Channels()));
  TIFFSetField(T, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(SampleBytes * 8));
  TIFFSetField(T, TIFFTAG_SAMPLEFORMAT, Image.Depth() == id32BitsFloat ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(T, TIFFTAG_PHOTOMETRIC, Photometric);
  if (Image.ColorSpace() == icCMYK) TIFFSetField(T, TIFFTAG_INKSET, INKSET_CMYK);
  TIFFSetField(T, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(T, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFSetField(T, TIFFTAG_PREDICTOR, Image.Depth() == id32BitsFloat ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
  if (Image.HasAlpha()) {
    const uint16_t Type = Image.Alpha() == iaAssociated ? EXTRASAMPLE_ASSOCALPHA : EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(T, TIFFTAG_EXTRASAMPLES, 1, &Type);
  }
  if (!Image.IccProfile.empty())
    TIFFSetField(T, TIFFTAG_ICCPROFILE, static_cast<uint32_t>(Image.IccProfile.size()), Image.IccProfile.data());
  TIFFSetField(T, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(T, 0));

  // libtiff's predictor works in the buffer it is given, so every row goes through a copy; the
  // copy is also where CIELab's a* and b* become signed again.
  const bool SignedLab = Image.ColorSpace() == icLab && Image.Depth() != id32BitsFloat;
  const int32_t Channels = Image.Channels();
  std::vector<uint8_t> Row(Image.RowSize());
  errno = 0;
  for (int32_t Y = 0; Y < Image.Height(); ++Y) {
    std::memcpy(Row.data(), Image.Row(Y), Row.size());
    if (SignedLab) {
      for (int32_t X = 0; X < Image.Width(); ++X) {
        if (Image.Depth() == id8Bits) {
          Row[static_cast<size_t>(X) * Channels + 1] ^= 0x80;
          Row[static_cast<size_t>(X) * Channels + 2] ^= 0x80;
        } else {
          uint16_t* P = reinterpret_cast<uint16_t*>(Row.data()) + static_cast<size_t>(X) * Channels;
          P[1] ^= 0x8000;
          P[2] ^= 0x8000;
        }
      }
    }
    if (TIFFWriteScanline(T, Row.data(), static_cast<uint32_t>(Y), 0) < 0)
      Fail(FileName, "cannot write TIFF file (" + TiffWriteReason(Context) + ")");
  }
  if (!TIFFFlush(T) || Context.HasError) Fail(FileName, "cannot write TIFF file (" + TiffWriteReason(Context) + ")");
  Tiff.Close();
  Out.Commit();
}

}  // namespace varnix
