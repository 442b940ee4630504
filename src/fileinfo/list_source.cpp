#include "fileinfo/list_source.h"

#include "fileinfo/net_socket.h"

CServerListSource::~CServerListSource() {
  if (g_bNetInitialized) m_socket.Close();  // also ends the library
}

int CServerListSource::FetchList(CFileInfoHost& host) {
  CFileInfoFetch fetch(m_socket, host);
  return fetch.FetchFileInformation();
}
