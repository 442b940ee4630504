#include "wizard/wizard_rules.h"

#include <gtest/gtest.h>

namespace {

TEST(WizardButtons, FlagsGiveTheButtonStates) {
  struct Case {
    uint32_t flags;
    WizardButtonState expected;  // back, next shown, next on, finish shown, finish on, cancel
  };
  const Case cases[] = {
      {WIZB_NEXT, {false, true, true, false, false, true}},                       // welcome page
      {WIZB_BACK, {true, true, false, false, false, true}},                       // folder box empty
      {WIZB_BACK | WIZB_NEXT, {true, true, true, false, false, true}},            // option page
      {WIZB_NOCANCEL, {false, true, false, false, false, false}},                 // install page
      {WIZB_FINISH, {false, false, false, true, true, false}},                    // finish pages
      {WIZB_DISABLEDFINISH, {false, false, false, true, false, true}},
      {WIZB_FINISH | WIZB_DISABLEDFINISH, {false, false, false, true, true, false}},
      {WIZB_NEXT | WIZB_FINISH, {false, false, false, true, true, false}},        // Finish wins over Next
      {WIZB_BACK | WIZB_NEXT | WIZB_NOCANCEL, {true, true, true, false, false, false}},
      {0, {false, true, false, false, false, true}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ButtonStateForFlags(c.flags), c.expected) << "flags 0x" << std::hex << c.flags;
  }
}

TEST(WizardLayout, PagesCentredBelowTheHeaderButtonsBelowThePages) {
  // Pages of different sizes, a header as wide as the widest page and a
  // narrower button bar: the wizard takes the widest width.
  WizardLayout layout = ComputeWizardLayout({{359, 220}, {355, 210}, {358, 219}}, {359, 57}, {300, 40});
  EXPECT_EQ(layout.width, 359);
  EXPECT_EQ(layout.pageAreaHeight, 220);
  EXPECT_EQ(layout.paneHeight, 57);
  EXPECT_EQ(layout.pageX, (std::vector<int>{0, 2, 0}));  // (359-355)/2 = 2, (359-358)/2 truncates to 0
  EXPECT_EQ(layout.buttonDx, 59);
  EXPECT_EQ(layout.buttonDy, 277);
  EXPECT_EQ(layout.client.cx, 359);
  EXPECT_EQ(layout.client.cy, 40 + 220 + 57);
}

TEST(WizardLayout, WiderHeaderOrButtonBarSetsTheWidth) {
  WizardLayout byPane = ComputeWizardLayout({{300, 200}}, {320, 50}, {310, 40});
  EXPECT_EQ(byPane.width, 320);
  EXPECT_EQ(byPane.pageX, std::vector<int>{10});
  EXPECT_EQ(byPane.buttonDx, 10);

  WizardLayout byBar = ComputeWizardLayout({{300, 200}}, {300, 50}, {341, 40});
  EXPECT_EQ(byBar.width, 341);
  EXPECT_EQ(byBar.pageX, std::vector<int>{20});
  EXPECT_EQ(byBar.buttonDx, 0);
  EXPECT_EQ(byBar.client.cy, 290);
}

TEST(WizardNavigation, PageResultsChooseTheTarget) {
  const std::vector<unsigned> ids = {129, 130, 131, 132, 133, 134, 135};
  struct Case {
    int result, current, step, expected;
  };
  const Case cases[] = {
      {0, 0, +1, 1},     // Next to the neighbour
      {0, 2, -1, 1},     // Back to the neighbour
      {0, 0, -1, -1},    // Back on the first page fails harmlessly
      {0, 6, +1, -1},    // Next on the last page
      {-1, 1, +1, -1},   // the page keeps the wizard where it is
      {135, 3, +1, 6},   // jump by template id (install page to the error page)
      {133, 3, +1, 4},
      {131, 5, -1, 2},   // a jump works backwards too
      {999, 3, +1, -1},  // no page has the id: stay
      {0, -1, +1, -1},   // no current page
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolveWizardMove(c.result, c.current, c.step, ids), c.expected)
        << "result " << c.result << " on page " << c.current << " step " << c.step;
  }
}

}  // namespace
