#include "ui/Markers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "common/LogFile.h"

#include "common/FileUtils.h"
#include "common/TextEncoding.h"

namespace varnix {

namespace {


void PutInt32(char* Dest, int32_t Value) {
  const uint32_t V = static_cast<uint32_t>(Value);
  for (int i = 0; i < 4; ++i) Dest[i] = static_cast<char>((V >> (8 * i)) & 0xFF);
}

int32_t GetInt32(const char* Source) {
  uint32_t V = 0;
  for (int i = 0; i < 4; ++i) V |= static_cast<uint32_t>(static_cast<unsigned char>(Source[i])) << (8 * i);
  return static_cast<int32_t>(V);
}

// Reads exactly Size bytes; false when the stream ended (or failed) before.
bool ReadExactly(std::istream& Stream, char* Buffer, std::streamsize Size) {
  Stream.read(Buffer, Size);
  return Stream.gcount() == Size;
}

struct TMarkerRecord {
  TPoint Position;
  TSelectionMarkerType MarkerType;
};

}  // namespace

// ---- TSelectionMarker ----

void TSelectionMarker::SetMarkerType(TSelectionMarkerType Value) {
  if (Value == FMarkerType) return;
  FMarkerType = Value;
  Change();
}

void TSelectionMarker::SetPosition(TPoint Value) {
  if (Value == FPosition) return;
  FPosition = Value;
  Change();
}

void TSelectionMarker::Change() {
  if (OnChange) OnChange(this);
}

int32_t TSelectionMarker::DistanceFrom(TPoint P) const {
  // 64-bit differences: markers loaded from a file may lie anywhere in the 32-bit plane.
  const int64_t DX = std::llabs(static_cast<int64_t>(P.X) - FPosition.X);
  const int64_t DY = std::llabs(static_cast<int64_t>(P.Y) - FPosition.Y);
  const int64_t D = DX > DY ? DX : DY;
  return D > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int32_t>(D);
}

void TSelectionMarker::Drag(int32_t DX, int32_t DY) {
  SetPosition(Point(static_cast<int32_t>(static_cast<uint32_t>(FPosition.X) + static_cast<uint32_t>(DX)),
                    static_cast<int32_t>(static_cast<uint32_t>(FPosition.Y) + static_cast<uint32_t>(DY))));
}

// ---- TSelectionMarkerList ----

TSelectionMarkerList::~TSelectionMarkerList() { FreeItems(); }

void TSelectionMarkerList::FreeItems() {
  for (TSelectionMarker* Marker : FItems) Free(Marker);
  FItems.clear();
}

int32_t TSelectionMarkerList::Add(TPoint P, TSelectionMarkerType MarkerType) {
  int32_t Index;
  BeginUpdate();
  try {
    Deselect();
    TOwned<TSelectionMarker> Marker(NewObject<TSelectionMarker>());
    Marker->SetPosition(P);
    Marker->SetMarkerType(MarkerType);
    Marker->SetSelected(true);
    Marker->OnChange = [this](TObject* Sender) { MarkerChange(Sender); };
    FItems.push_back(Marker.get());
    Marker.release();
    Index = GetCount() - 1;
    ProcessChange();
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  return Index;
}

void TSelectionMarkerList::Clear() {
  FreeItems();
  ProcessChange();
}

void TSelectionMarkerList::Delete(int32_t Index) {
  TSelectionMarker* Marker = FItems[Index];
  FItems.erase(FItems.begin() + Index);
  Free(Marker);
  ProcessChange();
}

void TSelectionMarkerList::DeleteSelected() {
  BeginUpdate();
  try {
    for (int32_t i = GetCount() - 1; i >= 0; --i)
      if (FItems[i]->Selected()) Delete(i);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TSelectionMarkerList::Deselect() {
  BeginUpdate();
  for (TSelectionMarker* Marker : FItems) Marker->SetSelected(false);
  EndUpdate();
}

void TSelectionMarkerList::Select(int32_t Index) {
  BeginUpdate();
  Deselect();
  FItems[Index]->SetSelected(true);
  EndUpdate();
}

void TSelectionMarkerList::Drag(int32_t DX, int32_t DY) {
  BeginUpdate();
  try {
    for (TSelectionMarker* Marker : FItems)
      if (Marker->Selected()) Marker->Drag(DX, DY);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TSelectionMarkerList::Find(TPoint P, int32_t& Index, int32_t& Distance) const {
  Index = -1;
  Distance = 0x7FFFFFFF;
  for (int32_t i = 0; i < GetCount(); ++i) {
    const int32_t D = FItems[i]->DistanceFrom(P);
    if (D < Distance) {
      Index = i;
      Distance = D;
    }
  }
}

void TSelectionMarkerList::MarkerChange(TObject*) { ProcessChange(); }

void TSelectionMarkerList::Change() {
  if (OnChange) OnChange(this);
}

void TSelectionMarkerList::LoadFromStream(std::istream& Stream) {
  char Header[MarkersFileHeaderSize];
  if (!ReadExactly(Stream, Header, sizeof Header))
    throw EReadError("Stream read error: the markers file header is incomplete");
  // Comparing all eight bytes is the same as comparing the text up to the first zero byte with
  // the eight-character magic: any zero among them makes the text shorter.
  if (std::memcmp(Header, MarkersFileMagic, sizeof MarkersFileMagic) != 0 ||
      GetInt32(Header + 8) != MarkersFileVersion)
    throw EMarkersFileError("Invalid file format");
  const int32_t Count = GetInt32(Header + 12);

  // The records are read and checked before the list changes, so that a record with an invalid
  // type rejects the whole file without touching the list. The vector grows with the data that is
  // actually there, never with the announced count.
  std::vector<TMarkerRecord> Records;
  bool Truncated = false;
  for (int32_t i = 0; i < Count; ++i) {
    char Record[MarkersFileRecordSize];
    if (!ReadExactly(Stream, Record, sizeof Record)) {
      Truncated = true;
      break;
    }
    const unsigned char Type = static_cast<unsigned char>(Record[8]);
    if (Type != mtObject && Type != mtBackground) throw EMarkersFileError("Invalid file format");
    Records.push_back({Point(GetInt32(Record), GetInt32(Record + 4)), static_cast<TSelectionMarkerType>(Type)});
  }

  BeginUpdate();
  try {
    Clear();
    for (const TMarkerRecord& R : Records) Add(R.Position, R.MarkerType);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
  if (Truncated)
    throw EReadError(Format("Stream read error: the markers file announces %d markers but holds only %d",
                            static_cast<int>(Count), static_cast<int>(Records.size())));
}

void TSelectionMarkerList::SaveToStream(std::ostream& Stream) const {
  std::string Data(static_cast<size_t>(MarkersFileHeaderSize) + static_cast<size_t>(MarkersFileRecordSize) * FItems.size(), '\0');
  std::memcpy(Data.data(), MarkersFileMagic, sizeof MarkersFileMagic);
  PutInt32(Data.data() + 8, MarkersFileVersion);
  PutInt32(Data.data() + 12, GetCount());
  char* Record = Data.data() + MarkersFileHeaderSize;
  for (const TSelectionMarker* Marker : FItems) {
    PutInt32(Record, Marker->Position().X);
    PutInt32(Record + 4, Marker->Position().Y);
    Record[8] = static_cast<char>(Marker->MarkerType());
    Record += MarkersFileRecordSize;
  }
  Stream.write(Data.data(), static_cast<std::streamsize>(Data.size()));
  if (!Stream) throw EWriteError("Stream write error");
}

void TSelectionMarkerList::LoadFromFile(const std::string& FileName) {
  std::ifstream Stream(Latin1ToUtf8(FileName), std::ios::binary);
  if (!Stream)
    throw EFOpenError(Format("Cannot open file \"%s\". %s", FileName.c_str(), std::strerror(errno)));
  LoadFromStream(Stream);
}

void TSelectionMarkerList::SaveToFile(const std::string& FileName) const {
  std::ostringstream Buffer(std::ios::binary);
  SaveToStream(Buffer);
  const std::string Data = Buffer.str();

  bool Created = false;
  const int Error = WriteFileAtomically(Latin1ToUtf8(FileName), Data, &Created);
  if (Error != 0 && !Created)
    throw EFCreateError(Format("Cannot create file \"%s\". %s", FileName.c_str(), std::strerror(Error)));
  if (Error != 0)
    throw EWriteError(Format("Cannot write file \"%s\". %s", FileName.c_str(), std::strerror(Error)));
}

}  // namespace varnix
