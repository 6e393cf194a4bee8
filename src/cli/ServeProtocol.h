// The line protocol of "varnix-cli serve": one JSON object per request line, one JSON object per
// answer line.
//
//   request  {"markers": [[x, y, type], ...], "out": "MASK.png", "aa": "soft"}
//            x and y are whole numbers (32-bit), type 0 (object) or 1 (background); "out" is a
//            non-empty file name; "aa" is optional (a method name as on the command line).
//            Other members are ignored.
//   answer   {"ok":true,"ms":12.345} or {"ok":false,"error":"..."}
#pragma once

#include <string>
#include <vector>

#include "common/Types.h"

namespace varnix {

struct TServeMarker {
  TPoint Position;
  int Type = 0;  // 0 object, 1 background
};

struct TServeRequest {
  std::vector<TServeMarker> Markers;
  std::string Out;
  int AntiAliasing = -1;  // -1: the session's default
};

// Parses one request line. Answers false with the reason in Error when the line is not a valid
// request.
bool ParseServeRequest(const std::string& Line, TServeRequest& Request, std::string& Error);

// The answer lines, without the line end.
std::string ServeSuccess(double Milliseconds);
std::string ServeFailure(const std::string& Error);

}  // namespace varnix
