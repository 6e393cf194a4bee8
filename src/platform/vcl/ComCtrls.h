// The status bar with its panels and the progress bar.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/Controls.h"
#include "platform/vcl/ExtCtrls.h"

namespace varnix {

class TStatusBar;

enum TStatusPanelStyle { psText, psOwnerDraw };
enum TStatusPanelBevel { pbNone, pbLowered, pbRaised };

class TStatusPanel : public TObject {
 public:
  explicit TStatusPanel(TStatusBar* Bar) : FBar(Bar) {}
  const std::string& Text() const { return FText; }
  void SetText(const std::string& Value);
  int32_t Width() const { return FWidth; }
  void SetWidth(int32_t Value);
  TStatusPanelBevel Bevel() const { return FBevel; }
  void SetBevel(TStatusPanelBevel Value);
  TStatusPanelStyle Style() const { return FStyle; }
  void SetStyle(TStatusPanelStyle Value);
  TAlignment Alignment = taLeftJustify;
  int32_t Index() const;

 private:
  void Changed(bool Layout);
  TStatusBar* FBar;
  std::string FText;
  int32_t FWidth = 50;
  TStatusPanelBevel FBevel = pbLowered;
  TStatusPanelStyle FStyle = psText;
};

// The panels of a status bar; every change (after the outermost update bracket) reaches the bar.
class TStatusPanels : public TObject {
 public:
  explicit TStatusPanels(TStatusBar* Bar) : FBar(Bar) {}
  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  TStatusPanel* Items(int32_t Index) const { return FItems.at(static_cast<size_t>(Index)).get(); }
  TStatusPanel* operator[](int32_t Index) const { return Items(Index); }
  TStatusPanel* Add();
  void Delete(int32_t Index);
  void Clear();
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  void Changed(bool Layout);

 private:
  friend class TStatusPanel;
  TStatusBar* FBar;
  std::vector<std::unique_ptr<TStatusPanel>> FItems;
  int32_t FUpdateCount = 0;
  bool FPending = false;
};

using TDrawPanelEvent = std::function<void(TStatusBar* StatusBar, TStatusPanel* Panel, const TRect& Rect)>;

class TStatusBar : public TWinControl {
 public:
  explicit TStatusBar(TComponent* AOwner);
  const char* ClassName() const override { return "TStatusBar"; }
  TStatusPanels& Panels() { return FPanels; }
  bool SimplePanel = false;
  std::string SimpleText;
  bool SizeGrip() const { return FSizeGrip; }
  void SetSizeGrip(bool Value);
  // The rectangle of panel Index in client coordinates (the last panel reaches the right end);
  // empty for an index outside the panels.
  TRect PanelRect(int32_t Index) const;
  // The rectangle of the size grip in client coordinates (empty without a grip).
  TRect SizeGripRect() const;
  TDrawPanelEvent OnDrawPanel;

  // Called after the panels changed (text, width, count), once per update bracket.
  virtual void PanelsChanged(bool Layout);

 protected:
  void PaintWindow(HDC DC) override;
  virtual void DrawPanel(TCanvas& Canvas, TStatusPanel* Panel, const TRect& Rect);

 private:
  TStatusPanels FPanels;
  bool FSizeGrip = true;
};

class TProgressBar : public TWinControl {
 public:
  explicit TProgressBar(TComponent* AOwner);
  const char* ClassName() const override { return "TProgressBar"; }
  int32_t Min() const { return FMin; }
  int32_t Max() const { return FMax; }
  int32_t Position() const { return FPosition; }
  void SetMin(int32_t Value);
  void SetMax(int32_t Value);
  // Kept within Min … Max.
  void SetPosition(int32_t Value);
  int32_t Step = 10;
  void StepIt() { SetPosition(FPosition + Step); }

 protected:
  void PaintWindow(HDC DC) override;

 private:
  int32_t FMin = 0;
  int32_t FMax = 100;
  int32_t FPosition = 0;
};

}  // namespace varnix
