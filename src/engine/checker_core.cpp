#include "engine/checker_core.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/mbcs.h"
#include "engine/crc32.h"
#include "engine/packed.h"
#include "platform/system.h"
#include "trust/sha256.h"

namespace {

// How often a signed file is downloaded before its wrong SHA-256 stops the run.
constexpr int kSignedFileDownloads = 3;

}  // namespace

void AppendBackslash(std::string& folder) {
  if (!folder.empty() && !mbcs::EndsWithChar(folder, '\\')) folder += '\\';
}

CCheckerCore::CCheckerCore() = default;

CCheckerCore::~CCheckerCore() {
  while (!m_listFiles.empty()) m_listFiles.pop_back();
  std::free(m_pListData);
  m_pListData = nullptr;
  m_listNotify.ReleaseAll();
}

void CCheckerCore::SetNotifyTarget(plat::WindowHandle window, uint32_t message) {
  m_hNotifyWnd = window;
  m_nNotifyMsg = message;
}

bool CCheckerCore::StartThread() {
  m_bThreadStarted = plat::StartThread([this] { RunWorker(); });
  return m_bThreadStarted;
}

void CCheckerCore::SetResult(int result, int extra) {
  m_nResult = result;
  m_nResultExtra = extra;
}

bool CCheckerCore::QueueAndWait(CUpdateNotify* notify) {
  if (!m_listNotify.Add(notify)) return false;
  if (m_hNotifyWnd && m_nWakeMsg) plat::PostToWindow(m_hNotifyWnd, m_nWakeMsg, 0, 0);
  m_listNotify.m_event.Wait(plat::ManualResetEvent::kInfinite);
  return true;
}

CUpdateNotify* CCheckerCore::CreateNotify() { return new (std::nothrow) CUpdateNotify; }

bool CCheckerCore::PostAndWait(uint32_t kind, const char* text, int value, int extra) {
  CUpdateNotify* notify = CreateNotify();
  if (!notify) return false;
  notify->m_nKind = kind;
  notify->m_nValue = value;
  notify->m_nExtra = extra;
  notify->SetText(text);
  return QueueAndWait(notify);
}

bool CCheckerCore::FileCrc(const std::string& path, uint32_t* crc, uint32_t* error) {
  CCrc32 calc;
  if (!calc.Compute(path, error)) return false;
  *crc = calc.GetValue();
  return true;
}

bool CCheckerCore::GetAvailableSpace(const std::string& root, uint64_t* available) {
  return plat::GetFreeDiskSpace(root, available);
}

void CCheckerCore::PostFinal(uint16_t type, int code, int lParam) {
  uintptr_t wParam = (static_cast<uintptr_t>(static_cast<uint16_t>(code)) << 16) | type;
  if (m_hNotifyWnd) plat::PostToWindow(m_hNotifyWnd, m_nNotifyMsg, wParam, lParam);
}

void CCheckerCore::RunWorker() {
  AppendBackslash(m_strImageFolder);
  AppendBackslash(m_strDownloadFolder);

  int result = LoadFileList();
  if (result == ENGINE_NO_SERVER) return PostFinal(RESULT_TYPE_NO_SERVER, 0, m_nResultExtra);
  if (result != 0) return PostFinal(RESULT_TYPE_FAILURE, result, m_nResultExtra);
  result = VerifyPublication();
  if (result != 0) return PostFinal(RESULT_TYPE_FAILURE, result, m_nResultExtra);

  result = CheckInstalledFiles();
  if (result < 0) return PostFinal(RESULT_TYPE_FAILURE, result, m_nResultExtra);
  if (result == 0) return PostFinal(RESULT_TYPE_SUCCESS, 0, 0);

  result = InstallAll();
  if (result != 0) return PostFinal(RESULT_TYPE_FAILURE, result, m_nResultExtra);
  // The count of installed files travels in the high word.
  PostFinal(RESULT_TYPE_SUCCESS, static_cast<int>(m_listUpdate.size()), 0);
}

int CCheckerCore::LoadFileList() {
  if (!PostAndWait(NOTIFY_LOAD_LIST)) return ENGINE_LOAD_NOTIFY_FAILED;
  if (m_nResult != 0) return m_nResult;

  std::pair<const void*, size_t> received{nullptr, 0};
  if (m_listSource) received = m_listSource();
  if (!received.first) received.second = 0;
  m_nListDataSize = static_cast<uint32_t>(received.second);
  m_pListData = static_cast<unsigned char*>(std::malloc(received.second ? received.second : 1));
  if (!m_pListData) return LOAD_COPY_NO_MEMORY;
  if (received.second) std::memcpy(m_pListData, received.first, received.second);
  if (m_bSignatureRequired) {
    try {
      m_abListSha256 = CSha256::Of(m_pListData, received.second);
    } catch (const std::exception&) {
      return LOAD_COPY_NO_MEMORY;
    }
  }

  const unsigned char* list = m_pListData;
  size_t listSize = received.second;
  unsigned char* unpacked = nullptr;
  uint32_t unpackedSize = 0;
  int result = UnpackBuffer(m_pListData, listSize, &unpacked, &unpackedSize);
  if (result == UNPACK_OK) {
    list = unpacked;
    listSize = unpackedSize;
  } else if (result != UNPACK_NOT_PACKED) {
    result = LOAD_UNPACK_FAILED;
  }
  if (result == UNPACK_OK || result == UNPACK_NOT_PACKED) result = ParseFileList(list, listSize);

  FreeUnpacked(unpacked);
  std::free(m_pListData);
  m_pListData = nullptr;
  m_nListDataSize = 0;
  return result;
}

int CCheckerCore::InstallAll() {
  const uint32_t total = static_cast<uint32_t>(m_listFiles.size());
  uint32_t done = total - static_cast<uint32_t>(m_listUpdate.size());
  auto extra = [&] { return static_cast<int>(((total & 0xFFFF) << 16) | (done & 0xFFFF)); };

  if (!PostAndWait(NOTIFY_INSTALL_PHASE, nullptr, 0, extra())) return ENGINE_INSTALL_ALL_NOTIFY_FAILED;
  // Before the disk-space checks count what is free.
  RemoveLeftoverTempFiles();
  int failure = 0;
  for (CCheckFile* file : m_listUpdate) {
    failure = InstallOne(file);
    if (failure != 0) break;
    ++done;
    if (!PostAndWait(NOTIFY_INSTALL_PHASE, nullptr, 2, extra())) return ENGINE_INSTALL_ALL_NOTIFY_FAILED;
  }
  if (!PostAndWait(NOTIFY_INSTALL_PHASE, nullptr, 1, extra())) return ENGINE_INSTALL_ALL_NOTIFY_FAILED;
  return failure;
}

int CCheckerCore::InstallOne(CCheckFile* file) {
  if (!PostAndWait(NOTIFY_INSTALL_FILE, file->m_strName.c_str())) return ENGINE_INSTALL_ONE_NOTIFY_FAILED;
  for (int download = 1;; ++download) {
    int result = PrepareDownload(file);
    if (result != 0) return result;
    result = InstallFile(file);
    if (result != TRUST_FILE_MISMATCH) return result;
    // Parts that join into something the publisher did not sign are worth
    // nothing, also to a later run.
    DiscardParts(*file);
    if (download == kSignedFileDownloads) return result;
  }
}
