#include "cli/CliDocument.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "common/LogFile.h"
#include "imageio/ImageConversion.h"
#include "imageio/ImageFileUtils.h"
#include "ui/Markers.h"

namespace varnix {

namespace {

void WriteWholeFile(const std::string& FileName, const std::string& Data) {
  imageio::TAtomicFile Out(FileName);
  if (!Data.empty() && std::fwrite(Data.data(), 1, Data.size(), Out.Stream()) != Data.size())
    imageio::Fail(FileName, Format("cannot write file (%s)", std::strerror(errno)));
  Out.Commit();
}

void AppendInt(std::string& S, int64_t V) {
  char Buffer[24];
  const int N = std::snprintf(Buffer, sizeof Buffer, "%lld", static_cast<long long>(V));
  S.append(Buffer, static_cast<size_t>(N));
}

void AppendLe32(std::string& S, int32_t V) {
  const uint32_t U = static_cast<uint32_t>(V);
  const char Bytes[4] = {static_cast<char>(U & 0xFF), static_cast<char>((U >> 8) & 0xFF),
                         static_cast<char>((U >> 16) & 0xFF), static_cast<char>((U >> 24) & 0xFF)};
  S.append(Bytes, 4);
}

TImage GrayImage(const TGrayscaleBitmap& Mask) {
  TImage Image;
  Image.Allocate(Mask.Width(), Mask.Height(), icGray, id8Bits, iaNone);
  for (int32_t Y = 0; Y < Mask.Height(); ++Y) std::memcpy(Image.Row(Y), Mask.Address(0, Y), static_cast<size_t>(Mask.Width()));
  return Image;
}

}  // namespace

void PremultiplyInto(const TImage& Rgba, TColorBitmap& Bitmap) {
  Bitmap.Resize(Rgba.Width(), Rgba.Height());
  for (int32_t Y = 0; Y < Rgba.Height(); ++Y) {
    const uint8_t* S = Rgba.Row(Y);
    PColorPixel D = Bitmap.Address(0, Y);
    for (int32_t X = 0; X < Rgba.Width(); ++X, S += 4, ++D) {
      const uint32_t A = S[3];
      D->R = static_cast<uint8_t>(S[0] * A / 255);
      D->G = static_cast<uint8_t>(S[1] * A / 255);
      D->B = static_cast<uint8_t>(S[2] * A / 255);
      D->A = static_cast<uint8_t>(A);
    }
  }
}

void LoadDocument(const std::string& FileName, TCliDocument& Document) {
  TImage Image = ReadImageFile(FileName);
  Document.Rgba = ConvertToRGBA8(Image);
  PremultiplyInto(Document.Rgba, Document.Bitmap);
}

std::vector<TCliMarker> LoadMarkers(const std::string& FileName) {
  std::ifstream Stream(FileName, std::ios::binary);
  if (!Stream) throw Exception(Format("%s: cannot open file (%s)", FileName.c_str(), std::strerror(errno)));
  TSelectionMarkerList List;
  try {
    List.LoadFromStream(Stream);
  } catch (const Exception& E) {
    throw Exception(FileName + ": " + E.Message());
  }
  if (List.GetCount() == 0) throw Exception(FileName + ": the markers file holds no markers");
  std::vector<TCliMarker> Markers;
  // The editor's label table: object markers select (255), background markers deselect (0).
  for (int32_t i = 0; i < List.GetCount(); ++i)
    Markers.push_back({List.GetMarker(i)->Position(), List.GetMarker(i)->MarkerType() == mtObject ? uint8_t(255) : uint8_t(0)});
  return Markers;
}

void WarnAboutOutsideMarkers(const std::vector<TCliMarker>& Markers, int32_t Width, int32_t Height,
                             const std::function<void(const std::string&)>& Warn) {
  for (size_t i = 0; i < Markers.size(); ++i) {
    const TPoint P = Markers[i].Position;
    if (P.X < 0 || P.Y < 0 || P.X >= Width || P.Y >= Height)
      Warn(Format("marker %d at (%d, %d) lies outside the %d x %d image; it acts on the nearest border pixel",
                  static_cast<int>(i), static_cast<int>(P.X), static_cast<int>(P.Y), static_cast<int>(Width),
                  static_cast<int>(Height)));
  }
}

void WriteMask(const std::string& FileName, const TGrayscaleBitmap& Mask) { WritePngFile(FileName, GrayImage(Mask)); }

void WriteCutout(const std::string& FileName, const TImage& Rgba, const TGrayscaleBitmap& Mask) {
  TImage Cut;
  Cut.Allocate(Rgba.Width(), Rgba.Height(), icRGB, id8Bits, iaUnassociated);
  for (int32_t Y = 0; Y < Rgba.Height(); ++Y) {
    const uint8_t* S = Rgba.Row(Y);
    const uint8_t* M = Mask.Address(0, Y);
    uint8_t* D = Cut.Row(Y);
    for (int32_t X = 0; X < Rgba.Width(); ++X, S += 4, D += 4) {
      D[0] = S[0];
      D[1] = S[1];
      D[2] = S[2];
      D[3] = static_cast<uint8_t>(uint32_t(S[3]) * M[X] / 255);
    }
  }
  WritePngFile(FileName, Cut);
}

void WriteWordBitmap(const std::string& FileName, const TWordGrayscaleBitmap& Bitmap) {
  TImage Image;
  Image.Allocate(Bitmap.Width(), Bitmap.Height(), icGray, id16Bits, iaNone);
  for (int32_t Y = 0; Y < Bitmap.Height(); ++Y)
    std::memcpy(Image.Row16(Y), Bitmap.Address(0, Y), 2 * static_cast<size_t>(Bitmap.Width()));
  WritePngFile(FileName, Image);
}

void WriteRegions(const std::string& FileName, const TIntegerGrayscaleBitmap& Regions) {
  std::string Data;
  Data.reserve(8 + 4 * static_cast<size_t>(Regions.Width()) * static_cast<size_t>(Regions.Height()));
  AppendLe32(Data, Regions.Width());
  AppendLe32(Data, Regions.Height());
  for (int32_t Y = 0; Y < Regions.Height(); ++Y) {
    const int32_t* Row = Regions.Address(0, Y);
    for (int32_t X = 0; X < Regions.Width(); ++X) AppendLe32(Data, Row[X]);
  }
  WriteWholeFile(FileName, Data);
}

std::string GraphText(const TRegionList& Graph) {
  std::string S = "regions ";
  AppendInt(S, Graph.RegionCount());
  S += " connections ";
  AppendInt(S, Graph.ConnectionCount());
  S += '\n';
  for (int32_t R = 0; R < Graph.RegionCount(); ++R) {
    AppendInt(S, R);
    S += ':';
    for (int32_t C = Graph.GetFirstConnection(R); C != -1;) {
      const TRegionConnection Connection = Graph.GetConnection(C);
      S += ' ';
      AppendInt(S, Connection.Region);
      S += '@';
      AppendInt(S, Connection.Level);
      C = Connection.Next;
    }
    S += '\n';
  }
  return S;
}

std::string BoundaryText(const TPointList& Points) {
  std::string S;
  for (int32_t i = 0; i < Points.Count(); ++i) {
    const TPoint P = Points.GetPoint(i);
    AppendInt(S, P.X);
    S += ' ';
    AppendInt(S, P.Y);
    S += '\n';
  }
  return S;
}

std::string EdgesText(const TPointList& Edges) {
  std::string S;
  for (int32_t i = 0; i < Edges.Count(); ++i) {
    const TPoint P = Edges.GetPoint(i);
    const TPointSides Sides = Edges.GetSides(i);
    AppendInt(S, P.X);
    S += ' ';
    AppendInt(S, P.Y);
    S += ' ';
    if (Sides.Empty()) {
      S += '-';
    } else {
      if (Sides.Contains(psLeft)) S += 'L';
      if (Sides.Contains(psRight)) S += 'R';
      if (Sides.Contains(psTop)) S += 'T';
      if (Sides.Contains(psBottom)) S += 'B';
    }
    S += '\n';
  }
  return S;
}

void WriteGraph(const std::string& FileName, const TRegionList& Graph) { WriteWholeFile(FileName, GraphText(Graph)); }
void WriteBoundary(const std::string& FileName, const TPointList& Points) {
  WriteWholeFile(FileName, BoundaryText(Points));
}
void WriteEdges(const std::string& FileName, const TPointList& Edges) { WriteWholeFile(FileName, EdgesText(Edges)); }

}  // namespace varnix
