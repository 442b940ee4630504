// Where a build run gets its file list from: the file-information server in
// the program, a fixed list in tests.
#pragma once

#include "fileinfo/fetch.h"
#include "fileinfo/online_socket.h"

class IListSource {
 public:
  virtual ~IListSource() = default;
  // Fetches the list into the host's block: 0, or a FETCH_ code that has
  // already been given to the host's SetResult.
  virtual int FetchList(CFileInfoHost& host) = 0;
};

// The file-information server over the middleware; the library stays up
// until the source goes away.
class CServerListSource : public IListSource {
 public:
  ~CServerListSource() override;
  int FetchList(CFileInfoHost& host) override;

 private:
  CWrenOnlineSocket m_socket;
};
