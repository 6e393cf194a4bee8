// Shared set-up of the UI library tests: the headless back end, a pinned font, and helpers that
// run a form modally on queued events.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/vcl/Forms.h"
#include "platform/vcl/Graphics.h"

namespace varnix::test {

inline void PinTestFont() {
  PinFontFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf");
}

class VclTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PinTestFont();
    Application->SetBackend(bkHeadless);
    Application->ClearEvents();
    Application->OnException = nullptr;
    Application->ScreenshotFile.clear();
  }
  void TearDown() override {
    Application->ClearEvents();
    Application->OnException = nullptr;
    Application->RunScript("", "none");
  }
};

// Packs an expected pixel the way TBitmap::RawPixel reports it.
constexpr uint32_t Pixel(uint8_t R, uint8_t G, uint8_t B, uint8_t A = 255) {
  return R | (G << 8) | (B << 16) | (static_cast<uint32_t>(A) << 24);
}
inline uint32_t OpaqueOf(TColor C) { return ColorToPixel(C); }

}  // namespace varnix::test
