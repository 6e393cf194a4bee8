#include "settings/RegistrySerializers.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/os/OsTestSupport.h"

namespace varnix {
namespace {

using nlohmann::json;
using testing::ReadFile;
using testing::TEnvOverride;
using testing::TTempDir;
using testing::WriteFile;

constexpr const char* App = "com.varnix.test";

// Each test has a preference folder of its own.
class RegistryTest : public ::testing::Test {
 protected:
  std::string File(const std::string& ID = App) const { return FDir / (ID + ".json"); }
  json Stored(const std::string& ID = App) const { return json::parse(ReadFile(File(ID))); }
  // Replaces the domain's file, as another program would, and makes the store re-read it.
  void Store(const json& J) {
    WriteFile(File(), J.dump());
    PreferencesAppSynchronize(App);
  }
  // The top-level names of the domain's file.
  std::vector<std::string> Names() const {
    std::vector<std::string> N;
    const json J = Stored();
    for (auto It = J.begin(); It != J.end(); ++It) N.push_back(It.key());
    return N;
  }

  TTempDir FDir;
  TEnvOverride FPrefsDir{"VARNIX_PREFS_DIR", FDir.Path()};
};

// Runs Fn with a writer for Key and releases it, which completes the save.
template <class F>
void Write(const std::string& Key, F Fn) {
  InterfacePtr<IStructuredSerializer> W = AutoRegistryWriter(Key, HKEY_CURRENT_USER);
  Fn(W->Serializer());
}

template <class F>
void Read(const std::string& Key, F Fn) {
  InterfacePtr<IStructuredSerializer> R = AutoRegistryReader(Key, HKEY_CURRENT_USER);
  Fn(R->Serializer());
}

TEST_F(RegistryTest, TheApplicationKeyHoldsTopLevelValuesWithTheirTypes) {
  Write(App, [](TStructuredSerializer* S) {
    EXPECT_EQ(S->SerializeInteger("MainForm_Left", 120, 0), 120);
    EXPECT_TRUE(S->SerializeBool("SampleAllLayers", true, false));
    EXPECT_EQ(S->SerializeFloat("Zoom", 2.5L, 1.0L), 2.5L);
    EXPECT_EQ(S->SerializeString("Caption", "Caf\xE9", ""), "Caf\xE9");
  });
  EXPECT_EQ(Stored(), json({{"MainForm_Left", 120}, {"SampleAllLayers", 1}, {"Zoom", "2.5"}, {"Caption", "Caf\xC3\xA9"}}));

  Read(App, [](TStructuredSerializer* S) {
    EXPECT_EQ(S->SerializeInteger("MainForm_Left", 0, 7), 120);
    EXPECT_TRUE(S->SerializeBool("SampleAllLayers", false, false));
    EXPECT_EQ(S->SerializeFloat("Zoom", 0.0L, 1.0L), 2.5L);
    EXPECT_EQ(S->SerializeString("Caption", "", "x"), "Caf\xE9");
    EXPECT_EQ(S->SerializeInteger("Missing", 0, 7), 7);
  });
}

TEST_F(RegistryTest, ValuesOfAnotherTypeReadAsTheDefault) {
  Store({{"Number", 5}, {"Text", "12"}, {"Dict", json::object()}, {"Omega", "\u03a9"}, {"Real", 2.5}});
  Read(App, [](TStructuredSerializer* S) {
    EXPECT_EQ(S->SerializeString("Number", "", "default"), "default");
    EXPECT_EQ(S->SerializeInteger("Text", 0, 3), 3);
    EXPECT_EQ(S->SerializeInteger("Dict", 0, 3), 3);
    EXPECT_EQ(S->SerializeInteger("Real", 0, 3), 3);
    EXPECT_EQ(S->SerializeString("Omega", "", "default"), "") << "outside the code page: empty, not the default";
  });
}

TEST_F(RegistryTest, ConfigurationErrorsRaiseWithTheirMessages) {
  for (HKEY Root : {HKEY{0x80000002u}, HKEY{0}}) {
    SCOPED_TRACE(Root);
    for (auto Factory : {&AutoRegistryReader, &AutoRegistryWriter}) {
      try {
        Factory(App, Root);
        ADD_FAILURE() << "no exception";
      } catch (const ERegistrySerializerException& E) {
        EXPECT_STREQ(E.what(), "Only HKEY_CURRENT_USER is currently supported for registry serializers on Mac OS X");
      }
    }
  }
  for (const char* Key : {"Com.varnix.test", "org.varnix", "com", "/com.varnix.test", "", "xcom.varnix"}) {
    SCOPED_TRACE(Key);
    InterfacePtr<IStructuredSerializer> R = AutoRegistryReader(Key, HKEY_CURRENT_USER);
    try {
      R->Serializer()->SerializeInteger("A", 0, 0);
      ADD_FAILURE() << "no exception";
    } catch (const ERegistrySerializerException& E) {
      EXPECT_STREQ(E.what(), "Registry serializer key should start with an application ID on Mac OS X");
    }
  }
  EXPECT_TRUE(testing::ListFolder(FDir.Path()).empty());
}

TEST_F(RegistryTest, SubKeysAreNestedDictionaries) {
  // Both separators are accepted, and an empty component ends the path.
  Write(std::string(App) + "\\Editor/Options//Ignored", [](TStructuredSerializer* S) {
    S->SerializeInteger("Level", 3, 0);
    S->SerializeString("Mode", "fast", "");
  });
  Write(std::string(App) + "/Editor", [](TStructuredSerializer* S) { S->SerializeInteger("Top", 1, 0); });
  EXPECT_EQ(Stored(), json({{"Editor", {{"Top", 1}, {"Options", {{"Level", 3}, {"Mode", "fast"}}}}}}));

  Read(std::string(App) + "/editor/OPTIONS", [](TStructuredSerializer* S) {
    EXPECT_EQ(S->SerializeInteger("Level", 0, 9), 9) << "dictionary names are case-sensitive in the store";
  });
  Read(std::string(App) + "/Editor/Options", [](TStructuredSerializer* S) {
    EXPECT_EQ(S->SerializeInteger("Level", 0, 9), 3);
    EXPECT_EQ(S->SerializeString("Mode", "", ""), "fast");
  });
  Read(std::string(App) + "/Nowhere/Deeper", [](TStructuredSerializer* S) {
    EXPECT_EQ(S->SerializeInteger("Level", 0, 9), 9);
    int Elements = 0;
    S->SerializeList("L", [&](TSerializeListAction A, TStructuredSerializer*, int32_t, int32_t&) {
      if (A == slRead) ++Elements;
    });
    EXPECT_EQ(Elements, 0);
  });
  EXPECT_EQ(Stored(), json({{"Editor", {{"Top", 1}, {"Options", {{"Level", 3}, {"Mode", "fast"}}}}}}))
      << "reading creates nothing";
}

// Writes a list of Values (one integer "V" per element) as list "N" of the application key.
void WriteList(const std::vector<int>& Values, const std::string& Key = App) {
  Write(Key, [&](TStructuredSerializer* S) {
    S->SerializeList("N", [&](TSerializeListAction A, TStructuredSerializer* E, int32_t Index, int32_t& Count) {
      if (A == slGetCount) Count = static_cast<int32_t>(Values.size());
      if (A == slWrite) E->SerializeInteger("V", Values[Index], 0);
    });
  });
}

std::vector<int> ReadList(const std::string& Key = App) {
  std::vector<int> Values{-1};  // cleared by slClear
  Read(Key, [&](TStructuredSerializer* S) {
    S->SerializeList("N", [&](TSerializeListAction A, TStructuredSerializer* E, int32_t, int32_t&) {
      if (A == slClear) Values.clear();
      if (A == slRead) Values.push_back(E->SerializeInteger("V", 0, -1));
    });
  });
  return Values;
}

TEST_F(RegistryTest, ListsGrowAndShrinkWithoutStaleElements) {
  WriteList({1});
  EXPECT_EQ(Stored(), json({{"N", {{"V", 1}}}}));
  WriteList({1, 2, 3});
  EXPECT_EQ(Names(), (std::vector<std::string>{"N_000", "N_001", "N_002"}));
  EXPECT_EQ(ReadList(), (std::vector<int>{1, 2, 3}));
  WriteList({4});
  EXPECT_EQ(Stored(), json({{"N", {{"V", 4}}}}));
  EXPECT_EQ(ReadList(), (std::vector<int>{4}));
}

TEST_F(RegistryTest, AnEmptyListRemovesElementsUpToTheFirstGap) {
  Store({{"N", {{"V", 1}}}, {"N_000", {{"V", 2}}}, {"N_001", {{"V", 3}}}, {"N_003", {{"V", 5}}}, {"Other", 9}});
  WriteList({});
  EXPECT_EQ(Names(), (std::vector<std::string>{"N_003", "Other"}));
  EXPECT_EQ(ReadList(), std::vector<int>{});
}

TEST_F(RegistryTest, ReadingListsFollowsTheStoredLayout) {
  struct Case {
    const char* Name;
    json Content;
    std::vector<int> Expected;
  } Cases[] = {
      {"a gap at _001 ends the list", {{"N_000", {{"V", 1}}}, {"N_002", {{"V", 3}}}}, {1}},
      {"N comes first, then N_001", {{"N", {{"V", 1}}}, {"N_001", {{"V", 2}}}, {"N_000", {{"V", 7}}}}, {1, 2}},
      {"an element that is not a dictionary ends the list", {{"N_000", {{"V", 1}}}, {"N_001", 5}}, {1}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    Store(C.Content);
    EXPECT_EQ(ReadList(), C.Expected);
  }
}

TEST_F(RegistryTest, ListsAndObjectsNestUnderSubKeys) {
  const std::string Key = std::string(App) + "/Markers";
  WriteList({5, 6}, Key);
  Write(Key, [](TStructuredSerializer* S) {
    S->SerializeObject("Tool", [](TStructuredSerializer* O) { O->SerializeInteger("Size", 8, 0); });
  });
  EXPECT_EQ(Stored(), json({{"Markers", {{"N_000", {{"V", 5}}}, {"N_001", {{"V", 6}}}, {"Tool", {{"Size", 8}}}}}}));
  EXPECT_EQ(ReadList(Key), (std::vector<int>{5, 6}));

  int32_t Size = 0;
  std::vector<TStructuredSerializer*> Calls;
  auto Object = [&](TStructuredSerializer* O) {
    Calls.push_back(O);
    Size = O->SerializeInteger("Size", Size, 1);
  };
  Read(Key, [&](TStructuredSerializer* S) { S->SerializeObject("Tool", Object); });
  EXPECT_EQ(Size, 8);
  Read(std::string(App) + "/Elsewhere", [&](TStructuredSerializer* S) { S->SerializeObject("Tool", Object); });
  EXPECT_EQ(Size, 1);
  ASSERT_EQ(Calls.size(), 2u);
  EXPECT_NE(Calls[0], DefaultReader());
  EXPECT_EQ(Calls[1], DefaultReader());
}

TEST_F(RegistryTest, AFailedKeyExistsKeepsReadingTheParentKey) {
  Store({{"X", 1}, {"Y", 2}, {"Parent", {{"X", 7}, {"Y", 8}}}});
  Read(std::string(App) + "/Parent", [](TStructuredSerializer* S) {
    EXPECT_EQ(S->SerializeInteger("X", 0, 0), 7);
    int Elements = 0;
    S->SerializeList("Missing", [&](TSerializeListAction A, TStructuredSerializer*, int32_t, int32_t&) {
      if (A == slRead) ++Elements;
    });
    EXPECT_EQ(Elements, 0);
    EXPECT_EQ(S->SerializeInteger("Y", 0, 0), 8);
  });
}

TEST_F(RegistryTest, AKeyOpenedForReadingIsReopenedForWriting) {
  Store({{"Sub", {{"A", 1}}}});
  {
    TOwned<TInternalRegistry> Registry(NewObject<TInternalRegistry>(HKEY_CURRENT_USER, false));
    ASSERT_TRUE(Registry->KeyExists(std::string(App) + "/Sub"));
    Registry->SaveInteger(std::string(App) + "/Sub", "B", 2);
  }
  EXPECT_EQ(Stored(), json({{"Sub", {{"A", 1}, {"B", 2}}}}));
}

TEST_F(RegistryTest, DeleteKeyRemovesTheLastComponent) {
  Store({{"Keep", 1}, {"Top", {{"Inner", {{"A", 1}}}, {"Other", {{"B", 2}}}}}, {"Gone", {{"C", 3}}}});
  {
    TOwned<TInternalRegistry> Registry(NewObject<TInternalRegistry>(HKEY_CURRENT_USER, false));
    Registry->DeleteKey(std::string(App) + "/Top/Inner");
    Registry->DeleteKey(std::string(App) + "\\Gone");
    Registry->DeleteKey(App);  // no separator: nothing to remove
  }
  EXPECT_EQ(Stored(), json({{"Keep", 1}, {"Top", {{"Other", {{"B", 2}}}}}}));
}

TEST_F(RegistryTest, AContextThatMovesToAnotherDomainStoresTheFirst) {
  {
    TOwned<TInternalRegistry> Registry(NewObject<TInternalRegistry>(HKEY_CURRENT_USER, false));
    Registry->SaveInteger("com.varnix.first", "V", 1);
    Registry->SaveInteger("com.varnix.second/Sub", "V", 2);
    EXPECT_EQ(Registry->ApplicationID(), "com.varnix.second");
  }
  EXPECT_EQ(Stored("com.varnix.first"), json({{"V", 1}}));
  EXPECT_EQ(Stored("com.varnix.second"), json({{"Sub", {{"V", 2}}}}));
}

TEST(RegistryScanKey, SplitsAtEitherSeparator) {
  const std::string Key = "com.a/B\\C//D";
  int32_t Position = 1;
  std::string Component;
  std::vector<std::string> Parts;
  while (TInternalRegistry::ScanKey(Key, Position, Component)) Parts.push_back(Component);
  EXPECT_EQ(Parts, (std::vector<std::string>{"com.a", "B", "C"}));
  EXPECT_EQ(Position, 11) << "stopped on the empty component, just past the separator before it";
  EXPECT_EQ(Component, "C");
}

}  // namespace
}  // namespace varnix
