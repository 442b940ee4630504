// The file-list data: compact integers, counted strings, records, the packed
// container, hostile names, and the writer that produces all of it.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/mbcs.h"
#include "engine/checker_core.h"
#include "engine/filelist.h"
#include "engine/filelist_writer.h"
#include "engine/packed.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes B(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<unsigned char>(v));
  return out;
}

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// A list header: lead number 7, base "/host/dir/", installer "setup.exe", count.
Bytes Header(uint32_t count, const std::string& base = "/host/dir/", const std::string& installer = "setup.exe") {
  Bytes out;
  AppendCompact(out, 7);
  AppendCountedString(out, base);
  AppendCountedString(out, installer);
  AppendCompact(out, count);
  return out;
}

CDLFileInfo Part(uint16_t flags, uint32_t crc, uint32_t size, uint32_t packedCrc, uint32_t packedSize,
                 const std::string& remote) {
  CDLFileInfo part;
  part.m_wFlags = flags;
  part.m_dwCrc = crc;
  part.m_dwSize = size;
  part.m_dwPackedCrc = packedCrc;
  part.m_dwPackedSize = packedSize;
  part.m_strRemoteName = remote;
  return part;
}

CCheckFile File(const std::string& name, std::vector<CDLFileInfo> parts, uint16_t flags = 0) {
  CCheckFile file;
  file.m_wFlags = flags;
  file.m_strName = name;
  file.m_dwCrc = 0x11223344;
  file.m_dwSize = 1000;
  file.m_ftCreation = 0x01D0000012345678ULL;
  file.m_ftLastWrite = 0x01D00000ABCDEF01ULL;
  file.m_aParts = std::move(parts);
  return file;
}

int Parse(CCheckerCore& engine, const Bytes& data) { return engine.ParseFileList(data.data(), data.size()); }

TEST(CompactInteger, DecodesEveryWidth) {
  struct Case {
    Bytes bytes;
    uint32_t value;
  } cases[] = {
      {B({0x00}), 0},
      {B({0xFE}), 254},
      {B({0xFF, 0xFF, 0x00}), 255},
      {B({0xFF, 0xFE, 0xFF}), 65534},
      {B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00}), 65535},
      {B({0xFF, 0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}), 70000},
      {B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    CListReader reader(c.bytes.data(), c.bytes.size());
    uint32_t value = 1;
    ASSERT_TRUE(reader.ReadCompact(&value)) << c.value;
    EXPECT_EQ(c.value, value);
    EXPECT_TRUE(reader.AtEnd()) << c.value;
    Bytes written;
    AppendCompact(written, c.value);
    EXPECT_EQ(c.bytes, written) << c.value;
    // Every shorter prefix is unreadable.
    for (size_t cut = 0; cut < c.bytes.size(); ++cut) {
      CListReader shortReader(c.bytes.data(), cut);
      EXPECT_FALSE(shortReader.ReadCompact(&value)) << c.value << " cut at " << cut;
    }
  }
}

TEST(CountedString, StopsAtTheFirstNul) {
  Bytes data = B({5, 'a', 'b', 0, 'c', 'd', 2, 'x'});
  CListReader reader(data.data(), data.size());
  std::string text;
  ASSERT_TRUE(reader.ReadCountedString(&text));
  EXPECT_EQ("ab", text);
  EXPECT_FALSE(reader.ReadCountedString(&text));  // declares 2, holds 1
}

TEST(ParseFileList, HeaderAndBothRecordForms) {
  CFileListWriter writer(7, "/host/dir/", "setup.exe");
  writer.AddFile(File("data\\single.bin", {Part(FILE_FLAG_RAW, 0x11223344, 1000, 0x55667788, 1000, "single.bin")},
                      FILE_FLAG_RAW));
  writer.AddFile(File("multi.bin", {Part(0, 1, 600, 2, 300, "sub/m0.z"), Part(FILE_FLAG_RAW, 3, 400, 4, 400, "m1.raw")}));
  Bytes data = writer.Build();

  CCheckerCore engine;
  ASSERT_EQ(0, Parse(engine, data));
  EXPECT_EQ(7, engine.m_nLeadNumber);
  EXPECT_EQ("/host/dir/", engine.m_strBaseUrl);
  EXPECT_EQ("setup.exe", engine.m_strInstallerName);
  ASSERT_EQ(2u, engine.m_listFiles.size());

  const CCheckFile& single = *engine.m_listFiles.front();
  EXPECT_EQ("data\\single.bin", single.m_strName);
  EXPECT_EQ(FILE_FLAG_RAW, single.m_wFlags);
  EXPECT_EQ(0x11223344u, single.m_dwCrc);
  EXPECT_EQ(1000u, single.m_dwSize);
  EXPECT_EQ(0x01D0000012345678ULL, single.m_ftCreation);
  EXPECT_EQ(0x01D00000ABCDEF01ULL, single.m_ftLastWrite);
  ASSERT_EQ(1u, single.m_aParts.size());
  EXPECT_EQ(single.m_wFlags, single.m_aParts[0].m_wFlags);
  EXPECT_EQ(single.m_dwCrc, single.m_aParts[0].m_dwCrc);
  EXPECT_EQ(single.m_dwSize, single.m_aParts[0].m_dwSize);
  EXPECT_EQ(0x55667788u, single.m_aParts[0].m_dwPackedCrc);
  EXPECT_EQ("single.bin", single.m_aParts[0].m_strRemoteName);
  EXPECT_TRUE(single.m_aParts[0].m_strLocalName.empty());  // filled by the check

  const CCheckFile& multi = *engine.m_listFiles.back();
  ASSERT_EQ(2u, multi.m_aParts.size());
  EXPECT_EQ(0, multi.m_aParts[0].m_wFlags);
  EXPECT_EQ(600u, multi.m_aParts[0].m_dwSize);
  EXPECT_EQ(300u, multi.m_aParts[0].m_dwPackedSize);
  EXPECT_EQ("sub/m0.z", multi.m_aParts[0].m_strRemoteName);
  EXPECT_EQ(FILE_FLAG_RAW, multi.m_aParts[1].m_wFlags);
  EXPECT_EQ(4u, multi.m_aParts[1].m_dwPackedCrc);
}

// A record written by hand: flags, CRC 0, size 10, times, name "f", then body.
Bytes Record(uint8_t flags, const Bytes& body, const std::string& name = "f") {
  Bytes out = B({flags, 0, 0, 0, 0, 10});
  out.insert(out.end(), 16, 0);
  AppendCountedString(out, name);
  Append(out, body);
  return out;
}

Bytes PartEntry(uint8_t flags, const std::string& remote) {
  Bytes out = B({flags, 1, 0, 0, 0, 10, 2, 0, 0, 0, 5});
  AppendCountedString(out, remote);
  return out;
}

TEST(ParseFileList, FlagByteGivesPartCountAndRawBit) {
  Bytes three;
  for (int j = 0; j < 3; ++j) Append(three, PartEntry(0x40, "p" + std::to_string(j)));
  Bytes data = Header(2);
  Append(data, Record(0xC3, three));
  Bytes single = B({9, 0, 0, 0, 4});
  AppendCountedString(single, "s");
  Append(data, Record(0x80, single, "g"));

  CCheckerCore engine;
  ASSERT_EQ(0, Parse(engine, data));
  const CCheckFile& first = *engine.m_listFiles.front();
  EXPECT_EQ(FILE_FLAG_RAW, first.m_wFlags);
  ASSERT_EQ(3u, first.m_aParts.size());
  for (const CDLFileInfo& part : first.m_aParts) EXPECT_EQ(FILE_FLAG_RAW, part.m_wFlags);
  const CCheckFile& second = *engine.m_listFiles.back();
  EXPECT_EQ(0, second.m_wFlags);
  ASSERT_EQ(1u, second.m_aParts.size());
  EXPECT_EQ(9u, second.m_aParts[0].m_dwPackedCrc);
}

TEST(ParseFileList, NameLengthLimits) {
  struct Case {
    size_t fileName, remoteName;
    int result;
  } cases[] = {
      {259, 1, 0},
      {260, 1, PARSE_BAD_NAME},
      {1, 259, 0},
      {1, 260, PARSE_BAD_NAME},
  };
  for (const Case& c : cases) {
    for (bool multi : {false, true}) {
      std::string remote(c.remoteName, 'r');
      Bytes body;
      if (multi) {
        body = PartEntry(0, remote);
      } else {
        body = B({0, 0, 0, 0, 4});
        AppendCountedString(body, remote);
      }
      Bytes data = Header(1);
      Append(data, Record(multi ? 1 : 0, body, std::string(c.fileName, 'n')));
      CCheckerCore engine;
      EXPECT_EQ(c.result, Parse(engine, data)) << c.fileName << "/" << c.remoteName << " multi " << multi;
    }
  }
}

TEST(ParseFileList, TruncatedDataIsUnreadable) {
  Bytes singleBody = B({0, 0, 0, 0, 4});
  AppendCountedString(singleBody, "s");
  Bytes twoParts = PartEntry(0, "a");
  Append(twoParts, PartEntry(0, "b"));
  Bytes record = Record(0, singleBody);

  // A list cut short must not pass for a shorter list: fewer records than
  // the count promises, or fewer part entries than the flags promise.
  Bytes twoOfFive = Header(5);
  Append(twoOfFive, record);
  Append(twoOfFive, Record(0, singleBody, "g"));
  CCheckerCore engine;
  EXPECT_EQ(PARSE_UNREADABLE, Parse(engine, twoOfFive));

  Bytes twoOfThreeParts = Header(1, "/host/dir");
  Append(twoOfThreeParts, Record(3, twoParts));
  CCheckerCore partial;
  EXPECT_EQ(PARSE_UNREADABLE, Parse(partial, twoOfThreeParts));

  // Whatever the cut, only the whole data parses.
  Bytes full = Header(2, "/host/dir");
  Append(full, Record(2, twoParts));
  Append(full, Record(0, singleBody, "g"));
  for (size_t cut = 0; cut <= full.size(); ++cut) {
    CCheckerCore e;
    EXPECT_EQ(cut == full.size() ? 0 : PARSE_UNREADABLE, Parse(e, Bytes(full.begin(), full.begin() + cut))) << cut;
  }
}

TEST(ParseFileList, TwoNamesForOneFileAreRefused) {
  const std::string a = "\x83\x41.txt";  // "ア": its trail byte is 'A' and is not folded
  const std::string da = "\x83\x61.txt";  // "ダ", another character
  struct Case {
    const char* what;
    std::string first, second;  // target names
    std::vector<std::string> remotes;  // remote names of the first file's parts
    int result;
  } cases[] = {
      {"same target, other case and separator", "data\\readme.txt", "DATA/README.TXT", {"r"}, PARSE_BAD_NAME},
      {"same target, full-width letters in other case", "\x82\x60.bin", "\x82\x81.bin", {"r"}, PARSE_BAD_NAME},
      {"different characters whose trail bytes differ in case", a, da, {"r"}, 0},
      {"two parts with one local name", "x.bin", "y.bin", {"p/a/x.pak", "p/b/x.pak"}, PARSE_BAD_NAME},
      {"two parts whose local names differ in case", "x.bin", "y.bin", {"a/X.PAK", "b/x.pak"}, PARSE_BAD_NAME},
      {"two parts with names of their own", "x.bin", "y.bin", {"p/a/x0.pak", "p/b/x1.pak"}, 0},
  };
  for (const Case& c : cases) {
    Bytes parts;
    for (const std::string& remote : c.remotes) Append(parts, PartEntry(0, remote));
    Bytes single = B({9, 0, 0, 0, 4});
    AppendCountedString(single, "s");
    Bytes data = Header(2);
    Append(data, Record(static_cast<uint8_t>(c.remotes.size()), parts, c.first));
    Append(data, Record(0, single, c.second));
    CCheckerCore engine;
    EXPECT_EQ(c.result, Parse(engine, data)) << c.what;
  }
}

TEST(DeriveLocalName, TakesTheTextBehindTheLastSlash) {
  EXPECT_EQ("a.bin", DeriveLocalName("/host/dir/", "sub/a.bin"));
  EXPECT_EQ("hostname.bin", DeriveLocalName("host", "name.bin"));
  EXPECT_EQ("", DeriveLocalName("/host/dir/", ""));
  EXPECT_EQ("\x95\x5c.bin", DeriveLocalName("/h/", "d/\x95\x5c.bin"));
}

TEST(NameSafety, HostileNamesAreRefused) {
  const char* unsafe[] = {
      "",        "\\abs.bin", "/abs.bin",  "C:evil.bin", "C:\\evil.bin", "c:x",         "\\\\server\\share\\x",
      "\\\\?\\C:\\x", "..",   ".",         "..\\x",      "a\\..\\..\\x", "a/../../x",   "a\\.\\b",
      "a\\\\b",  "a\\",       "a/",        "file.txt:stream", "a<b",     "a>b",         "a\"b",
      "a|b",     "a?b",       "a*b",       "a\tb",       "a\x01",        "dir.\\x",     "dir \\x",
      "name.",   "name ",     "CON",       "con.txt",    "Aux.dat",      "nul",         "PRN.log",
      "COM1",    "com9.x",    "LPT1",      "lpt5.txt",   "CONIN$",       "conout$.x",   "sub\\NUL.txt",
      "x\\CON .txt", "\x81",  "a\\\x95",
  };
  for (const char* name : unsafe) {
    EXPECT_FALSE(IsSafeRelativePath(name)) << "[" << name << "]";
    EXPECT_FALSE(IsSafeFileName(name)) << "[" << name << "]";
  }
  const char* safe[] = {"a.bin", "sub\\a.bin", "sub/dir/a.bin", "COM10", "LPT0", "CONSOLE.txt", "nullify",
                        "a..b", ".hidden", "\x95\x5c\x8e\xa6.txt", "data\\\x95\x5c\\x.bin", "\xb1\xb2"};
  for (const char* name : safe) EXPECT_TRUE(IsSafeRelativePath(name)) << name;
  EXPECT_TRUE(IsSafeFileName("\x95\x5c\x8e\xa6.txt"));  // 5C is a trail byte, not a separator
  EXPECT_FALSE(IsSafeFileName("sub\\a.bin"));
  EXPECT_FALSE(IsSafeFileName("sub/a.bin"));
  // "|" as a trail byte (0x81 0x7C is one character) is not the pipe.
  EXPECT_TRUE(IsSafeFileName("\x81\x7c.txt"));
}

TEST(ParseFileList, HostileListsFailWithBadName) {
  struct Case {
    const char* what;
    std::string base, installer, name, remote;
  } cases[] = {
      {"escaping target", "/h/", "setup.exe", "..\\..\\evil.exe", "a"},
      {"absolute target", "/h/", "setup.exe", "C:\\Windows\\evil.dll", "a"},
      {"rooted target", "/h/", "setup.exe", "\\evil.dll", "a"},
      {"device target", "/h/", "setup.exe", "sub\\aux.txt", "a"},
      {"stream target", "/h/", "setup.exe", "a.txt:zone", "a"},
      {"escaping local name", "/h/", "setup.exe", "a.bin", "x/.."},
      {"empty local name", "/h/", "setup.exe", "a.bin", "dir/"},
      {"backslash local name", "/h/", "setup.exe", "a.bin", "..\\..\\evil"},
      {"escaping installer", "/h/", "..\\setup.exe", "a.bin", "a"},
      {"absolute installer", "/h/", "C:\\Windows\\notepad.exe", "a.bin", "a"},
  };
  for (const Case& c : cases) {
    CFileListWriter writer(1, c.base, c.installer);
    CCheckFile file = File(c.name, {Part(0, 0x11223344, 1000, 1, 10, c.remote)});
    writer.AddFile(file);
    CCheckerCore engine;
    EXPECT_EQ(PARSE_BAD_NAME, Parse(engine, writer.Build())) << c.what;
  }
  // An empty installer name is allowed; the finish page then has nothing to run.
  CFileListWriter writer(1, "/h/", "");
  writer.AddFile(File("a.bin", {Part(0, 0x11223344, 1000, 1, 10, "a")}));
  CCheckerCore engine;
  EXPECT_EQ(0, Parse(engine, writer.Build()));
}

TEST(FileListWriter, SinglePartOfItsOwnKeepsTheLongForm) {
  // The part's CRC differs from the file's, so the short form cannot carry it.
  CFileListWriter writer(0, "/h/", "s.exe");
  writer.AddFile(File("one.bin", {Part(FILE_FLAG_RAW, 0x99, 1000, 0x98, 1000, "one.part")}));
  Bytes data = writer.Build();
  CCheckerCore engine;
  ASSERT_EQ(0, Parse(engine, data));
  const CCheckFile& file = *engine.m_listFiles.front();
  ASSERT_EQ(1u, file.m_aParts.size());
  EXPECT_EQ(0x99u, file.m_aParts[0].m_dwCrc);
  EXPECT_EQ(FILE_FLAG_RAW, file.m_aParts[0].m_wFlags);
  EXPECT_EQ(0, file.m_wFlags);
}

TEST(FileListWriter, UnsafeNameIn) {
  EXPECT_EQ("", UnsafeNameIn("/h/", File("sub\\a.bin", {Part(0, 0, 0, 0, 0, "x/a.z")})));
  EXPECT_NE("", UnsafeNameIn("/h/", File("..\\a.bin", {Part(0, 0, 0, 0, 0, "a.z")})));
  EXPECT_NE("", UnsafeNameIn("/h/", File("a.bin", {Part(0, 0, 0, 0, 0, "a.z"), Part(0, 0, 0, 0, 0, "x/")})));
  EXPECT_NE("", UnsafeNameIn("/h/", File("a.bin", {Part(0, 0, 0, 0, 0, "..\\a.z")})));
}

TEST(FileListWriter, RefusesWhatCannotBeRead) {
  CFileListWriter writer(0, "/h/", "s.exe");
  EXPECT_THROW(writer.AddFile(File("a", {})), std::invalid_argument);
  EXPECT_THROW(writer.AddFile(File(std::string(260, 'a'), {Part(0, 0, 0, 0, 0, "r")})), std::invalid_argument);
  EXPECT_THROW(writer.AddFile(File("a", std::vector<CDLFileInfo>(64, Part(0, 0, 0, 0, 0, "r")))),
               std::invalid_argument);
  EXPECT_NO_THROW(writer.AddFile(File("a", std::vector<CDLFileInfo>(63, Part(0, 0, 0, 0, 0, "r")))));
  EXPECT_EQ(1u, writer.FileCount());
}

// ---- Packed container ----

Bytes Container(uint32_t unpacked, const Bytes& stream) {
  Bytes out = B({0x4D, 0x57, 0x43, 0x1A});
  for (uint32_t v : {unpacked, static_cast<uint32_t>(stream.size())})
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
  Append(out, stream);
  return out;
}

Bytes Deflate(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  Bytes out(size);
  compress(out.data(), &size, reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()));
  out.resize(size);
  return out;
}

int Unpack(const Bytes& data, std::string* text = nullptr) {
  unsigned char* out = reinterpret_cast<unsigned char*>(1);
  uint32_t size = 0;
  int rc = UnpackBuffer(data.data(), data.size(), &out, &size);
  if (rc == 0) {
    if (text) text->assign(reinterpret_cast<char*>(out), size);
    FreeUnpacked(out);
  } else {
    EXPECT_EQ(nullptr, out);
  }
  return rc;
}

TEST(UnpackBuffer, ResultCodes) {
  const std::string text(10000, 'w');
  const Bytes stream = Deflate(text);
  Bytes good = Container(10000, stream);
  Bytes longer = good;
  longer.push_back(0);
  Bytes shorter(good.begin(), good.end() - 1);
  Bytes noMagic = good;
  noMagic[3] = 0x1B;
  Bytes damaged = good;
  damaged[14] ^= 0xFF;  // inside the deflate data
  Bytes shortStream = Container(20000, stream);  // the stream ends early
  Bytes hugeClaim = Container(0xFFFFFFFF, stream);
  // A stream that wants a preset dictionary (FDICT set, valid header check).
  Bytes needDict = Container(10, B({0x78, 0xBB, 0, 0, 0, 1, 0x4B, 0x04, 0x00}));

  struct Case {
    const char* what;
    const Bytes& data;
    int result;
  } cases[] = {
      {"good", good, 0},
      {"one byte longer", longer, UNPACK_BAD_CALL},
      {"one byte shorter", shorter, UNPACK_BAD_CALL},
      {"no magic", noMagic, UNPACK_NOT_PACKED},
      {"damaged deflate data", damaged, Z_DATA_ERROR},
      {"stream shorter than declared", shortStream, Z_DATA_ERROR},
      {"size claim beyond any deflate ratio", hugeClaim, Z_DATA_ERROR},
      {"preset dictionary", needDict, Z_DATA_ERROR},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(c.result, Unpack(c.data, &out)) << c.what;
    if (c.result == 0) {
      EXPECT_EQ(text, out);
    }
  }
  for (size_t cut = 1; cut < 12; ++cut) {
    Bytes head(good.begin(), good.begin() + cut);
    EXPECT_EQ(cut < 4 ? UNPACK_NOT_PACKED : UNPACK_BAD_CALL, Unpack(head)) << cut;
  }

  unsigned char* out = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(UNPACK_BAD_CALL, UnpackBuffer(nullptr, 5, &out, &size));
  EXPECT_EQ(UNPACK_BAD_CALL, UnpackBuffer(good.data(), 0, &out, &size));
  EXPECT_EQ(UNPACK_BAD_CALL, UnpackBuffer(good.data(), good.size(), nullptr, &size));
  EXPECT_EQ(UNPACK_BAD_CALL, UnpackBuffer(good.data(), good.size(), &out, nullptr));
  FreeUnpacked(nullptr);
}

TEST(UnpackBuffer, EmptyContentAndPackRoundTrip) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{8196}, size_t{8197}, size_t{300000}}) {
    std::string text;
    for (size_t i = 0; i < size; ++i) text.push_back(static_cast<char>((i * 7919) >> 3));
    Bytes packed = PackBuffer(text.data(), text.size());
    std::string back;
    ASSERT_EQ(0, Unpack(packed, &back)) << size;
    EXPECT_EQ(text, back) << size;
  }
}

}  // namespace
