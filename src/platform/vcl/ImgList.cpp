#include "platform/vcl/ImgList.h"

#include <algorithm>
#include <cstring>

namespace varnix {

TChangeLink::~TChangeLink() {
  if (Sender) Sender->UnRegisterChanges(this);
}

void TChangeLink::Change() {
  if (auto H = OnChange) H(Sender);
}

TCustomImageList::TCustomImageList(TComponent* AOwner) : TComponent(AOwner) {}

TCustomImageList::TCustomImageList(TComponent* AOwner, int32_t AWidth, int32_t AHeight)
    : TComponent(AOwner), FWidth(std::max(1, AWidth)), FHeight(std::max(1, AHeight)) {}

TCustomImageList::~TCustomImageList() {
  for (TChangeLink* L : FLinks) L->Sender = nullptr;
}

void TCustomImageList::SetWidth(int32_t Value) {
  Value = std::max(1, Value);
  if (FWidth == Value) return;
  FWidth = Value;
  Clear();
}

void TCustomImageList::SetHeight(int32_t Value) {
  Value = std::max(1, Value);
  if (FHeight == Value) return;
  FHeight = Value;
  Clear();
}

namespace {
uint32_t OpaqueKey(TColor C) {
  C = ColorToRGB(C);
  return static_cast<uint32_t>(GetRValue(C)) | (GetGValue(C) << 8) | (GetBValue(C) << 16);
}
}  // namespace

int32_t TCustomImageList::Add(const TBitmap& Image, const TBitmap* Mask) {
  const int32_t First = Count();
  const int32_t N = std::max(1, Image.Width() / FWidth);
  for (int32_t I = 0; I < N; ++I) {
    auto B = std::make_unique<TBitmap>();
    B->SetSize(FWidth, FHeight);
    for (int32_t Y = 0; Y < FHeight && Y < Image.Height(); ++Y)
      for (int32_t X = 0; X < FWidth && I * FWidth + X < Image.Width(); ++X) {
        uint32_t P = Image.RawPixel(I * FWidth + X, Y);
        if (Mask && Y < Mask->Height() && I * FWidth + X < Mask->Width() &&
            (Mask->RawPixel(I * FWidth + X, Y) & 0xFFFFFF) != 0)
          P = 0;
        std::memcpy(B->ScanLine(Y) + 4 * X, &P, 4);
      }
    FImages.push_back(std::move(B));
  }
  Change();
  return First;
}

int32_t TCustomImageList::AddMasked(const TBitmap& Image, TColor MaskColor) {
  const int32_t First = Count();
  if (Image.Width() <= 0 || Image.Height() <= 0) return First;
  bool HasKey = MaskColor != clNone;
  uint32_t Key = 0;
  if (MaskColor == clDefault)
    Key = Image.RawPixel(0, Image.Height() - 1) & 0xFFFFFF;
  else if (HasKey)
    Key = OpaqueKey(MaskColor);
  const int32_t N = std::max(1, Image.Width() / FWidth);
  for (int32_t I = 0; I < N; ++I) {
    auto B = std::make_unique<TBitmap>();
    B->SetSize(FWidth, FHeight);
    for (int32_t Y = 0; Y < FHeight && Y < Image.Height(); ++Y)
      for (int32_t X = 0; X < FWidth && I * FWidth + X < Image.Width(); ++X) {
        uint32_t P = Image.RawPixel(I * FWidth + X, Y);
        if (HasKey && (P >> 24) == 255 && (P & 0xFFFFFF) == Key) P = 0;
        std::memcpy(B->ScanLine(Y) + 4 * X, &P, 4);
      }
    FImages.push_back(std::move(B));
  }
  Change();
  return First;
}

void TCustomImageList::Delete(int32_t Index) {
  if (Index < 0 || Index >= Count()) return;
  FImages.erase(FImages.begin() + Index);
  Change();
}

void TCustomImageList::Clear() {
  if (FImages.empty()) return;
  FImages.clear();
  Change();
}

bool TCustomImageList::FileLoad(TResType ResType, const std::string& FileName, TColor MaskColor) {
  if (ResType != rtBitmap) return false;
  TBitmap B;
  try {
    LoadPngFile(B, FileName);
  } catch (Exception&) {
    return false;
  }
  AddMasked(B, MaskColor);
  return true;
}

bool TCustomImageList::ResourceLoad(TResType ResType, const std::string& Name, TColor MaskColor) {
  return FileLoad(ResType, ResourcePath(Name + ".png"), MaskColor);
}

void TCustomImageList::GetBitmap(int32_t Index, TBitmap& Image) const {
  if (Index < 0 || Index >= Count()) {
    Image.SetSize(0, 0);
    return;
  }
  Image.Assign(*FImages[static_cast<size_t>(Index)]);
}

void TCustomImageList::Draw(TCanvas& Canvas, int32_t X, int32_t Y, int32_t Index, bool Enabled) const {
  if (Index < 0 || Index >= Count()) return;
  const TBitmap& Src = *FImages[static_cast<size_t>(Index)];
  if (Enabled) {
    Canvas.Draw(X, Y, Src);
    return;
  }
  // Disabled: the luminance, lifted towards white and drawn at half opacity.
  TBitmap Grey;
  Grey.SetSize(Src.Width(), Src.Height());
  for (int32_t PY = 0; PY < Src.Height(); ++PY)
    for (int32_t PX = 0; PX < Src.Width(); ++PX) {
      const uint8_t* S = Src.ScanLine(PY) + 4 * PX;
      uint8_t* D = Grey.ScanLine(PY) + 4 * PX;
      const uint32_t A = S[3] / 2;
      const uint32_t L = (S[0] * 77u + S[1] * 150u + S[2] * 29u) >> 8;  // premultiplied luminance
      const uint32_t Lifted = (L + S[3]) / 2;                           // halfway to white
      const uint8_t V = static_cast<uint8_t>(std::min<uint32_t>(A, Lifted / 2));
      D[0] = D[1] = D[2] = V;
      D[3] = static_cast<uint8_t>(A);
    }
  Canvas.Draw(X, Y, Grey);
}

void TCustomImageList::RegisterChanges(TChangeLink* Link) {
  if (!Link) return;
  Link->Sender = this;
  if (std::find(FLinks.begin(), FLinks.end(), Link) == FLinks.end()) FLinks.push_back(Link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* Link) {
  FLinks.erase(std::remove(FLinks.begin(), FLinks.end(), Link), FLinks.end());
  if (Link && Link->Sender == this) Link->Sender = nullptr;
}

void TCustomImageList::Change() {
  const std::vector<TChangeLink*> Links = FLinks;
  for (TChangeLink* L : Links)
    if (std::find(FLinks.begin(), FLinks.end(), L) != FLinks.end()) L->Change();
  if (auto H = OnChange) H(this);
}

}  // namespace varnix
