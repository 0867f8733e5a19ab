// The cryptographic helpers of the cloud account client: MD5 in hexadecimal, the thread's
// pseudo-random generator, the session key, RSA encryption of short texts with PKCS#1 v1.5
// padding, base64, and AES-256-ECB decryption of texts encrypted under a pass phrase.
//
// Everything here runs on the calling thread and keeps no shared state; the pseudo-random
// generator is one per thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brixa::cloud {

// The 16-byte MD5 digest as 32 lowercase hexadecimal digits.
std::string md5_hex(const void* data, size_t len);
inline std::string md5_hex(std::string_view text) { return md5_hex(text.data(), text.size()); }

// The calling thread's pseudo-random generator: a linear congruential generator giving values
// 0 to 32767, reseeded by thread_srand. A thread that never seeded it starts from an
// unpredictable seed rather than a fixed one.
void thread_srand(uint32_t seed);
int thread_rand();

// A wall-clock reading: seconds since 1970 and milliseconds.
struct ClockReading {
  int64_t seconds = 0;
  int32_t millis = 0;
};
ClockReading read_clock();

// The 36-character text the session key is the digest of, from the first clock reading and
// the two random values.
std::string session_key_text(ClockReading t, int r1, int r2);
// The session key from three clock readings: the first gives the time fields, the second and
// third each reseed the thread's generator and draw one value. 32 lowercase hex digits.
std::string session_key_from(ClockReading first, ClockReading second, ClockReading third);
// A fresh session key from the clock.
std::string make_session_key();

struct RsaPublicKey {
  const char* modulus_hex;
  const char* exponent_hex;
};
// The service's key (service_key.h).
RsaPublicKey service_public_key();

// RSA encryption with PKCS#1 v1.5 type-2 padding whose bytes come from the thread's generator
// (a zero byte is drawn again, up to 100 times). The result has as many bytes as the modulus
// (64 for the service's key). Fails for an unusable key, a text longer than the modulus
// length minus 11 (53 bytes for the service's key), or a generator that keeps giving zeros.
std::optional<std::vector<uint8_t>> rsa_encrypt(std::string_view text,
                                                RsaPublicKey key = service_public_key());
inline constexpr size_t kRsaMaxText = 53;

// Standard base64 with "=" padding.
std::string base64_encode(const uint8_t* data, size_t len);

// The reply decoder: reads whole groups of four characters (a trailing partial group is
// ignored), takes "=" in the third and fourth place as padding, maps characters outside the
// alphabet to zero bits rather than rejecting them, and writes the bytes and a terminating
// zero into `out`. Returns the byte count, or -1 as soon as the output would reach 127 bytes.
inline constexpr size_t kBase64DecodeBuffer = 128;
int base64_decode(const char* text, size_t len, uint8_t (&out)[kBase64DecodeBuffer]);

// The AES-256-ECB decryption behind brixa_aes_decrypt. Key: MD5(pass) followed by
// MD5(MD5(pass) followed by pass). The base64 cipher text is decoded with base64_decode and
// every whole 16-byte block is decrypted into out + 16 i; a partial block is ignored and no
// padding is removed. Writes nothing for a cipher text that decodes to fewer than 16 bytes or
// is too long for the decoder. `out` must hold kAesMaxPlain bytes.
inline constexpr size_t kAesMaxPlain = 112;
void aes_decrypt(const char* cipher, char* out, const char* pass_phrase);

// The same decryption with the key derived once, for the many members of one reply.
class AesDecryptor {
 public:
  explicit AesDecryptor(const char* pass_phrase);
  ~AesDecryptor();
  AesDecryptor(const AesDecryptor&) = delete;
  AesDecryptor& operator=(const AesDecryptor&) = delete;
  void decrypt(const char* cipher, char* out) const;

 private:
  struct Context;
  Context* context_;
};

}  // namespace brixa::cloud
