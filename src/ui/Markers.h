// Selection markers: the points the user places on the document to say "this pixel belongs to
// the object" or "this pixel belongs to the background", the ordered list the editor keeps, and
// the binary markers file (.vnx) in which a set of markers is saved.
//
// The list notifies its owner (OnChange) once per outermost update bracket in which something
// that affects the segmentation changed: adding, deleting, moving or retyping markers. Selecting
// and deselecting never notify; the selection state is a matter of the display alone.
//
// Markers file, little-endian, no padding:
//   offset 0   8 bytes   magic "TQWSHMRK" (no terminator)
//   offset 8   int32     version, 1
//   offset 12  int32     count
//   offset 16  9 × count records: int32 X, int32 Y, uint8 type (0 object, 1 background)
//
// Streams: LoadFromStream and SaveToStream work on std::istream and std::ostream opened in
// binary mode. The loader checks how many bytes each read delivered and raises EReadError on a
// short read; the saver raises EWriteError when the stream reports a failure. The caller's stream
// exception mask is left alone. The marker pictures are drawn by the editor's display code, which
// lives in a separate source file.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "common/CommonClasses.h"
#include "common/StreamErrors.h"
#include "common/Types.h"

namespace varnix {

enum TSelectionMarkerType : uint8_t { mtObject, mtBackground };

// A file could not be opened for reading.
VARNIX_DECLARE_EXCEPTION(EFOpenError, Exception);
// A file could not be created for writing.
VARNIX_DECLARE_EXCEPTION(EFCreateError, Exception);
// The data is not a markers file this program understands ("Invalid file format").
VARNIX_DECLARE_EXCEPTION(EMarkersFileError, Exception);

// The file layout constants, shared with the tools that read markers files.
inline constexpr char MarkersFileMagic[8] = {'T', 'Q', 'W', 'S', 'H', 'M', 'R', 'K'};
inline constexpr int32_t MarkersFileVersion = 1;
inline constexpr int32_t MarkersFileHeaderSize = 16;
inline constexpr int32_t MarkersFileRecordSize = 9;

class TSelectionMarker : public TObject {
 public:
  TSelectionMarkerType MarkerType() const { return FMarkerType; }
  // Stores the value and calls Change when it differs from the current one.
  void SetMarkerType(TSelectionMarkerType Value);
  // The marker's document pixel (X to the right, Y downwards, (0, 0) the top-left pixel).
  TPoint Position() const { return FPosition; }
  // Stores the value and calls Change when it differs from the current one.
  void SetPosition(TPoint Value);
  bool Selected() const { return FSelected; }
  // Stores the value; never notifies.
  void SetSelected(bool Value) { FSelected = Value; }

  // Calls OnChange(this) when assigned.
  virtual void Change();
  // The chessboard distance max(|dx|, |dy|) in document pixels.
  int32_t DistanceFrom(TPoint P) const;
  // Moves the marker by (DX, DY).
  void Drag(int32_t DX, int32_t DY);

  // Set by the owning list.
  TNotifyEvent OnChange;

 private:
  TSelectionMarkerType FMarkerType = mtObject;
  TPoint FPosition;
  bool FSelected = false;
};

class TSelectionMarkerList : public TUpdatedObject {
 public:
  TSelectionMarkerList() = default;
  ~TSelectionMarkerList() override;

  int32_t GetCount() const { return static_cast<int32_t>(FItems.size()); }
  int32_t Count() const { return GetCount(); }
  // REQUIRES: 0 <= Index < GetCount() (not checked).
  TSelectionMarker* GetMarker(int32_t Index) const { return FItems[Index]; }
  TSelectionMarker* Markers(int32_t Index) const { return FItems[Index]; }

  // Appends a marker at P, makes it the only selected one and notifies once. Returns its index.
  int32_t Add(TPoint P, TSelectionMarkerType MarkerType);
  // Frees every marker and notifies.
  void Clear();
  // Frees marker Index and notifies. REQUIRES: 0 <= Index < GetCount() (not checked).
  void Delete(int32_t Index);
  // Deletes every selected marker; one notification when at least one was deleted.
  void DeleteSelected();
  // Clears every marker's selection flag; no notification.
  void Deselect();
  // Makes marker Index the only selected one; no notification.
  void Select(int32_t Index);
  // Moves every selected marker; one notification when any of them moved.
  void Drag(int32_t DX, int32_t DY);
  // The nearest marker to P by chessboard distance; the earlier marker wins a tie. An empty list
  // gives Index -1 and Distance $7FFFFFFF.
  void Find(TPoint P, int32_t& Index, int32_t& Distance) const;
  // Wired to each marker's OnChange.
  void MarkerChange(TObject* Sender);

  // Replaces the list by the markers read from a markers file (one notification once the header
  // has been accepted). Raises EMarkersFileError("Invalid file format") for another magic or
  // version, or for a record whose type byte is neither 0 nor 1; in those cases the list keeps
  // its markers and nothing is notified. Raises EReadError when the stream ends early: a short
  // header leaves the list untouched, a short record list keeps the markers read before the gap
  // (and notifies once).
  void LoadFromStream(std::istream& Stream);
  // Writes the header and one record per marker in list order. Raises EWriteError on failure.
  void SaveToStream(std::ostream& Stream) const;
  // LoadFromStream on the file FileName; EFOpenError when it cannot be opened.
  void LoadFromFile(const std::string& FileName);
  // SaveToStream into FileName, replacing an existing file. The data goes to a temporary file in
  // the same folder that is renamed over FileName only when everything was written, so a failed
  // save never leaves a truncated file or destroys the previous one. EFCreateError when the file
  // cannot be created, EWriteError when writing or replacing fails.
  void SaveToFile(const std::string& FileName) const;

  // The list's own change callback, called with the list as sender (the display sets it). The
  // notification inherited from TUpdatedObject is never used.
  TNotifyEvent OnChange;

 protected:
  void Change() override;

 private:
  void FreeItems();

  // The markers in insertion order, owned by the list.
  std::vector<TSelectionMarker*> FItems;
};

}  // namespace varnix
