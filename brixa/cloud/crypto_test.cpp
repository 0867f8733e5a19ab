#include "brixa/cloud/crypto.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "brixa/api/brixa.h"

namespace brixa::cloud {
namespace {

TEST(Md5Hex, KnownAnswers) {
  EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Base64, EncodesAModulusBlockIn88Characters) {
  uint8_t block[64];
  for (int i = 0; i < 64; ++i) block[i] = static_cast<uint8_t>(i * 7 + 3);
  std::string text = base64_encode(block, sizeof block);
  ASSERT_EQ(text.size(), 88u);
  EXPECT_EQ(text.substr(86), "==");
  uint8_t back[kBase64DecodeBuffer];
  ASSERT_EQ(base64_decode(text.data(), text.size(), back), 64);
  EXPECT_EQ(std::memcmp(back, block, 64), 0);
  EXPECT_EQ(base64_encode(reinterpret_cast<const uint8_t*>("hello"), 5), "aGVsbG8=");
}

TEST(Base64, DecoderQuirks) {
  struct Case {
    const char* text;
    int count;
    const char* bytes;
  } cases[] = {
      {"", 0, ""},
      {"aGVsbG8=", 5, "hello"},
      {"aGVsbA==", 4, "hell"},
      {"aGVs", 3, "hel"},
      {"aGVsbG8", 3, "hel"},           // a trailing partial group is ignored
      {"a*Vs", 3, "h\x05l"},           // a character outside the alphabet counts as zero bits
  };
  for (const Case& c : cases) {
    uint8_t out[kBase64DecodeBuffer];
    std::memset(out, 0x55, sizeof out);
    int n = base64_decode(c.text, std::strlen(c.text), out);
    ASSERT_EQ(n, c.count) << c.text;
    EXPECT_EQ(std::memcmp(out, c.bytes, static_cast<size_t>(n)), 0) << c.text;
    EXPECT_EQ(out[n], 0) << c.text;  // zero-terminated
  }
}

TEST(Base64, DecoderStopsBeforeTheOutputReaches127Bytes) {
  // 168 characters give 126 bytes: the most the 128-byte buffer takes.
  std::string text(168, 'A');
  uint8_t out[kBase64DecodeBuffer];
  EXPECT_EQ(base64_decode(text.data(), text.size(), out), 126);
  // One more byte ("AA==" adds one) would make 127.
  text += "AA==";
  EXPECT_EQ(base64_decode(text.data(), text.size(), out), -1);
  std::string longer(400, 'A');
  EXPECT_EQ(base64_decode(longer.data(), longer.size(), out), -1);
}

// Cipher texts made with an independent AES-256-ECB implementation, key MD5(p) || MD5(MD5(p) p).
constexpr const char* kPhrase = "3D7A0C52-E8B1-4F96-A25D-6B0E91C4F7A3";

TEST(AesDecrypt, KnownAnswers) {
  struct Case {
    const char* cipher;
    const char* pass;
    std::string plain;
  } cases[] = {
      {"VDPcPIYQ6p1g98ZdWBxobg==", kPhrase, "kavrel-demo-key"},
      {"vhXHrTaVz579479gi9KrjQBRJ62amHkAcvkmt/nbpBPuIeqmK/EplQRaLZpB9Zl9", kPhrase,
       "a device password that spans three blocks!"},
      // Seven blocks, 112 bytes: the longest plaintext the decoder's bound lets through.
      {"/HAZi8zEXXvl0pMIA7f61fxwGYvMxF175dKTCAO3+tX8cBmLzMRde+XSkwgDt/rV/HAZi8zEXXvl0pMIA7f61fxwGYvMxF175dK"
       "TCAO3+tX8cBmLzMRde+XSkwgDt/rV/HAZi8zEXXvl0pMIA7f61Q==",
       "pw", std::string(112, 'x')},
  };
  for (const Case& c : cases) {
    char out[200] = {};
    EXPECT_EQ(brixa_aes_decrypt(c.cipher, out, c.pass), 0);
    EXPECT_EQ(std::string(out), c.plain);
    EXPECT_EQ(out[112], 0);
  }
}

TEST(AesDecrypt, LeavesTheOutputUntouchedWhenThereIsNoWholeBlock) {
  const char* ciphers[] = {
      "",
      "aGVsbG8=",  // 5 bytes: no whole block
      // Eight blocks (113 bytes padded to 128) are too long for the decoder.
      "/HAZi8zEXXvl0pMIA7f61fxwGYvMxF175dKTCAO3+tX8cBmLzMRde+XSkwgDt/rV/HAZi8zEXXvl0pMIA7f61fxwGYvMxF175dK"
      "TCAO3+tX8cBmLzMRde+XSkwgDt/rV/HAZi8zEXXvl0pMIA7f61T50tAvAyPk3JtqHLzh9xW4=",
  };
  for (const char* cipher : ciphers) {
    char out[200];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(brixa_aes_decrypt(cipher, out, "pw"), 0);
    for (char ch : out) ASSERT_EQ(ch, '#') << cipher;
  }
  EXPECT_EQ(brixa_aes_decrypt(nullptr, nullptr, nullptr), 0);
}

TEST(AesDecrypt, IgnoresATrailingPartialBlock) {
  // One whole block followed by 5 more bytes: only the block is written.
  char out[64];
  std::memset(out, '#', sizeof out);
  brixa_aes_decrypt("VDPcPIYQ6p1g98ZdWBxobmhlbGxv", out, kPhrase);
  EXPECT_EQ(std::string(out, 15), "kavrel-demo-key");
  EXPECT_EQ(out[15], 0);
  EXPECT_EQ(out[16], '#');
}

TEST(SessionKey, TextFormat) {
  EXPECT_EQ(session_key_text({1700000000, 123}, 0x1234, 0x7fff), "04c284b0-833b-11ee-8000-133400007fff");
  // Generator values above 0xffff would reach the clock sequence; ours never exceed 32767.
  EXPECT_EQ(session_key_text({0, 0}, 0x70000, 0), "13814000-1dd2-11b2-8007-010000000000");
}

TEST(SessionKey, SeedsTheThreadGeneratorFromTheClock) {
  // Second reading seeds r1 = 4903, third seeds r2 = 4952; the key is the MD5 of the text.
  std::string key = session_key_from({1700000000, 123}, {1700000000, 124}, {1700000001, 7});
  EXPECT_EQ(key, md5_hex("04c284b0-833b-11ee-8000-132700001358"));
  EXPECT_EQ(key, "666b41feb11aa0fcda3baa62de62b673");
  // The padding that follows on this thread continues from the third seed.
  EXPECT_EQ(thread_rand(), 12770);
}

TEST(SessionKey, FreshKeysAre32HexDigits) {
  std::string a = make_session_key();
  ASSERT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(RsaEncrypt, GivesOneModulusBlockAndRefusesLongTexts) {
  auto block = rsa_encrypt(std::string(53, 'k'));
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->size(), 64u);
  EXPECT_EQ(base64_encode(block->data(), block->size()).size(), 88u);
  EXPECT_FALSE(rsa_encrypt(std::string(54, 'k')).has_value());
  EXPECT_TRUE(rsa_encrypt("").has_value());
}

TEST(RsaEncrypt, ChecksTheKey) {
  RsaPublicKey even_modulus{"c8ebd4b786d3d8b90efbebbf8429999261567dc79eb622be6113ee63e17666b5"
                            "aae598afc7327cd0dc57a20745816020cd6b89892c536947c508ecaffb4b180a",
                            "10001"};
  RsaPublicKey even_exponent{service_public_key().modulus_hex, "10000"};
  RsaPublicKey tiny_modulus{"ffff", "10001"};
  RsaPublicKey not_hex{"xyz", "10001"};
  for (RsaPublicKey key : {even_modulus, even_exponent, tiny_modulus, not_hex})
    EXPECT_FALSE(rsa_encrypt("abc", key).has_value()) << key.modulus_hex << " " << key.exponent_hex;
}

}  // namespace
}  // namespace brixa::cloud
