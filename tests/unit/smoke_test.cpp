#include "harness.h"

namespace ipsetter::testing {
TEST(Smoke, LoadShowsDhcpAdapter) {
  Harness h;
  h.net.adapters.push_back(DhcpAdapter());
  h.form.OnLoad();
  EXPECT_EQ(h.Boxes(), L"10.0.0.5|255.0.0.0|10.0.0.1|10.0.0.1|10.0.0.2");
}
}  // namespace ipsetter::testing
