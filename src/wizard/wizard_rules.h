// The wizard's rules that need no window: which buttons a page's flags give,
// where pages and buttons go, and which page Back or Next leads to.
#pragma once

#include <cstdint>
#include <vector>

// Button-state flags of SetWizardButtons.
inline constexpr uint32_t WIZB_BACK = 0x1;
inline constexpr uint32_t WIZB_NEXT = 0x2;
inline constexpr uint32_t WIZB_FINISH = 0x4;
inline constexpr uint32_t WIZB_DISABLEDFINISH = 0x8;
inline constexpr uint32_t WIZB_NOCANCEL = 0x10000000;

struct WizardButtonState {
  bool backEnabled;
  bool nextVisible;
  bool nextEnabled;
  bool finishVisible;
  bool finishEnabled;
  bool cancelEnabled;
  bool operator==(const WizardButtonState&) const = default;
};

WizardButtonState ButtonStateForFlags(uint32_t flags);

struct WizardSize {
  int cx;
  int cy;
};

struct WizardLayout {
  int width;              // N: the widest of pages, header pane and button bar
  int pageAreaHeight;     // H: the tallest page
  int paneHeight;         // P
  std::vector<int> pageX; // each page centred horizontally, at y = P
  int buttonDx;           // the buttons move right by this ...
  int buttonDy;           // ... and down by this from their template place
  WizardSize client;      // the wizard's client area
};

// pages: outer sizes of the pages; pane: the header pane; bar: the wizard's own
// client area as the button-bar template makes it.
WizardLayout ComputeWizardLayout(const std::vector<WizardSize>& pages, WizardSize pane, WizardSize bar);

// The page a Back (step -1) or Next (step +1) press leads to, given what the
// current page's OnWizardBack / OnWizardNext returned: 0 = the neighbour in the
// page array, -1 = stay, otherwise the page whose template id equals it.
// Returns the index to activate, or -1 when the wizard stays where it is.
int ResolveWizardMove(int pageResult, int currentIndex, int step, const std::vector<unsigned>& templateIds);
