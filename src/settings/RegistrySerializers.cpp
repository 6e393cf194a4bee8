#include "settings/RegistrySerializers.h"

#include "common/LogFile.h"
#include "common/TextEncoding.h"

namespace varnix {

namespace {

bool IsSeparator(char C) { return C == '/' || C == '\\'; }

char LowerAscii(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool SameTextPrefix(const std::string& Text, size_t Offset, const std::string& Prefix) {
  if (Text.size() - Offset < Prefix.size()) return false;
  for (size_t I = 0; I < Prefix.size(); ++I)
    if (LowerAscii(Text[Offset + I]) != LowerAscii(Prefix[I])) return false;
  return true;
}

bool SameText(const std::string& A, const std::string& B) { return A.size() == B.size() && SameTextPrefix(A, 0, B); }

// Names travel to the store as UTF-8, like the values.
std::string StoreName(const std::string& Name) { return Latin1ToUtf8(Name); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// TInternalRegistry

TInternalRegistry::TInternalRegistry(HKEY Root, bool ReadOnly) : FReadOnly(ReadOnly) {
  if (Root != HKEY_CURRENT_USER)
    throw ERegistrySerializerException("Only HKEY_CURRENT_USER is currently supported for registry serializers on Mac OS X");
}

TInternalRegistry::~TInternalRegistry() {
  try {
    CloseKey();
    CloseDomain();
  } catch (...) {
    // Settings that cannot be stored are lost silently; a destructor must not throw.
  }
}

std::string TInternalRegistry::Domain() const { return FApplicationID ? StoreName(*FApplicationID) : std::string(); }

void TInternalRegistry::CloseDomain() {
  // On this platform a domain's changes are kept in memory until the domain is synchronised, so
  // a domain is synchronised whenever a context lets go of it, not only at the end.
  if (FApplicationID) PreferencesAppSynchronize(Domain());
  FApplicationID.reset();
}

bool TInternalRegistry::ScanKey(const std::string& Key, int32_t& Position, std::string& Component) {
  const auto Length = static_cast<int32_t>(Key.size());
  int32_t P = Position;
  while (P <= Length && !IsSeparator(Key[P - 1])) ++P;
  if (P == Position) return false;
  Component = Key.substr(Position - 1, P - Position);
  Position = P + 1;
  return true;
}

bool TInternalRegistry::OpenKey(const std::string& Key, bool MayCreate) {
  // An empty CurrentKey means that no key is open, so it never matches. A key opened for
  // reading is opened afresh when it is to be written: its dictionaries are not writable copies
  // and would not be stored when it is closed.
  if (!FCurrentKey.empty() && SameText(FCurrentKey, Key) && (FCurrentWritable || !MayCreate)) return true;
  CloseKey();

  int32_t Position;
  const size_t NameLength = FApplicationName.size();
  if (FApplicationID && SameTextPrefix(Key, 0, FApplicationName) &&
      (Key.size() == NameLength || IsSeparator(Key[NameLength]))) {
    Position = static_cast<int32_t>(NameLength) + 2;
  } else {
    CloseDomain();
    Position = 1;
    std::string First;
    FApplicationName = ScanKey(Key, Position, First) ? First : Key;
    if (FApplicationName.compare(0, 4, "com.") != 0)
      throw ERegistrySerializerException("Registry serializer key should start with an application ID on Mac OS X");
    FApplicationID = FApplicationName;
  }

  std::string Component;
  if (ScanKey(Key, Position, Component)) {
    std::optional<TPrefValue> Top = PreferencesCopyAppValue(StoreName(Component), Domain());
    if (Top && Top->Type() == pvDictionary) {
      FRootDictionary = std::move(Top);
    } else {
      if (FReadOnly || !MayCreate) return false;
      FRootDictionary = TPrefValue::Dictionary();
    }
    FRootName = Component;
    FCurrentDictionary = &FRootDictionary->DictionaryValue();

    while (ScanKey(Key, Position, Component)) {
      TPrefDictionary& Parent = *FCurrentDictionary;
      const std::string Name = StoreName(Component);
      const auto It = Parent.find(Name);
      if (It != Parent.end() && It->second.Type() == pvDictionary) {
        FCurrentDictionary = &It->second.DictionaryValue();
      } else {
        if (FReadOnly || !MayCreate) {
          CloseKey();
          return false;
        }
        TPrefValue& Entry = Parent[Name];
        Entry = TPrefValue::Dictionary();
        FCurrentDictionary = &Entry.DictionaryValue();
      }
    }
  }
  FCurrentKey = Key;
  FCurrentWritable = MayCreate;
  return true;
}

void TInternalRegistry::CloseKey() {
  if (FRootDictionary) {
    FCurrentDictionary = nullptr;
    if (FCurrentWritable) PreferencesSetAppValue(StoreName(FRootName), *FRootDictionary, Domain());
    FRootDictionary.reset();
  }
  FCurrentDictionary = nullptr;
  FCurrentKey.clear();
  FCurrentWritable = false;
}

bool TInternalRegistry::KeyExists(const std::string& Key) { return OpenKey(Key, false); }

void TInternalRegistry::DeleteKey(const std::string& Key) {
  if (Key.size() < 2) return;
  for (size_t I = Key.size() - 1; I-- > 0;) {
    if (!IsSeparator(Key[I])) continue;
    const std::string Name = Key.substr(I + 1);
    if (OpenKey(Key.substr(0, I), true)) {
      if (FCurrentDictionary)
        FCurrentDictionary->erase(StoreName(Name));
      else
        PreferencesSetAppValue(StoreName(Name), std::nullopt, Domain());
    }
    return;
  }
}

std::optional<TPrefValue> TInternalRegistry::CopyValueFromCurrentKey(const std::string& Name) {
  if (FCurrentDictionary) {
    const auto It = FCurrentDictionary->find(StoreName(Name));
    if (It == FCurrentDictionary->end()) return std::nullopt;
    return It->second;
  }
  if (!FApplicationID) return std::nullopt;
  return PreferencesCopyAppValue(StoreName(Name), Domain());
}

std::optional<TPrefValue> TInternalRegistry::CopyValue(const std::string& Key, const std::string& Name) {
  if (!OpenKey(Key, false)) return std::nullopt;
  return CopyValueFromCurrentKey(Name);
}

void TInternalRegistry::SaveValueToCurrentKey(const std::string& Name, const TPrefValue& Value) {
  if (FCurrentDictionary)
    (*FCurrentDictionary)[StoreName(Name)] = Value;
  else if (FApplicationID)
    PreferencesSetAppValue(StoreName(Name), Value, Domain());
}

void TInternalRegistry::SaveValue(const std::string& Key, const std::string& Name, const TPrefValue& Value) {
  if (OpenKey(Key, true)) SaveValueToCurrentKey(Name, Value);
}

int32_t TInternalRegistry::LoadInteger(const std::string& Key, const std::string& Name, int32_t Default) {
  const std::optional<TPrefValue> V = CopyValue(Key, Name);
  return V && V->Type() == pvInteger ? V->IntegerValue() : Default;
}

std::string TInternalRegistry::LoadString(const std::string& Key, const std::string& Name,
                                          const std::string& Default) {
  const std::optional<TPrefValue> V = CopyValue(Key, Name);
  return V && V->Type() == pvString ? V->StringValue() : Default;
}

void TInternalRegistry::SaveInteger(const std::string& Key, const std::string& Name, int32_t Value) {
  SaveValue(Key, Name, TPrefValue::Integer(Value));
}

void TInternalRegistry::SaveString(const std::string& Key, const std::string& Name, const std::string& Value) {
  SaveValue(Key, Name, TPrefValue::String(Value));
}

// ---------------------------------------------------------------------------------------------
// Key serializers

TInternalKeySerializer::TInternalKeySerializer(TInternalRegistry* Registry, const std::string& KeyPath)
    : KeyPath(KeyPath), Registry(Registry) {
  if (this->KeyPath.empty() || !IsSeparator(this->KeyPath.back())) this->KeyPath += '/';
}

std::string TInternalKeySerializer::GetSubKeyNumeric(const std::string& Base, int32_t Index) {
  return Format("%s_%.3d", Base.c_str(), Index);
}

int32_t TInternalKeyReader::SerializeInteger(const std::string& Name, int32_t, int32_t Default) {
  return Registry->LoadInteger(KeyPath, Name, Default);
}

std::string TInternalKeyReader::SerializeString(const std::string& Name, const std::string&,
                                                const std::string& Default) {
  return Registry->LoadString(KeyPath, Name, Default);
}

void TInternalKeyReader::SerializeList(const std::string& Name, const TSerializeListCallback& Callback) {
  int32_t Count = 0;
  Callback(slClear, nullptr, 0, Count);
  const std::string Base = GetSubKeyBase(Name);
  for (int32_t I = 0;; ++I) {
    std::string Element;
    if (I == 0 && Registry->KeyExists(Base)) {
      Element = Base;
    } else {
      Element = GetSubKeyNumeric(Base, I);
      if (!Registry->KeyExists(Element)) break;
    }
    TOwned<TInternalKeyReader> Reader(NewObject<TInternalKeyReader>(Registry, Element));
    int32_t Scratch = 0;
    Callback(slRead, Reader.get(), I, Scratch);
  }
}

int32_t TInternalKeyWriter::SerializeInteger(const std::string& Name, int32_t Value, int32_t) {
  Registry->SaveInteger(KeyPath, Name, Value);
  return Value;
}

std::string TInternalKeyWriter::SerializeString(const std::string& Name, const std::string& Value,
                                                const std::string&) {
  Registry->SaveString(KeyPath, Name, Value);
  return Value;
}

void TInternalKeyWriter::SerializeList(const std::string& Name, const TSerializeListCallback& Callback) {
  int32_t Count = 0;
  Callback(slGetCount, nullptr, 0, Count);
  const std::string Base = GetSubKeyBase(Name);
  for (int32_t I = 0;; ++I) {
    const std::string Numbered = GetSubKeyNumeric(Base, I);
    std::string Element;
    if (I == 0 && Count == 1) {
      Element = Base;
      Registry->DeleteKey(Numbered);
    } else {
      Element = Numbered;
      if (I == 0) Registry->DeleteKey(Base);
    }
    if (I < Count) {
      TOwned<TInternalKeyWriter> Writer(NewObject<TInternalKeyWriter>(Registry, Element));
      int32_t Scratch = Count;
      Callback(slWrite, Writer.get(), I, Scratch);
    } else if (Registry->KeyExists(Element)) {
      // A stale element of an earlier, longer list.
      Registry->DeleteKey(Element);
    } else {
      break;
    }
  }
}

// ---------------------------------------------------------------------------------------------
// TRegistryReader / TRegistryWriter

TRegistryReader::TRegistryReader(const std::string& KeyPath, HKEY Root)
    : FRegistry(NewObject<TInternalRegistry>(Root, false)),
      FKey(NewObject<TInternalKeyReader>(FRegistry.get(), KeyPath)) {}

TRegistryReader::~TRegistryReader() {
  FKey.reset();
  FRegistry.reset();
}

int32_t TRegistryReader::SerializeInteger(const std::string& Name, int32_t Value, int32_t Default) {
  return FKey->SerializeInteger(Name, Value, Default);
}

std::string TRegistryReader::SerializeString(const std::string& Name, const std::string& Value,
                                             const std::string& Default) {
  return FKey->SerializeString(Name, Value, Default);
}

void TRegistryReader::SerializeList(const std::string& Name, const TSerializeListCallback& Callback) {
  FKey->SerializeList(Name, Callback);
}

TRegistryWriter::TRegistryWriter(const std::string& KeyPath, HKEY Root)
    : FRegistry(NewObject<TInternalRegistry>(Root, false)),
      FKey(NewObject<TInternalKeyWriter>(FRegistry.get(), KeyPath)) {}

TRegistryWriter::~TRegistryWriter() {
  FKey.reset();
  FRegistry.reset();
}

int32_t TRegistryWriter::SerializeInteger(const std::string& Name, int32_t Value, int32_t Default) {
  return FKey->SerializeInteger(Name, Value, Default);
}

std::string TRegistryWriter::SerializeString(const std::string& Name, const std::string& Value,
                                             const std::string& Default) {
  return FKey->SerializeString(Name, Value, Default);
}

void TRegistryWriter::SerializeList(const std::string& Name, const TSerializeListCallback& Callback) {
  FKey->SerializeList(Name, Callback);
}

namespace {

InterfacePtr<IStructuredSerializer> Wrap(TOwned<TStructuredSerializer> Serializer) {
  InterfacePtr<IStructuredSerializer> Result(NewObject<TAutoSerializer>(Serializer.get()));
  Serializer.release();  // the wrapper owns it now
  return Result;
}

}  // namespace

InterfacePtr<IStructuredSerializer> AutoRegistryReader(const std::string& KeyPath, HKEY Root) {
  return Wrap(TOwned<TStructuredSerializer>(NewObject<TRegistryReader>(KeyPath, Root)));
}

InterfacePtr<IStructuredSerializer> AutoRegistryWriter(const std::string& KeyPath, HKEY Root) {
  return Wrap(TOwned<TStructuredSerializer>(NewObject<TRegistryWriter>(KeyPath, Root)));
}

}  // namespace varnix
