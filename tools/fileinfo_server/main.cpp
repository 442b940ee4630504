// wren-fileinfo-server: serves a publish folder's filelist.dat to the starter.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/list_limits.h"
#include "fileinfo_server/fileinfo_server.h"
#include "fileinfo_server/metrics.h"

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: wren-fileinfo-server [options] FILELIST\n"
               "\n"
               "Answers the starter's file-information requests with FILELIST (the filelist.dat\n"
               "of a publish folder). Logs every request and every connection's outcome on\n"
               "standard output. SIGHUP reads FILELIST again (replies in flight finish with the\n"
               "list they started with); SIGTERM or SIGINT stops accepting, lets the replies in\n"
               "flight finish and stops (a second signal stops at once).\n"
               "\n"
               "  --port N                 port to listen on (default 9070; 0 picks a free one)\n"
               "  --bind ADDRESS           address to listen on (default 127.0.0.1)\n"
               "  --chunk-size N           bytes of the list per reply record, 1-8192 (default 1024,\n"
               "                           more for lists above 255 KiB)\n"
               "  --max-connections N      connections held at once (default 20000, fewer when the\n"
               "                           file-descriptor limit is lower)\n"
               "  --max-per-address N      connections held at once from one address (default 0: any)\n"
               "  --request-timeout SEC    a connection must send a whole request within SEC of\n"
               "                           connecting or of its last reply (default 5)\n"
               "  --send-timeout SEC       a reply that the client stops reading for SEC is dropped\n"
               "                           (default 10)\n"
               "  --shutdown-grace SEC     how long replies in flight may take after SIGTERM (default 10)\n"
               "  --threads N              event loops on as many threads, 1-64 (default 1; the number\n"
               "                           of cores serves the most clients)\n"
               "  --watch                  also read FILELIST again whenever it is replaced (wren-publish\n"
               "                           renames a new one into place)\n"
               "  --metrics HOST:PORT      serve figures in Prometheus text format at\n"
               "                           http://HOST:PORT/metrics, and /health (200 while the server\n"
               "                           takes clients, else 503), on a listener of their own\n"
               "  --version                print the version and exit\n"
               "For tests, instead of the list:\n"
               "  --status S[,COUNT,INDEX] answer with status S (-3 updated, -1 no service,\n"
               "                           -100 maintenance, -98 busy, anything else) and the\n"
               "                           given chunk count and index (default 0,0); no FILELIST\n"
               "  --silent                 accept, read the request, never answer (the connection\n"
               "                           is held for 600 s)\n"
               "  --bad-record             answer with a record whose first byte is not '$'\n");
}

bool ParseLong(const char* text, long low, long high, long* value) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || errno || v < low || v > high) return false;
  *value = v;
  return true;
}

// Seconds, fractions allowed, as milliseconds: 0.001 to one day.
bool ParseSeconds(const char* text, int* ms) {
  char* end = nullptr;
  errno = 0;
  const double seconds = std::strtod(text, &end);
  if (!*text || *end || errno || !std::isfinite(seconds) || seconds < 0.001 || seconds > 86400) return false;
  *ms = static_cast<int>(std::lround(seconds * 1000));
  return true;
}

// "S" or "S,COUNT,INDEX".
bool ParseStatus(const char* text, wren_tools::ServerOptions* options) {
  std::string s = text;
  long status, count = 0, index = 0;
  const size_t comma = s.find(',');
  if (comma != std::string::npos) {
    const size_t second = s.find(',', comma + 1);
    if (second == std::string::npos) return false;
    if (!ParseLong(s.substr(comma + 1, second - comma - 1).c_str(), 0, 255, &count) ||
        !ParseLong(s.substr(second + 1).c_str(), 0, 255, &index))
      return false;
    s.resize(comma);
  }
  if (!ParseLong(s.c_str(), INT32_MIN, INT32_MAX, &status)) return false;
  options->status = static_cast<int32_t>(status);
  options->statusCount = static_cast<uint8_t>(count);
  options->statusIndex = static_cast<uint8_t>(index);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  wren_tools::ServerOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "wren-fileinfo-server: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    long number = 0;
    auto seconds = [&](int* ms) {
      if (!ParseSeconds(value(), ms)) {
        std::fprintf(stderr, "wren-fileinfo-server: %s takes seconds (0.001 to 86400)\n", arg.c_str());
        std::exit(2);
      }
    };
    auto count = [&](long low) {
      if (!ParseLong(value(), low, 10000000, &number)) {
        std::fprintf(stderr, "wren-fileinfo-server: %s takes a number from %ld to 10000000\n", arg.c_str(), low);
        std::exit(2);
      }
      return static_cast<size_t>(number);
    };
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("wren-fileinfo-server %s\n", WREN_VERSION);
      return 0;
    } else if (arg == "--max-connections") {
      options.maxConnections = count(1);
    } else if (arg == "--max-per-address") {
      options.maxPerAddress = count(0);
    } else if (arg == "--request-timeout") {
      seconds(&options.requestTimeoutMs);
    } else if (arg == "--send-timeout") {
      seconds(&options.sendTimeoutMs);
    } else if (arg == "--shutdown-grace") {
      seconds(&options.shutdownGraceMs);
    } else if (arg == "--threads") {
      if (!ParseLong(value(), 1, 64, &number)) {
        std::fprintf(stderr, "wren-fileinfo-server: --threads takes 1 to 64\n");
        return 2;
      }
      options.threads = static_cast<int>(number);
    } else if (arg == "--port") {
      if (!ParseLong(value(), 0, 65535, &number)) {
        std::fprintf(stderr, "wren-fileinfo-server: bad port\n");
        return 2;
      }
      options.port = static_cast<uint16_t>(number);
    } else if (arg == "--watch") {
      options.watch = true;
    } else if (arg == "--metrics") {
      if (!wren_tools::ParseHostPort(value(), &options.metricsHost, &options.metricsPort)) {
        std::fprintf(stderr, "wren-fileinfo-server: --metrics takes HOST:PORT (IPv6 in brackets)\n");
        return 2;
      }
    } else if (arg == "--bind") {
      options.bindHost = value();
    } else if (arg == "--chunk-size") {
      if (!ParseLong(value(), 1, static_cast<long>(wren_tools::kMaxChunkData), &number)) {
        std::fprintf(stderr, "wren-fileinfo-server: the chunk size must be 1 to %zu\n", wren_tools::kMaxChunkData);
        return 2;
      }
      options.chunkSize = static_cast<size_t>(number);
    } else if (arg == "--status") {
      if (!ParseStatus(value(), &options)) {
        std::fprintf(stderr, "wren-fileinfo-server: --status takes S or S,COUNT,INDEX\n");
        return 2;
      }
      options.mode = wren_tools::ReplyMode::Status;
    } else if (arg == "--silent") {
      options.mode = wren_tools::ReplyMode::Silent;
    } else if (arg == "--bad-record") {
      options.mode = wren_tools::ReplyMode::BadRecord;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "wren-fileinfo-server: unknown option %s\n", arg.c_str());
      Usage(stderr);
      return 2;
    } else if (options.listFile.empty()) {
      options.listFile = arg;
    } else {
      Usage(stderr);
      return 2;
    }
  }
  if (options.mode == wren_tools::ReplyMode::Data && options.listFile.empty()) {
    Usage(stderr);
    return 2;
  }
  if (options.watch && options.mode != wren_tools::ReplyMode::Data) {
    std::fprintf(stderr, "wren-fileinfo-server: --watch needs a FILELIST to watch\n");
    return 2;
  }

  return wren_tools::RunServer(options, stdout);
}
