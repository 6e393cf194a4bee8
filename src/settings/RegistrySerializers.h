// The reader and writer of the settings protocol over the per-user preference store
// (platform/os/Preferences.h), addressed with registry-style key paths.
//
// Key paths: components separated by "/" or "\" (both accepted everywhere); an empty component
// ends the path. The first component is the application identifier and must start with "com.";
// it names the preference domain. A key of the identifier alone addresses the domain itself:
// its values are top-level values of the domain. The second component names one top-level value
// holding a dictionary, and every further component a dictionary entry of the dictionary above;
// the key's values are the entries of the innermost dictionary.
//
// Encodings: integers (and Booleans, as 0 and 1) are stored as integers, strings as strings
// (8-bit Windows Latin-1 text, converted at the store), floats as their text. A stored value of
// another type than the one asked for reads as absent; a stored string with characters outside
// the code page reads as the empty string.
//
// Lists: the elements of list N under key K are the sub-keys K/N_000, K/N_001, ... ("%s_%.3d"),
// consecutive from 000; a list of exactly one element is the sub-key K/N instead, which is also
// where SerializeObject puts its object. A writer removes stale elements of an earlier, longer
// list up to the first gap.
//
// Typical use, for one pass:
//
//     InterfacePtr<IStructuredSerializer> W = AutoRegistryWriter("com.example.app", HKEY_CURRENT_USER);
//     Form->Serialize(W->Serializer());
//     W = nullptr;  // the settings are in the store once the writer is released
//
// Changes below a key reach the store when the key is closed, as one replacement of the whole
// top-level value; the store is synchronised with its file when the store context is freed.
// Everything here runs on the UI thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/Objects.h"
#include "platform/os/Preferences.h"
#include "settings/Serializers.h"

namespace varnix {

using HKEY = uint32_t;
// The only root key accepted.
inline constexpr HKEY HKEY_CURRENT_USER = 0x80000001u;

// Configuration errors: a root other than HKEY_CURRENT_USER, a key path that does not start with
// an application identifier.
VARNIX_DECLARE_EXCEPTION(ERegistrySerializerException, Exception);

// One context of access to the preference store: the open domain and at most one open key.
class TInternalRegistry : public TObject {
 public:
  // Raises ERegistrySerializerException ("Only HKEY_CURRENT_USER is currently supported for
  // registry serializers on Mac OS X") for any other root. With ReadOnly no missing dictionary is
  // ever created.
  TInternalRegistry(HKEY Root, bool ReadOnly);
  // Closes the open key and synchronises the open domain with its file. Never throws.
  ~TInternalRegistry() override;

  // Opens Key, closing the key open before (which writes it back when it was writable). With
  // MayCreate, missing dictionaries are created (or values of another type replaced by one);
  // without, a missing one makes the result false and leaves no key open. A key that is already
  // open is reused as it is, unless it was opened for reading and MayCreate is asked for.
  // Raises ERegistrySerializerException ("Registry serializer key should start with an
  // application ID on Mac OS X") when the first component does not start with "com.".
  bool OpenKey(const std::string& Key, bool MayCreate);
  // Writes the open key's dictionaries back when it was opened with MayCreate; no key stays
  // open. The domain stays open.
  void CloseKey();
  // OpenKey without permission to create.
  bool KeyExists(const std::string& Key);
  // Removes the last component of Key from its parent key (created when missing). Nothing
  // happens when Key has no separator before its last character.
  void DeleteKey(const std::string& Key);
  // The next component of Key from the 1-based Position up to the next separator or the end.
  // When it is not empty: Component is set, Position moves past the separator, true. Otherwise
  // nothing changes and the result is false.
  static bool ScanKey(const std::string& Key, int32_t& Position, std::string& Component);

  std::optional<TPrefValue> CopyValueFromCurrentKey(const std::string& Name);
  std::optional<TPrefValue> CopyValue(const std::string& Key, const std::string& Name);
  void SaveValueToCurrentKey(const std::string& Name, const TPrefValue& Value);
  void SaveValue(const std::string& Key, const std::string& Name, const TPrefValue& Value);

  int32_t LoadInteger(const std::string& Key, const std::string& Name, int32_t Default);
  std::string LoadString(const std::string& Key, const std::string& Name, const std::string& Default);
  void SaveInteger(const std::string& Key, const std::string& Name, int32_t Value);
  void SaveString(const std::string& Key, const std::string& Name, const std::string& Value);

  bool ReadOnly() const { return FReadOnly; }
  // The key open, exactly as passed to OpenKey; empty when none is open.
  const std::string& CurrentKey() const { return FCurrentKey; }
  // The identifier of the open domain (8-bit), or nothing.
  const std::optional<std::string>& ApplicationID() const { return FApplicationID; }

 private:
  // The open domain's identifier as the store names it (UTF-8).
  std::string Domain() const;
  void CloseDomain();

  bool FReadOnly;
  std::optional<std::string> FApplicationID;
  std::string FCurrentKey;
  // The dictionary holding the open key's values, inside FRootDictionary; null when the key is
  // the domain itself.
  TPrefDictionary* FCurrentDictionary = nullptr;
  bool FCurrentWritable = false;
  // The first component of the key path that opened the domain.
  std::string FApplicationName;
  // A copy of the top-level value named by the second component, while such a key is open.
  std::optional<TPrefValue> FRootDictionary;
  std::string FRootName;
};

// A serializer positioned at one key path of a store context.
class TInternalKeySerializer : public TStructuredSerializer {
 public:
  // The context is not owned. KeyPath gets a "/" appended unless it ends with "/" or "\".
  TInternalKeySerializer(TInternalRegistry* Registry, const std::string& KeyPath);

  std::string GetSubKeyBase(const std::string& Name) const { return KeyPath + Name; }
  // Base + "_" + Index with at least three digits.
  static std::string GetSubKeyNumeric(const std::string& Base, int32_t Index);

  std::string KeyPath;
  TInternalRegistry* Registry;
};

// Reads integers, strings and lists at its key; the value arguments are ignored.
class TInternalKeyReader : public TInternalKeySerializer {
 public:
  using TInternalKeySerializer::TInternalKeySerializer;
  using TSettingSerializer::SerializeInteger;
  using TSettingSerializer::SerializeString;

  int32_t SerializeInteger(const std::string& Name, int32_t Value, int32_t Default) override;
  std::string SerializeString(const std::string& Name, const std::string& Value,
                              const std::string& Default) override;
  // Elements K/N (when present) or K/N_000, then K/N_001, ... up to the first missing one; each
  // is read through a reader of its own, and slRead gets the element's position as Index.
  void SerializeList(const std::string& Name, const TSerializeListCallback& Callback) override;
};

// Writes integers, strings and lists at its key and returns the values.
class TInternalKeyWriter : public TInternalKeySerializer {
 public:
  using TInternalKeySerializer::TInternalKeySerializer;
  using TSettingSerializer::SerializeInteger;
  using TSettingSerializer::SerializeString;

  int32_t SerializeInteger(const std::string& Name, int32_t Value, int32_t Default) override;
  std::string SerializeString(const std::string& Name, const std::string& Value,
                              const std::string& Default) override;
  void SerializeList(const std::string& Name, const TSerializeListCallback& Callback) override;
};

// The reader for a key path: owns its store context and its key reader.
class TRegistryReader : public TStructuredSerializer {
 public:
  using TSettingSerializer::SerializeInteger;
  using TSettingSerializer::SerializeString;

  TRegistryReader(const std::string& KeyPath, HKEY Root);
  ~TRegistryReader() override;

  int32_t SerializeInteger(const std::string& Name, int32_t Value, int32_t Default) override;
  std::string SerializeString(const std::string& Name, const std::string& Value,
                              const std::string& Default) override;
  void SerializeList(const std::string& Name, const TSerializeListCallback& Callback) override;

 private:
  TOwned<TInternalRegistry> FRegistry;
  TOwned<TInternalKeyReader> FKey;
};

// The writer for a key path: owns its store context and its key writer. Freeing it completes the
// save.
class TRegistryWriter : public TStructuredSerializer {
 public:
  using TSettingSerializer::SerializeInteger;
  using TSettingSerializer::SerializeString;

  TRegistryWriter(const std::string& KeyPath, HKEY Root);
  ~TRegistryWriter() override;

  int32_t SerializeInteger(const std::string& Name, int32_t Value, int32_t Default) override;
  std::string SerializeString(const std::string& Name, const std::string& Value,
                              const std::string& Default) override;
  void SerializeList(const std::string& Name, const TSerializeListCallback& Callback) override;

 private:
  TOwned<TInternalRegistry> FRegistry;
  TOwned<TInternalKeyWriter> FKey;
};

// A reader (respectively writer) for KeyPath under Root, wrapped in a TAutoSerializer. Raise
// ERegistrySerializerException for a root other than HKEY_CURRENT_USER.
InterfacePtr<IStructuredSerializer> AutoRegistryReader(const std::string& KeyPath, HKEY Root);
InterfacePtr<IStructuredSerializer> AutoRegistryWriter(const std::string& KeyPath, HKEY Root);

}  // namespace varnix
