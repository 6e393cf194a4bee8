// The settings protocol: an object that has settings offers one operation,
//
//     void Serialize(TStructuredSerializer* S) {
//       Width = S->SerializeInteger("Width", Width, 100);
//       Smooth = S->SerializeBool("Smooth", Smooth, true);
//     }
//
// and the serializer it is handed decides what happens. A writer stores each current value and
// returns it unchanged; a reader returns the stored value, or the default when nothing usable is
// stored; DefaultReader() returns every default. The same code therefore saves, loads or resets.
//
// Nested data goes through callbacks that the serializer drives: SerializeList runs the list
// protocol (below) and SerializeObject stores one nested object as a list of one element.
//
// Serializers are created for one pass and freed after it; they are used on the UI thread only.
// Exceptions of a concrete serializer or of a callback propagate to the caller of Serialize.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "common/Objects.h"
#include "common/Types.h"

namespace varnix {

class TStructuredSerializer;

enum TSerializeListAction { slClear, slRead, slGetCount, slWrite };

// The list protocol, which every SerializeList implementation follows and every list callback
// serves:
//   * a reader calls slClear once (Serializer null: clear the list), then slRead once per stored
//     element in stored order, with a serializer positioned at that element;
//   * a writer calls slGetCount once (Serializer null, Count 0 on entry: set Count to the number
//     of elements), then slWrite for Index 0 .. Count - 1, each time with a serializer positioned
//     at a fresh element, to which the callback writes element Index.
// The serializer passed with slRead and slWrite belongs to the list serializer and lives only
// for that one call.
using TSerializeListCallback = std::function<void(TSerializeListAction Action, TStructuredSerializer* Serializer,
                                                  int32_t Index, int32_t& Count)>;
using TSerializeObjectCallback = std::function<void(TStructuredSerializer* Serializer)>;

// The show state of a window placement.
enum TPlacementShowState { plHidden, plNormal, plMaximized };

// A window's placement: its normal (restored) bounds in screen coordinates, right and bottom
// exclusive, and its show state. A form is visible unless the state is plHidden.
struct TFormPlacement {
  TRect NormalBounds;
  TPlacementShowState ShowState = plNormal;
};

// What SerializeForm needs of a form: its component name, which prefixes the stored entries,
// and its window placement. The UI library's forms implement it.
class IFormPlacement {
 public:
  virtual std::string ComponentName() const = 0;
  // False when the window system cannot report the placement.
  virtual bool GetPlacement(TFormPlacement& Placement) = 0;
  virtual void SetPlacement(const TFormPlacement& Placement) = 0;

 protected:
  ~IFormPlacement() = default;
};

// The root of the serializer family.
class TSerializer : public TObject {};

// Flat named values. A concrete serializer defines SerializeString; integers and floats are
// converted to and from text by the defaults below unless it overrides them.
class TSettingSerializer : public TSerializer {
 public:
  // The float becomes its general decimal text with up to 15 significant digits and "." as the
  // decimal separator whatever the locale; the returned text is parsed the same way, and a text
  // that is not a number yields Default.
  virtual long double SerializeFloat(const std::string& Name, long double Value, long double Default);
  // Decimal text both ways; a returned text that is not a 32-bit integer yields Default.
  virtual int32_t SerializeInteger(const std::string& Name, int32_t Value, int32_t Default);
  virtual std::string SerializeString(const std::string& Name, const std::string& Value,
                                      const std::string& Default) = 0;

  // Through SerializeInteger as 1 or 0; any stored integer other than 0 reads as true.
  bool SerializeBool(const std::string& Name, bool Value, bool Default);
  // The forms below use the value as its own default: for settings whose natural default is
  // whatever the object already holds.
  bool SerializeBool(const std::string& Name, bool Value);
  int32_t SerializeInteger(const std::string& Name, int32_t Value);
  long double SerializeFloat(const std::string& Name, long double Value);
  std::string SerializeString(const std::string& Name, const std::string& Value);

  // Saves or restores the form's placement as the integers P_Left, P_Top, P_Width, P_Height and,
  // only while the form is visible, the Boolean P_Maximized, P being the component name. Each
  // entry defaults to the current value, so a reader that lacks one leaves that part as it is;
  // the width and height apply to the restored left and top edges. A hidden form stays hidden.
  // Nothing happens when the placement cannot be queried.
  void SerializeForm(IFormPlacement& Form);
};

// Adds named lists and objects.
class TStructuredSerializer : public TSettingSerializer {
 public:
  // Drives Callback through the list protocol for the list Name.
  virtual void SerializeList(const std::string& Name, const TSerializeListCallback& Callback) = 0;
  // Stores or loads one nested object as a list of exactly one element. When a reader does not
  // find the element, Callback is called with DefaultReader() instead, so the object gets its
  // defaults rather than keeping stale values.
  void SerializeObject(const std::string& Name, const TSerializeObjectCallback& Callback);
};

// Yields every default and stores nothing. SerializeList only clears the list.
class TDefaultReader : public TStructuredSerializer {
 public:
  using TSettingSerializer::SerializeFloat;
  using TSettingSerializer::SerializeInteger;
  using TSettingSerializer::SerializeString;

  long double SerializeFloat(const std::string& Name, long double Value, long double Default) override;
  int32_t SerializeInteger(const std::string& Name, int32_t Value, int32_t Default) override;
  std::string SerializeString(const std::string& Name, const std::string& Value,
                              const std::string& Default) override;
  void SerializeList(const std::string& Name, const TSerializeListCallback& Callback) override;
};

// The program's one default reader. Stateless, so it may be shared freely.
TDefaultReader* DefaultReader();

// Adapts an object callback to the list protocol for SerializeObject: a list of one element
// whose element the object callback serializes.
class TObjectCallbackHandler : public TObject {
 public:
  explicit TObjectCallbackHandler(TSerializeObjectCallback Callback);
  // Applies the defaults when they are still owed (see ApplyDefaults). An exception of the
  // callback is swallowed here, since a destructor must not throw; SerializeObject therefore
  // calls ApplyDefaults itself on its normal path and leaves only the unwinding case to this.
  ~TObjectCallbackHandler() override;

  // slClear: the defaults are owed; slRead and slWrite: Callback serializes the element and the
  // defaults are no longer owed; slGetCount: one element.
  void ListCallback(TSerializeListAction Action, TStructuredSerializer* Serializer, int32_t Index, int32_t& Count);
  // When NeedDefault is set, clears it and calls Callback with DefaultReader().
  void ApplyDefaults();

  TSerializeObjectCallback Callback;
  bool NeedDefault = false;
};

// The reference-counted handle through which serializers are handed out.
struct IStructuredSerializer : virtual IUnknown {
  // {94C8706B-2316-4F78-B7F5-AF4F109995C6}
  static constexpr TGUID IID = {0x94C8706B, 0x2316, 0x4F78, {0xB7, 0xF5, 0xAF, 0x4F, 0x10, 0x99, 0x95, 0xC6}};
  // The serializer held; it lives as long as the interface is referenced.
  virtual TStructuredSerializer* Serializer() = 0;
};

// Owns one serializer and frees it when the last IStructuredSerializer reference goes. For a
// writer, releasing the interface is what completes the save.
class TAutoSerializer : public TInterfacedObject, public IStructuredSerializer {
 public:
  // Takes ownership of Serializer.
  explicit TAutoSerializer(TStructuredSerializer* Serializer);
  ~TAutoSerializer() override;

  TStructuredSerializer* Serializer() override { return FSerializer; }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override;

 private:
  TStructuredSerializer* FSerializer;
};

}  // namespace varnix
