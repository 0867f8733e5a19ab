#include "brixa/cloud/crypto.h"

#include <mbedtls/aes.h>
#include <mbedtls/bignum.h>
#include <mbedtls/md5.h>
#include <mbedtls/version.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "brixa/cloud/service_key.h"

namespace brixa::cloud {
namespace {

void md5_raw(const void* data, size_t len, uint8_t (&digest)[16]) {
#if MBEDTLS_VERSION_MAJOR >= 3
  mbedtls_md5(static_cast<const unsigned char*>(data), len, digest);
#else
  mbedtls_md5_ret(static_cast<const unsigned char*>(data), len, digest);
#endif
}

// The thread's generator state. `seeded` is false until the thread seeds it or first draws.
struct ThreadGenerator {
  uint32_t state = 0;
  bool seeded = false;
};
thread_local ThreadGenerator generator;

// 100-ns intervals between 1582-10-15 and 1970-01-01, in seconds.
constexpr uint64_t kGregorianOffsetSeconds = 12219292800ull;

uint32_t seed_from(ClockReading t) {
  uint32_t ms = static_cast<uint32_t>(t.millis);
  return ((static_cast<uint32_t>(t.seconds % 65536) + ms) ^ ms);
}

class Mpi {
 public:
  Mpi() { mbedtls_mpi_init(&v_); }
  ~Mpi() { mbedtls_mpi_free(&v_); }
  Mpi(const Mpi&) = delete;
  Mpi& operator=(const Mpi&) = delete;
  mbedtls_mpi* get() { return &v_; }

 private:
  mbedtls_mpi v_;
};

constexpr int8_t kNotBase64 = -1;
constexpr int8_t base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<int8_t>(c - 'A');
  if (c >= 'a' && c <= 'z') return static_cast<int8_t>(c - 'a' + 26);
  if (c >= '0' && c <= '9') return static_cast<int8_t>(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return kNotBase64;
}

uint32_t sextet(char c) {
  int8_t v = base64_value(c);
  return v == kNotBase64 ? 0u : static_cast<uint32_t>(v);
}

}  // namespace

std::string md5_hex(const void* data, size_t len) {
  uint8_t digest[16];
  md5_raw(data, len, digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out(32, '0');
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kHex[digest[i] >> 4];
    out[2 * i + 1] = kHex[digest[i] & 15];
  }
  return out;
}

void thread_srand(uint32_t seed) {
  generator.state = seed;
  generator.seeded = true;
}

int thread_rand() {
  if (!generator.seeded) thread_srand(std::random_device{}());
  generator.state = generator.state * 214013u + 2531011u;
  return static_cast<int>((generator.state >> 16) & 0x7fff);
}

ClockReading read_clock() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return ClockReading{static_cast<int64_t>(now.tv_sec), static_cast<int32_t>(now.tv_nsec / 1000000)};
}

std::string session_key_text(ClockReading t, int r1, int r2) {
  uint64_t ticks = ((static_cast<uint64_t>(t.seconds) + kGregorianOffsetSeconds) * 1000u +
                    static_cast<uint64_t>(t.millis)) * 10000u;
  unsigned long time_low = static_cast<unsigned long>(ticks & 0xffffffffu);
  unsigned time_mid = static_cast<unsigned>((ticks >> 32) & 0xffffu);
  unsigned time_hi = static_cast<unsigned>((ticks >> 48) & 0xffffu) | 0x1000u;
  unsigned clock_seq = ((static_cast<unsigned>(r1) >> 16) & 0x3fffu) | 0x8000u;
  unsigned node_hi = (static_cast<unsigned>(r1) | 0x100u) & 0xffffu;
  unsigned long node_lo = static_cast<unsigned long>(static_cast<unsigned>(r2));
  char text[64];
  std::snprintf(text, sizeof text, "%08lx-%04x-%04x-%04x-%04x%08lx", time_low, time_mid, time_hi,
                clock_seq, node_hi, node_lo);
  return text;
}

std::string session_key_from(ClockReading first, ClockReading second, ClockReading third) {
  thread_srand(seed_from(second));
  int r1 = thread_rand();
  thread_srand(seed_from(third));
  int r2 = thread_rand();
  return md5_hex(session_key_text(first, r1, r2));
}

std::string make_session_key() {
  ClockReading first = read_clock();
  ClockReading second = read_clock();
  ClockReading third = read_clock();
  return session_key_from(first, second, third);
}

RsaPublicKey service_public_key() { return RsaPublicKey{kServiceModulusHex, kServiceExponentHex}; }

std::optional<std::vector<uint8_t>> rsa_encrypt(std::string_view text, RsaPublicKey key) {
  Mpi n, e, block, result;
  if (mbedtls_mpi_read_string(n.get(), 16, key.modulus_hex) != 0 ||
      mbedtls_mpi_read_string(e.get(), 16, key.exponent_hex) != 0)
    return std::nullopt;
  // The key check: modulus of 128 to 4096 bits, exponent of 2 to 64 bits, both odd.
  size_t n_bits = mbedtls_mpi_bitlen(n.get());
  size_t e_bits = mbedtls_mpi_bitlen(e.get());
  if (n_bits < 128 || n_bits > 4096 || e_bits < 2 || e_bits > 64 ||
      mbedtls_mpi_get_bit(n.get(), 0) == 0 || mbedtls_mpi_get_bit(e.get(), 0) == 0)
    return std::nullopt;

  const size_t k = mbedtls_mpi_size(n.get());
  if (text.size() + 11 > k) return std::nullopt;
  std::vector<uint8_t> padded(k);
  padded[0] = 0x00;
  padded[1] = 0x02;
  const size_t pad_len = k - 3 - text.size();
  for (size_t i = 0; i < pad_len; ++i) {
    uint8_t byte = 0;
    for (int draw = 0; draw < 100 && byte == 0; ++draw) byte = static_cast<uint8_t>(thread_rand() & 0xff);
    if (byte == 0) return std::nullopt;
    padded[2 + i] = byte;
  }
  padded[2 + pad_len] = 0x00;
  if (!text.empty()) std::memcpy(padded.data() + 3 + pad_len, text.data(), text.size());

  if (mbedtls_mpi_read_binary(block.get(), padded.data(), padded.size()) != 0 ||
      mbedtls_mpi_cmp_mpi(block.get(), n.get()) >= 0 ||
      mbedtls_mpi_exp_mod(result.get(), block.get(), e.get(), n.get(), nullptr) != 0)
    return std::nullopt;
  std::vector<uint8_t> out(k);
  if (mbedtls_mpi_write_binary(result.get(), out.data(), out.size()) != 0) return std::nullopt;
  return out;
}

std::string base64_encode(const uint8_t* data, size_t len) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((len + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= len; i += 3) {
    uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (len - i == 1) {
    uint32_t v = uint32_t{data[i]} << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (len - i == 2) {
    uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

int base64_decode(const char* text, size_t len, uint8_t (&out)[kBase64DecodeBuffer]) {
  size_t count = 0;
  out[0] = 0;
  for (size_t i = 0; i + 4 <= len; i += 4) {
    const char* g = text + i;
    size_t bytes = g[2] == '=' ? 1 : (g[3] == '=' ? 2 : 3);
    if (count + bytes >= kBase64DecodeBuffer - 1) return -1;
    uint32_t v = (sextet(g[0]) << 18) | (sextet(g[1]) << 12) | (bytes > 1 ? sextet(g[2]) << 6 : 0) |
                 (bytes > 2 ? sextet(g[3]) : 0);
    out[count++] = static_cast<uint8_t>(v >> 16);
    if (bytes > 1) out[count++] = static_cast<uint8_t>(v >> 8);
    if (bytes > 2) out[count++] = static_cast<uint8_t>(v);
    out[count] = 0;
  }
  return static_cast<int>(count);
}

struct AesDecryptor::Context {
  mbedtls_aes_context aes;
  bool usable = false;
};

AesDecryptor::AesDecryptor(const char* pass_phrase) : context_(new Context) {
  if (pass_phrase == nullptr) pass_phrase = "";
  const size_t pass_len = std::strlen(pass_phrase);
  uint8_t key[32];
  uint8_t first[16];
  md5_raw(pass_phrase, pass_len, first);
  std::vector<uint8_t> second_input(first, first + 16);
  second_input.insert(second_input.end(), pass_phrase, pass_phrase + pass_len);
  uint8_t second[16];
  md5_raw(second_input.data(), second_input.size(), second);
  std::memcpy(key, first, 16);
  std::memcpy(key + 16, second, 16);
  mbedtls_aes_init(&context_->aes);
  context_->usable = mbedtls_aes_setkey_dec(&context_->aes, key, 256) == 0;
}

AesDecryptor::~AesDecryptor() {
  mbedtls_aes_free(&context_->aes);
  delete context_;
}

void AesDecryptor::decrypt(const char* cipher, char* out) const {
  if (cipher == nullptr || out == nullptr || !context_->usable) return;
  uint8_t decoded[kBase64DecodeBuffer] = {};
  int n = base64_decode(cipher, std::strlen(cipher), decoded);
  if (n < 16) return;
  for (int block = 0; block < n / 16; ++block) {
    mbedtls_aes_crypt_ecb(&context_->aes, MBEDTLS_AES_DECRYPT, decoded + 16 * block,
                          reinterpret_cast<unsigned char*>(out) + 16 * block);
  }
}

void aes_decrypt(const char* cipher, char* out, const char* pass_phrase) {
  if (cipher == nullptr || out == nullptr) return;
  AesDecryptor(pass_phrase).decrypt(cipher, out);
}

}  // namespace brixa::cloud
