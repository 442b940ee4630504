// The engine of one build run. The install page creates it, gives it the two
// folders and a window, and starts its worker; the worker loads the file list,
// checks the installed files and installs the ones that need it, asking the
// page for everything else through notifications, and ends by posting one
// message with the outcome.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>

#include "engine/records.h"
#include "platform/files.h"
#include "platform/message.h"
#include "trust/ed25519.h"

// Codes of the engine's own plumbing.
inline constexpr int ENGINE_LOAD_NOTIFY_FAILED = -100;
inline constexpr int ENGINE_CHECK_NOTIFY_FAILED = -99;
inline constexpr int ENGINE_INSTALL_ALL_NOTIFY_FAILED = -98;
inline constexpr int ENGINE_INSTALL_ONE_NOTIFY_FAILED = -97;
inline constexpr int ENGINE_DISK_NOTIFY_FAILED = -96;
inline constexpr int ENGINE_DOWNLOAD_NOTIFY_FAILED = -95;
inline constexpr int ENGINE_INSTALL_FILE_NOTIFY_FAILED = -94;
inline constexpr int ENGINE_FREE_SPACE_FAILED = -93;
inline constexpr int ENGINE_NO_SERVER = -199;  // kind-1 reply: no connection
inline constexpr int LOAD_COPY_NO_MEMORY = -188;
inline constexpr int LOAD_TAKE_NO_MEMORY = -187;
inline constexpr int LOAD_UNPACK_FAILED = -186;
inline constexpr int CHECK_READ_FAILED = -300;
// Codes of the publisher's signature (a starter that carries the key).
inline constexpr int TRUST_MANIFEST_UNAVAILABLE = -170;  // kind-13 reply: it could not be downloaded
inline constexpr int TRUST_MANIFEST_MALFORMED = -171;
inline constexpr int TRUST_BAD_SIGNATURE = -172;
inline constexpr int TRUST_LIST_MISMATCH = -173;    // the list is not the one the manifest signs
inline constexpr int TRUST_OLDER_PUBLICATION = -174;  // a lower serial than one accepted before
inline constexpr int TRUST_FILE_MISMATCH = -175;    // a joined file has another SHA-256
inline constexpr int TRUST_BAD_KEY = -176;          // the key the starter carries cannot be read

// Outcome types of the final message (low word of wParam).
inline constexpr uint16_t RESULT_TYPE_SUCCESS = 0;
inline constexpr uint16_t RESULT_TYPE_FAILURE = 1;
inline constexpr uint16_t RESULT_TYPE_NO_SERVER = 2;

class CCrc32;
class CSha256;

class CCheckerCore {
 public:
  CCheckerCore();
  virtual ~CCheckerCore();
  CCheckerCore(const CCheckerCore&) = delete;
  CCheckerCore& operator=(const CCheckerCore&) = delete;

  // Where the worker finds the file-list data once the page has answered kind 1
  // with 0: the application object's list buffer and the bytes appended to it.
  using ListDataSource = std::function<std::pair<const void*, size_t>()>;

  void SetNotifyTarget(plat::WindowHandle window, uint32_t message);
  // A message posted to the same window whenever a notification is queued, so
  // the page handles it at once rather than at its next timer tick (0: none).
  void SetWakeMessage(uint32_t message) { m_nWakeMsg = message; }
  void SetImageFolder(const std::string& folder) { m_strImageFolder = folder; }
  void SetDownloadFolder(const std::string& folder) { m_strDownloadFolder = folder; }
  void SetListDataSource(ListDataSource source) { m_listSource = std::move(source); }
  // Makes the run accept only a list that the publisher's manifest signs with
  // key, with a serial of at least lowestSerial. No key: the starter carries
  // one it cannot read, and every run stops.
  void RequireSignature(const std::optional<ed25519::PublicKey>& key, uint64_t lowestSerial);
  // Starts the worker; false when the thread cannot be created.
  bool StartThread();
  // The page's reply to the notification the worker waits on.
  void SetResult(int result, int extra);

  // The worker's body, ending with the final message.
  void RunWorker();

  // The steps of a run, in order.
  int LoadFileList();
  int ParseFileList(const void* data, size_t length);
  // With a required signature: fetches and checks the manifest, and gives
  // every file its SHA-256. 0 at once without one.
  int VerifyPublication();
  int CheckInstalledFiles();
  int InstallAll();
  int InstallOne(CCheckFile* file);
  int PrepareDownload(CCheckFile* file);
  int InstallFile(CCheckFile* file);

  // Gives every part its name in the download folder: the last component of
  // its URL, unless a file of the list (or a folder on its way) has that path,
  // or another part of the same file has that name; then a name of its own.
  void AssignLocalNames();
  // True when path is a target file of the list or a folder on its way.
  bool IsListPath(const std::string& path) const;

  int m_nLeadNumber = 0;
  std::string m_strBaseUrl;
  std::string m_strImageFolder;     // ends with '\' once the worker runs
  std::string m_strDownloadFolder;  // ends with '\' once the worker runs
  std::string m_strInstallerName;
  CCheckFileList m_listFiles;       // owning, in list order
  CCheckFilePtrList m_listUpdate;   // the files to install, in list order
  unsigned char* m_pListData = nullptr;
  uint32_t m_nListDataSize = 0;
  bool m_bThreadStarted = false;
  plat::WindowHandle m_hNotifyWnd = nullptr;
  uint32_t m_nNotifyMsg = 0;
  uint32_t m_nWakeMsg = 0;
  CUpdateNotifyList m_listNotify;
  int m_nResult = 0;
  int m_nResultExtra = 0;
  bool m_bSignatureRequired = false;
  std::optional<ed25519::PublicKey> m_publisherKey;
  uint64_t m_qwLowestSerial = 0;
  std::array<uint8_t, 32> m_abListSha256{};  // of the list bytes as received

 protected:
  // Queues a text-form notification and waits for the page; false when it
  // cannot be created (nothing is then waited for).
  bool PostAndWait(uint32_t kind, const char* text = nullptr, int value = 0, int extra = 0);
  // Queues any notification (ownership passes) and waits; false when it cannot be queued.
  bool QueueAndWait(CUpdateNotify* notify);

  // A new, empty notification; null when memory is short.
  virtual CUpdateNotify* CreateNotify();
  // The CRC-32 of a whole file with a fresh CCrc32; *error as CCrc32::Compute.
  virtual bool FileCrc(const std::string& path, uint32_t* crc, uint32_t* error);
  // FileCrc, and for a signed file whether it also has the signed SHA-256,
  // from the same read (*signedMatch is true for an unsigned file).
  bool FileCrcAndDigest(const CCheckFile& file, const std::string& path, uint32_t* crc, bool* signedMatch,
                        uint32_t* error);
  // Bytes available to this user on the drive of root.
  virtual bool GetAvailableSpace(const std::string& root, uint64_t* available);

 private:
  void PostFinal(uint16_t type, int code, int lParam);
  int ReadParts(class CListReader& in, uint8_t flags, CCheckFile& file);
  // One attempt of InstallFile: 0, an attempt code with *detail, or -94.
  int InstallAttempt(CCheckFile& file, const std::string& destination, int* detail);
  // The attempt's steps once its temporary file is open (out, closed here).
  int JoinAndInstall(CCheckFile& file, const std::string& temp, plat::FileHandle out, const std::string& destination,
                     int* detail);
  // Appends one part to the temporary file, feeding every byte written to
  // joined: 0 or an attempt code with *detail.
  int AppendPart(const CDLFileInfo& part, const std::string& partPath, plat::FileHandle temp, CCrc32& joined,
                 CSha256* joinedSha, int* detail);
  // Throws a file's parts away so that they are downloaded again, past any cache.
  void DiscardParts(CCheckFile& file);

  // A new temporary file's path in the download folder.
  std::string MakeTempName() const;
  // Deletes a part or temporary file of the run; never a file of the list.
  bool DeleteRunFile(const std::string& path) const;
  // Temporary files that earlier runs left in the download folder.
  void RemoveLeftoverTempFiles() const;

  ListDataSource m_listSource;
  std::unordered_set<std::string> m_setListPaths;  // PathKey of every list path
};

// Makes sure a non-empty folder ends with one '\' (found multibyte-aware).
void AppendBackslash(std::string& folder);
// The name of a run's temporary file, "_gs" + 16 hex digits + ".tmp", from
// its two halves; a later run removes what such names leave behind.
std::string TempFileName(uint32_t high, uint32_t low);
