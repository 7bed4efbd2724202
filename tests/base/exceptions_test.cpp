#include "base/exceptions.h"

#include <gtest/gtest.h>

namespace pelloran {
namespace {

PELLORAN_EXCEPTION_CLASS(ETestLeaf, EConvertError);

TEST(Exceptions, ClassNameAndAncestorChain) {
  ETestLeaf leaf("bad value");
  EXPECT_EQ(leaf.ClassName(), "ETestLeaf");
  EXPECT_EQ(leaf.Message(), "bad value");
  EXPECT_STREQ(leaf.what(), "bad value");
  EXPECT_TRUE(leaf.InheritsFrom("ETestLeaf"));
  EXPECT_TRUE(leaf.InheritsFrom("EConvertError"));
  EXPECT_TRUE(leaf.InheritsFrom("Exception"));
  EXPECT_FALSE(leaf.InheritsFrom("EAbort"));
  EXPECT_FALSE(leaf.InheritsFrom("econverterror"));

  // Walking the chain by name from a base reference, as a handler that only knows Exception does.
  const Exception& base = leaf;
  std::string chain;
  for (const TClassInfo* c = &base.ClassInfo(); c; c = c->Parent) chain += std::string(c->Name) + "/";
  EXPECT_EQ(chain, "ETestLeaf/EConvertError/Exception/");
}

TEST(Exceptions, InOutErrorKeepsTheSystemCode) {
  EInOutError e("File not found", 2);
  EXPECT_EQ(e.ClassName(), "EInOutError");
  EXPECT_EQ(e.ErrorCode, 2u);
  EXPECT_TRUE(e.InheritsFrom("Exception"));
}

TEST(Exceptions, AssertRaisesWithPlace) {
  EXPECT_NO_THROW(PELLORAN_ASSERT(true, "never"));
  try {
    PELLORAN_ASSERT(1 + 1 == 3, "sums");
    FAIL() << "no exception";
  } catch (const EAssertionFailed& e) {
    EXPECT_EQ(e.Message().rfind("sums (", 0), 0u);
    EXPECT_NE(e.Message().find("exceptions_test.cpp, line "), std::string::npos);
  }
}

}  // namespace
}  // namespace pelloran
