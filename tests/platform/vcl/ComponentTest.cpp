#include <gtest/gtest.h>

#include "platform/vcl/Classes.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"
#include "VclTestSupport.h"

namespace varnix {
namespace {

// Counts its own destruction and remembers the removal notifications it gets.
class TProbe : public TComponent {
 public:
  TProbe(TComponent* Owner, int* Destroyed) : TComponent(Owner), FDestroyed(Destroyed) {}
  ~TProbe() override { ++*FDestroyed; }
  TComponent* Watched = nullptr;
  void Watch(TComponent* C) {
    Watched = C;
    C->FreeNotification(this);
  }

 protected:
  void Notification(TComponent* C, TOperation Op) override {
    TComponent::Notification(C, Op);
    if (Op == opRemove && C == Watched) Watched = nullptr;
  }

 private:
  int* FDestroyed;
};

TEST(ComponentTest, OwnerFreesItsComponentsAndNotifiesWatchers) {
  int Destroyed = 0;
  TOwned<TComponent> Root(new TComponent(nullptr));
  auto* A = new TProbe(Root.get(), &Destroyed);
  auto* B = new TProbe(Root.get(), &Destroyed);
  new TProbe(A, &Destroyed);  // grandchild owned by A
  TOwned<TProbe> Outside(new TProbe(nullptr, &Destroyed));
  Outside->Watch(B);
  ASSERT_EQ(Root->ComponentCount(), 2);
  Free(B);
  EXPECT_EQ(Destroyed, 1);
  EXPECT_EQ(Outside->Watched, nullptr) << "a watcher must hear of the removal";
  EXPECT_EQ(Root->ComponentCount(), 1);
  Root.reset();
  EXPECT_EQ(Destroyed, 3) << "A and its own component go with the root";
}

TEST(ComponentTest, SiblingsHearOfRemovalThroughTheOwner) {
  int Destroyed = 0;
  TOwned<TComponent> Root(new TComponent(nullptr));
  auto* Watcher = new TProbe(Root.get(), &Destroyed);
  auto* Target = new TProbe(Root.get(), &Destroyed);
  Watcher->Watched = Target;  // no FreeNotification: same owner
  Free(Target);
  EXPECT_EQ(Watcher->Watched, nullptr);
}

TEST(ComponentTest, NamesAreUniqueAmongTheOwnersComponents) {
  TOwned<TComponent> Root(new TComponent(nullptr));
  auto* A = new TComponent(Root.get());
  auto* B = new TComponent(Root.get());
  A->SetName("MainForm");
  try {
    B->SetName("mainform");
    FAIL() << "a duplicate name (in any case) must be refused";
  } catch (EComponentError& E) {
    EXPECT_EQ(E.Message(), "A component named mainform already exists");
  }
  B->SetUniqueName("MainForm");
  EXPECT_EQ(B->Name(), "MainForm_1");
  auto* C = new TComponent(Root.get());
  C->SetUniqueName("MainForm");
  EXPECT_EQ(C->Name(), "MainForm_2");
  EXPECT_EQ(Root->FindComponent("MAINFORM_1"), B);
  EXPECT_THROW(C->SetName("1bad"), EComponentError);
}

TEST(ComponentTest, FreeingAControlFromItsOwnHandlerIsSafe) {
  Application->SetBackend(bkHeadless);
  TOwned<TForm> Form(new TForm(nullptr));
  auto* Button = new TButton(Form.get());
  Button->SetParent(Form.get());
  Button->SetBounds(10, 10, 80, 25);
  int Clicks = 0;
  Button->OnClick = [&](TObject* Sender) {
    ++Clicks;
    Free(static_cast<TButton*>(Sender));
  };
  Form->Show();
  Application->QueueMouseClick(Button, 5, 5);
  Application->ProcessMessages();
  EXPECT_EQ(Clicks, 1);
  EXPECT_EQ(Form->ControlCount(), 0);
  Form->Hide();
}

}  // namespace
}  // namespace varnix
