#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "BrisqFramework/IO/Callback.h"

namespace {

using BrisqFramework::IO::Callback;

struct Target {
  int a = 0;
  int b = 0;
  void A() { ++a; }
  void B() { ++b; }
};

// --- Equality: same object and same member function ---

TEST(CallbackEquality, BoundMembersCompareByObjectAndFunction) {
  Target x;
  Target y;
  EXPECT_EQ(Callback(&x, &Target::A), Callback(&x, &Target::A));
  EXPECT_NE(Callback(&x, &Target::A), Callback(&x, &Target::B));
  EXPECT_NE(Callback(&x, &Target::A), Callback(&y, &Target::A));
}

TEST(CallbackEquality, FunctionsEqualOnlyTheirCopies) {
  Callback f([] {});
  Callback copy = f;
  EXPECT_EQ(f, copy);
  EXPECT_NE(f, Callback([] {}));
  Target x;
  EXPECT_NE(f, Callback(&x, &Target::A));
  EXPECT_NE(Callback(&x, &Target::A), f);
  EXPECT_EQ(Callback(), Callback());
  EXPECT_NE(Callback(), f);
  EXPECT_TRUE(Callback(std::function<void()>()).IsNull()) << "an empty function is a null callback";
}

// --- Sharing: copies share one storage that lives as long as any copy ---

TEST(CallbackSharing, CopyOutlivesTheOriginal) {
  auto counter = std::make_shared<int>(0);
  Callback copy;
  {
    Callback original([counter] { ++*counter; });
    copy = original;
    original.Run();
  }
  copy.Run();
  copy();
  EXPECT_EQ(*counter, 3);
  EXPECT_EQ(counter.use_count(), 2) << "one capture held by the shared storage";
  copy = Callback();
  EXPECT_EQ(counter.use_count(), 1) << "the last copy frees the storage";
}

TEST(CallbackSharing, MovedFromIsNullAndRunsNothing) {
  Target x;
  Callback a(&x, &Target::A);
  Callback b(std::move(a));
  EXPECT_TRUE(a.IsNull());  // NOLINT: checking the moved-from state on purpose
  a.Run();
  b.Run();
  EXPECT_EQ(x.a, 1);
  std::function<void()> asFunction = b;  // usable where a standard function is expected
  asFunction();
  EXPECT_EQ(x.a, 2);
}

}  // namespace
