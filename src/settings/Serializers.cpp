#include "settings/Serializers.h"

#include <charconv>
#include <limits>

#include "common/CommonUtils.h"

namespace varnix {

namespace {

std::string IntToStr(int32_t Value) { return std::to_string(Value); }

// General format, 15 significant digits; std::to_chars never consults the locale.
std::string FloatToStr(long double Value) {
  char Text[64];
  const auto Result = std::to_chars(Text, Text + sizeof Text, Value, std::chars_format::general, 15);
  return std::string(Text, Result.ptr);
}

// Edge plus extent in 64 bits, kept within the 32-bit range: stored placements come from a file
// the user may have edited, and must not overflow.
int32_t AddClamped(int64_t A, int64_t B) {
  const int64_t Sum = A + B;
  if (Sum > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (Sum < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(Sum);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSettingSerializer

long double TSettingSerializer::SerializeFloat(const std::string& Name, long double Value, long double Default) {
  return StrToFloatDef(SerializeString(Name, FloatToStr(Value), FloatToStr(Default)), Default);
}

int32_t TSettingSerializer::SerializeInteger(const std::string& Name, int32_t Value, int32_t Default) {
  return StrToIntDef(SerializeString(Name, IntToStr(Value), IntToStr(Default)), Default);
}

bool TSettingSerializer::SerializeBool(const std::string& Name, bool Value, bool Default) {
  return SerializeInteger(Name, Value ? 1 : 0, Default ? 1 : 0) != 0;
}

bool TSettingSerializer::SerializeBool(const std::string& Name, bool Value) {
  return SerializeBool(Name, Value, Value);
}

int32_t TSettingSerializer::SerializeInteger(const std::string& Name, int32_t Value) {
  return SerializeInteger(Name, Value, Value);
}

long double TSettingSerializer::SerializeFloat(const std::string& Name, long double Value) {
  return SerializeFloat(Name, Value, Value);
}

std::string TSettingSerializer::SerializeString(const std::string& Name, const std::string& Value) {
  return SerializeString(Name, Value, Value);
}

void TSettingSerializer::SerializeForm(IFormPlacement& Form) {
  TFormPlacement Placement;
  if (!Form.GetPlacement(Placement)) return;
  const std::string P = Form.ComponentName();
  TRect& R = Placement.NormalBounds;

  const int32_t Left = SerializeInteger(P + "_Left", R.Left);
  const int32_t Top = SerializeInteger(P + "_Top", R.Top);
  // The extents are taken against the new edges, so a reader that restores the left edge but
  // has no width keeps the old right edge.
  const int32_t Width = SerializeInteger(P + "_Width", AddClamped(R.Right, -int64_t{Left}));
  const int32_t Height = SerializeInteger(P + "_Height", AddClamped(R.Bottom, -int64_t{Top}));
  R = TRect{Left, Top, AddClamped(Left, Width), AddClamped(Top, Height)};

  if (Placement.ShowState != plHidden)
    Placement.ShowState =
        SerializeBool(P + "_Maximized", Placement.ShowState == plMaximized) ? plMaximized : plNormal;
  Form.SetPlacement(Placement);
}

// ---------------------------------------------------------------------------------------------
// TStructuredSerializer

void TStructuredSerializer::SerializeObject(const std::string& Name, const TSerializeObjectCallback& Callback) {
  TObjectCallbackHandler Handler(Callback);
  SerializeList(Name, [&Handler](TSerializeListAction Action, TStructuredSerializer* Serializer, int32_t Index,
                                 int32_t& Count) { Handler.ListCallback(Action, Serializer, Index, Count); });
  // On this path an exception of the defaults reaches the caller; when SerializeList raised,
  // the handler's destructor applies them while the first exception propagates.
  Handler.ApplyDefaults();
}

// ---------------------------------------------------------------------------------------------
// TDefaultReader

long double TDefaultReader::SerializeFloat(const std::string&, long double, long double Default) { return Default; }

int32_t TDefaultReader::SerializeInteger(const std::string&, int32_t, int32_t Default) { return Default; }

std::string TDefaultReader::SerializeString(const std::string&, const std::string&, const std::string& Default) {
  return Default;
}

void TDefaultReader::SerializeList(const std::string&, const TSerializeListCallback& Callback) {
  int32_t Count = 0;
  Callback(slClear, nullptr, 0, Count);
}

TDefaultReader* DefaultReader() {
  static TDefaultReader Reader;
  return &Reader;
}

// ---------------------------------------------------------------------------------------------
// TObjectCallbackHandler

TObjectCallbackHandler::TObjectCallbackHandler(TSerializeObjectCallback Callback) : Callback(std::move(Callback)) {}

TObjectCallbackHandler::~TObjectCallbackHandler() {
  try {
    ApplyDefaults();
  } catch (...) {
    // Only reached while another exception is propagating out of SerializeObject.
  }
}

void TObjectCallbackHandler::ListCallback(TSerializeListAction Action, TStructuredSerializer* Serializer, int32_t,
                                          int32_t& Count) {
  switch (Action) {
    case slClear:
      NeedDefault = true;
      break;
    case slRead:
    case slWrite:
      Callback(Serializer);
      NeedDefault = false;
      break;
    case slGetCount:
      Count = 1;
      break;
  }
}

void TObjectCallbackHandler::ApplyDefaults() {
  if (!NeedDefault) return;
  NeedDefault = false;
  Callback(DefaultReader());
}

// ---------------------------------------------------------------------------------------------
// TAutoSerializer

TAutoSerializer::TAutoSerializer(TStructuredSerializer* Serializer) : FSerializer(Serializer) {}

TAutoSerializer::~TAutoSerializer() { Free(FSerializer); }

bool TAutoSerializer::GetInterface(const TGUID& IID, void** Obj) {
  return FindInterface<IStructuredSerializer>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
}

}  // namespace varnix
