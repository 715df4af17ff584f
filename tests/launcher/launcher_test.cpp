#include "foundation/versions.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(Versions, Placeholder) { EXPECT_TRUE(parseVersion(L"1.2.3")); }

}  // namespace
}  // namespace qv
