#include "ui/FormPlacement.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

#include "platform/os/Preferences.h"
#include "settings/RegistrySerializers.h"

namespace varnix {
namespace {

// A scratch preference folder for one test.
class FormPlacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/varnix-placement-XXXXXX";
    FDir = mkdtemp(Template);
    setenv("VARNIX_PREFS_DIR", FDir.c_str(), 1);
    Application->SetBackend(bkHeadless);
  }
  void TearDown() override {
    unsetenv("VARNIX_PREFS_DIR");
    std::filesystem::remove_all(FDir);
  }
  std::string FDir;
};

TEST_F(FormPlacementTest, RealFormRoundTripsThroughThePreferenceStore) {
  const std::string Domain = "com.varnix.placement-test";
  {
    TForm Form(Application.Get());
    Form.SetName("MainForm");
    Form.SetBounds(120, 80, 640, 480);
    Form.Show();
    TFormPlacementAdapter Adapter(Form);
    InterfacePtr<IStructuredSerializer> W = AutoRegistryWriter(Domain, HKEY_CURRENT_USER);
    W->Serializer()->SerializeForm(Adapter);
  }
  {
    TForm Form(Application.Get());
    Form.SetName("MainForm");
    Form.SetBounds(0, 0, 300, 200);
    Form.Show();
    TFormPlacementAdapter Adapter(Form);
    InterfacePtr<IStructuredSerializer> R = AutoRegistryReader(Domain, HKEY_CURRENT_USER);
    R->Serializer()->SerializeForm(Adapter);
    TWindowPlacement P;
    ASSERT_TRUE(Form.GetWindowPlacement(P));
    EXPECT_EQ(P.NormalBounds, Bounds(120, 80, 640, 480));
    EXPECT_EQ(P.ShowCmd, swShowNormal);
  }
  const auto Width = PreferencesCopyAppValue("MainForm_Width", Domain);
  ASSERT_TRUE(Width.has_value());
  EXPECT_EQ(Width->IntegerValue(), 640);
}

TEST_F(FormPlacementTest, HiddenFormStaysHidden) {
  TForm Form(Application.Get());
  Form.SetName("MainForm");
  TFormPlacementAdapter Adapter(Form);
  TFormPlacement P;
  ASSERT_TRUE(Adapter.GetPlacement(P));
  EXPECT_EQ(P.ShowState, plHidden);
  P.NormalBounds = Bounds(10, 20, 300, 200);
  Adapter.SetPlacement(P);
  EXPECT_FALSE(Form.Visible());
  EXPECT_EQ(Form.Width(), 300);
}

}  // namespace
}  // namespace varnix
