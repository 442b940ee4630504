#include "wizard/run_start.h"

#include <windows.h>

#include <string_view>

#include "trust/key_text.h"
#include "wizard/resource_ids.h"

EmbeddedKey LoadPublisherKey(ed25519::PublicKey* key) {
  HRSRC found = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDR_PUBLISHER_KEY), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (found == nullptr) return EmbeddedKey::kNone;
  HGLOBAL loaded = ::LoadResource(nullptr, found);
  const void* data = loaded ? ::LockResource(loaded) : nullptr;
  if (data == nullptr) return EmbeddedKey::kUnreadable;
  const std::optional<ed25519::PublicKey> parsed =
      ParsePublicKey(std::string_view(static_cast<const char*>(data), ::SizeofResource(nullptr, found)));
  if (!parsed) return EmbeddedKey::kUnreadable;
  *key = *parsed;
  return EmbeddedKey::kValid;
}

CRunSettings MakeRunSettings(const std::string& imageFolder, const std::string& downloadFolder,
                             const CBinaryDownloadSetting& setting, const CTransferSetting& transfer,
                             bool bootInstaller, const CIniFile& ini) {
  CRunSettings run;
  run.strImageFolder = imageFolder;
  run.strDownloadFolder = downloadFolder;
  run.setting = setting;
  run.transfer = transfer;
  run.bBootInstaller = bootInstaller;
  GetServerAddress(run.strServerHost, run.nServerPort);
  run.keyState = LoadPublisherKey(&run.publisherKey);
  if (run.keyState == EmbeddedKey::kValid) run.qwAcceptedSerial = GetAcceptedPublication(ini);
  return run;
}
