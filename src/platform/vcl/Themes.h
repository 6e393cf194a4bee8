// The theme painter: the one place where the look of every control lives. Controls lay out their
// own content and ask this painter for frames, faces and state pictures. It also draws the
// tool-bar button elements (normal, hot, pressed, checked, checked-hot, disabled) that in-house
// buttons use.
#pragma once

#include <cstdint>
#include <string>

#include "platform/vcl/Graphics.h"

namespace varnix {

class TControl;

enum TThemedToolBar {
  ttbToolBarDontCare,
  ttbButtonNormal,
  ttbButtonHot,
  ttbButtonPressed,
  ttbButtonDisabled,
  ttbButtonChecked,
  ttbButtonCheckedHot
};
enum TThemedElement { teToolBar };

struct TThemedElementDetails {
  TThemedElement Element = teToolBar;
  int32_t Part = 1;
  int32_t State = 1;
};

// Pixel colours of the look, exposed so tests can check drawings against them.
struct TThemeColors {
  static constexpr TColor ButtonHotFace = 0xF7E6D2;      // light blue-grey ($BBGGRR)
  static constexpr TColor ButtonHotFrame = 0xC69A6B;
  static constexpr TColor ButtonPressedFace = 0xE2C9AA;
  static constexpr TColor ButtonCheckedFace = 0xF1DCC4;
  static constexpr TColor ButtonCheckedHotFace = 0xF9EBDC;
  static constexpr TColor ProgressFill = 0x3CB371;       // green
  static constexpr TColor MenuHot = 0xF0D8BC;
};

class TThemeServices {
 public:
  bool ThemesEnabled() const { return Enabled; }
  bool Enabled = true;

  TThemedElementDetails GetElementDetails(TThemedToolBar Detail) const;
  // Draws a tool-bar button element into R; ClipRect (when not empty) limits the drawing, so a
  // segment joined to a neighbour can be drawn with a rectangle extended past the shared side.
  void DrawElement(TCanvas& Canvas, const TThemedElementDetails& Details, const TRect& R,
                   const TRect& ClipRect = TRect{}) const;
  // Fills R (client coordinates of Control) with the background of Control's parent.
  void DrawParentBackground(const TControl* Control, TCanvas& Canvas, const TRect& R) const;

  // Frames: a 2-pixel sunken or raised edge (R is the outer rectangle).
  void DrawEdge(TCanvas& Canvas, const TRect& R, bool Sunken) const;
  void DrawButtonFace(TCanvas& Canvas, const TRect& R, bool Pressed, bool Focused, bool Default, bool Enabled) const;
  // Caption with its '&' accelerator underlined, centred in R.
  void DrawCaption(TCanvas& Canvas, const TRect& R, const std::string& Caption, bool Enabled, int32_t Shift = 0) const;
  void DrawCheckBox(TCanvas& Canvas, const TRect& Box, bool Checked, bool Enabled, bool Pressed) const;
  void DrawComboBox(TCanvas& Canvas, const TRect& R, bool Enabled, bool Focused, bool Dropped) const;
  void DrawScrollBar(TCanvas& Canvas, const TRect& R, bool Vertical, int32_t ThumbStart, int32_t ThumbLength,
                     int32_t ArrowSize) const;
  void DrawProgressBar(TCanvas& Canvas, const TRect& R, int32_t Position, int32_t Min, int32_t Max) const;
  void DrawStatusPanel(TCanvas& Canvas, const TRect& R, int32_t Bevel) const;  // 0 none, 1 lowered, 2 raised
  void DrawSizeGrip(TCanvas& Canvas, const TRect& R) const;
  void DrawMenuBackground(TCanvas& Canvas, const TRect& R) const;
  void DrawMenuSeparator(TCanvas& Canvas, const TRect& R) const;
  void DrawMenuItem(TCanvas& Canvas, const TRect& R, bool Hot, bool Enabled, bool Checked, const std::string& Caption,
                    const std::string& ShortCutText) const;
  void DrawFocusRect(TCanvas& Canvas, const TRect& R) const;
};

// The painter every control uses.
TThemeServices* ThemeServices();

}  // namespace varnix
