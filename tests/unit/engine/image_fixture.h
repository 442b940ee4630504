// A small publisher in a scratch folder: target files are split into parts,
// written packed or raw into a "server" folder, and described by a file list;
// the page's download is a copy from there into the download folder.
#pragma once

#include <string>
#include <vector>

#include "engine/filelist.h"
#include "engine/filelist_writer.h"
#include "engine/packed.h"
#include "engine_harness.h"

namespace engine_test {

enum class PartKind { Packed, Raw };

struct TargetSpec {
  std::string name;
  std::string content;
  std::vector<PartKind> parts;
  uint64_t lastWrite = 0x01DA000000000000ULL;
  std::vector<std::string> partNames = {};  // the parts' file names; default fNpJ.bin
};

class CImageFixture {
 public:
  testing_support::ScratchFolder root;
  const std::string image = root / "image\\";
  const std::string download = root / "dl\\";
  const std::string server = root / "server\\";
  const std::string base = "/127.0.0.1/game/";
  std::vector<CCheckFile> files;  // as listed

  CImageFixture() {
    plat::MakeDirectory(root / "image");
    plat::MakeDirectory(root / "dl");
    plat::MakeDirectory(root / "server");
  }

  // Adds a target file; its parts go to the server folder.
  CCheckFile& Add(const TargetSpec& spec) {
    CCheckFile file;
    file.m_strName = spec.name;
    file.m_dwCrc = CrcOf(spec.content);
    file.m_dwSize = static_cast<uint32_t>(spec.content.size());
    file.m_ftCreation = spec.lastWrite - 1000;
    file.m_ftLastWrite = spec.lastWrite;
    const size_t n = spec.parts.size();
    for (size_t j = 0; j < n; ++j) {
      const size_t from = spec.content.size() * j / n, to = spec.content.size() * (j + 1) / n;
      const std::string piece = spec.content.substr(from, to - from);
      CDLFileInfo part;
      part.m_dwCrc = CrcOf(piece);
      part.m_dwSize = static_cast<uint32_t>(piece.size());
      std::string stored = piece;
      if (spec.parts[j] == PartKind::Raw) {
        part.m_wFlags = FILE_FLAG_RAW;
      } else {
        std::vector<unsigned char> packed = PackBuffer(piece.data(), piece.size());
        stored.assign(packed.begin(), packed.end());
      }
      part.m_dwPackedCrc = CrcOf(stored);
      part.m_dwPackedSize = static_cast<uint32_t>(stored.size());
      const std::string local = j < spec.partNames.size()
                                    ? spec.partNames[j]
                                    : "f" + std::to_string(files.size()) + "p" + std::to_string(j) + ".bin";
      part.m_strRemoteName = "parts/" + local;
      EXPECT_TRUE(testing_support::WriteWholeFile(server + local, stored));
      file.m_aParts.push_back(part);
    }
    if (n == 1) file.m_wFlags = file.m_aParts[0].m_wFlags;
    files.push_back(file);
    return files.back();
  }

  std::vector<unsigned char> List(const std::string& installer = "setup.exe") const {
    CFileListWriter writer(1, base, installer);
    for (const CCheckFile& f : files) writer.AddFile(f);
    return writer.BuildPacked();
  }

  // The server's file of a part (its URL's last component).
  static std::string ServerFile(const std::string& server, const CDLFileInfo& part) {
    return server + DeriveLocalName("", part.m_strRemoteName);
  }

  // Copies every part not yet downloaded from the server folder.
  static void Download(const CUpdateNotify& n, const std::string& server) {
    for (const CDLFileInfo& part : n.m_pFile->m_aParts)
      if (!(part.m_wFlags & FILE_FLAG_DOWNLOADED))
        testing_support::WriteWholeFile(n.m_pszDownloadFolder + part.m_strLocalName,
                                        testing_support::ReadWholeFile(ServerFile(server, part)));
  }

  // The page's usual behaviour: downloads succeed, questions are declined.
  CPageDriver::Reply StandardPage() const {
    const std::string from = server;
    return [from](CCheckerCore& engine, const CUpdateNotify& n) {
      switch (n.m_nKind) {
        case NOTIFY_DOWNLOAD: Download(n, from); break;
        case NOTIFY_CHECK_ERROR: engine.SetResult(-298, 0); break;
        case NOTIFY_DISK_SPACE: engine.SetResult(-297, 0); break;
        case NOTIFY_INSTALL_ERROR: engine.SetResult(-367, 0); break;
        default: break;
      }
    };
  }

  // An engine set up as the page sets it up, with this fixture's list.
  void Configure(CCheckerCore& engine, std::shared_ptr<std::vector<unsigned char>> list,
                 const std::string& downloadFolder = std::string()) const {
    engine.SetImageFolder(image.substr(0, image.size() - 1));  // the worker adds the '\'
    engine.SetDownloadFolder(downloadFolder.empty() ? download : downloadFolder);
    engine.SetListDataSource([list] { return std::pair<const void*, size_t>(list->data(), list->size()); });
  }
};

}  // namespace engine_test
