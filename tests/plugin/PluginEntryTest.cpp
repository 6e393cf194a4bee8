// The exported entry points and the module start-up, linked into this program with a module
// table of its own (EntryModules.cpp).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <regex>
#include <stdexcept>

#include "plugin/EntryModules.h"
#include "plugin/FakeHost.h"
#include "plugin/Manager.h"
#include "plugin/PluginMain.h"
#include "plugin/ProbeForms.h"

namespace varnix {
namespace {

using test::MainProbe;
using test::ModuleLog;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// The modules stop before the program's static objects are destroyed.
class ModulesEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { FinalizePluginModules(); }
};
const auto* const Environment = ::testing::AddGlobalTestEnvironment(new ModulesEnvironment);

TEST(PluginEntryTest, ModulesStartInTableOrderWhenTheProgramLoads) {
  EXPECT_THAT(ModuleLog(), ElementsAre("+bridge", "+forms"));
  ASSERT_NE(PluginManager(), nullptr);
  EXPECT_TRUE(static_cast<bool>(PluginManager()->MainFormClass));
}

TEST(PluginEntryTest, NoExceptionCrossesAnEntryPoint) {
  struct TCase {
    const char* Name;
    std::function<void()> Raise;
    const char* Message;
  };
  const TCase Cases[] = {
      {"runtime_error", [] { throw std::runtime_error("runtime trouble"); }, "runtime trouble"},
      {"bad_alloc", [] { throw std::bad_alloc(); }, "Out of memory"},
      {"not an exception class", [] { throw 42; }, "unknown exception"},
  };
  for (const TCase& C : Cases)
    for (auto Entry : {&PluginMain_Select, &PluginMain_Filter}) {
      SCOPED_TRACE(C.Name);
      MainProbe = test::TProbe();
      MainProbe.Create = [&](TCustomForm&) { C.Raise(); };
      test::TFakeHost H(plugInModeRGBColor, 3, 2);
      void* Block = Entry == &PluginMain_Select ? static_cast<void*>(H.Selection()) : H.Filter();
      const int16_t Selector = Entry == &PluginMain_Select ? selectionSelectorExecute : filterSelectorStart;
      int16_t Result = 1;
      intptr_t Data = 77;
      ::testing::internal::CaptureStdout();
      ::testing::internal::CaptureStderr();
      Entry(Selector, Block, &Data, &Result);
      const std::string Out = ::testing::internal::GetCapturedStdout();
      const std::string Err = ::testing::internal::GetCapturedStderr();
      EXPECT_EQ(Result, -128);
      EXPECT_EQ(Data, 77);
      EXPECT_TRUE(std::regex_search(Out, std::regex("EXCEPTION at address [0-9A-F]{8,} with message:\n" +
                                                    std::string(C.Message) + "\n")))
          << Out;
      EXPECT_THAT(Err, HasSubstr(C.Message));
    }
  MainProbe = test::TProbe();
}

TEST(PluginEntryTest, ResultIsTheLow16BitsOfTheCode) {
  MainProbe = test::TProbe();
  MainProbe.Create = [](TCustomForm&) { throw EPluginException(int32_t{0x12345}); };
  test::TFakeHost H(plugInModeRGBColor, 3, 2);
  int16_t Result = 0;
  intptr_t Data = 5;
  PluginMain_Select(selectionSelectorExecute, H.Selection(), &Data, &Result);
  EXPECT_EQ(Result, 0x2345);
  EXPECT_EQ(Data, 5);
  MainProbe = test::TProbe();
}

TEST(PluginEntryTest, FailedStartUpUnwindsAndCallsAnswerParamErr) {
  FinalizePluginModules();
  EXPECT_THAT(ModuleLog(), ElementsAre("+bridge", "+forms", "-forms", "-bridge"));
  ModuleLog().clear();
  test::FailFormsModule = true;
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(InitializePluginModules());
  EXPECT_THAT(::testing::internal::GetCapturedStdout(), HasSubstr("Varnix could not start its forms module: forms refused"));
  EXPECT_THAT(ModuleLog(), ElementsAre("+bridge", "-bridge"));
  EXPECT_EQ(PluginManager(), nullptr);
  test::TFakeHost H(plugInModeRGBColor, 3, 2);
  int16_t Result = 0;
  PluginMain_Select(selectionSelectorAbout, H.About(), nullptr, &Result);
  EXPECT_EQ(Result, paramErr);

  test::FailFormsModule = false;
  ModuleLog().clear();
  EXPECT_TRUE(InitializePluginModules());
  EXPECT_THAT(ModuleLog(), ElementsAre("+bridge", "+forms"));
  ASSERT_NE(PluginManager(), nullptr);
}

}  // namespace
}  // namespace varnix
