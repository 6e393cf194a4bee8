// JPEG through libjpeg. Errors leave libjpeg by longjmp to the setjmp of the current stage; as
// for PNG, the stages hold only plain data, and allocation and exceptions happen in their
// callers. Warnings that mean the data is damaged (a premature end of the file, corrupt entropy
// data) are treated as errors: libjpeg would otherwise fill the missing part with gray and report
// success.
#include <cerrno>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <jerror.h>

#include "common/LogFile.h"
#include "imageio/ImageFileUtils.h"

namespace varnix {

namespace {

using imageio::Fail;

struct TJpegError {
  jpeg_error_mgr Manager;  // first, so that the library's pointer is also ours
  jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX] = {};
};

extern "C" void JpegErrorExit(j_common_ptr Info) {
  TJpegError* Error = reinterpret_cast<TJpegError*>(Info->err);
  Info->err->format_message(Info, Error->Message);
  longjmp(Error->Jump, 1);
}

// Warnings that leave the pixels intact: tolerated.
bool HarmlessWarning(int Code) {
  return Code == JWRN_ADOBE_XFORM || Code == JWRN_JFIF_MAJOR || Code == JWRN_BOGUS_ICC ||
         Code == JWRN_EXTRANEOUS_DATA;
}

extern "C" void JpegEmitMessage(j_common_ptr Info, int Level) {
  if (Level >= 0) return;  // trace messages
  if (HarmlessWarning(Info->err->msg_code)) {
    Info->err->num_warnings++;
    return;
  }
  JpegErrorExit(Info);
}

struct TJpegHeader {
  JDIMENSION Width = 0;
  JDIMENSION Height = 0;
  int Components = 0;
  J_COLOR_SPACE OutColorSpace = JCS_UNKNOWN;
  bool Inverted = false;  // Adobe CMYK: 0 = full ink
  JOCTET* Icc = nullptr;  // malloc'ed by libjpeg
  unsigned int IccLength = 0;
};

// Owns a decompressor (and the ICC buffer handed out by it). Empty state: not created.
class TJpegDecompressor {
 public:
  TJpegDecompressor() = default;
  ~TJpegDecompressor() {
    if (Created) jpeg_destroy_decompress(&Info);
    std::free(Icc);
  }
  TJpegDecompressor(const TJpegDecompressor&) = delete;
  TJpegDecompressor& operator=(const TJpegDecompressor&) = delete;

  jpeg_decompress_struct Info{};
  TJpegError Error;
  bool Created = false;
  JOCTET* Icc = nullptr;
};

class TJpegCompressor {
 public:
  TJpegCompressor() = default;
  ~TJpegCompressor() {
    if (Created) jpeg_destroy_compress(&Info);
  }
  TJpegCompressor(const TJpegCompressor&) = delete;
  TJpegCompressor& operator=(const TJpegCompressor&) = delete;

  jpeg_compress_struct Info{};
  TJpegError Error;
  bool Created = false;
};

// Stage 1: create the decompressor and read the header.
bool JpegReadHeader(TJpegDecompressor* D, FILE* File, TJpegHeader* H) {
  D->Info.err = jpeg_std_error(&D->Error.Manager);
  D->Error.Manager.error_exit = JpegErrorExit;
  D->Error.Manager.emit_message = JpegEmitMessage;
  if (setjmp(D->Error.Jump)) return false;
  jpeg_create_decompress(&D->Info);
  D->Created = true;
  jpeg_stdio_src(&D->Info, File);
  jpeg_save_markers(&D->Info, JPEG_APP0 + 2, 0xFFFF);  // ICC profile chunks
  jpeg_read_header(&D->Info, TRUE);

  switch (D->Info.jpeg_color_space) {
    case JCS_GRAYSCALE:
      D->Info.out_color_space = JCS_GRAYSCALE;
      break;
    case JCS_CMYK:
    case JCS_YCCK:
      D->Info.out_color_space = JCS_CMYK;
      break;
    default:
      D->Info.out_color_space = JCS_RGB;
      break;
  }
  jpeg_calc_output_dimensions(&D->Info);
  H->Width = D->Info.output_width;
  H->Height = D->Info.output_height;
  H->Components = D->Info.output_components;
  H->OutColorSpace = D->Info.out_color_space;
  H->Inverted = D->Info.out_color_space == JCS_CMYK && D->Info.saw_Adobe_marker;
  JOCTET* Icc = nullptr;
  unsigned int Length = 0;
  if (jpeg_read_icc_profile(&D->Info, &Icc, &Length)) {
    D->Icc = Icc;
    H->Icc = Icc;
    H->IccLength = Length;
  }
  return true;
}

// Stage 2: the pixels. Rows holds one pointer per output row.
bool JpegReadRows(TJpegDecompressor* D, JSAMPROW* Rows) {
  if (setjmp(D->Error.Jump)) return false;
  jpeg_start_decompress(&D->Info);
  while (D->Info.output_scanline < D->Info.output_height)
    jpeg_read_scanlines(&D->Info, Rows + D->Info.output_scanline, D->Info.output_height - D->Info.output_scanline);
  jpeg_finish_decompress(&D->Info);
  return true;
}

struct TJpegWriteParams {
  JDIMENSION Width;
  JDIMENSION Height;
  int Components;
  J_COLOR_SPACE ColorSpace;
  int Quality;
  const JOCTET* Icc;
  unsigned int IccLength;
  JSAMPROW* Rows;
};

bool JpegWrite(TJpegCompressor* C, FILE* File, const TJpegWriteParams* P) {
  C->Info.err = jpeg_std_error(&C->Error.Manager);
  C->Error.Manager.error_exit = JpegErrorExit;
  C->Error.Manager.emit_message = JpegEmitMessage;
  if (setjmp(C->Error.Jump)) return false;
  jpeg_create_compress(&C->Info);
  C->Created = true;
  jpeg_stdio_dest(&C->Info, File);
  C->Info.image_width = P->Width;
  C->Info.image_height = P->Height;
  C->Info.input_components = P->Components;
  C->Info.in_color_space = P->ColorSpace;
  jpeg_set_defaults(&C->Info);  // CMYK input gets the Adobe marker here
  jpeg_set_quality(&C->Info, P->Quality, TRUE);
  jpeg_start_compress(&C->Info, TRUE);
  if (P->Icc && P->IccLength > 0) jpeg_write_icc_profile(&C->Info, P->Icc, P->IccLength);
  while (C->Info.next_scanline < C->Info.image_height)
    jpeg_write_scanlines(&C->Info, P->Rows + C->Info.next_scanline, C->Info.image_height - C->Info.next_scanline);
  jpeg_finish_compress(&C->Info);
  return true;
}

}  // namespace

TImage ReadJpegFile(const std::string& FileName, const TImageLimits& Limits) {
  imageio::TFileCloser File(imageio::OpenForReading(FileName));
  TJpegDecompressor D;
  TJpegHeader Header;
  if (!JpegReadHeader(&D, File.Get(), &Header))
    Fail(FileName, Format("corrupt or unsupported JPEG file (%s)", D.Error.Message));
  imageio::CheckImageSize(FileName, Header.Width, Header.Height, Header.Components, 1, Limits);
  TImageColorSpace ColorSpace;
  switch (Header.OutColorSpace) {
    case JCS_GRAYSCALE:
      ColorSpace = icGray;
      break;
    case JCS_CMYK:
      ColorSpace = icCMYK;
      break;
    default:
      ColorSpace = icRGB;
      break;
  }
  if (Header.Components != ColorChannelCount(ColorSpace))
    Fail(FileName, Format("unsupported JPEG layout (%d components)", Header.Components));

  TImage Image;
  Image.Allocate(static_cast<int32_t>(Header.Width), static_cast<int32_t>(Header.Height), ColorSpace, id8Bits,
                 iaNone, Limits);
  Image.Format = ffJPEG;
  if (Header.Icc) Image.IccProfile.assign(Header.Icc, Header.Icc + Header.IccLength);

  std::vector<JSAMPROW> Rows(Image.Height());
  for (int32_t Y = 0; Y < Image.Height(); ++Y) Rows[Y] = Image.Row(Y);
  if (!JpegReadRows(&D, Rows.data())) Fail(FileName, Format("corrupt or truncated JPEG file (%s)", D.Error.Message));
  if (Header.Inverted) {
    uint8_t* P = Image.Bits();
    for (size_t i = 0, n = Image.ByteSize(); i < n; ++i) P[i] = static_cast<uint8_t>(255 - P[i]);
  }
  return Image;
}

void WriteJpegFile(const std::string& FileName, const TImage& Image, int Quality) {
  if (Image.Width() <= 0 || Image.Height() <= 0) Fail(FileName, "cannot write an empty image");
  if (Image.Depth() != id8Bits) Fail(FileName, "JPEG stores 8-bit samples only");
  if (Image.HasAlpha()) Fail(FileName, "JPEG cannot store an alpha channel");
  if (Image.ColorSpace() == icLab) Fail(FileName, "JPEG cannot store Lab images");
  if (Image.Width() > JPEG_MAX_DIMENSION || Image.Height() > JPEG_MAX_DIMENSION)
    Fail(FileName, Format("JPEG images are at most %d pixels per side", static_cast<int>(JPEG_MAX_DIMENSION)));
  if (Quality < 1 || Quality > 100) Fail(FileName, Format("JPEG quality %d is outside 1..100", Quality));

  // CMYK goes out inverted, as the Adobe marker that libjpeg writes for it announces.
  std::vector<uint8_t> Inverted;
  if (Image.ColorSpace() == icCMYK) {
    Inverted.assign(Image.Bits(), Image.Bits() + Image.ByteSize());
    for (uint8_t& V : Inverted) V = static_cast<uint8_t>(255 - V);
  }
  std::vector<JSAMPROW> Rows(Image.Height());
  for (int32_t Y = 0; Y < Image.Height(); ++Y)
    Rows[Y] = Inverted.empty() ? const_cast<JSAMPROW>(Image.Row(Y)) : Inverted.data() + Image.RowSize() * Y;

  TJpegWriteParams Params;
  Params.Width = static_cast<JDIMENSION>(Image.Width());
  Params.Height = static_cast<JDIMENSION>(Image.Height());
  Params.Components = Image.ColorChannels();
  Params.ColorSpace = Image.ColorSpace() == icGray ? JCS_GRAYSCALE : Image.ColorSpace() == icCMYK ? JCS_CMYK : JCS_RGB;
  Params.Quality = Quality;
  Params.Icc = Image.IccProfile.empty() ? nullptr : Image.IccProfile.data();
  Params.IccLength = static_cast<unsigned int>(Image.IccProfile.size());
  Params.Rows = Rows.data();

  imageio::TAtomicFile Out(FileName);
  TJpegCompressor C;
  errno = 0;
  if (!JpegWrite(&C, Out.Stream(), &Params)) {
    const int Error = errno;
    if (std::ferror(Out.Stream()) && Error != 0)
      Fail(FileName, Format("cannot write JPEG file (%s: %s)", C.Error.Message, std::strerror(Error)));
    Fail(FileName, Format("cannot write JPEG file (%s)", C.Error.Message));
  }
  Out.Commit();
}

}  // namespace varnix
