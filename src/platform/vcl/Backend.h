// The back ends of the application: where forms appear and where platform input comes from.
// Internal to the UI library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/vcl/Forms.h"

namespace varnix {

struct TMonitorInfo {
  TRect Bounds;
  TRect WorkArea;
};

class TBackend {
 public:
  virtual ~TBackend() = default;
  virtual TBackendKind Kind() const = 0;
  virtual std::vector<TMonitorInfo> Monitors() = 0;
  // A form became visible or hidden, was freed, moved or resized, or got a new caption.
  virtual void FormShown(TCustomForm* Form) { (void)Form; }
  virtual void FormHidden(TCustomForm* Form) { (void)Form; }
  virtual void FormDestroyed(TCustomForm* Form) { (void)Form; }
  virtual void FormBoundsChanged(TCustomForm* Form) { (void)Form; }
  virtual void FormCaptionChanged(TCustomForm* Form) { (void)Form; }
  // The form's picture was repainted.
  virtual void Present(TCustomForm* Form) { (void)Form; }
  // Waits at most TimeoutMs for one platform event; false when none came.
  virtual bool PollEvent(TInputEvent& Event, uint32_t TimeoutMs) = 0;
  virtual void SetCursor(TCursor Index, HCURSOR Cursor) { (void)Index; (void)Cursor; }
  // The pointer in screen coordinates; false when the back end does not know it.
  virtual bool MousePos(TPoint& P) { (void)P; return false; }
  virtual void FreeCursor(HCURSOR Cursor) { (void)Cursor; }
};

std::unique_ptr<TBackend> CreateHeadlessBackend();
// Null (with the reason in Error) when no display can be opened.
std::unique_ptr<TBackend> CreateSdlBackend(std::string& Error);

}  // namespace varnix
