// PNG through libpng. libpng reports errors by longjmp to the setjmp of the current call; the
// functions that call setjmp (the "stages" below) hold only plain data in their frames and call
// nothing that creates C++ objects with destructors, so the jump skips no destructor. The
// C++ side (allocation, exceptions, owners of the libpng structures) lives in their callers.
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

#include "common/LogFile.h"
#include "imageio/ImageFileUtils.h"

namespace varnix {

namespace {

using imageio::Fail;

// Everything the stages share with the error callback; plain data only.
struct TPngContext {
  png_structp Png = nullptr;
  png_infop Info = nullptr;
  FILE* File = nullptr;
  char Message[256] = {};
  int Errno = 0;  // errno when the error was raised (a failed read or write of the file)
};

extern "C" void PngErrorHandler(png_structp Png, png_const_charp Message) {
  TPngContext* Context = static_cast<TPngContext*>(png_get_error_ptr(Png));
  Context->Errno = errno;
  std::snprintf(Context->Message, sizeof Context->Message, "%s", Message ? Message : "unknown error");
  png_longjmp(Png, 1);
}

extern "C" void PngWarningHandler(png_structp, png_const_charp) {}

// What the read header stage learns.
struct TPngHeader {
  png_uint_32 Width = 0;
  png_uint_32 Height = 0;
  int Channels = 0;  // after the transformations
  int BitDepth = 0;  // after the transformations: 8 or 16
  bool Indexed = false;
  png_bytep Icc = nullptr;  // owned by the info structure
  png_uint_32 IccLength = 0;
};

// Owns the read structures. Empty state: both null.
class TPngReadStruct {
 public:
  explicit TPngReadStruct(TPngContext& Context) : FContext(Context) {
    Context.Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &Context, PngErrorHandler, PngWarningHandler);
    if (Context.Png) Context.Info = png_create_info_struct(Context.Png);
  }
  ~TPngReadStruct() {
    if (FContext.Png) png_destroy_read_struct(&FContext.Png, FContext.Info ? &FContext.Info : nullptr, nullptr);
  }
  TPngReadStruct(const TPngReadStruct&) = delete;
  TPngReadStruct& operator=(const TPngReadStruct&) = delete;
  bool Valid() const { return FContext.Png && FContext.Info; }

 private:
  TPngContext& FContext;
};

class TPngWriteStruct {
 public:
  explicit TPngWriteStruct(TPngContext& Context) : FContext(Context) {
    Context.Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &Context, PngErrorHandler, PngWarningHandler);
    if (Context.Png) Context.Info = png_create_info_struct(Context.Png);
  }
  ~TPngWriteStruct() {
    if (FContext.Png) png_destroy_write_struct(&FContext.Png, FContext.Info ? &FContext.Info : nullptr);
  }
  TPngWriteStruct(const TPngWriteStruct&) = delete;
  TPngWriteStruct& operator=(const TPngWriteStruct&) = delete;
  bool Valid() const { return FContext.Png && FContext.Info; }

 private:
  TPngContext& FContext;
};

// Stage 1: the header and the transformations to 8/16-bit samples in host order. Answers 0 on
// an error, 2 when the size exceeds MaxDimension (before libpng sizes any row buffer), 1 when
// the header is complete.
int PngReadHeader(TPngContext* C, TPngHeader* H, png_uint_32 MaxDimension) {
  if (setjmp(png_jmpbuf(C->Png))) return 0;
  png_init_io(C->Png, C->File);
  png_set_sig_bytes(C->Png, 8);
  // The size is checked by the caller, with a clearer message than libpng's own limit gives.
  png_set_user_limits(C->Png, 0x7FFFFFFF, 0x7FFFFFFF);
  png_read_info(C->Png, C->Info);

  png_uint_32 Width, Height;
  int BitDepth, ColorType, Interlace;
  png_get_IHDR(C->Png, C->Info, &Width, &Height, &BitDepth, &ColorType, &Interlace, nullptr, nullptr);
  H->Width = Width;
  H->Height = Height;
  if (Width > MaxDimension || Height > MaxDimension) return 2;
  H->Indexed = ColorType == PNG_COLOR_TYPE_PALETTE;
  if (ColorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(C->Png);
  if (ColorType == PNG_COLOR_TYPE_GRAY && BitDepth < 8) png_set_expand_gray_1_2_4_to_8(C->Png);
  if (png_get_valid(C->Png, C->Info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(C->Png);
  if (BitDepth == 16) png_set_swap(C->Png);  // PNG is big-endian; the image holds host order
  png_set_interlace_handling(C->Png);
  png_read_update_info(C->Png, C->Info);

  H->Channels = png_get_channels(C->Png, C->Info);
  H->BitDepth = png_get_bit_depth(C->Png, C->Info);

  png_charp Name;
  int Compression;
  png_bytep Profile;
  png_uint_32 Length;
  if (png_get_iCCP(C->Png, C->Info, &Name, &Compression, &Profile, &Length)) {
    H->Icc = Profile;
    H->IccLength = Length;
  }
  return 1;
}

// Stage 2: the pixels, then the rest of the file up to IEND (so that a file cut after the image
// data is noticed as well).
bool PngReadRows(TPngContext* C, png_bytep* Rows) {
  if (setjmp(png_jmpbuf(C->Png))) return false;
  png_read_image(C->Png, Rows);
  png_read_end(C->Png, nullptr);
  return true;
}

struct TPngWriteParams {
  png_uint_32 Width;
  png_uint_32 Height;
  int BitDepth;
  int ColorType;
  const uint8_t* Icc;
  png_uint_32 IccLength;
  png_bytep* Rows;
};

bool PngWrite(TPngContext* C, const TPngWriteParams* P) {
  if (setjmp(png_jmpbuf(C->Png))) return false;
  png_init_io(C->Png, C->File);
  // An ICC profile that libpng finds inconsistent with the image is dropped with a warning
  // instead of failing the whole file.
  png_set_benign_errors(C->Png, 1);
  png_set_IHDR(C->Png, C->Info, P->Width, P->Height, P->BitDepth, P->ColorType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (P->Icc && P->IccLength > 0)
    png_set_iCCP(C->Png, C->Info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, P->Icc, P->IccLength);
  png_write_info(C->Png, C->Info);
  if (P->BitDepth == 16) png_set_swap(C->Png);
  png_write_image(C->Png, P->Rows);
  png_write_end(C->Png, nullptr);
  return true;
}

}  // namespace

TImage ReadPngFile(const std::string& FileName, const TImageLimits& Limits) {
  imageio::TFileCloser File(imageio::OpenForReading(FileName));
  TPngContext Context;
  Context.File = File.Get();
  TPngReadStruct Struct(Context);
  if (!Struct.Valid()) throw EOutOfMemory();

  // The signature and the size from IHDR, checked before libpng sees the file: libpng would read
  // on to the image data before it reports the size.
  unsigned char Start[24];
  const size_t Got = std::fread(Start, 1, sizeof Start, Context.File);
  if (Got < 8 || png_sig_cmp(Start, 0, 8) != 0) Fail(FileName, "not a PNG file");
  if (Got == sizeof Start && std::memcmp(Start + 12, "IHDR", 4) == 0) {
    auto Be32 = [](const unsigned char* P) {
      return (uint32_t(P[0]) << 24) | (uint32_t(P[1]) << 16) | (uint32_t(P[2]) << 8) | uint32_t(P[3]);
    };
    const uint32_t Width = Be32(Start + 16), Height = Be32(Start + 20);
    if (Width > 0 && Height > 0) imageio::CheckImageSize(FileName, Width, Height, 1, 1, Limits);
  }
  std::rewind(Context.File);
  if (std::fread(Start, 1, 8, Context.File) != 8) Fail(FileName, "not a PNG file");

  TPngHeader Header;
  const int Stage = PngReadHeader(&Context, &Header, static_cast<png_uint_32>(Limits.MaxDimension));
  if (Stage == 0) Fail(FileName, Format("corrupt or unsupported PNG file (%s)", Context.Message));
  if (Stage == 2) imageio::CheckImageSize(FileName, Header.Width, Header.Height, 1, 1, Limits);
  if (Header.BitDepth != 8 && Header.BitDepth != 16)
    Fail(FileName, Format("unsupported PNG bit depth %d", Header.BitDepth));
  imageio::CheckImageSize(FileName, Header.Width, Header.Height, Header.Channels, Header.BitDepth / 8, Limits);

  TImage Image;
  const bool Color = Header.Channels >= 3;
  const bool Alpha = Header.Channels == 2 || Header.Channels == 4;
  Image.Allocate(static_cast<int32_t>(Header.Width), static_cast<int32_t>(Header.Height), Color ? icRGB : icGray,
                 Header.BitDepth == 16 ? id16Bits : id8Bits, Alpha ? iaUnassociated : iaNone, Limits);
  Image.Format = ffPNG;
  Image.Indexed = Header.Indexed;
  if (Header.Icc) Image.IccProfile.assign(Header.Icc, Header.Icc + Header.IccLength);

  std::vector<png_bytep> Rows(Image.Height());
  for (int32_t Y = 0; Y < Image.Height(); ++Y) Rows[Y] = Image.Row(Y);
  if (!PngReadRows(&Context, Rows.data()))
    Fail(FileName, Format("corrupt or truncated PNG file (%s)", Context.Message));
  return Image;
}

void WritePngFile(const std::string& FileName, const TImage& Image) {
  if (Image.Width() <= 0 || Image.Height() <= 0) Fail(FileName, "cannot write an empty image");
  if (Image.ColorSpace() != icGray && Image.ColorSpace() != icRGB)
    Fail(FileName, Format("PNG cannot store %s images", ColorSpaceName(Image.ColorSpace())));
  if (Image.Depth() == id32BitsFloat) Fail(FileName, "PNG cannot store 32-bit float samples");
  if (Image.Alpha() == iaAssociated) Fail(FileName, "PNG cannot store premultiplied alpha");

  TPngWriteParams Params;
  Params.Width = static_cast<png_uint_32>(Image.Width());
  Params.Height = static_cast<png_uint_32>(Image.Height());
  Params.BitDepth = Image.Depth() == id16Bits ? 16 : 8;
  if (Image.ColorSpace() == icGray)
    Params.ColorType = Image.HasAlpha() ? PNG_COLOR_TYPE_GRAY_ALPHA : PNG_COLOR_TYPE_GRAY;
  else
    Params.ColorType = Image.HasAlpha() ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
  Params.Icc = Image.IccProfile.empty() ? nullptr : Image.IccProfile.data();
  Params.IccLength = static_cast<png_uint_32>(Image.IccProfile.size());
  // libpng takes non-const row pointers but only reads them when writing.
  std::vector<png_bytep> Rows(Image.Height());
  for (int32_t Y = 0; Y < Image.Height(); ++Y) Rows[Y] = const_cast<png_bytep>(Image.Row(Y));
  Params.Rows = Rows.data();

  imageio::TAtomicFile Out(FileName);
  TPngContext Context;
  Context.File = Out.Stream();
  TPngWriteStruct Struct(Context);
  if (!Struct.Valid()) throw EOutOfMemory();
  errno = 0;
  if (!PngWrite(&Context, &Params)) {
    if (std::ferror(Out.Stream()) && Context.Errno != 0)
      Fail(FileName, Format("cannot write PNG file (%s: %s)", Context.Message, std::strerror(Context.Errno)));
    Fail(FileName, Format("cannot write PNG file (%s)", Context.Message));
  }
  Out.Commit();
}

}  // namespace varnix
