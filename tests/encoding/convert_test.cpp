#include "encoding/convert.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "encoding/sjis.h"
#include "platform/cpu.h"
#include "support/encode.h"
#include "support/reference_walk.h"
#include "support/temp_dir.h"

namespace kuribo {
namespace {

using test::Encode;

using test::TempDir;

// Converts bytes in memory into an output buffer of exactly the cap, so a
// write past it shows up under AddressSanitizer.
std::string Convert(const std::string& in) {
  std::unique_ptr<char[]> out(new char[kConvertedTextCap]);
  const int32_t n =
      ConvertToShiftJis(reinterpret_cast<const unsigned char*>(in.data()), in.size(), out.get());
  EXPECT_GE(n, 0);
  return std::string(out.get(), (size_t)(n < 0 ? 0 : n));
}

TextEncoding Detect(const std::string& in) {
  return DetectTextEncoding(reinterpret_cast<const unsigned char*>(in.data()), in.size(), true);
}


// 見積書をお送りします。 CR LF, in each encoding, bytes written out.
const std::string kSjisSentence =
    "\x8c\xa9\x90\xcf\x8f\x91\x82\xf0\x82\xa8\x91\x97\x82\xe8\x82\xb5\x82\xdc\x82\xb7\x81\x42\r\n";
const std::string kEucSentence =
    "\xb8\xab\xc0\xd1\xbd\xf1\xa4\xf2\xa4\xaa\xc1\xf7\xa4\xea\xa4\xb7\xa4\xde\xa4\xb9\xa1\xa3\r\n";
const std::string kJisSentence =
    "\x1b$B8+@Q=q$r$*Aw$j$7$^$9!#\x1b(B\r\n";
const std::string kUtf8Sentence =
    "\xe8\xa6\x8b\xe7\xa9\x8d\xe6\x9b\xb8\xe3\x82\x92\xe3\x81\x8a\xe9\x80\x81\xe3\x82\x8a\xe3\x81"
    "\x97\xe3\x81\xbe\xe3\x81\x99\xe3\x80\x82\r\n";

TEST(EncodingMatrix, OneSentenceInFiveFormsGivesTheSameBytes) {
  EXPECT_EQ(Convert(kSjisSentence), kSjisSentence);
  EXPECT_EQ(Convert(kEucSentence), kSjisSentence);
  EXPECT_EQ(Convert(kJisSentence), kSjisSentence);
  EXPECT_EQ(Convert(kUtf8Sentence), kSjisSentence);
  EXPECT_EQ(Convert("\xEF\xBB\xBF" + kUtf8Sentence), kSjisSentence);
}

TEST(EncodingMatrix, OneParagraphInFiveFormsGivesTheSameBytes) {
  const std::string utf8 =
      "【御見積書】ご依頼の件につきまして、下記のとおりお見積り申し上げます。\r\n"
      "品名：ガイドブック（改訂第３版）　数量：１２０部・単価￥１，５００\r\n"
      "納期はご注文後２週間、有効期限は発行日より３か月です。Ｅメール：ｓａｌｅｓ＠example.jp\n"
      "\t※送料は別途申し受けます。ご不明な点は担当（営業部 鈴木）までお問い合わせください。\r";
  const std::string sjis = Utf8ToSjis(utf8);
  const std::string euc = Encode("EUC-JP", utf8);
  const std::string jis = Encode("ISO-2022-JP", utf8);
  ASSERT_FALSE(euc.empty());
  ASSERT_FALSE(jis.empty());
  EXPECT_EQ(Detect(sjis), TextEncoding::kShiftJis);
  EXPECT_EQ(Detect(euc), TextEncoding::kEucJp);
  EXPECT_EQ(Detect(jis), TextEncoding::kIso2022Jp);
  EXPECT_EQ(Detect(utf8), TextEncoding::kUtf8);
  EXPECT_EQ(Convert(sjis), sjis);
  EXPECT_EQ(Convert(euc), sjis);
  EXPECT_EQ(Convert(jis), sjis);
  EXPECT_EQ(Convert(utf8), sjis);
  EXPECT_EQ(Convert("\xEF\xBB\xBF" + utf8), sjis);
  EXPECT_EQ(Convert(Encode("UTF-16LE", "\xEF\xBB\xBF" + utf8)), sjis);
  EXPECT_EQ(Convert(Encode("UTF-16BE", "\xEF\xBB\xBF" + utf8)), sjis);
}

TEST(EncodingDetection, SingleWordsAreDetected) {
  EXPECT_EQ(Convert("\x8c\xa9\x90\xcf"), "\x8c\xa9\x90\xcf");                // 見積 Shift_JIS
  EXPECT_EQ(Convert("\xb8\xab\xc0\xd1"), "\x8c\xa9\x90\xcf");                // EUC-JP
  EXPECT_EQ(Convert("\x1b$B8+@Q\x1b(B"), "\x8c\xa9\x90\xcf");               // ISO-2022-JP
  EXPECT_EQ(Convert("\xe8\xa6\x8b\xe7\xa9\x8d"), "\x8c\xa9\x90\xcf");       // UTF-8
  EXPECT_EQ(Convert("\xEF\xBB\xBF\xe8\xa6\x8b\xe7\xa9\x8d"), "\x8c\xa9\x90\xcf");
  EXPECT_EQ(Convert("\xa5\xed\xa5\xb0\xa5\xa4\xa5\xf3\n"), Utf8ToSjis("ログイン\n"));  // EUC-JP
  EXPECT_EQ(Convert("\xa4\xa2"), "\x82\xa0");                                 // あ EUC-JP
  EXPECT_EQ(Convert("\x82\xa0"), "\x82\xa0");                                 // あ Shift_JIS
  // Half-width katakana alone, in Shift_JIS and in EUC-JP.
  EXPECT_EQ(Convert(Utf8ToSjis("ﾃﾞｰﾀ")), Utf8ToSjis("データ"));
  EXPECT_EQ(Convert(Encode("EUC-JP", "ﾃﾞｰﾀ")), Utf8ToSjis("データ"));
  for (const char* w : {"会議", "東京都千代田区", "請求書", "カタカナ", "漢字", "議事録"}) {
    const std::string sjis = Utf8ToSjis(w);
    EXPECT_EQ(Convert(sjis), sjis) << w;
    EXPECT_EQ(Convert(Encode("EUC-JP", w)), sjis) << w;
    EXPECT_EQ(Convert(Encode("ISO-2022-JP", w)), sjis) << w;
    EXPECT_EQ(Convert(w), sjis) << w;
  }
}

TEST(EncodingDetection, NonJapaneseUtf8StaysUtf8) {
  // Latin letters have no code page 932 form and are dropped; the rest stays.
  EXPECT_EQ(Detect("<title>chars \xC3\xB6\xC3\xA4\xC3\xA5</title>"), TextEncoding::kUtf8);
  EXPECT_EQ(Convert("x \xC3\xB6\xC3\xA4\xC3\xA5 y"), "x  y");
}

TEST(EncodingDetection, AsciiPassesUnchanged) {
  std::string ascii;
  for (int c = 0; c < 0x80; ++c) ascii += (char)c;
  ascii += "\r\n\x1b[31mred\x1b[0m\n";  // escapes that designate no character set
  EXPECT_EQ(Detect(ascii), TextEncoding::kAscii);
  EXPECT_EQ(Convert(ascii), ascii);
  EXPECT_EQ(Convert(""), "");
}

TEST(EncodingDetection, JapaneseLongAfterTheStartIsStillDetected) {
  // The first byte that is not ASCII lies beyond the first chunk read, and a
  // UTF-8 character straddles the next chunk boundary.
  std::string lead(70'000, 'a');
  lead += "\n";
  std::string utf8 = lead;
  while (utf8.size() < 140'000) utf8 += "見積書をお送りします。";
  std::string euc = lead;
  while (euc.size() < 140'000) euc += kEucSentence;
  EXPECT_EQ(Convert(utf8), Utf8ToSjis(utf8));
  const std::string fromEuc = Convert(euc);
  EXPECT_EQ(fromEuc.substr(0, lead.size()), lead);
  EXPECT_EQ(fromEuc.substr(lead.size(), kSjisSentence.size()), kSjisSentence);
}

TEST(LineEnds, PassUnchangedInEveryEncoding) {
  const std::string utf8 = "一\r二\n三\r\n\r\n四\n\r五";
  const std::string sjis = Utf8ToSjis(utf8);
  EXPECT_EQ(Convert(sjis), sjis);
  EXPECT_EQ(Convert(Encode("EUC-JP", utf8)), sjis);
  EXPECT_EQ(Convert(utf8), sjis);
  EXPECT_EQ(Convert(Encode("UTF-16", utf8)), sjis);
  // ISO-2022-JP writers do not always return to ASCII before a line end.
  EXPECT_EQ(Convert("\x1b$B0l\r\nFs\x1b(B\n"), Utf8ToSjis("一\r\n二\n"));
}

TEST(HalfWidthKatakana, BecomeFullWidthWithMarksMerged) {
  const std::string half = "｡｢｣､･ｦｧｨｩｪｫｬｭｮｯｰｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜﾝﾞﾟ";
  const std::string full = "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
  EXPECT_EQ(Convert(half), Utf8ToSjis(full));

  // A Shift_JIS file of only half-width katakana: two bytes for each.
  EXPECT_EQ(Convert("\xB6\xDE"), "\x83\x4B");  // ｶﾞ -> ガ
  EXPECT_EQ(Convert(Utf8ToSjis("ｶﾞｲﾄﾞﾊﾟﾝﾌﾚｯﾄ")), Utf8ToSjis("ガイドパンフレット"));
  EXPECT_EQ(Convert(Utf8ToSjis("ﾃｽﾄ")), Utf8ToSjis("テスト"));
  EXPECT_EQ(Convert(Utf8ToSjis("ｶﾀｶﾅ")), Utf8ToSjis("カタカナ"));
  EXPECT_EQ(Convert(Utf8ToSjis("ｳﾞｧｲｵﾘﾝ ﾎﾟｽﾄ ﾊﾞｽ ﾊﾟｽ")), Utf8ToSjis("ヴァイオリン ポスト バス パス"));
  // Marks that cannot merge stay as full-width marks.
  EXPECT_EQ(Convert(Utf8ToSjis("ｱﾞﾜﾞｶﾟ ﾞﾟ")), Utf8ToSjis("ア゛ワ゛カ゜ ゛゜"));
  // A kana at the very end is not lost while it waits for a mark.
  EXPECT_EQ(Convert(Utf8ToSjis("ｶﾀｶ")), Utf8ToSjis("カタカ"));
  // The same from EUC-JP (0x8E prefix) and ISO-2022-JP (ESC ( I).
  EXPECT_EQ(Convert(Encode("EUC-JP", "これはｶﾞｲﾄﾞです。")), Utf8ToSjis("これはガイドです。"));
  EXPECT_EQ(Convert("\x1b$B$3$l$O\x1b(I6^2D^\x1b(B"), Utf8ToSjis("これはガイド"));
}

TEST(HalfWidthKatakana, MarkAcrossAChunkBoundaryStillMerges) {
  std::string utf8(65'536 - 3, 'a');  // ｶ (3 bytes in UTF-8) ends the first chunk
  utf8 += "ｶﾞ";
  const std::string out = Convert(utf8);
  EXPECT_EQ(out.substr(out.size() - 2), "\x83\x4B");
  EXPECT_EQ(out.size(), 65'536u - 3 + 2);
}

TEST(ByteOrderMarks, AreDropped) {
  EXPECT_EQ(Convert("\xEF\xBB\xBF" "abc"), "abc");
  EXPECT_EQ(Convert("\xEF\xBB\xBF"), "");
  EXPECT_EQ(Convert(std::string("\xFF\xFE" "a\0\x42\x30", 6)), "a\x82\xa0");  // UTF-16LE aあ
  EXPECT_EQ(Convert(std::string("\xFE\xFF\0a\x30\x42", 6)), "a\x82\xa0");     // UTF-16BE
  // UTF-16 without a mark, when it is plainly ASCII in two bytes.
  EXPECT_EQ(Convert(std::string("D\0a\0t\0e\0,\0B\0i\0d\0\r\0\n\0", 20)), "Date,Bid\r\n");
}

TEST(Unconvertible, CharactersWithoutAShiftJisFormAreDropped) {
  EXPECT_EQ(Convert("a\xED\x95\x9C" "b\xF0\x9F\x98\x80" "c見"), "abc\x8c\xa9");  // 한, emoji
  EXPECT_EQ(Convert(std::string("\xFF\xFE" "a\0\x3D\xD8\x00\xDE" "b\0", 10)), "ab");  // surrogate pair
}

TEST(Unconvertible, MalformedInputYieldsWhatCanBeConverted) {
  EXPECT_EQ(Convert("見積\xE3\x81"), "\x8c\xa9\x90\xcf");          // cut UTF-8 at the end
  EXPECT_EQ(Convert("見\xE3\x81" "積"), "\x8c\xa9\x90\xcf");      // cut in the middle
  EXPECT_EQ(Convert("\x8c\xa9\x90\xcf\x82\xa0\x82"), "\x8c\xa9\x90\xcf\x82\xa0");  // lone lead
  EXPECT_EQ(Convert("\x8c\xa9\x82\n\x82\xa0"), "\x8c\xa9\n\x82\xa0");  // lead before a line end
  EXPECT_EQ(Convert("\x1b$B8+@Q"), "\x8c\xa9\x90\xcf");           // no return to ASCII
  EXPECT_EQ(Convert("\x1b$B8+@"), "\x8c\xa9");                    // cut in a pair
  EXPECT_EQ(Convert("\x1b$"), "\x1b$");                           // only the start of an escape
}

TEST(Unconvertible, DuplicateCodesFoldOntoTheOnesKeywordsUse) {
  // NEC-selected IBM extension ED40 (纊) is the same character as FA5C; the
  // keyword 纊 converts to FA5C.
  EXPECT_EQ(Convert("\x8c\xa9\xED\x40\x82\xa0"), "\x8c\xa9\xFA\x5C\x82\xa0");
  EXPECT_EQ(Utf8ToSjis("纊"), "\xFA\x5C");
}

TEST(OutputCap, StopsAt999901BytesWhateverTheInputLength) {
  TempDir t;
  const std::string ascii = t.Write("big.txt", std::string(3'000'000, 'x'));
  std::unique_ptr<char[]> out(new char[kConvertedTextCap]);
  EXPECT_EQ(ConvertFileToShiftJis(ascii, "-s", out.get()), 999'901);

  std::string utf8;
  while (utf8.size() < 3'000'000) utf8 += "見積書をお送りします。\r\n";
  const std::string japanese = t.Write("big-utf8.txt", utf8);
  EXPECT_EQ(ConvertFileToShiftJis(japanese, "-s", out.get()), 999'901);
  EXPECT_EQ(std::string(out.get(), kSjisSentence.size()), kSjisSentence);

  // Just below the cap everything is kept.
  const std::string small = t.Write("small.txt", std::string(999'900, 'y'));
  EXPECT_EQ(ConvertFileToShiftJis(small, "-s", out.get()), 999'900);
}

TEST(UnreadableFiles, GiveMinusOne) {
  TempDir t;
  std::unique_ptr<char[]> out(new char[kConvertedTextCap]);
  EXPECT_EQ(ConvertFileToShiftJis(t.path() + "missing.txt", "-s", out.get()), -1);
  EXPECT_EQ(ConvertFileToShiftJis(t.MakeDir("folder.txt"), "-s", out.get()), -1);
  const std::string empty = t.Write("empty.txt", "");
  EXPECT_EQ(ConvertFileToShiftJis(empty, "-s", out.get()), 0);
}

// The run fast paths (with and without 256-bit vectors), the byte-at-a-time
// state machines and the chunked reader give the same bytes for one input.
void ExpectSameAsStepwise(const std::string& in, const std::string& what) {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  std::vector<char> a(kConvertedTextCap), b(kConvertedTextCap), c(kConvertedTextCap);
  const int32_t na = ConvertToShiftJis(p, in.size(), a.data());
  const int32_t nb = ConvertToShiftJisStepwise(p, in.size(), b.data());
  const int32_t nc = ConvertToShiftJisChunked(p, in.size(), c.data());
  AllowWideVectors(false);
  std::vector<char> d(kConvertedTextCap);
  const int32_t nd = ConvertToShiftJis(p, in.size(), d.data());
  AllowWideVectors(true);
  ASSERT_EQ(na, nb) << what;
  ASSERT_EQ(na, nc) << what;
  ASSERT_EQ(na, nd) << what << " (portable paths)";
  ASSERT_EQ(std::string(a.data(), (size_t)na), std::string(b.data(), (size_t)nb)) << what;
  ASSERT_EQ(std::string(a.data(), (size_t)na), std::string(c.data(), (size_t)nc)) << what;
  ASSERT_EQ(std::string(a.data(), (size_t)na), std::string(d.data(), (size_t)nd)) << what << " (portable paths)";
  // Converted and walked in one pass: the walks' byte rules on the converted
  // text, where the converter takes the walk on.
  const std::string converted(b.data(), (size_t)nb);
  for (const bool wide : {true, false}) {
    AllowWideVectors(wide);
    for (const auto& [walk, rules] : {std::pair{TextWalk::kCompact, test::WalkRules::kCompact},
                                     std::pair{TextWalk::kHtml, test::WalkRules::kHtml}}) {
      bool walked = false;
      std::vector<char> e(kConvertedTextCap);
      const int32_t ne = ConvertToShiftJisWalked(p, in.size(), walk, e.data(), &walked);
      ASSERT_EQ(std::string(e.data(), (size_t)ne), walked ? test::ReferenceWalk(converted, rules) : converted)
          << what << (walk == TextWalk::kHtml ? " html" : " compact") << (wide ? "" : " (portable paths)");
    }
  }
  AllowWideVectors(true);
}

// Japanese-looking text in `enc` with the characters that leave the fast paths:
// half-width katakana with and without marks, the user-defined area, characters
// with no code page 932 form, a byte-order mark's code point, stray bytes. A
// piece the encoding lacks is left out.
std::string RandomText(std::mt19937& rng, size_t pieces, const std::string& enc) {
  static const char* const kPieces[] = {
      "見積", "書を", "お送り", "します。", "ＡＢＣ", "１２", "abc ", "\r\n", "\t", "ｶ", "ﾞ", "ﾊﾟ", "ｳﾞ",
      "ｱ", "ｰ", "ヴ", "①", "髙", "﨑", "€", "😀", "ü", "¥", "‾", "\xef\xbb\xbf", "<p>", ",",
      // What the walks take apart: tags (one holding text, one left open), lone
      // brackets, spaces, controls and the full-width space.
      "</p>\n<p>", "<a title=\"資料\">", "<", ">", "  ", "\x7f", "　"};
  std::string s = enc == "UTF-16LE" ? "\xff\xfe" : "";
  for (size_t i = 0; i < pieces; ++i) {
    const std::string piece = kPieces[rng() % (sizeof kPieces / sizeof *kPieces)];
    s += enc == "UTF-8" ? piece : Encode(enc.c_str(), piece);
  }
  return s;
}

TEST(FastPaths, GiveTheStepwiseBytesInEveryEncoding) {
  std::mt19937 rng(11);
  for (int iter = 0; iter < 100; ++iter) {
    for (const std::string enc : {"UTF-8", "CP932", "EUC-JP", "ISO-2022-JP", "UTF-16LE"}) {
      const std::string bytes = RandomText(rng, 20 + rng() % 400, enc);
      const std::string what = enc + " " + std::to_string(iter);
      ExpectSameAsStepwise(bytes, what);
      // Damaged twins: stray bytes anywhere, the text cut anywhere.
      std::string damaged = bytes;
      for (int k = 0; k < 3 && !damaged.empty(); ++k) damaged[rng() % damaged.size()] = (char)rng();
      ExpectSameAsStepwise(damaged, what + " damaged");
      ExpectSameAsStepwise(bytes.substr(0, rng() % (bytes.size() + 1)), what + " cut");
    }
  }
}

TEST(FastPaths, ChunkBoundariesInsideCharactersAndNearTheCap) {
  std::mt19937 rng(12);
  for (const std::string enc : {"UTF-8", "CP932", "EUC-JP"}) {
    const std::string bytes = RandomText(rng, 40'000, enc);
    // A prefix of 0 to 2 ASCII bytes moves every 64 KiB boundary of the
    // chunked reader across the bytes of a character.
    for (const std::string prefix : {"", "a", "ab"}) ExpectSameAsStepwise(prefix + bytes, enc + prefix);
    // Past the output cap, with the cap falling inside a two-byte character.
    std::string big;
    while (big.size() < 1'300'000) big += bytes;
    ExpectSameAsStepwise(big, enc + " big");
    ExpectSameAsStepwise("x" + big, enc + " big odd");
  }
}

// A half-width kana waits for its mark across a dropped character or byte,
// which the one-pass walk must not take for the end of a piece.
TEST(FastPaths, AKanaWaitsForItsMarkAcrossDroppedCharacters) {
  const std::string text = "見積書をお送りします。";
  const struct {
    const char* enc;
    std::string kana, dropped, mark;
  } cases[] = {
      {"UTF-8", "ｶ", "😀", "ﾞ"},
      {"UTF-8", "ﾊ", "\xe3\x81", "ﾟ"},
      {"CP932", "\xb6", "\x85\x40", "\xde"},
      {"CP932", "\xca", "\x81\x20", "\xdf"},
      {"EUC-JP", "\x8e\xb6", "\xa9\xa1", "\x8e\xde"},
      {"EUC-JP", "\x8e\xca", "\x8f\xa1", "\x8e\xdf"},
  };
  for (const auto& c : cases) {
    const std::string words = std::string(c.enc) == "UTF-8" ? text : Encode(c.enc, text);
    ExpectSameAsStepwise(words + c.kana + c.dropped + c.mark + words, std::string(c.enc) + " " + c.dropped);
  }
}

TEST(FastPaths, RandomBytesGiveTheStepwiseBytes) {
  std::mt19937 rng(13);
  for (int iter = 0; iter < 300; ++iter) {
    std::string s(rng() % 3000, '\0');
    for (auto& c : s) c = (char)rng();
    ExpectSameAsStepwise(s, "random " + std::to_string(iter));
  }
}

// The lean detection scorers, fed in two pieces cut at `cut`, give each
// decoding the score the converter's decoders feeding a Score give, and
// detection chooses as the decoders would.
void ExpectSameScores(const std::string& in, size_t cut, const std::string& what) {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const size_t probe = in.size() < 1024 ? in.size() : 1024;
  for (const TextEncoding enc : {TextEncoding::kUtf8, TextEncoding::kShiftJis, TextEncoding::kEucJp}) {
    // What lets detection leave a decoding out: no text scores above its ceiling.
    ASSERT_GE(DetectionScoreCeiling(enc, p, probe), DetectionScore(enc, p, probe, cut, false))
        << what << " encoding " << (int)enc;
    for (const bool complete : {false, true}) {
      ASSERT_EQ(DetectionScore(enc, p, in.size(), cut, complete),
                DetectionScoreReference(enc, p, in.size(), complete))
          << what << " encoding " << (int)enc << " cut " << cut << " complete " << complete;
    }
  }
  for (const bool complete : {false, true}) {
    ASSERT_EQ(DetectTextEncoding(p, in.size(), complete),
              DetectTextEncodingReference(p, in.size(), complete))
        << what;
  }
}

TEST(DetectionScores, EqualTheDecodersOnTextsCutInsideCharacters) {
  std::mt19937 rng(21);
  for (int iter = 0; iter < 60; ++iter) {
    for (const std::string enc : {"UTF-8", "CP932", "EUC-JP"}) {
      const std::string text = RandomText(rng, 20 + rng() % 900, enc);
      const std::string what = enc + " " + std::to_string(iter);
      ExpectSameScores(text, rng() % (text.size() + 1), what);
      const size_t end = rng() % (text.size() + 1);
      ExpectSameScores(text.substr(0, end), rng() % (end + 1), what + " cut");
      // Mostly ASCII, past the kilobyte the probe looks at.
      std::string sparse;
      while (sparse.size() < 6000) {
        sparse += std::string(rng() % 300, 'a') + text.substr(rng() % text.size(), 9);
      }
      ExpectSameScores(sparse, 1024, what + " sparse");
    }
  }
}

// Hiragana add the most a two-byte character can, and a half-width kana's mark
// or small kana the most a kana can: texts of them come closest to the ceilings.
TEST(DetectionScores, CeilingsHoldOnTheTextsThatComeClosest) {
  const std::string kana = "ぁあぃいぅうかがさざはばぱ。ｶﾞﾊﾟｱｧｰｷﾞﾋﾟｸﾞ";
  for (const std::string enc : {"UTF-8", "CP932", "EUC-JP"}) {
    std::string text;
    while (text.size() < 1500) text += enc == "UTF-8" ? kana : Encode(enc.c_str(), kana);
    ExpectSameScores(text, 700, enc);
    ExpectSameScores(text.substr(1), 700, enc + " from the second byte");
  }
}

// When UTF-8 scores best, its lead counts from 0 up: a probe it wins by less
// than the decisive lead over 0, however far below 0 the others are, is not
// settled, and the whole window (Shift_JIS after the probe) decides.
TEST(DetectionScores, AProbeUtf8WinsBelowTheDecisiveLeadIsNotSettled) {
  std::string text;
  while (text.size() < 1024) text += "ｶﾞ\xC0\xC0\xC0";
  while (text.size() < 4096) text += Encode("CP932", "あいうえお");
  ExpectSameScores(text, 1024, "probe");
  EXPECT_EQ(DetectTextEncoding(reinterpret_cast<const unsigned char*>(text.data()), text.size(), true),
            TextEncoding::kShiftJis);
}

TEST(DetectionScores, EqualTheDecodersOnRandomBytes) {
  // Bytes that open or end characters in one decoding or another, and ASCII.
  const std::string telling =
      "\x8e\x8f\xa1\xa4\xb3\xca\xde\xdf\xe0\xed\xef\xf0\xf4\xfd\x81\x82\x40\x7f";
  std::mt19937 rng(22);
  for (int iter = 0; iter < 400; ++iter) {
    std::string s(rng() % 4000, '\0');
    for (auto& c : s) {
      const uint32_t x = rng();
      c = x % 4 == 0 ? telling[(x >> 8) % telling.size()] : x % 4 == 1 ? 'a' : (char)(x >> 8);
    }
    ExpectSameScores(s, rng() % (s.size() + 1), "random " + std::to_string(iter));
  }
}

// Every two-byte code, after a sentence that settles the encoding as Shift_JIS,
// folds onto the code its character converts back to and a code without a
// character is dropped; the fast runs, the state machines and the chunked reader agree.
TEST(FastPaths, EveryTwoByteCodeFoldsAsKeywordsDo) {
  const int32_t* toU = Cp932ToUtf16Table();
  const int32_t* fromU = Utf16ToCp932Table();
  std::string in, expected;
  for (int k = 0; k < 40; ++k) in += kSjisSentence, expected += kSjisSentence;
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead >= 0xA0 && lead <= 0xDF) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      const unsigned code = lead << 8 | trail;
      in += {(char)lead, (char)trail};
      if (toU[code] < 0) continue;
      const int c = fromU[toU[code]];
      const unsigned folded = c >= 0x100 ? (unsigned)c : code;
      expected += {(char)(folded >> 8), (char)folded};
    }
  }
  EXPECT_EQ(Convert(in), expected);
  ExpectSameAsStepwise(in, "every code");
}

// Every BMP code point outside the surrogates as UTF-8 (marked, so detection
// plays no part), each after an ASCII byte: the fast runs read their own
// 16-bit table, the state machines the 32-bit one.
TEST(FastPaths, EveryUtf8CharacterGivesTheStepwiseBytes) {
  std::string in = "\xEF\xBB\xBF";
  for (char32_t cp = 0x80; cp < 0x10000; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    in += 'x';
    AppendUtf8(in, cp);
  }
  ExpectSameAsStepwise(in, "every code point");
}

// Every character back to back, so the 16-byte windows of the fast runs meet
// each code at every position: every Shift_JIS code, every EUC-JP pair, every
// UTF-8 three-byte character, each shifted by one and two ASCII bytes.
TEST(FastPaths, EveryCodeInARowGivesTheStepwiseBytes) {
  std::string sjis, euc, utf8 = "\xEF\xBB\xBF";
  for (int k = 0; k < 40; ++k) sjis += kSjisSentence, euc += kEucSentence;
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC && !(lead >= 0xA0 && lead <= 0xDF); ++trail) {
      if (trail != 0x7F) sjis += {(char)lead, (char)trail};
    }
  }
  for (unsigned j1 = 0xA1; j1 <= 0xFE; ++j1) {
    for (unsigned j2 = 0xA1; j2 <= 0xFE; ++j2) euc += {(char)j1, (char)j2};
  }
  for (char32_t cp = 0x800; cp < 0x10000; ++cp) {
    if (cp < 0xD800 || cp > 0xDFFF) AppendUtf8(utf8, cp);
  }
  for (const std::string& in : {sjis, euc, utf8}) {
    for (const std::string prefix : {"", "a", "ab"}) {
      ExpectSameAsStepwise(in.substr(0, 3) + prefix + in.substr(3), prefix + std::to_string(in.size()));
    }
  }
}

#ifdef KURIBO_CORPUS_DIR
std::string CorpusFile(const std::string& name) {
  return test::ReadFile(std::string(KURIBO_CORPUS_DIR) + "/" + name);
}

TEST(EncodingCorpus, TheSameTextInFourEncodingsGivesTheSameBytes) {
  const std::string sjis = CorpusFile("txt/chardet_SHIFT_JIS_ude_2.txt");
  const std::string euc = CorpusFile("txt/chardet_EUC-JP_ude_1.txt");
  const std::string jis = CorpusFile("txt/chardet_iso-2022-jp_ude_1.txt");
  const std::string utf8 = CorpusFile("txt/chardet_utf-8-sig_ude_4.txt");
  if (sjis.empty() || euc.empty() || jis.empty() || utf8.empty()) {
    GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
  }
  const std::string want = Convert(sjis);
  EXPECT_NE(want.find(Utf8ToSjis("コンソール アプリケーション")), std::string::npos);
  EXPECT_EQ(Convert(euc), want);
  EXPECT_EQ(Convert(jis), want);
  EXPECT_EQ(Convert(utf8), want);
}

TEST(EncodingCorpus, FilesOfEachEncodingAreReadRight) {
  const struct {
    const char* file;
    TextEncoding enc;
    const char* words;
  } cases[] = {
      {"txt/chardet_SHIFT_JIS_ude_1.txt", TextEncoding::kShiftJis, "或日の暮方の事である。"},
      {"txt/textract_non-utf8.txt", TextEncoding::kEucJp, "これは非UTF8 テキストファイルです"},
      {"txt/pdfminer_jo.txt.ref", TextEncoding::kUtf8, "わたくしといふ現象は"},
      {"txt/xlsxwriter_unicode_shift_jis.txt", TextEncoding::kShiftJis, "ダイクロイックミラーランプ"},
      {"txt/chardet_UTF-16LE_nobom-utf16le.txt", TextEncoding::kUtf16Le, "DateTime,Bid,Ask"},
      {"html/chardet_EUC-JP_mozilla_bug431054_text.html", TextEncoding::kEucJp, "ログイン"},
      {"html/chardet_EUC-JP_mozilla_bug426271_text-euc-jp.html", TextEncoding::kEucJp,
       "お婆さんが川で洗濯をしていると"},
      {"html/chardet_SHIFT_JIS_chromium_Shift-JIS_with_no_encoding_specified.html",
       TextEncoding::kShiftJis, "衆院議院運営委員会"},
      {"html/tika_testHTML_utf8.html", TextEncoding::kUtf8, "Content with UTF-8 chars"},
  };
  bool any = false;
  for (const auto& c : cases) {
    const std::string bytes = CorpusFile(c.file);
    if (bytes.empty()) continue;
    any = true;
    EXPECT_EQ(Detect(bytes), c.enc) << c.file;
    EXPECT_NE(Convert(bytes).find(Utf8ToSjis(c.words)), std::string::npos) << c.file;
  }
  if (!any) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
}

TEST(EncodingCorpus, FastPathsGiveTheStepwiseBytesOnEveryTextFile) {
  int files = 0;
  for (const char* dir : {"txt", "html", "csv"}) {
    const std::filesystem::path folder = std::filesystem::path(KURIBO_CORPUS_DIR) / dir;
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      ExpectSameAsStepwise(test::ReadFile(entry.path().string()), entry.path().string());
      ++files;
    }
  }
  if (files == 0) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
}

TEST(EncodingCorpus, DetectionScoresEqualTheDecodersOnEveryTextFile) {
  int files = 0;
  for (const char* dir : {"txt", "html", "csv"}) {
    const std::filesystem::path folder = std::filesystem::path(KURIBO_CORPUS_DIR) / dir;
    if (!std::filesystem::is_directory(folder)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      const std::string bytes = test::ReadFile(entry.path().string());
      const std::string window = bytes.substr(0, 64 * 1024);
      ExpectSameScores(window, window.size() / 3, entry.path().string());
      ExpectSameScores(window.substr(0, 1024), 1023, entry.path().string() + " probe");
      ++files;
    }
  }
  if (files == 0) GTEST_SKIP() << "corpus not found at " << KURIBO_CORPUS_DIR;
}
#endif

}  // namespace
}  // namespace kuribo
