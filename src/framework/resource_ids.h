// String ids the framework itself shows (data-exchange validation).
#pragma once

inline constexpr unsigned IDS_ENTER_UNSIGNED = 10111;        // not a number
inline constexpr unsigned IDS_ENTER_UNSIGNED_RANGE = 10112;  // %u .. %u
