// wren-publish: makes a publish folder from a folder of game files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "publish/publish.h"
#include "publish/publish_folder.h"

namespace {

void Usage(FILE* out) {
  std::fprintf(out,
               "usage: wren-publish --host HOST[:PORT] --installer NAME [options] SOURCE OUTPUT\n"
               "       wren-publish prune OUTPUT --keep N [--dry-run]\n"
               "       wren-publish keygen FILE\n"
               "\n"
               "Turns the game files in SOURCE into the publish folder OUTPUT: part files under\n"
               "OUTPUT/files/ for an HTTP server, and OUTPUT/filelist.dat for wren-fileinfo-server.\n"
               "Publishing again into the same OUTPUT writes only the part files that are not\n"
               "there yet; the parts of earlier publications stay for the players still\n"
               "fetching them, and their lists under OUTPUT/publications/.\n"
               "\n"
               "prune removes the part files that none of the last N publications (nor the one\n"
               "served now) uses, and the lists of the older ones. --dry-run only tells.\n"
               "\n"
               "keygen makes a new signing key pair: FILE holds the private key (readable by\n"
               "you only; keep it safe), FILE.pub the public key that starters are built with.\n"
               "Neither file is overwritten.\n"
               "\n"
               "  --host HOST[:PORT]  the HTTP server that serves OUTPUT (required)\n"
               "  --path /URL/PATH/   where OUTPUT is served on that server (default /)\n"
               "  --installer NAME    the installer's path inside SOURCE (required)\n"
               "  --part-size N[K|M]  split files larger than this (default 4M, at most 1024M)\n"
               "  --lead N            the list's leading number, 0 to 4294967295 (default 1)\n"
               "  --raw PATTERN       store files whose path matches PATTERN unpacked (repeatable)\n"
               "  --raw-all           store every file unpacked\n"
               "  --sign KEYFILE      sign the publication with the private key in KEYFILE:\n"
               "                      OUTPUT/manifest.dat vouches for the list and every file\n"
               "  --serial N          the manifest's serial (default: the current Unix time, or\n"
               "                      one more than the serial already in OUTPUT if that is\n"
               "                      larger); must be greater than the serial already in OUTPUT\n"
               "\n"
               "Names are converted from UTF-8 to code page 932. filelist.dat and manifest.dat\n"
               "are replaced last, each in one step, only when everything else succeeded; a\n"
               "publish that fails leaves the previous publication as it was.\n");
}

int KeyGen(const char* file) {
  try {
    const std::filesystem::path publicKeyFile = wren_tools::MakeKeyPair(file);
    std::printf("private key: %s\npublic key:  %s\n", file, publicKeyFile.c_str());
    return 0;
  } catch (const wren_tools::PublishError& e) {
    std::fprintf(stderr, "wren-publish: %s\n", e.what());
    return 1;
  }
}

// "1 234 567": byte counts of publications are read by people.
std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, " ");
  return digits;
}

int PruneCommand(int argc, char** argv) {
  const char* output = nullptr;
  std::optional<uint32_t> keep;
  bool dryRun = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    std::optional<uint64_t> value;
    if (arg == "--keep" && i + 1 < argc && (value = wren_tools::ParsePlainNumber(argv[i + 1], UINT32_MAX))) {
      keep = static_cast<uint32_t>(*value);
      ++i;
    } else if (arg == "--dry-run") {
      dryRun = true;
    } else if (!output && (arg.empty() || arg[0] != '-')) {
      output = argv[i];
    } else {
      Usage(stderr);
      return 2;
    }
  }
  if (!output || !keep) {
    Usage(stderr);
    return 2;
  }
  try {
    const wren_tools::PruneSummary s = wren_tools::Prune(output, *keep, dryRun);
    const char* verb = dryRun ? "would remove" : "removed";
    std::printf("kept %zu publications (from %s on) and the list served now: %zu part files, %s bytes\n",
                s.publicationsKept, s.oldestKept.empty() ? "-" : s.oldestKept.c_str(), s.partsKept,
                Grouped(s.bytesKept).c_str());
    std::printf("%s %zu publications: %zu part files, %s bytes\n", verb, s.publicationsRemoved, s.partsRemoved,
                Grouped(s.bytesRemoved).c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wren-publish: %s\n", e.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "keygen") == 0) {
    if (argc != 3) {
      Usage(stderr);
      return 2;
    }
    return KeyGen(argv[2]);
  }
  if (argc >= 2 && std::strcmp(argv[1], "prune") == 0) return PruneCommand(argc, argv);
  wren_tools::PublishOptions options;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "wren-publish: %s needs a value\n", arg.c_str());
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      Usage(stdout);
      return 0;
    } else if (arg == "--host") {
      options.host = value();
    } else if (arg == "--path") {
      options.urlPath = value();
    } else if (arg == "--installer") {
      options.installer = value();
    } else if (arg == "--part-size") {
      const char* text = value();
      std::optional<uint32_t> size = wren_tools::ParsePartSize(text);
      if (!size) {
        std::fprintf(stderr, "wren-publish: bad part size \"%s\"\n", text);
        return 2;
      }
      options.partSize = *size;
    } else if (arg == "--lead") {
      const char* text = value();
      const std::optional<uint64_t> lead = wren_tools::ParsePlainNumber(text, UINT32_MAX);
      if (!lead) {
        std::fprintf(stderr,
                     "wren-publish: bad leading number \"%s\": --lead wants a whole number from 0 to %lu, in "
                     "digits only\n",
                     text, static_cast<unsigned long>(UINT32_MAX));
        return 2;
      }
      options.leadNumber = static_cast<uint32_t>(*lead);
    } else if (arg == "--raw") {
      options.rawPatterns.push_back(value());
    } else if (arg == "--raw-all") {
      options.rawAll = true;
    } else if (arg == "--sign") {
      options.signingKey = value();
    } else if (arg == "--serial") {
      const char* text = value();
      const std::optional<uint64_t> serial = wren_tools::ParsePlainNumber(text, UINT64_MAX);
      if (!serial) {
        std::fprintf(stderr,
                     "wren-publish: bad serial \"%s\": --serial wants a whole number from 0 to %llu, in digits "
                     "only\n",
                     text, static_cast<unsigned long long>(UINT64_MAX));
        return 2;
      }
      options.serial = *serial;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "wren-publish: unknown option %s\n", arg.c_str());
      Usage(stderr);
      return 2;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 2 || options.host.empty() || options.installer.empty()) {
    Usage(stderr);
    return 2;
  }
  options.source = positional[0];
  options.output = positional[1];

  try {
    const wren_tools::PublishSummary s = wren_tools::Publish(options);
    std::printf("published %zu files in %zu parts (%zu kept unpacked), %s bytes in part files, file list %zu bytes",
                s.files, s.parts, s.rawParts, Grouped(s.partBytes).c_str(), s.listBytes);
    if (s.serial) std::printf(", signed, serial %llu", static_cast<unsigned long long>(*s.serial));
    std::printf("\n");
    std::printf("written %zu part files, %s bytes; kept %zu already there, %s bytes\n", s.partsWritten,
                Grouped(s.bytesWritten).c_str(), s.partsKept, Grouped(s.bytesKept).c_str());
    std::printf("publication %s in %s\n", s.publication.c_str(), options.output.c_str());
    return 0;
  } catch (const wren_tools::PublishError& e) {
    std::fprintf(stderr, "wren-publish: %s\n", e.what());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "wren-publish: %s\n", e.what());
    return 1;
  }
}
