// The shell's folder browser, opened at the folder the owner shows.
#pragma once

#include <string>

#include "framework/dialog.h"

// Each caller keeps its own initial-selection buffer.
struct CBrowseBuffer {
  char szPath[260] = {};
};

// Takes the owner's data (UpdateData), opens the browser at currentFolder with
// the title string titleId, and puts a chosen folder into the owner's control
// 1000. Cancelling changes nothing.
void BrowseForFolder(CDialog* owner, const std::string& currentFolder, unsigned titleId, CBrowseBuffer& initial);
