// What the command-line tool reads and writes around the engine: the document as a
// premultiplied colour bitmap, the markers, the mask and cut-out files, and the stage dumps in
// their exact formats.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/CoreBitmaps.h"
#include "core/CoreClasses.h"
#include "imageio/ImageFiles.h"

namespace varnix {

// The image file as the engine sees it: Bitmap holds premultiplied 8-bit RGBA, made from the
// file's 8-bit RGBA conversion (see imageio/ImageConversion.h) by colour × alpha div 255, the way
// the plug-in reads documents; Rgba keeps the unpremultiplied conversion for the cut-out.
struct TCliDocument {
  TColorBitmap Bitmap;
  TImage Rgba;
};

// Reads FileName into Document. Raises EImageFileError naming the file.
void LoadDocument(const std::string& FileName, TCliDocument& Document);
// Fills Bitmap from an 8-bit RGBA image (unassociated alpha). REQUIRES: Rgba is 8-bit RGB + alpha.
void PremultiplyInto(const TImage& Rgba, TColorBitmap& Bitmap);

// One marker as the selector receives it.
struct TCliMarker {
  TPoint Position;
  uint8_t Label;  // 255 object, 0 background
};

// Reads a markers file with the editor's rules (magic, version, type bytes 0 or 1) and gives
// the markers in file order. Raises an exception whose message names the file; an empty file
// (count 0) is an error too, since a selection needs markers.
std::vector<TCliMarker> LoadMarkers(const std::string& FileName);

// One warning per marker outside Width × Height: such a marker acts on the nearest border pixel.
void WarnAboutOutsideMarkers(const std::vector<TCliMarker>& Markers, int32_t Width, int32_t Height,
                             const std::function<void(const std::string&)>& Warn);

// The files. Each is written to a temporary file and renamed, so a failure leaves no partial
// output; failures raise EImageFileError naming the file.
void WriteMask(const std::string& FileName, const TGrayscaleBitmap& Mask);  // 8-bit gray PNG
// RGBA PNG: the document's colour, alpha = document alpha × mask div 255.
void WriteCutout(const std::string& FileName, const TImage& Rgba, const TGrayscaleBitmap& Mask);
void WriteWordBitmap(const std::string& FileName, const TWordGrayscaleBitmap& Bitmap);  // 16-bit gray PNG
// int32 LE width, int32 LE height, then the region numbers in raster order, int32 LE.
void WriteRegions(const std::string& FileName, const TIntegerGrayscaleBitmap& Regions);
// "regions N connections M", then "r:" and " n@level" per connection in list order, per region.
void WriteGraph(const std::string& FileName, const TRegionList& Graph);
// "x y" per point in list order.
void WriteBoundary(const std::string& FileName, const TPointList& Points);
// "x y SIDES" per entry in list order, SIDES the letters of L R T B in the set, or "-".
void WriteEdges(const std::string& FileName, const TPointList& Edges);

// The text forms of the three text dumps (what the files contain).
std::string GraphText(const TRegionList& Graph);
std::string BoundaryText(const TPointList& Points);
std::string EdgesText(const TPointList& Edges);

}  // namespace varnix
