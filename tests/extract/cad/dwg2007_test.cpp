#include "extract/cad/dwg2007.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "extract/cad/cad_test_support.h"
#include "extract/cad/dwg.h"

namespace kuribo {
namespace {

std::vector<unsigned char> Bytes(std::initializer_list<int> head, const std::string& tail = "") {
  std::vector<unsigned char> v(head.begin(), head.end());
  v.insert(v.end(), tail.begin(), tail.end());
  return v;
}

// Returns the output, or "<malformed>".
std::string Inflate(const std::vector<unsigned char>& in, int64_t cap = 256) {
  std::vector<unsigned char> out(static_cast<size_t>(cap));
  const int64_t n = Decompress2007(in.data(), static_cast<int64_t>(in.size()), out.data(), cap);
  return n < 0 ? "<malformed>" : std::string(out.begin(), out.begin() + n);
}

TEST(Decompress2007, LiteralRunsKeepTheirStoredOrder) {
  struct {
    std::vector<unsigned char> in;
    const char* want;
  } cases[] = {
      // Eight bytes stand as they are; three are reversed; of nine, the last comes first.
      {Bytes({0x00}, "ABCDEFGH"), "ABCDEFGH"},
      {Bytes({0x20, 0, 0, 0x03}, "CBA"), "ABC"},
      {Bytes({0x01}, "BCDEFGHIA"), "ABCDEFGHI"},
      // A long run: 0x17 + 9 bytes, its groups of eight in reverse order.
      {Bytes({0x0F, 0x09}, "YZ012345QRSTUVWXIJKLMNOPABCDEFGH"), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
  };
  for (const auto& c : cases) EXPECT_EQ(Inflate(c.in), c.want) << c.want;
}

// Eight literal bytes "ABCDEFGH", then `more`.
std::vector<unsigned char> AfterEight(std::initializer_list<int> more) {
  auto v = Bytes({0x00}, "ABCDEFGH");
  v.insert(v.end(), more.begin(), more.end());
  return v;
}

TEST(Decompress2007, CopiesRepeatEarlierOutput) {
  // 0x47 0x00: four bytes from eight back, no literals after.
  EXPECT_EQ(Inflate(AfterEight({0x47, 0x00})), "ABCDEFGHABCD");
  // A literal count of 2 in the second byte.
  EXPECT_EQ(Inflate(AfterEight({0x47, 0x02, 'Y', 'X'})), "ABCDEFGHABCDXY");
  // 0x12 0x05 0x00: five bytes (2 + 3) from six back.
  EXPECT_EQ(Inflate(AfterEight({0x12, 0x05, 0x00})), "ABCDEFGHCDEFG");
  // One byte back, six times: a copy overlapping what it writes.
  EXPECT_EQ(Inflate(Bytes({0x20, 0, 0, 0x01, 'Z', 0x60, 0x00})), "ZZZZZZZ");
}

TEST(Decompress2007, MalformedStreamsAreRefused) {
  const std::vector<unsigned char> cases[] = {
      Bytes({0x00}, "ABCDEFG"),                  // literal run past the end
      AfterEight({0x4F, 0x00}),                  // copy from before the output
      Bytes({0x20, 0, 0, 0x00}, "x"),            // a literal count of zero
      Bytes({}),
  };
  for (const auto& c : cases) EXPECT_EQ(Inflate(c), "<malformed>");
  // The output never passes its room.
  EXPECT_EQ(Inflate(Bytes({0x00}, "ABCDEFGH"), 7), "<malformed>");
  EXPECT_EQ(Inflate(AfterEight({0x47, 0x00}), 11), "<malformed>");
}

TEST(Deinterleave, TakesTheDataBytesOfEachWordInTurn) {
  std::vector<unsigned char> src(2 * 255, '#');
  for (size_t i = 0; i < 6; ++i) src[i] = static_cast<unsigned char>('0' + i);  // a0 b0 a1 b1 a2 b2
  unsigned char out[6] = {};
  ASSERT_TRUE(Deinterleave(src.data(), static_cast<int64_t>(src.size()), 2, 3, out));
  EXPECT_EQ(std::string(out, out + 6), "024135");
  EXPECT_FALSE(Deinterleave(src.data(), 5, 2, 3, out));
  EXPECT_FALSE(Deinterleave(src.data(), 510, 0, 3, out));
  EXPECT_FALSE(Deinterleave(src.data(), 510, 2, 256, out));
}

// The real drawing, damaged: every reading stays in bounds and ends.
TEST(Dwg2007File, DamagedOrCutDrawingsStayInBounds) {
  std::ifstream f(std::string(KURIBO_CORPUS_DIR) + "/dwg/ldwg_example_2007.dwg", std::ios::binary);
  if (!f) GTEST_SKIP() << "corpus not present at " << KURIBO_CORPUS_DIR;
  const std::vector<unsigned char> file((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  auto ctx = test::MakeCadContext();
  auto run = [&ctx](const std::vector<unsigned char>& v) {
    return ExtractDwgBytes(v.data(), static_cast<int32_t>(v.size()), *ctx);
  };
  const int32_t whole = run(file);
  ASSERT_GT(whole, 0);
  // Closer steps over the file header and the maps at the end.
  for (size_t i = 0; i < file.size(); i += i < 0x500 || i + 0x2000 > file.size() ? 13 : 1499) {
    auto damaged = file;
    damaged[i] ^= 0xA5;
    EXPECT_LE(run(damaged), 2 * whole) << "byte " << i;
    const std::vector<unsigned char> cut(file.begin(), file.begin() + static_cast<long>(i));
    EXPECT_LE(run(cut), whole) << "cut " << i;
  }
}

}  // namespace
}  // namespace kuribo
