// Data made by another producer (Python's zlib, see interop/make_interop.py):
// its CRCs, its packed parts and a file list it wrote are all understood.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>

#include "engine/packed.h"
#include "image_fixture.h"
#include "interop/interop_fixtures.h"

namespace engine_test {
namespace {

using testing_support::ReadWholeFile;
using testing_support::WriteWholeFile;

std::string PartText() {
  std::string text;
  char line[64];
  for (int i = 0; i < 300; ++i) {
    std::snprintf(line, sizeof line, "part line %05d of the interop fixture\r\n", i);
    text += line;
  }
  return text;
}

template <size_t N>
std::string Bytes(const unsigned char (&data)[N]) {
  return std::string(reinterpret_cast<const char*>(data), N);
}

TEST(Interop, CrcAgreesWithPythonOnPseudoRandomFiles) {
  testing_support::ScratchFolder folder;
  for (const interop::RandomCrc& c : interop::kRandomCrcs) {
    const std::string path = folder / ("r" + std::to_string(c.seed));
    ASSERT_TRUE(WriteWholeFile(path, Content(c.size, c.seed)));
    CCrc32 crc;
    uint32_t error = 1;
    ASSERT_TRUE(crc.Compute(path, &error)) << c.size;
    EXPECT_EQ(c.crc, crc.GetValue()) << c.size;
  }
}

TEST(Interop, PythonContainerUnpacks) {
  unsigned char* out = nullptr;
  uint32_t size = 0;
  ASSERT_EQ(0, UnpackBuffer(interop::kPackedPart, sizeof interop::kPackedPart, &out, &size));
  EXPECT_EQ(interop::kPartTextSize, size);
  EXPECT_TRUE(PartText() == std::string(reinterpret_cast<char*>(out), size));
  EXPECT_EQ(interop::kPartTextCrc, CrcOf(std::string(reinterpret_cast<char*>(out), size)));
  FreeUnpacked(out);

  testing_support::ScratchFolder folder;
  ASSERT_TRUE(WriteWholeFile(folder / "part.bin", Bytes(interop::kPackedPart)));
  ASSERT_EQ(0, UnpackFile(folder / "part.bin", &out, &size));
  EXPECT_EQ(interop::kPartTextSize, size);
  FreeUnpacked(out);
}

// A whole run over the list Python wrote, with the parts it packed.
TEST(Interop, RunOverPythonList) {
  CImageFixture fx;
  const std::string text = PartText();
  const std::map<std::string, std::string> served = {
      {"readme.txt", "123456789"},
      {"big.txt.0", Bytes(interop::kListPartBig0)},
      {"big.txt.1", text.substr(5000)},
      {"hyouji.txt", Bytes(interop::kListPartHyouji)},
  };
  auto list = std::make_shared<std::vector<unsigned char>>(std::begin(interop::kPackedList),
                                                           std::end(interop::kPackedList));
  CTestEngine engine;
  fx.Configure(engine, list);
  CPageDriver page(engine, [&](CCheckerCore&, const CUpdateNotify& n) {
    if (n.m_nKind != NOTIFY_DOWNLOAD) return;
    for (const CDLFileInfo& part : n.m_pFile->m_aParts)
      WriteWholeFile(n.m_pszDownloadFolder + part.m_strLocalName, served.at(part.m_strLocalName));
  });
  page.RunToEnd();
  EXPECT_EQ(0x00030000u, page.WParam());
  EXPECT_EQ("Setup\\setup.exe", page.OfKind(NOTIFY_CHECK_PHASE).at(0).text);
  EXPECT_EQ(300, engine.m_nLeadNumber);
  EXPECT_EQ("123456789", ReadWholeFile(fx.image + "readme.txt"));
  EXPECT_TRUE(text == ReadWholeFile(fx.image + "data\\big.txt"));
  EXPECT_EQ("\x83\x65\x83\x4c\x83\x58\x83\x67", ReadWholeFile(fx.image + "data\\\x95\x5c\x8e\xa6.txt"));  // テキスト
  plat::FileStatus status;
  ASSERT_TRUE(plat::GetFileStatus(fx.image + "data\\big.txt", &status));
  EXPECT_EQ(0x01D9000077778888ULL, status.lastWriteTime);
}

}  // namespace
}  // namespace engine_test
