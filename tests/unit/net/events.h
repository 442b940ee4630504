// Callbacks that record what the library reported, one recorder per side.
#pragma once

#include <string>
#include <vector>

#include "net/conn.h"

namespace nettest {

struct Events {
  std::vector<std::string> order;  // "record", "close <reason>", "finalizer"
  std::vector<std::vector<unsigned char>> records;
  std::vector<int> reasons;
  std::vector<conn_t> closed;
  int handler_result = 0;
  int accept_result = 0;
  int accepts = 0;
  int hiwater_accepts = 0;

  void Clear() { *this = Events(); }
};

inline Events g_server;
inline Events g_client;

template <Events* E>
int OnRecord(conn_t, const unsigned char* p, int n) {
  E->records.emplace_back(p, p + n);
  E->order.push_back("record");
  return E->handler_result;
}

template <Events* E>
int OnClose(conn_t c, int reason) {
  E->reasons.push_back(reason);
  E->closed.push_back(c);
  E->order.push_back("close " + std::to_string(reason));
  return 0;
}

template <Events* E>
void OnFinal(conn_t) {
  E->order.push_back("finalizer");
}

template <Events* E>
int OnAccept(conn_t) {
  ++E->accepts;
  return E->accept_result;
}

template <Events* E>
int OnHiwater(conn_t) {
  ++E->hiwater_accepts;
  return E->accept_result;
}

inline std::vector<unsigned char> Text(const std::string& s) { return std::vector<unsigned char>(s.begin(), s.end()); }

}  // namespace nettest
