#include "common/Objects.h"

#include <gtest/gtest.h>

#include "common/CommonClasses.h"

namespace varnix {
namespace {

struct IFirst : virtual IUnknown {
  static constexpr TGUID IID = {0x1A2B3C4D, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
  virtual int First() = 0;
};
struct ISecond : virtual IUnknown {
  static constexpr TGUID IID = {0x1A2B3C4D, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 9}};
  virtual int Second() = 0;
};

class TBoth : public TInterfacedObject, public IFirst, public ISecond {
 public:
  explicit TBoth(bool* Destroyed) : FDestroyed(Destroyed) {}
  ~TBoth() override { *FDestroyed = true; }
  int First() override { return 1; }
  int Second() override { return 2; }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override {
    return FindInterface<IFirst, ISecond>(this, IID, Obj) || TInterfacedObject::GetInterface(IID, Obj);
  }

 private:
  bool* FDestroyed;
};

class TOwnedFirst : public TOwnedObject, public IFirst {
 public:
  int First() override { return 7; }

 protected:
  bool GetInterface(const TGUID& IID, void** Obj) override {
    return FindInterface<IFirst>(this, IID, Obj) || TOwnedObject::GetInterface(IID, Obj);
  }
};

TEST(InterfacedObject, LastReferenceFreesTheObjectAndQueriesShareTheCount) {
  bool Destroyed = false;
  {
    InterfacePtr<IFirst> First(NewObject<TBoth>(&Destroyed));
    EXPECT_EQ(First->First(), 1);
    InterfacePtr<ISecond> Second = As<ISecond>(First);
    EXPECT_EQ(Second->Second(), 2);
    First = nullptr;
    EXPECT_FALSE(Destroyed) << "the second reference keeps it alive";
    InterfacePtr<IUnknown> Unknown = Supports<IUnknown>(Second);
    EXPECT_TRUE(Unknown);
  }
  EXPECT_TRUE(Destroyed);
}

TEST(InterfacedObject, UnsupportedQueryAnswersNoInterface) {
  bool Destroyed = false;
  InterfacePtr<IFirst> First(NewObject<TBoth>(&Destroyed));
  void* P = reinterpret_cast<void*>(1);
  const TGUID Other = {0xDEADBEEF, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
  EXPECT_EQ(First->QueryInterface(Other, &P), static_cast<HResult>(0x80004002u));
  EXPECT_EQ(P, nullptr);
}

TEST(OwnedObject, CountingIsSwitchedOffAndAsFailsWithEIntfCastError) {
  auto* Obj = new TOwnedFirst;
  EXPECT_EQ(Obj->_AddRef(), -1);
  EXPECT_EQ(Obj->_Release(), -1);
  EXPECT_EQ(Obj->_Release(), -1);
  {
    InterfacePtr<IFirst> Ref = As<IFirst>(static_cast<IUnknown*>(Obj));
    EXPECT_EQ(Ref->First(), 7);
  }
  EXPECT_EQ(Obj->First(), 7) << "releasing every reference leaves it alive";
  EXPECT_THROW(As<ISecond>(static_cast<IFirst*>(Obj)), EIntfCastError);
  delete Obj;
}

TEST(Exception, KeepsMessageAndRaisingAddress) {
  try {
    throw EOutOfMemory();
  } catch (const Exception& E) {
    EXPECT_EQ(E.Message(), "Out of memory");
    EXPECT_STREQ(E.ClassName(), "EOutOfMemory");
    EXPECT_NE(E.ExceptAddr(), nullptr);
  }
}

}  // namespace
}  // namespace varnix
