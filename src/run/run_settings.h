// What a build run runs with, fixed when it starts: the two folders, the
// download settings (proxy), the file-information server, and the
// publisher's key with the highest publication accepted before.
#pragma once

#include <cstdint>
#include <string>

#include "settings/settings.h"
#include "trust/ed25519.h"

// Whether the starter carries a publisher's key.
enum class EmbeddedKey {
  kNone,        // built without a key: runs as it always did
  kValid,       // the key is there
  kUnreadable,  // a key resource that is not a public key: nothing may be trusted
};

struct CRunSettings {
  std::string strImageFolder;
  std::string strDownloadFolder;
  CBinaryDownloadSetting setting;
  CTransferSetting transfer;
  bool bBootInstaller = false;  // for the run log: the face launches the installer
  std::string strServerHost = kDefaultServerHost;
  int nServerPort = kDefaultServerPort;
  EmbeddedKey keyState = EmbeddedKey::kNone;
  ed25519::PublicKey publisherKey{};
  uint64_t qwAcceptedSerial = 0;
};
