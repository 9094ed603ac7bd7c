#include "extract/cad/bit_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "extract/cad/drawing_builder.h"

namespace kuribo {
namespace {

using test::FromBits;

struct Bits {
  explicit Bits(const std::string& s) : bytes(FromBits(s)), reader(bytes.data(), static_cast<int32_t>(bytes.size())) {}
  // Only the first `count` bits of the string count as data.
  Bits(const std::string& s, int32_t byteCount) : bytes(FromBits(s)), reader(bytes.data(), byteCount) {}
  std::vector<uint8_t> bytes;
  BitReader reader;
};

TEST(BitReader, SingleBitsRunFromTheTopOfEachByte) {
  Bits b("1011 0001  0");
  EXPECT_EQ(b.reader.B(), 1u);
  EXPECT_EQ(b.reader.B(), 0u);
  EXPECT_EQ(b.reader.BB(), 3u);
  b.reader.Seek(7);
  EXPECT_EQ(b.reader.B(), 1u);
  EXPECT_EQ(b.reader.B(), 0u);
  EXPECT_EQ(b.reader.Position(), 9);
}

TEST(BitReader, TwoBitCodeTakesItsSecondBitFromTheNextByte) {
  Bits b("0000 0001  1000 0000");
  b.reader.Seek(7);
  EXPECT_EQ(b.reader.BB(), 3u);
  b.reader.Seek(6);
  EXPECT_EQ(b.reader.BB(), 1u);
}

TEST(BitReader, UnalignedByteTakesLowBitsThenHighBitsOfTheNext) {
  // 0xAB 0xCD read from bit 3: 01011 + 110 = 0x5E.
  Bits b("1010 1011  1100 1101");
  b.reader.Seek(3);
  EXPECT_EQ(b.reader.RC(), 0x5Eu);
  EXPECT_EQ(b.reader.Position(), 11);
}

TEST(BitReader, RawShortsAndLongsAreLowByteFirst) {
  Bits b("0011 0100 0001 0010  0111 1000 0101 0110 0011 0100 0001 0010");
  EXPECT_EQ(b.reader.RS(), 0x1234u);
  EXPECT_EQ(b.reader.RL(), 0x12345678u);
  EXPECT_EQ(b.reader.Position(), 48);
  // Unaligned by one bit.
  Bits u("1 0011 0100 0001 0010");
  u.reader.Seek(1);
  EXPECT_EQ(u.reader.RS(), 0x1234u);
}

TEST(BitReader, RawDoubleIsPassedOverIn64Bits) {
  Bits b(std::string(64, '1') + "0");
  b.reader.Seek(0);
  b.reader.RD();
  EXPECT_EQ(b.reader.Position(), 64);
  EXPECT_FALSE(b.reader.Failed());
}

TEST(BitReader, BitShortCodes) {
  // 00 + RS, 01 + RC, 10, 11
  Bits b("00 0000 0001 0000 0001  01 1111 1111  10  11");
  EXPECT_EQ(b.reader.BS(), 0x0101u);
  EXPECT_EQ(b.reader.Position(), 18);
  EXPECT_EQ(b.reader.BS(), 255u);
  EXPECT_EQ(b.reader.Position(), 28);
  EXPECT_EQ(b.reader.BS(), 0u);
  EXPECT_EQ(b.reader.Position(), 30);
  EXPECT_EQ(b.reader.BS(), 256u);
  EXPECT_EQ(b.reader.Position(), 32);
  EXPECT_EQ(b.reader.CMC(), 0u);  // nothing left
  EXPECT_TRUE(b.reader.Failed());
}

TEST(BitReader, BitLongCodes) {
  Bits b("00 0000 0010 0000 0000 0000 0000 0000 0001  01 0000 0111  10  11");
  EXPECT_EQ(b.reader.BL(), 0x01000002u);
  EXPECT_EQ(b.reader.Position(), 34);
  EXPECT_EQ(b.reader.BL(), 7u);
  EXPECT_EQ(b.reader.Position(), 44);
  EXPECT_EQ(b.reader.BL(), 0u);
  EXPECT_EQ(b.reader.Position(), 46);
  EXPECT_FALSE(b.reader.Failed());
  b.reader.BL();  // 11 is no long
  EXPECT_TRUE(b.reader.Failed());
}

TEST(BitReader, BitDoubleWidths) {
  Bits b("00" + std::string(64, '1') + "01 10 11");
  b.reader.BD();
  EXPECT_EQ(b.reader.Position(), 66);
  b.reader.BD();
  EXPECT_EQ(b.reader.Position(), 68);
  b.reader.BD();
  EXPECT_EQ(b.reader.Position(), 70);
  EXPECT_FALSE(b.reader.Failed());
  b.reader.BD();  // 11 is no double
  EXPECT_TRUE(b.reader.Failed());
}

TEST(BitReader, DefaultDoubleWidths) {
  const std::string bits = "00" "01" + std::string(32, '1') + "10" + std::string(48, '0') + "11" +
                           std::string(64, '1');
  Bits b(bits);
  const int64_t expected[] = {2, 36, 86, 152};
  for (int64_t at : expected) {
    b.reader.DD();
    EXPECT_EQ(b.reader.Position(), at);
  }
  EXPECT_FALSE(b.reader.Failed());
}

TEST(BitReader, ExtrusionAndThicknessWidths) {
  // BE: 1 alone; 0 then three BD (here 01, 10 and a full 00 + RD).
  Bits e("1 0 01 10 00" + std::string(64, '0'));
  e.reader.BE();
  EXPECT_EQ(e.reader.Position(), 1);
  e.reader.BE();
  EXPECT_EQ(e.reader.Position(), 1 + 1 + 2 + 2 + 66);
  // BT: 1 alone; 0 then one BD.
  Bits t("1 0 00" + std::string(64, '1') + "0 10");
  t.reader.BT();
  EXPECT_EQ(t.reader.Position(), 1);
  t.reader.BT();
  EXPECT_EQ(t.reader.Position(), 68);
  t.reader.BT();
  EXPECT_EQ(t.reader.Position(), 71);
  EXPECT_FALSE(t.reader.Failed());
}

TEST(BitReader, HandleIsCodeCountAndBytes) {
  Bits b("0101 0011 " + std::string(24, '1') + "0000 0000");
  EXPECT_EQ(b.reader.H(), 3u);
  EXPECT_EQ(b.reader.Position(), 32);
  EXPECT_EQ(b.reader.H(), 0u);
  EXPECT_EQ(b.reader.Position(), 40);
}

TEST(BitReader, TextValueNeedNotBeByteAligned) {
  // One bit of padding, then 01 + length 3 + "ABC" = 0x41 0x42 0x43.
  Bits b("1 01 0000 0011 0100 0001 0100 0010 0100 0011");
  b.reader.Seek(1);
  char out[8] = {};
  uint32_t declared = 0;
  EXPECT_EQ(b.reader.TV(out, 8, &declared), 3);
  EXPECT_EQ(declared, 3u);
  EXPECT_EQ(std::string(out, 3), "ABC");
}

TEST(BitReader, TextValueWithASixteenBitLength) {
  // 00 + RS 0x0002 (low byte first), then "OK".
  Bits b("00 0000 0010 0000 0000 0100 1111 0100 1011");
  char out[8] = {};
  uint32_t declared = 0;
  EXPECT_EQ(b.reader.TV(out, 8, &declared), 2);
  EXPECT_EQ(declared, 2u);
  EXPECT_EQ(std::string(out, 2), "OK");
}

TEST(BitReader, TextValueIsCutAtTheEndAndAtTheCap) {
  // Length 5, but only "AB" and a few bits follow.
  Bits b("01 0000 0101 0100 0001 0100 0010 0100");
  char out[8] = {};
  uint32_t declared = 0;
  EXPECT_EQ(b.reader.TV(out, 8, &declared), 2);
  EXPECT_EQ(declared, 5u);
  EXPECT_FALSE(b.reader.Failed());
  Bits c("01 0000 0011 0100 0001 0100 0010 0100 0011");
  EXPECT_EQ(c.reader.TV(out, 2, &declared), 2);
  EXPECT_EQ(declared, 3u);
  // A length that is itself cut gives no text.
  Bits d("01 0000", 1);
  EXPECT_EQ(d.reader.TV(out, 8, &declared), 0);
  EXPECT_EQ(declared, 0u);
  EXPECT_TRUE(d.reader.Failed());
}

TEST(BitReader, ReadingPastTheEndFailsForGood) {
  Bits b("1111 1111", 1);
  EXPECT_EQ(b.reader.RS(), 0xFFu);  // the high byte is missing
  EXPECT_TRUE(b.reader.Failed());
  EXPECT_EQ(b.reader.Position(), 8);
  EXPECT_EQ(b.reader.B(), 0u);
  b.reader.Seek(0);
  EXPECT_TRUE(b.reader.Failed());
  // A skip beyond the end moves to the end.
  Bits s("1111 1111 1111 1111", 2);
  s.reader.Skip(17);
  EXPECT_TRUE(s.reader.Failed());
  EXPECT_EQ(s.reader.Position(), 16);
  Bits z("", 0);
  EXPECT_EQ(z.reader.B(), 0u);
  EXPECT_TRUE(z.reader.Failed());
}

}  // namespace
}  // namespace kuribo
