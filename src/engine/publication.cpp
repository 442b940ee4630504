// The publisher's signature over a publication. A starter that carries the
// publisher's key trusts neither the list's path nor the parts' server: after
// the list it fetches the manifest that the publisher signed, and goes on only
// when the signature holds, the list is the one it signs and the publication
// is not older than one this user accepted before. Every file then carries the
// manifest's SHA-256, checked wherever its CRC-32 is.
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "engine/checker_core.h"
#include "engine/crc32.h"
#include "engine/file_ops.h"
#include "platform/files.h"
#include "trust/manifest.h"
#include "trust/sha256.h"

namespace {

// The whole file, when it is no larger than limit.
bool ReadSmallFile(const std::string& path, size_t limit, std::vector<uint8_t>* bytes) {
  plat::FileStatus status;
  if (!plat::GetFileStatus(path, &status) || status.size > limit) return false;
  plat::FileHandle in = plat::OpenFile(path, plat::OpenMode::ReadExisting);
  if (in == plat::kInvalidFile) return false;
  bytes->assign(static_cast<size_t>(status.size), 0);
  const bool ok = ReadExactly(in, bytes->data(), bytes->size());
  plat::CloseFile(in);
  return ok;
}

}  // namespace

void CCheckerCore::RequireSignature(const std::optional<ed25519::PublicKey>& key, uint64_t lowestSerial) {
  m_bSignatureRequired = true;
  m_publisherKey = key;
  m_qwLowestSerial = lowestSerial;
}

int CCheckerCore::VerifyPublication() {
  if (!m_bSignatureRequired) return 0;
  if (!m_publisherKey) return TRUST_BAD_KEY;

  // The manifest is fetched like a part, to a temporary name that no file of
  // the list can have.
  AssignLocalNames();
  const std::string path = MakeTempName();
  CUpdateNotify* request = CreateNotify();
  if (!request) return ENGINE_LOAD_NOTIFY_FAILED;
  request->m_nKind = NOTIFY_LOAD_MANIFEST;
  request->m_pszBaseUrl = m_strBaseUrl.c_str();
  request->m_pszDownloadFolder = m_strDownloadFolder.c_str();
  request->SetText(path.c_str() + m_strDownloadFolder.size());
  m_nResult = 0;
  m_nResultExtra = 0;
  if (!QueueAndWait(request)) return ENGINE_LOAD_NOTIFY_FAILED;
  std::vector<uint8_t> bytes;
  const bool read = m_nResult == 0 && ReadSmallFile(path, kMaxManifestBytes, &bytes);
  DeleteRunFile(path);
  if (m_nResult != 0) return m_nResult;
  m_nResultExtra = 0;
  if (!read) return TRUST_MANIFEST_MALFORMED;

  CManifest manifest;
  switch (ReadSignedManifest(bytes.data(), bytes.size(), *m_publisherKey, &manifest)) {
    case ManifestCheck::Ok: break;
    case ManifestCheck::Malformed: return TRUST_MANIFEST_MALFORMED;
    case ManifestCheck::BadSignature: return TRUST_BAD_SIGNATURE;
  }
  if (manifest.m_listSha256 != m_abListSha256 || manifest.m_files.size() != m_listFiles.size())
    return TRUST_LIST_MISMATCH;
  auto entry = manifest.m_files.begin();
  for (const std::unique_ptr<CCheckFile>& file : m_listFiles) {
    if (entry->m_dwSize != file->m_dwSize) return TRUST_LIST_MISMATCH;
    file->m_bSigned = true;
    file->m_abSha256 = entry->m_sha256;
    ++entry;
  }
  if (manifest.m_qwSerial < m_qwLowestSerial) return TRUST_OLDER_PUBLICATION;

  char serial[24];
  std::snprintf(serial, sizeof serial, "%llu", static_cast<unsigned long long>(manifest.m_qwSerial));
  if (!PostAndWait(NOTIFY_PUBLICATION_ACCEPTED, serial, static_cast<int>(m_listFiles.size())))
    return ENGINE_LOAD_NOTIFY_FAILED;
  return 0;
}

bool CCheckerCore::FileCrcAndDigest(const CCheckFile& file, const std::string& path, uint32_t* crc,
                                    bool* signedMatch, uint32_t* error) {
  *signedMatch = true;
  if (!file.m_bSigned) return FileCrc(path, crc, error);
  try {
    CCrc32 calc;
    CSha256 sha;
    if (!ForEachFileBlock(path, [&](const void* data, size_t size) {
          calc.Update(data, size);
          sha.Update(data, size);
        }, error))
      return false;
    *crc = calc.GetValue();
    *signedMatch = sha.GetValue() == file.m_abSha256;
    return true;
  } catch (const std::exception&) {
    if (error) *error = 0;  // as when the read buffer cannot be had
    return false;
  }
}

void CCheckerCore::DiscardParts(CCheckFile& file) {
  for (CDLFileInfo& part : file.m_aParts) {
    DeleteRunFile(m_strDownloadFolder + part.m_strLocalName);
    part.m_wFlags |= FILE_FLAG_RELOAD;
  }
}
