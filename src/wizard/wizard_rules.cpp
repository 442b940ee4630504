#include "wizard/wizard_rules.h"

#include <algorithm>

WizardButtonState ButtonStateForFlags(uint32_t flags) {
  WizardButtonState state{};
  state.backEnabled = (flags & WIZB_BACK) != 0;
  if (flags & (WIZB_FINISH | WIZB_DISABLEDFINISH)) {
    state.finishVisible = true;
    state.finishEnabled = (flags & WIZB_FINISH) != 0;
  } else {
    state.nextVisible = true;
    state.nextEnabled = (flags & WIZB_NEXT) != 0;
  }
  state.cancelEnabled = (flags & (WIZB_FINISH | WIZB_NOCANCEL)) == 0;
  return state;
}

WizardLayout ComputeWizardLayout(const std::vector<WizardSize>& pages, WizardSize pane, WizardSize bar) {
  WizardLayout layout{};
  int widest = 0;
  for (const WizardSize& page : pages) {
    widest = std::max(widest, page.cx);
    layout.pageAreaHeight = std::max(layout.pageAreaHeight, page.cy);
  }
  layout.paneHeight = pane.cy;
  widest = std::max(widest, pane.cx);
  layout.width = std::max(bar.cx, widest);
  for (const WizardSize& page : pages) layout.pageX.push_back((layout.width - page.cx) / 2);
  layout.buttonDx = layout.width - bar.cx;
  layout.buttonDy = layout.pageAreaHeight + layout.paneHeight;
  layout.client = {layout.width, bar.cy + layout.pageAreaHeight + layout.paneHeight};
  return layout;
}

int ResolveWizardMove(int pageResult, int currentIndex, int step, const std::vector<unsigned>& templateIds) {
  const int count = static_cast<int>(templateIds.size());
  if (pageResult == -1) return -1;
  if (pageResult == 0) {
    int target = currentIndex + step;
    return (currentIndex >= 0 && target >= 0 && target < count) ? target : -1;
  }
  for (int i = 0; i < count; ++i) {
    if (templateIds[i] == static_cast<unsigned>(pageResult)) return i;
  }
  return -1;
}
