// The records the engine shares with the install page: target files and their
// parts, and the notifications the worker hands to the page.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/system.h"

inline constexpr uint16_t FILE_FLAG_UPDATE = 0x0001;      // the check found the file needs installing
inline constexpr uint16_t FILE_FLAG_RAW = 0x0010;         // the part file is the content itself
inline constexpr uint16_t FILE_FLAG_DOWNLOADED = 0x0020;  // the part file is present and verified
inline constexpr uint16_t FILE_FLAG_RELOAD = 0x0040;      // fetch the part past any cache: its last copy was bad

// One downloadable part of a target file.
struct CDLFileInfo {
  uint16_t m_wFlags = 0;
  uint32_t m_dwCrc = 0;        // CRC-32 of the bytes the part contributes
  uint32_t m_dwSize = 0;       // number of those bytes
  std::string m_strRemoteName;  // behind the download base; may contain '/'
  uint32_t m_dwPackedCrc = 0;  // CRC-32 of the part file as downloaded
  uint32_t m_dwPackedSize = 0;
  std::string m_strLocalName;  // name in the download folder (DeriveLocalName)
};

// One target file of the installer image.
struct CCheckFile {
  uint16_t m_wFlags = 0;
  std::string m_strName;  // relative to the image folder, '\' between folders
  uint32_t m_dwCrc = 0;
  uint32_t m_dwSize = 0;
  uint64_t m_ftCreation = 0;   // FILETIME
  uint64_t m_ftLastWrite = 0;  // FILETIME; also the last-access time
  std::vector<CDLFileInfo> m_aParts;  // in the order they are joined
  // Set from the publisher's signed manifest: the file must also have this SHA-256.
  bool m_bSigned = false;
  std::array<uint8_t, 32> m_abSha256{};
};

// Owning list of every target file, and the non-owning list of those to install.
using CCheckFileList = std::list<std::unique_ptr<CCheckFile>>;
using CCheckFilePtrList = std::list<CCheckFile*>;

// Notification kinds, worker -> page.
enum : uint32_t {
  NOTIFY_LOAD_LIST = 1,      // run the file-information session; reply 0 or a code
  NOTIFY_CHECK_PHASE = 2,    // value 0: check starts (text: installer name); 1: check ends
  NOTIFY_CHECK_FILE = 3,     // text: file being checked
  NOTIFY_CHECK_ERROR = 4,    // value -300, extra: system error; reply -299 to retry
  NOTIFY_INSTALL_PHASE = 5,  // value 0 start, 2 one more done, 1 finished; extra (total << 16) | done
  NOTIFY_INSTALL_FILE = 6,   // text: file being installed
  NOTIFY_PREPARE = 7,        // looking at the parts already downloaded
  NOTIFY_DISK_CHECK = 8,     // parts are missing; checking the free space
  NOTIFY_DISK_SPACE = 9,     // disk-space form; reply 0 to go on
  NOTIFY_DOWNLOAD = 10,      // download request; reply 0 when every part is there
  NOTIFY_FILE_PROGRESS = 11, // value 0: text destination; value 1: extra percent
  NOTIFY_INSTALL_ERROR = 12, // value: code, extra: detail, text: destination; reply -368 to retry
  // Only for a starter that carries the publisher's key:
  NOTIFY_LOAD_MANIFEST = 13,         // download-request form without a file; text: the name in the
                                     // download folder to fetch the manifest to; reply 0 or a code
  NOTIFY_PUBLICATION_ACCEPTED = 14,  // text: the serial in decimal, to be kept; value: files signed
};

// Replies the page gives that the engine looks for.
inline constexpr int REPLY_CHECK_RETRY = -299;
inline constexpr int REPLY_INSTALL_RETRY = -368;

// One drive of the disk-space question.
struct CDiskSpaceInfo {
  char m_szRoot[256] = {};  // root with its '\'; all zero when unused
  uint64_t m_qwNeeded = 0;
  uint64_t m_qwAvailable = 0;

  bool InUse() const { return m_szRoot[0] != '\0'; }
  void Set(const std::string& root, uint64_t needed, uint64_t available);
};

// One notification. Every kind uses the head; kind 9 uses the disk-space
// records, kind 10 the three request pointers, the others the text and extra.
struct CUpdateNotify {
  uint32_t m_nKind = 0;
  int32_t m_nValue = 0;

  char m_szText[260] = {};
  int32_t m_nExtra = 0;

  CDiskSpaceInfo m_install;
  CDiskSpaceInfo m_download;

  CCheckFile* m_pFile = nullptr;               // engine-owned; valid while the engine waits
  const char* m_pszBaseUrl = nullptr;
  const char* m_pszDownloadFolder = nullptr;  // ends with '\'

  // Copies text (null: empty), cut to 259 bytes.
  void SetText(const char* text);
};

// The process-wide lock that guards every notification list; the page holds it
// while it handles the queue.
plat::CriticalSection& EngineSharedLock();

// The queue of notifications and its hand-over event. The worker appends and
// then waits on m_event; the page handles the queue under EngineSharedLock()
// and ReleaseAll() lets the worker go on.
class CUpdateNotifyList {
 public:
  CUpdateNotifyList();
  ~CUpdateNotifyList();
  CUpdateNotifyList(const CUpdateNotifyList&) = delete;
  CUpdateNotifyList& operator=(const CUpdateNotifyList&) = delete;

  // Takes ownership; appends under the lock and resets the event. False (and
  // the notification deleted) when it cannot be queued.
  bool Add(CUpdateNotify* notify);
  // Deletes every queued notification (tail first) and sets the event.
  void ReleaseAll();

  // For the page, while it holds EngineSharedLock().
  bool IsEmpty() const { return m_list.empty(); }
  size_t GetCount() const { return m_list.size(); }
  std::list<CUpdateNotify*>::const_iterator begin() const { return m_list.begin(); }
  std::list<CUpdateNotify*>::const_iterator end() const { return m_list.end(); }

  plat::ManualResetEvent m_event;  // manual reset, created signalled
  // When the newest notification was queued (for the run's timing trace).
  std::chrono::steady_clock::time_point m_tQueued;

 private:
  std::list<CUpdateNotify*> m_list;
};
