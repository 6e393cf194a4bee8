#include "settings/Serializers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <locale>
#include <map>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "common/CommonUtils.h"

namespace varnix {
namespace {

// An in-memory serializer that stores texts only, so every integer, float and Boolean goes
// through the conversions of TSettingSerializer. List element I of list N is stored under the
// prefix "N[I]/", with the marker entry "N[I]" telling that the element exists.
class TMemorySerializer : public TStructuredSerializer {
 public:
  using TSettingSerializer::SerializeString;

  TMemorySerializer(bool Writing, std::map<std::string, std::string>& Store, std::string Prefix = "")
      : FWriting(Writing), FStore(Store), FPrefix(std::move(Prefix)) {}

  std::string SerializeString(const std::string& Name, const std::string& Value,
                              const std::string& Default) override {
    const std::string Key = FPrefix + Name;
    Accessed.push_back(Key);
    if (FWriting) {
      FStore[Key] = Value;
      return Value;
    }
    const auto It = FStore.find(Key);
    return It == FStore.end() ? Default : It->second;
  }

  void SerializeList(const std::string& Name, const TSerializeListCallback& Callback) override {
    int32_t Count = 0;
    const std::string Base = FPrefix + Name;
    if (FWriting) {
      Callback(slGetCount, nullptr, 0, Count);
      for (int32_t I = 0; I < Count; ++I) {
        const std::string Element = Base + "[" + std::to_string(I) + "]";
        FStore[Element] = "";
        TMemorySerializer Child(true, FStore, Element + "/");
        Callback(slWrite, &Child, I, Count);
      }
    } else {
      Callback(slClear, nullptr, 0, Count);
      for (int32_t I = 0; FStore.count(Base + "[" + std::to_string(I) + "]"); ++I) {
        TMemorySerializer Child(false, FStore, Base + "[" + std::to_string(I) + "]/");
        int32_t Scratch = 0;
        Callback(slRead, &Child, I, Scratch);
      }
    }
  }

  std::vector<std::string> Accessed;

 private:
  bool FWriting;
  std::map<std::string, std::string>& FStore;
  std::string FPrefix;
};

TEST(Serializers, ReaderConversionsFallBackToTheDefault) {
  std::map<std::string, std::string> Store{{"Two", "2"},       {"Zero", "0"},         {"Minus", "-7"},
                                           {"Blanks", " 12 "}, {"Suffix", "12a"},     {"Huge", "2147483648"},
                                           {"Empty", ""},      {"Half", "0.5"},       {"Comma", "0,5"},
                                           {"Exp", "1e+20"},   {"Word", "abc"},       {"Hex", "$1F"}};
  TMemorySerializer R(false, Store);

  EXPECT_TRUE(R.SerializeBool("Two", false, false));
  EXPECT_FALSE(R.SerializeBool("Zero", true, true));
  EXPECT_TRUE(R.SerializeBool("Missing", false, true));
  EXPECT_FALSE(R.SerializeBool("Missing", true, false));
  EXPECT_TRUE(R.SerializeBool("Missing", true)) << "the two-argument form defaults to the value";

  struct IntCase {
    const char* Name;
    int32_t Expected;
  } Ints[] = {{"Minus", -7}, {"Blanks", 12}, {"Suffix", 99}, {"Huge", 99},
              {"Empty", 99}, {"Half", 99},   {"Hex", 99},    {"Missing", 99}};
  for (const IntCase& C : Ints) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(R.SerializeInteger(C.Name, 5, 99), C.Expected);
  }
  EXPECT_EQ(R.SerializeInteger("Missing", 5), 5);

  struct FloatCase {
    const char* Name;
    long double Expected;
  } Floats[] = {{"Half", 0.5L}, {"Exp", 1e20L}, {"Minus", -7.0L}, {"Comma", 9.0L}, {"Word", 9.0L}, {"Empty", 9.0L}};
  for (const FloatCase& C : Floats) {
    SCOPED_TRACE(C.Name);
    EXPECT_EQ(R.SerializeFloat(C.Name, 1.0L, 9.0L), C.Expected);
  }
  EXPECT_EQ(R.SerializeFloat("Missing", 2.25L), 2.25L);
}

// A C++ locale whose decimal separator is a comma, installed globally for one test, together with
// a C locale of that kind when the machine has one.
struct TCommaNumbers : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
  char do_thousands_sep() const override { return '.'; }
  std::string do_grouping() const override { return "\3"; }
};

class TCommaLocale {
 public:
  TCommaLocale() : FOld(std::locale::global(std::locale(std::locale::classic(), new TCommaNumbers))) {
    FOldC = std::setlocale(LC_ALL, nullptr);
    for (const char* Name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"})
      if (std::setlocale(LC_ALL, Name)) break;
  }
  ~TCommaLocale() {
    std::setlocale(LC_ALL, FOldC.c_str());
    std::locale::global(FOld);
  }

 private:
  std::locale FOld;
  std::string FOldC;
};

TEST(Serializers, WriterTextsUseAPointWhateverTheLocale) {
  TCommaLocale Comma;
  std::map<std::string, std::string> Store;
  TMemorySerializer W(true, Store);

  struct Case {
    const char* Name;
    long double Value;
    const char* Text;
  } Cases[] = {{"Half", 0.5L, "0.5"},
               {"TwoAndAHalf", 2.5L, "2.5"},
               {"Third", 1.0L / 3.0L, "0.333333333333333"},
               {"Large", 1234567.25L, "1234567.25"},
               {"Exponent", 1e20L, "1e+20"},
               {"Negative", -0.125L, "-0.125"}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    // The result is what the stored text denotes, so a saved setting equals the reloaded one.
    EXPECT_EQ(W.SerializeFloat(C.Name, C.Value, 0.0L), StrToFloatDef(C.Text, 9.0L));
    EXPECT_EQ(Store[C.Name], C.Text);
  }
  W.SerializeInteger("Int", 1234567, 0);
  EXPECT_EQ(Store["Int"], "1234567");
  W.SerializeBool("Flag", true, false);
  EXPECT_EQ(Store["Flag"], "1");

  TMemorySerializer R(false, Store);
  EXPECT_EQ(R.SerializeFloat("Half", 0.0L, 9.0L), 0.5L);
}

TEST(Serializers, DefaultReaderYieldsDefaultsAndOnlyClearsLists) {
  TDefaultReader* D = DefaultReader();
  EXPECT_EQ(D, DefaultReader());
  EXPECT_EQ(D->SerializeInteger("X", 1, 2), 2);
  EXPECT_EQ(D->SerializeFloat("X", 1.5L, 2.5L), 2.5L);
  EXPECT_EQ(D->SerializeString("X", "value", "default"), "default");
  EXPECT_TRUE(D->SerializeBool("X", false, true));
  EXPECT_EQ(D->SerializeInteger("X", 7), 7);

  std::vector<std::tuple<TSerializeListAction, TStructuredSerializer*, int32_t>> Calls;
  D->SerializeList("L", [&](TSerializeListAction A, TStructuredSerializer* S, int32_t Index, int32_t&) {
    Calls.emplace_back(A, S, Index);
  });
  ASSERT_EQ(Calls.size(), 1u);
  EXPECT_EQ(Calls[0], std::make_tuple(slClear, nullptr, 0));
}

TEST(Serializers, SerializeObjectCallsTheCallbackOnceWithTheRightSerializer) {
  std::map<std::string, std::string> WithElement{{"Obj[0]", ""}, {"Obj[0]/Size", "4"}};
  std::map<std::string, std::string> Empty;
  TMemorySerializer HasIt(false, WithElement), LacksIt(false, Empty), Writer(true, Empty);
  struct Case {
    const char* Name;
    TStructuredSerializer* Serializer;
    bool ExpectDefaultReader;
    int32_t ExpectedSize;
  } Cases[] = {{"default reader", DefaultReader(), true, 1},
               {"reader with the element", &HasIt, false, 4},
               {"reader without it", &LacksIt, true, 1},
               {"writer", &Writer, false, 3}};
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    std::vector<TStructuredSerializer*> Calls;
    int32_t Size = 3;
    C.Serializer->SerializeObject("Obj", [&](TStructuredSerializer* S) {
      Calls.push_back(S);
      Size = S->SerializeInteger("Size", Size, 1);
    });
    ASSERT_EQ(Calls.size(), 1u);
    EXPECT_EQ(Calls[0] == DefaultReader(), C.ExpectDefaultReader);
    EXPECT_NE(Calls[0], nullptr);
    EXPECT_EQ(Size, C.ExpectedSize);
  }
  EXPECT_EQ(Empty["Obj[0]/Size"], "3") << "the writer stored the object as element 0";
}

TEST(Serializers, SerializeObjectAppliesDefaultsWhenReadingFails) {
  // The element's callback raises: the exception propagates and the object gets its defaults.
  std::map<std::string, std::string> Store{{"Obj[0]", ""}};
  TMemorySerializer R(false, Store);
  std::vector<TStructuredSerializer*> Calls;
  EXPECT_THROW(R.SerializeObject("Obj",
                                 [&](TStructuredSerializer* S) {
                                   Calls.push_back(S);
                                   if (S != DefaultReader()) throw std::runtime_error("unreadable");
                                 }),
               std::runtime_error);
  ASSERT_EQ(Calls.size(), 2u);
  EXPECT_EQ(Calls[1], DefaultReader());

  // A list serializer that raises after clearing: the defaults still arrive.
  struct TFailingReader : TDefaultReader {
    void SerializeList(const std::string&, const TSerializeListCallback& Callback) override {
      int32_t Count = 0;
      Callback(slClear, nullptr, 0, Count);
      throw std::runtime_error("store gone");
    }
  } Failing;
  Calls.clear();
  EXPECT_THROW(Failing.SerializeObject("Obj", [&](TStructuredSerializer* S) { Calls.push_back(S); }),
               std::runtime_error);
  EXPECT_EQ(Calls, std::vector<TStructuredSerializer*>{DefaultReader()});
}

// A form stand-in: its placement as the window system would report it.
class TFakeForm : public IFormPlacement {
 public:
  std::string ComponentName() const override { return "MainForm"; }
  bool GetPlacement(TFormPlacement& P) override {
    if (!QueryWorks) return false;
    P = Placement;
    return true;
  }
  void SetPlacement(const TFormPlacement& P) override {
    Placement = P;
    ++SetCount;
  }

  TFormPlacement Placement{Rect(100, 50, 900, 650), plNormal};
  bool QueryWorks = true;
  int SetCount = 0;
};

TEST(Serializers, SerializeFormWritesThePlacement) {
  struct Case {
    const char* Name;
    TPlacementShowState State;
    std::map<std::string, std::string> Expected;
  } Cases[] = {
      {"normal",
       plNormal,
       {{"MainForm_Left", "100"},
        {"MainForm_Top", "50"},
        {"MainForm_Width", "800"},
        {"MainForm_Height", "600"},
        {"MainForm_Maximized", "0"}}},
      {"maximized",
       plMaximized,
       {{"MainForm_Left", "100"},
        {"MainForm_Top", "50"},
        {"MainForm_Width", "800"},
        {"MainForm_Height", "600"},
        {"MainForm_Maximized", "1"}}},
      {"hidden: no _Maximized entry",
       plHidden,
       {{"MainForm_Left", "100"}, {"MainForm_Top", "50"}, {"MainForm_Width", "800"}, {"MainForm_Height", "600"}}},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TFakeForm Form;
    Form.Placement.ShowState = C.State;
    std::map<std::string, std::string> Store;
    TMemorySerializer W(true, Store);
    W.SerializeForm(Form);
    EXPECT_EQ(Store, C.Expected);
    EXPECT_EQ(Form.Placement.NormalBounds, Rect(100, 50, 900, 650));
    EXPECT_EQ(Form.Placement.ShowState, C.State);
  }
}

TEST(Serializers, SerializeFormRestoresWhatIsStoredAndKeepsTheRest) {
  struct Case {
    const char* Name;
    std::map<std::string, std::string> Stored;
    TPlacementShowState Before;
    TRect ExpectedBounds;
    TPlacementShowState ExpectedState;
  } Cases[] = {
      {"everything",
       {{"MainForm_Left", "10"},
        {"MainForm_Top", "20"},
        {"MainForm_Width", "300"},
        {"MainForm_Height", "200"},
        {"MainForm_Maximized", "1"}},
       plNormal,
       Rect(10, 20, 310, 220),
       plMaximized},
      {"left without width keeps the old right edge",
       {{"MainForm_Left", "300"}},
       plNormal,
       Rect(300, 50, 900, 650),
       plNormal},
      {"nothing stored", {}, plMaximized, Rect(100, 50, 900, 650), plMaximized},
      {"hidden form ignores _Maximized", {{"MainForm_Maximized", "1"}}, plHidden, Rect(100, 50, 900, 650), plHidden},
      {"edited extents saturate instead of overflowing",
       {{"MainForm_Left", "2147483000"}, {"MainForm_Width", "1000"}, {"MainForm_Top", "-2147483000"},
        {"MainForm_Height", "-1000"}},
       plNormal,
       Rect(2147483000, -2147483000, 2147483647, -2147483647 - 1),
       plNormal},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    TFakeForm Form;
    Form.Placement.ShowState = C.Before;
    std::map<std::string, std::string> Store = C.Stored;
    TMemorySerializer R(false, Store);
    R.SerializeForm(Form);
    EXPECT_EQ(Form.Placement.NormalBounds, C.ExpectedBounds);
    EXPECT_EQ(Form.Placement.ShowState, C.ExpectedState);
    const bool AskedForMaximized =
        std::find(R.Accessed.begin(), R.Accessed.end(), "MainForm_Maximized") != R.Accessed.end();
    EXPECT_EQ(AskedForMaximized, C.Before != plHidden);
  }
}

TEST(Serializers, SerializeFormDoesNothingWhenThePlacementIsUnknown) {
  TFakeForm Form;
  Form.QueryWorks = false;
  std::map<std::string, std::string> Store{{"MainForm_Left", "1"}};
  TMemorySerializer R(false, Store), W(true, Store);
  R.SerializeForm(Form);
  W.SerializeForm(Form);
  EXPECT_TRUE(R.Accessed.empty());
  EXPECT_TRUE(W.Accessed.empty());
  EXPECT_EQ(Form.SetCount, 0);
}

TEST(Serializers, AutoSerializerOwnsItsSerializerForTheInterfacesLifetime) {
  static bool Freed;
  struct TTracked : TDefaultReader {
    ~TTracked() override { Freed = true; }
  };
  Freed = false;
  auto* Inner = new TTracked;
  InterfacePtr<IStructuredSerializer> A(new TAutoSerializer(Inner));
  EXPECT_EQ(A->Serializer(), Inner);
  {
    InterfacePtr<IStructuredSerializer> B = Supports<IStructuredSerializer>(A);
    ASSERT_TRUE(B);
    A = nullptr;
    EXPECT_FALSE(Freed) << "B still holds the wrapper";
    EXPECT_EQ(B->Serializer(), Inner);
  }
  EXPECT_TRUE(Freed);
}

}  // namespace
}  // namespace varnix
