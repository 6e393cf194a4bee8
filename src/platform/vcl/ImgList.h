// Image lists: a row of equally sized 32-bit images drawn by index, normally or in a disabled
// (greyed, faded) rendering, with change notifications to the controls that use the list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/Classes.h"
#include "platform/vcl/Graphics.h"

namespace varnix {

class TCustomImageList;

// Tells one user of an image list that the list changed. Unregisters itself when freed.
class TChangeLink : public TObject {
 public:
  ~TChangeLink() override;
  TCustomImageList* Sender = nullptr;
  TNotifyEvent OnChange;
  void Change();
};

enum TColorDepth { cdDeviceDependent, cd4Bit, cd8Bit, cd16Bit, cd24Bit, cd32Bit };
enum TResType { rtBitmap, rtCursor, rtIcon };

class TCustomImageList : public TComponent {
 public:
  explicit TCustomImageList(TComponent* AOwner);
  // A list of AWidth × AHeight images.
  TCustomImageList(TComponent* AOwner, int32_t AWidth, int32_t AHeight);
  ~TCustomImageList() override;
  const char* ClassName() const override { return "TCustomImageList"; }

  int32_t Width() const { return FWidth; }
  int32_t Height() const { return FHeight; }
  // Changing the size clears the list.
  void SetWidth(int32_t Value);
  void SetHeight(int32_t Value);
  TColorDepth ColorDepth = cd32Bit;
  int32_t Count() const { return static_cast<int32_t>(FImages.size()); }

  // Adds Image (cut into Width-wide pieces when it is wider) with Mask (non-black mask pixels
  // transparent; null: the image's own alpha). Returns the index of the first image added.
  int32_t Add(const TBitmap& Image, const TBitmap* Mask);
  // Adds Image as a strip of images in which MaskColor is transparent (clDefault: the colour of
  // the bottom-left pixel; clNone: no transparent colour). Returns the first index.
  int32_t AddMasked(const TBitmap& Image, TColor MaskColor);
  void Delete(int32_t Index);
  void Clear();
  // Loads the bitmap resource Name and adds it with AddMasked; false when it does not exist or
  // cannot be read.
  bool ResourceLoad(TResType ResType, const std::string& Name, TColor MaskColor);
  bool FileLoad(TResType ResType, const std::string& FileName, TColor MaskColor);

  // Draws image Index with its top-left corner at (X, Y), blended over the canvas; disabled
  // images are drawn grey and faded. An index outside the list draws nothing.
  void Draw(TCanvas& Canvas, int32_t X, int32_t Y, int32_t Index, bool Enabled = true) const;
  // Copies image Index (premultiplied, transparent where masked) into Image.
  void GetBitmap(int32_t Index, TBitmap& Image) const;

  void RegisterChanges(TChangeLink* Link);
  void UnRegisterChanges(TChangeLink* Link);
  TNotifyEvent OnChange;

 protected:
  void Change();

 private:
  int32_t FWidth = 16;
  int32_t FHeight = 16;
  std::vector<std::unique_ptr<TBitmap>> FImages;
  std::vector<TChangeLink*> FLinks;
};

class TImageList : public TCustomImageList {
 public:
  using TCustomImageList::TCustomImageList;
  const char* ClassName() const override { return "TImageList"; }
};

}  // namespace varnix
