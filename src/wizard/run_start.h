// What a build run on this machine starts with: the folders and download
// settings chosen, the file-information server, the publisher's key that
// the program may carry, and the highest publication accepted here before.
#pragma once

#include <string>

#include "run/run_settings.h"
#include "settings/settings_ini.h"

// The key a starter built with one carries: a starter with a key accepts
// only publications that the publisher signed.
EmbeddedKey LoadPublisherKey(ed25519::PublicKey* key);

CRunSettings MakeRunSettings(const std::string& imageFolder, const std::string& downloadFolder,
                             const CBinaryDownloadSetting& setting, const CTransferSetting& transfer,
                             bool bootInstaller, const CIniFile& ini);
