#include "cli/ServeProtocol.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/CliArguments.h"

namespace varnix {

namespace {

using nlohmann::json;

// A JSON number that is a whole number within 32 bits (12 and 12.0 both count).
bool WholeInt32(const json& Value, int32_t& Result) {
  if (Value.is_number_integer()) {
    if (Value.is_number_unsigned()) {
      const auto V = Value.get<uint64_t>();
      if (V > INT32_MAX) return false;
      Result = static_cast<int32_t>(V);
      return true;
    }
    const auto V = Value.get<int64_t>();
    if (V < INT32_MIN || V > INT32_MAX) return false;
    Result = static_cast<int32_t>(V);
    return true;
  }
  if (Value.is_number_float()) {
    const double V = Value.get<double>();
    if (!std::isfinite(V) || V != std::floor(V) || V < INT32_MIN || V > INT32_MAX) return false;
    Result = static_cast<int32_t>(V);
    return true;
  }
  return false;
}

}  // namespace

bool ParseServeRequest(const std::string& Line, TServeRequest& Request, std::string& Error) {
  Request = TServeRequest();
  const json Root = json::parse(Line, nullptr, /*allow_exceptions=*/false);
  if (Root.is_discarded()) {
    Error = "the line is not valid JSON";
    return false;
  }
  if (!Root.is_object()) {
    Error = "the request must be a JSON object";
    return false;
  }
  const auto Markers = Root.find("markers");
  if (Markers == Root.end() || !Markers->is_array()) {
    Error = "\"markers\" must be an array of [x, y, type] entries";
    return false;
  }
  if (Markers->empty()) {
    Error = "\"markers\" is empty; at least one marker is needed";
    return false;
  }
  for (size_t i = 0; i < Markers->size(); ++i) {
    const json& M = (*Markers)[i];
    TServeMarker Marker;
    int32_t Type = 0;
    if (!M.is_array() || M.size() != 3 || !WholeInt32(M[0], Marker.Position.X) || !WholeInt32(M[1], Marker.Position.Y) ||
        !WholeInt32(M[2], Type)) {
      Error = "marker " + std::to_string(i) + " must be [x, y, type] with whole numbers";
      return false;
    }
    if (Type != 0 && Type != 1) {
      Error = "marker " + std::to_string(i) + " has type " + std::to_string(Type) +
              "; use 0 for object, 1 for background";
      return false;
    }
    Marker.Type = Type;
    Request.Markers.push_back(Marker);
  }
  const auto Out = Root.find("out");
  if (Out == Root.end() || !Out->is_string() || Out->get<std::string>().empty()) {
    Error = "\"out\" must be the name of the mask file to write";
    return false;
  }
  Request.Out = Out->get<std::string>();
  const auto Aa = Root.find("aa");
  if (Aa != Root.end() && !Aa->is_null()) {
    const int Method = Aa->is_string() ? AntiAliasingFromName(Aa->get<std::string>()) : -1;
    if (Method < 0) {
      Error = "\"aa\" must be one of none, sharp, medium, soft, very-soft";
      return false;
    }
    Request.AntiAliasing = Method;
  }
  return true;
}

std::string ServeSuccess(double Milliseconds) {
  char Text[64];
  std::snprintf(Text, sizeof Text, "{\"ok\":true,\"ms\":%.3f}", Milliseconds);
  return Text;
}

std::string ServeFailure(const std::string& Error) {
  json Answer = {{"ok", false}, {"error", Error}};
  // Messages are the system's 8-bit text; invalid UTF-8 is replaced rather than thrown about.
  return Answer.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace varnix
