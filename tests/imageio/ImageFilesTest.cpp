#include "imageio/ImageFiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>
#include <png.h>
#include <sys/resource.h>
#include <tiffio.h>
#include <zlib.h>

#include <csetjmp>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>

#include "imageio/ImageTestSupport.h"

namespace varnix {
namespace {

using testing::Bytes;
using testing::PatternImage;

class ImageFiles : public testing::TScratchDir {};

std::string MessageOf(const std::function<void()>& Fn) {
  try {
    Fn();
  } catch (const EImageFileError& E) {
    return E.Message();
  }
  return "(no EImageFileError)";
}

void ExpectSameImage(const TImage& A, const TImage& B) {
  EXPECT_EQ(A.Width(), B.Width());
  EXPECT_EQ(A.Height(), B.Height());
  EXPECT_EQ(A.ColorSpace(), B.ColorSpace());
  EXPECT_EQ(A.Depth(), B.Depth());
  EXPECT_EQ(A.Alpha(), B.Alpha());
  EXPECT_TRUE(Bytes(A) == Bytes(B)) << "pixel data differs";
}

std::vector<uint8_t> SrgbProfile() {
  cmsHPROFILE Profile = cmsCreate_sRGBProfile();
  cmsUInt32Number Size = 0;
  cmsSaveProfileToMem(Profile, nullptr, &Size);
  std::vector<uint8_t> Data(Size);
  cmsSaveProfileToMem(Profile, Data.data(), &Size);
  cmsCloseProfile(Profile);
  return Data;
}

// ---- round trips ----

TEST_F(ImageFiles, PngRoundTripsEveryLayoutItWrites) {
  struct TCase {
    TImageColorSpace Space;
    TImageDepth Depth;
    TImageAlpha Alpha;
  };
  const TCase Cases[] = {{icGray, id8Bits, iaNone},         {icGray, id16Bits, iaNone},
                         {icGray, id8Bits, iaUnassociated}, {icGray, id16Bits, iaUnassociated},
                         {icRGB, id8Bits, iaNone},          {icRGB, id16Bits, iaNone},
                         {icRGB, id8Bits, iaUnassociated},  {icRGB, id16Bits, iaUnassociated}};
  for (const TCase& C : Cases) {
    TImage Image = PatternImage(37, 11, C.Space, C.Depth, C.Alpha);
    SCOPED_TRACE(Image.Describe());
    WritePngFile(Path("a.png"), Image);
    EXPECT_EQ(DetectImageFormat(Path("a.png")), ffPNG);
    TImage Back = ReadImageFile(Path("a.png"));
    ExpectSameImage(Back, Image);
    EXPECT_EQ(Back.Format, ffPNG);
    EXPECT_FALSE(Back.Indexed);
  }
  EXPECT_EQ(Listing(), "a.png ") << "no temporary file is left behind";
}

TEST_F(ImageFiles, PngSixteenBitSamplesAreBigEndianInTheFile) {
  // Reading our own file back cannot show the byte order; libpng without transformations hands
  // out the samples as they are stored.
  TImage Image;
  Image.Allocate(2, 1, icGray, id16Bits, iaNone);
  Image.Row16(0)[0] = 0x1234;
  Image.Row16(0)[1] = 0xFF01;
  WritePngFile(Path("g16.png"), Image);
  FILE* In = std::fopen(Path("g16.png").c_str(), "rb");
  ASSERT_NE(In, nullptr);
  png_structp Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = png_create_info_struct(Png);
  png_init_io(Png, In);
  png_read_info(Png, Info);
  EXPECT_EQ(png_get_bit_depth(Png, Info), 16);
  unsigned char Row[4];
  png_read_row(Png, Row, nullptr);
  png_destroy_read_struct(&Png, &Info, nullptr);
  std::fclose(In);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(Row), 4), std::string("\x12\x34\xFF\x01", 4));
}

TEST_F(ImageFiles, TiffRoundTripsEveryModeDepthAndAlpha) {
  for (TImageColorSpace Space : {icGray, icRGB, icCMYK, icLab})
    for (TImageDepth Depth : {id8Bits, id16Bits, id32BitsFloat})
      for (TImageAlpha Alpha : {iaNone, iaUnassociated, iaAssociated}) {
        TImage Image = PatternImage(19, 7, Space, Depth, Alpha);
        SCOPED_TRACE(Image.Describe());
        WriteTiffFile(Path("a.tif"), Image);
        TImage Back = ReadImageFile(Path("a.tif"));
        ExpectSameImage(Back, Image);
        EXPECT_EQ(Back.Format, ffTIFF);
      }
}

TEST_F(ImageFiles, IccProfilesSurviveEveryFormat) {
  const std::vector<uint8_t> Profile = SrgbProfile();
  ASSERT_GT(Profile.size(), 128u);
  TImage Image = PatternImage(8, 8, icRGB, id8Bits, iaNone);
  Image.IccProfile = Profile;
  for (const char* Name : {"p.png", "p.tif", "p.jpg"}) {
    SCOPED_TRACE(Name);
    WriteImageFile(Path(Name), Image);
    EXPECT_EQ(ReadImageFile(Path(Name)).IccProfile, Profile);
  }
  TImage Plain = PatternImage(8, 8, icRGB, id8Bits, iaNone);
  WritePngFile(Path("plain.png"), Plain);
  EXPECT_TRUE(ReadPngFile(Path("plain.png")).IccProfile.empty());
}

TEST_F(ImageFiles, JpegRoundTripsGrayRgbAndCmykWithinCompressionError) {
  for (TImageColorSpace Space : {icGray, icRGB, icCMYK}) {
    TImage Image;
    Image.Allocate(32, 16, Space, id8Bits, iaNone);
    for (int32_t Y = 0; Y < 16; ++Y)
      for (int32_t X = 0; X < 32; ++X)
        for (int32_t C = 0; C < Image.Channels(); ++C)
          Image.Row(Y)[X * Image.Channels() + C] = static_cast<uint8_t>(20 + 3 * X + 2 * Y + 20 * C);
    SCOPED_TRACE(Image.Describe());
    WriteJpegFile(Path("a.jpg"), Image, 100);
    EXPECT_EQ(DetectImageFormat(Path("a.jpg")), ffJPEG);
    TImage Back = ReadImageFile(Path("a.jpg"));
    ASSERT_EQ(Back.ColorSpace(), Space);
    ASSERT_EQ(Back.ByteSize(), Image.ByteSize());
    int MaxError = 0;
    for (size_t i = 0; i < Image.ByteSize(); ++i)
      MaxError = std::max(MaxError, std::abs(int(Image.Bits()[i]) - int(Back.Bits()[i])));
    EXPECT_LE(MaxError, 4);
  }
}

// ---- files made by the libraries themselves ----

// Writes a CMYK JPEG with libjpeg directly; Adobe files carry inverted values.
void WriteCmykJpeg(const std::string& File, const uint8_t Ink[4], bool Adobe) {
  jpeg_compress_struct Info;
  jpeg_error_mgr Error;
  Info.err = jpeg_std_error(&Error);
  jpeg_create_compress(&Info);
  FILE* Out = std::fopen(File.c_str(), "wb");
  jpeg_stdio_dest(&Info, Out);
  Info.image_width = 16;
  Info.image_height = 16;
  Info.input_components = 4;
  Info.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&Info);
  Info.write_Adobe_marker = Adobe ? TRUE : FALSE;
  jpeg_set_quality(&Info, 100, TRUE);
  jpeg_start_compress(&Info, TRUE);
  uint8_t Row[16 * 4];
  for (int X = 0; X < 16; ++X)
    for (int C = 0; C < 4; ++C) Row[X * 4 + C] = Adobe ? static_cast<uint8_t>(255 - Ink[C]) : Ink[C];
  for (int Y = 0; Y < 16; ++Y) {
    JSAMPROW P = Row;
    jpeg_write_scanlines(&Info, &P, 1);
  }
  jpeg_finish_compress(&Info);
  jpeg_destroy_compress(&Info);
  std::fclose(Out);
}

TEST_F(ImageFiles, JpegCmykIsReadAsInkAmountsWithAndWithoutTheAdobeMarker) {
  const uint8_t Ink[4] = {200, 30, 0, 90};
  for (bool Adobe : {true, false}) {
    SCOPED_TRACE(Adobe ? "Adobe (inverted)" : "plain");
    WriteCmykJpeg(Path("c.jpg"), Ink, Adobe);
    TImage Image = ReadJpegFile(Path("c.jpg"));
    ASSERT_EQ(Image.ColorSpace(), icCMYK);
    for (int C = 0; C < 4; ++C) EXPECT_NEAR(Image.Row(5)[5 * 4 + C], Ink[C], 2) << "channel " << C;
  }
}

// Writes a PNG with libpng directly (palette and low-depth layouts our writer does not make).
void WriteRawPng(const std::string& File, int Width, int Height, int BitDepth, int ColorType,
                 const std::vector<png_color>& Palette, const std::vector<png_byte>& Trns,
                 const std::vector<std::vector<png_byte>>& Rows) {
  FILE* Out = std::fopen(File.c_str(), "wb");
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = png_create_info_struct(Png);
  png_init_io(Png, Out);
  png_set_IHDR(Png, Info, Width, Height, BitDepth, ColorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (!Palette.empty()) png_set_PLTE(Png, Info, Palette.data(), static_cast<int>(Palette.size()));
  if (!Trns.empty()) png_set_tRNS(Png, Info, Trns.data(), static_cast<int>(Trns.size()), nullptr);
  png_write_info(Png, Info);
  for (const auto& Row : Rows) png_write_row(Png, Row.data());
  png_write_end(Png, Info);
  png_destroy_write_struct(&Png, &Info);
  std::fclose(Out);
}

TEST_F(ImageFiles, PngPalettesAreExpandedAndLowGrayDepthsScaled) {
  // 2 x 1 palette image, index 1 half transparent.
  WriteRawPng(Path("pal.png"), 2, 1, 8, PNG_COLOR_TYPE_PALETTE, {{10, 20, 30}, {200, 100, 50}}, {255, 128},
              {{0, 1}});
  TImage Pal = ReadImageFile(Path("pal.png"));
  EXPECT_TRUE(Pal.Indexed);
  EXPECT_EQ(Pal.Describe(), "2 x 1 RGB + alpha 8-bit");
  EXPECT_EQ(Bytes(Pal), std::string("\x0A\x14\x1E\xFF\xC8\x64\x32\x80", 8));

  WriteRawPng(Path("pal3.png"), 2, 1, 4, PNG_COLOR_TYPE_PALETTE, {{1, 2, 3}, {4, 5, 6}}, {}, {{0x10}});
  TImage Pal3 = ReadImageFile(Path("pal3.png"));
  EXPECT_EQ(Pal3.Describe(), "2 x 1 RGB 8-bit");
  EXPECT_EQ(Bytes(Pal3), std::string("\x04\x05\x06\x01\x02\x03", 6));

  // 1-bit gray 1,0,1,1 → 255, 0, 255, 255.
  WriteRawPng(Path("bits.png"), 4, 1, 1, PNG_COLOR_TYPE_GRAY, {}, {}, {{0xB0}});
  TImage Bits = ReadImageFile(Path("bits.png"));
  EXPECT_EQ(Bits.Describe(), "4 x 1 gray 8-bit");
  EXPECT_EQ(Bytes(Bits), std::string("\xFF\x00\xFF\xFF", 4));
}

// A TIFF written with libtiff directly; Fill writes the strips or tiles.
struct TTiffLayout {
  uint32_t Width = 4, Height = 3;
  uint16_t Samples = 1, Bits = 8, Format = SAMPLEFORMAT_UINT, Photometric = PHOTOMETRIC_MINISBLACK;
  uint16_t Planar = PLANARCONFIG_CONTIG;
  std::vector<uint16_t> Extra;
  uint32_t TileSize = 0;  // 0: strips of one row
};

void WriteRawTiff(const std::string& File, const TTiffLayout& S, const std::vector<uint8_t>& Data,
                  const std::vector<uint16_t>* ColorMap = nullptr) {
  TIFF* T = TIFFOpen(File.c_str(), "w");
  ASSERT_NE(T, nullptr);
  TIFFSetField(T, TIFFTAG_IMAGEWIDTH, S.Width);
  TIFFSetField(T, TIFFTAG_IMAGELENGTH, S.Height);
  TIFFSetField(T, TIFFTAG_SAMPLESPERPIXEL, S.Samples);
  TIFFSetField(T, TIFFTAG_BITSPERSAMPLE, S.Bits);
  TIFFSetField(T, TIFFTAG_SAMPLEFORMAT, S.Format);
  TIFFSetField(T, TIFFTAG_PHOTOMETRIC, S.Photometric);
  TIFFSetField(T, TIFFTAG_PLANARCONFIG, S.Planar);
  if (!S.Extra.empty()) TIFFSetField(T, TIFFTAG_EXTRASAMPLES, static_cast<uint16_t>(S.Extra.size()), S.Extra.data());
  if (ColorMap) {
    const size_t N = ColorMap->size() / 3;
    TIFFSetField(T, TIFFTAG_COLORMAP, ColorMap->data(), ColorMap->data() + N, ColorMap->data() + 2 * N);
  }
  const size_t PlaneSamples = S.Planar == PLANARCONFIG_CONTIG ? S.Samples : 1;
  const size_t RowBytes = (S.Width * PlaneSamples * S.Bits + 7) / 8;
  const size_t Planes = S.Planar == PLANARCONFIG_CONTIG ? 1 : S.Samples;
  if (S.TileSize) {
    TIFFSetField(T, TIFFTAG_TILEWIDTH, S.TileSize);
    TIFFSetField(T, TIFFTAG_TILELENGTH, S.TileSize);
    const size_t Pixel = PlaneSamples * S.Bits / 8;
    std::vector<uint8_t> Tile(S.TileSize * S.TileSize * Pixel);
    for (size_t P = 0; P < Planes; ++P)
      for (uint32_t TY = 0; TY < S.Height; TY += S.TileSize)
        for (uint32_t TX = 0; TX < S.Width; TX += S.TileSize) {
          std::fill(Tile.begin(), Tile.end(), 0);
          for (uint32_t Y = TY; Y < std::min(S.Height, TY + S.TileSize); ++Y)
            for (uint32_t X = TX; X < std::min(S.Width, TX + S.TileSize); ++X)
              std::memcpy(&Tile[((Y - TY) * S.TileSize + (X - TX)) * Pixel],
                          &Data[P * RowBytes * S.Height + Y * RowBytes + X * Pixel], Pixel);
          TIFFWriteTile(T, Tile.data(), TX, TY, 0, static_cast<uint16_t>(P));
        }
  } else {
    TIFFSetField(T, TIFFTAG_ROWSPERSTRIP, 1);
    for (size_t P = 0; P < Planes; ++P)
      for (uint32_t Y = 0; Y < S.Height; ++Y)
        TIFFWriteScanline(T, const_cast<uint8_t*>(&Data[P * RowBytes * S.Height + Y * RowBytes]), Y,
                          static_cast<uint16_t>(P));
  }
  TIFFClose(T);
}

TEST_F(ImageFiles, TiffLayoutsFromLibtiffAreNormalised) {
  struct TCase {
    const char* Name;
    TTiffLayout Layout;
    std::vector<uint8_t> Data;
    std::string Describe;
    std::vector<uint8_t> Expected;
  };
  auto Layout = [](uint16_t Samples, uint16_t Photometric, std::vector<uint16_t> Extra = {},
                 uint16_t Planar = PLANARCONFIG_CONTIG, uint32_t Tile = 0) {
    TTiffLayout S;
    S.Width = 2;
    S.Height = 1;
    S.Samples = Samples;
    S.Photometric = Photometric;
    S.Extra = std::move(Extra);
    S.Planar = Planar;
    S.TileSize = Tile;
    return S;
  };
  const TCase Cases[] = {
      {"min-is-white", Layout(1, PHOTOMETRIC_MINISWHITE), {0, 200}, "2 x 1 gray 8-bit", {255, 55}},
      // a* = -20 is stored as the signed byte 0xEC and becomes 108 (offset 128).
      {"CIELab signed a/b", Layout(3, PHOTOMETRIC_CIELAB), {128, 0xEC, 20, 255, 0x80, 0x7F}, "2 x 1 Lab 8-bit",
       {128, 108, 148, 255, 0, 255}},
      {"ICCLab unsigned a/b", Layout(3, PHOTOMETRIC_ICCLAB), {128, 108, 148, 1, 2, 3}, "2 x 1 Lab 8-bit",
       {128, 108, 148, 1, 2, 3}},
      {"associated alpha", Layout(2, PHOTOMETRIC_MINISBLACK, {EXTRASAMPLE_ASSOCALPHA}), {10, 20, 30, 40},
       "2 x 1 gray + premultiplied alpha 8-bit", {10, 20, 30, 40}},
      {"unspecified extra sample is alpha", Layout(4, PHOTOMETRIC_RGB, {EXTRASAMPLE_UNSPECIFIED}),
       {1, 2, 3, 4, 5, 6, 7, 8}, "2 x 1 RGB + alpha 8-bit", {1, 2, 3, 4, 5, 6, 7, 8}},
      {"second extra sample dropped", Layout(5, PHOTOMETRIC_RGB, {EXTRASAMPLE_UNASSALPHA, EXTRASAMPLE_UNSPECIFIED}),
       {1, 2, 3, 4, 99, 5, 6, 7, 8, 99}, "2 x 1 RGB + alpha 8-bit", {1, 2, 3, 4, 5, 6, 7, 8}},
      {"planar RGB", Layout(3, PHOTOMETRIC_RGB, {}, PLANARCONFIG_SEPARATE), {1, 2, 10, 20, 100, 200},
       "2 x 1 RGB 8-bit", {1, 10, 100, 2, 20, 200}},
      {"CMYK", Layout(4, PHOTOMETRIC_SEPARATED), {1, 2, 3, 4, 5, 6, 7, 8}, "2 x 1 CMYK 8-bit", {1, 2, 3, 4, 5, 6, 7, 8}},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Name);
    WriteRawTiff(Path("t.tif"), C.Layout, C.Data);
    TImage Image = ReadImageFile(Path("t.tif"));
    EXPECT_EQ(Image.Describe(), C.Describe);
    EXPECT_EQ(Bytes(Image), std::string(C.Expected.begin(), C.Expected.end()));
  }
}

TEST_F(ImageFiles, TiffTilesPlanesAndWideSamplesAreAssembled) {
  // 20 x 18 RGB 16-bit in 16 x 16 tiles, planar: the edge tiles are partial.
  TTiffLayout S;
  S.Width = 20;
  S.Height = 18;
  S.Samples = 3;
  S.Bits = 16;
  S.Photometric = PHOTOMETRIC_RGB;
  S.Planar = PLANARCONFIG_SEPARATE;
  S.TileSize = 16;
  std::vector<uint8_t> Data(20 * 18 * 3 * 2);
  auto Value = [](uint32_t X, uint32_t Y, uint32_t C) { return static_cast<uint16_t>(1000 * C + 50 * Y + X + 7); };
  for (uint32_t C = 0; C < 3; ++C)
    for (uint32_t Y = 0; Y < 18; ++Y)
      for (uint32_t X = 0; X < 20; ++X) {
        const uint16_t V = Value(X, Y, C);
        std::memcpy(&Data[((C * 18 + Y) * 20 + X) * 2], &V, 2);
      }
  WriteRawTiff(Path("tiles.tif"), S, Data);
  TImage Image = ReadImageFile(Path("tiles.tif"));
  ASSERT_EQ(Image.Describe(), "20 x 18 RGB 16-bit");
  for (uint32_t Y = 0; Y < 18; ++Y)
    for (uint32_t X = 0; X < 20; ++X)
      for (uint32_t C = 0; C < 3; ++C) ASSERT_EQ(Image.Row16(Y)[X * 3 + C], Value(X, Y, C)) << X << "," << Y << "," << C;

  // 32-bit float gray, contiguous, in tiles.
  TTiffLayout F;
  F.Width = 17;
  F.Height = 3;
  F.Bits = 32;
  F.Format = SAMPLEFORMAT_IEEEFP;
  F.TileSize = 16;
  std::vector<uint8_t> FloatData(17 * 3 * 4);
  for (size_t i = 0; i < 17 * 3; ++i) {
    const float V = 0.25f * static_cast<float>(i);
    std::memcpy(&FloatData[i * 4], &V, 4);
  }
  WriteRawTiff(Path("float.tif"), F, FloatData);
  TImage Float = ReadImageFile(Path("float.tif"));
  ASSERT_EQ(Float.Describe(), "17 x 3 gray 32-bit float");
  EXPECT_EQ(Float.RowFloat(2)[16], 0.25f * 50);
}

TEST_F(ImageFiles, TiffPaletteAndBilevelGoThroughLibtiffsRgbaReader) {
  TTiffLayout P;
  P.Width = 2;
  P.Height = 1;
  P.Photometric = PHOTOMETRIC_PALETTE;
  std::vector<uint16_t> Map(3 * 256, 0);
  Map[1] = 0xFFFF;            // red of index 1
  Map[256 + 0] = 0x8080;      // green of index 0
  Map[512 + 1] = 0x4040;      // blue of index 1
  WriteRawTiff(Path("pal.tif"), P, {0, 1}, &Map);
  TImage Pal = ReadImageFile(Path("pal.tif"));
  EXPECT_TRUE(Pal.Indexed);
  EXPECT_EQ(Pal.Describe(), "2 x 1 RGB 8-bit");
  EXPECT_EQ(Bytes(Pal), std::string("\x00\x80\x00\xFF\x00\x40", 6));

  TTiffLayout B;
  B.Width = 8;
  B.Height = 1;
  B.Bits = 1;
  WriteRawTiff(Path("bits.tif"), B, {0xA5});
  TImage Bits = ReadImageFile(Path("bits.tif"));
  EXPECT_EQ(Bits.Describe(), "8 x 1 gray 8-bit");
  EXPECT_EQ(Bytes(Bits), std::string("\xFF\x00\xFF\x00\x00\xFF\x00\xFF", 8));
}

// ---- errors ----

std::string PngChunk(const char* Type, const std::string& Data) {
  std::string Chunk;
  const uint32_t Length = static_cast<uint32_t>(Data.size());
  for (int i = 3; i >= 0; --i) Chunk += static_cast<char>((Length >> (8 * i)) & 0xFF);
  const std::string Body = std::string(Type, 4) + Data;
  Chunk += Body;
  const uint32_t Crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(Body.data()), Body.size()));
  for (int i = 3; i >= 0; --i) Chunk += static_cast<char>((Crc >> (8 * i)) & 0xFF);
  return Chunk;
}

std::string Be32(uint32_t V) {
  return std::string{static_cast<char>(V >> 24), static_cast<char>(V >> 16), static_cast<char>(V >> 8),
                     static_cast<char>(V)};
}

TEST_F(ImageFiles, UnreadableFilesAreReportedWithTheirNameAndReason) {
  WriteAll(Path("empty.png"), "");
  WriteAll(Path("text.png"), "hello, this is not an image");
  mkdir(Path("folder.png").c_str(), 0755);
  const std::string Signature("\x89PNG\r\n\x1A\n", 8);
  // IHDR of a 100000 x 100000 RGB image with a valid CRC and nothing after it.
  WriteAll(Path("huge.png"), Signature + PngChunk("IHDR", Be32(100000) + Be32(100000) + std::string("\x08\x02\0\0\0", 5)));
  WriteAll(Path("zero.png"), Signature + PngChunk("IHDR", Be32(0) + Be32(5) + std::string("\x08\x02\0\0\0", 5)));
  std::string BadCrc = Signature + PngChunk("IHDR", Be32(4) + Be32(4) + std::string("\x08\x02\0\0\0", 5));
  BadCrc[BadCrc.size() - 1] ^= 0x55;
  WriteAll(Path("badcrc.png"), BadCrc);

  struct TCase {
    const char* File;
    std::string Message;
  };
  const TCase Cases[] = {
      {"missing.png", "missing.png: cannot open file (No such file or directory)"},
      {"empty.png", "empty.png: file is empty"},
      {"text.png", "text.png: not a PNG, JPEG or TIFF file"},
      {"folder.png", "folder.png: is a directory"},
      {"huge.png", "huge.png: image size 100000 x 100000 exceeds the limit of 268435456 pixels"},
      {"zero.png", "zero.png: corrupt or unsupported PNG file (Invalid IHDR data)"},
      {"badcrc.png", "badcrc.png: corrupt or unsupported PNG file (IHDR: CRC error)"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.File);
    EXPECT_EQ(MessageOf([&] { ReadImageFile(Path(C.File)); }), Path("") + C.Message);
  }
}

// A minimal uncompressed 8-bit gray TIFF whose directory precedes its single strip, as many
// writers lay files out (libtiff puts the directory last).
std::string DirectoryFirstTiff(uint32_t Width, uint32_t Height) {
  auto Le16 = [](uint32_t V) { return std::string{static_cast<char>(V), static_cast<char>(V >> 8)}; };
  auto Le32 = [&](uint32_t V) { return Le16(V & 0xFFFF) + Le16(V >> 16); };
  const uint32_t Entries = 9, DataOffset = 8 + 2 + Entries * 12 + 4;
  std::string F = "II" + Le16(42) + Le32(8) + Le16(Entries);
  auto Entry = [&](uint16_t Tag, uint16_t Type, uint32_t Value) {
    F += Le16(Tag) + Le16(Type) + Le32(1) + (Type == 3 ? Le16(Value) + Le16(0) : Le32(Value));
  };
  Entry(256, 4, Width);
  Entry(257, 4, Height);
  Entry(258, 3, 8);
  Entry(259, 3, 1);
  Entry(262, 3, 1);
  Entry(273, 4, DataOffset);
  Entry(277, 3, 1);
  Entry(278, 4, Height);
  Entry(279, 4, Width * Height);
  F += Le32(0);
  for (uint32_t i = 0; i < Width * Height; ++i) F += static_cast<char>(i * 7);
  return F;
}

TEST_F(ImageFiles, TruncatedAndDamagedFilesFailCleanly) {
  TImage Image = PatternImage(64, 64, icRGB, id8Bits, iaUnassociated);
  WritePngFile(Path("full.png"), Image);
  WriteTiffFile(Path("full.tif"), Image);
  TImage Opaque = PatternImage(64, 64, icRGB, id8Bits, iaNone);
  WriteJpegFile(Path("full.jpg"), Opaque);
  WriteAll(Path("first.tif"), DirectoryFirstTiff(32, 32));
  EXPECT_EQ(ReadImageFile(Path("first.tif")).Row(1)[0], static_cast<uint8_t>(32 * 7)) << "the fixture is valid";
  struct TCase {
    const char* Source;
    double Keep;  // fraction of the file that is kept, or bytes when above 1
    const char* Expected;
  };
  const TCase Cases[] = {
      {"full.png", 0.5, "corrupt or truncated PNG file"},
      {"full.png", 0.999, "corrupt or truncated PNG file"},  // only IEND is cut
      {"full.png", 20, "corrupt or unsupported PNG file"},   // inside IHDR
      {"full.jpg", 0.5, "corrupt or truncated JPEG file (Premature end of JPEG file)"},
      {"full.jpg", 0.01, "corrupt or unsupported JPEG file"},
      {"full.tif", 0.5, "corrupt or unsupported TIFF file"},  // the directory at the end is lost
      {"full.tif", 12, "corrupt or unsupported TIFF file"},
      {"first.tif", 0.9, "corrupt or truncated TIFF file"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(std::string(C.Source) + " kept " + std::to_string(C.Keep));
    const std::string Data = ReadAll(Path(C.Source));
    const std::string Cut = Path(std::string("cut-") + C.Source);
    WriteAll(Cut, Data.substr(0, static_cast<size_t>(C.Keep > 1 ? C.Keep : Data.size() * C.Keep)));
    const std::string Message = MessageOf([&] { ReadImageFile(Cut); });
    EXPECT_EQ(Message.rfind(Cut + ": " + C.Expected, 0), 0u) << Message;
  }
  // Damage in the middle of the compressed data (the file keeps its length).
  for (const char* Source : {"full.png", "full.jpg", "full.tif"}) {
    SCOPED_TRACE(Source);
    std::string Data = ReadAll(Path(Source));
    for (size_t i = Data.size() / 3; i < Data.size() / 3 + 64; ++i) Data[i] = static_cast<char>(Data[i] ^ 0x5A);
    WriteAll(Path("damaged"), Data);
    const std::string Message = MessageOf([&] { ReadImageFile(Path("damaged")); });
    EXPECT_NE(Message.find("damaged: corrupt"), std::string::npos) << Message;
  }
}

TEST_F(ImageFiles, LimitsAreAppliedToEveryFormat) {
  TImage Image = PatternImage(40, 30, icGray, id8Bits, iaNone);
  WritePngFile(Path("a.png"), Image);
  WriteJpegFile(Path("a.jpg"), Image);
  WriteTiffFile(Path("a.tif"), Image);
  TImageLimits Small;
  Small.MaxDimension = 32;
  TImageLimits FewBytes;
  FewBytes.MaxBytes = 1000;
  for (const char* Name : {"a.png", "a.jpg", "a.tif"}) {
    SCOPED_TRACE(Name);
    EXPECT_EQ(MessageOf([&] { ReadImageFile(Path(Name), Small); }),
              Path(Name) + ": image size 40 x 30 exceeds the limit of 32 pixels per side");
    EXPECT_EQ(MessageOf([&] { ReadImageFile(Path(Name), FewBytes); }),
              Path(Name) + ": image size 40 x 30 with 1 channels of 1 bytes exceeds the limit of 1000 bytes");
  }
}

TEST_F(ImageFiles, UnsupportedLayoutsAreRefusedWithTheReason) {
  TTiffLayout Signed;
  Signed.Bits = 16;
  Signed.Format = SAMPLEFORMAT_INT;
  WriteRawTiff(Path("signed.tif"), Signed, std::vector<uint8_t>(4 * 3 * 2));
  EXPECT_EQ(MessageOf([&] { ReadImageFile(Path("signed.tif")); }),
            Path("signed.tif") + ": unsupported TIFF sample type (16 bits, signed integer)");

  TImage Cmyk = PatternImage(4, 4, icCMYK, id8Bits, iaNone);
  TImage Float = PatternImage(4, 4, icGray, id32BitsFloat, iaNone);
  TImage Premultiplied = PatternImage(4, 4, icRGB, id8Bits, iaAssociated);
  TImage WithAlpha = PatternImage(4, 4, icRGB, id8Bits, iaUnassociated);
  TImage Deep = PatternImage(4, 4, icRGB, id16Bits, iaNone);
  TImage Empty;
  struct TCase {
    const TImage* Image;
    const char* Name;
    const char* Reason;
  };
  const TCase Cases[] = {
      {&Cmyk, "x.png", "PNG cannot store CMYK images"},
      {&Float, "x.png", "PNG cannot store 32-bit float samples"},
      {&Premultiplied, "x.png", "PNG cannot store premultiplied alpha"},
      {&WithAlpha, "x.jpg", "JPEG cannot store an alpha channel"},
      {&Deep, "x.jpeg", "JPEG stores 8-bit samples only"},
      {&Empty, "x.tif", "cannot write an empty image"},
      {&Cmyk, "x.bmp", "unknown image file extension (use .png, .jpg, .jpeg, .tif or .tiff)"},
  };
  for (const TCase& C : Cases) {
    SCOPED_TRACE(C.Reason);
    EXPECT_EQ(MessageOf([&] { WriteImageFile(Path(C.Name), *C.Image); }), Path(C.Name) + ": " + C.Reason);
  }
  EXPECT_EQ(Listing(), "signed.tif ") << "refused writes create no file";
}

// Makes every write beyond Bytes fail with EFBIG for the scope.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t Bytes) {
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit Limit = FOld;
    Limit.rlim_cur = Bytes;
    setrlimit(RLIMIT_FSIZE, &Limit);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }

 private:
  rlimit FOld;
  void (*FOldHandler)(int);
};

TEST_F(ImageFiles, FailedWritesKeepThePreviousFileAndLeaveNoTemporary) {
  // Noise does not compress, so the files are far larger than the limit below.
  TImage Noise = PatternImage(300, 300, icRGB, id16Bits, iaNone);
  for (const char* Name : {"out.png", "out.tif"}) {
    SCOPED_TRACE(Name);
    WriteAll(Path(Name), "previous content");
    std::string Message;
    {
      TFileSizeLimit Limit(16384);
      Message = MessageOf([&] { WriteImageFile(Path(Name), Noise); });
    }
    EXPECT_NE(Message.rfind(Path(Name) + ": cannot write", 0), std::string::npos) << Message;
    EXPECT_NE(Message.find("File too large"), std::string::npos) << Message;
    EXPECT_EQ(ReadAll(Path(Name)), "previous content");
    EXPECT_EQ(Listing(), Name + std::string(" ")) << "the temporary file is removed";
    std::remove(Path(Name).c_str());
  }
  EXPECT_EQ(MessageOf([&] { WritePngFile(Path("no/such/dir.png"), Noise); }),
            Path("no/such/dir.png") + ": cannot create file (No such file or directory)");
}

TEST_F(ImageFiles, AllocateRefusesSizesBeyondTheLimits) {
  TImage Image;
  try {
    Image.Allocate(300001, 2, icGray, id8Bits, iaNone);
    FAIL() << "no exception";
  } catch (const EImageFileError& E) {
    EXPECT_EQ(E.Message(), "image size 300001 x 2 exceeds the limit of 300000 pixels per side");
  }
  EXPECT_THROW(Image.Allocate(0, 2, icGray, id8Bits, iaNone), EImageFileError);
  EXPECT_EQ(Image.Width(), 0) << "a refused allocation leaves the image as it was";
}

}  // namespace
}  // namespace varnix
