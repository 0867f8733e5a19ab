#include "sim/cloud/service_crypto.h"

#include <mbedtls/aes.h>
#include <mbedtls/base64.h>
#include <mbedtls/ctr_drbg.h>
#include <mbedtls/entropy.h>
#include <mbedtls/md5.h>
#include <mbedtls/pk.h>
#include <mbedtls/rsa.h>
#include <mbedtls/version.h>

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace sim::cloud {

extern const char kServicePrivateKeyPem[];

namespace {

void md5_raw(const void* data, size_t len, unsigned char (&digest)[16]) {
#if MBEDTLS_VERSION_MAJOR >= 3
  mbedtls_md5(static_cast<const unsigned char*>(data), len, digest);
#else
  mbedtls_md5_ret(static_cast<const unsigned char*>(data), len, digest);
#endif
}

}  // namespace

std::string md5_hex(std::string_view text) {
  unsigned char digest[16];
  md5_raw(text.data(), text.size(), digest);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : digest) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

std::string base64_encode(std::string_view bytes) {
  size_t needed = 0;
  mbedtls_base64_encode(nullptr, 0, &needed, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  std::vector<unsigned char> out(needed + 1);
  size_t written = 0;
  if (mbedtls_base64_encode(out.data(), out.size(), &written, reinterpret_cast<const unsigned char*>(bytes.data()),
                            bytes.size()) != 0)
    return {};
  return std::string(reinterpret_cast<char*>(out.data()), written);
}

std::optional<std::string> base64_decode(std::string_view text) {
  std::vector<unsigned char> out(text.size() / 4 * 3 + 3);
  size_t written = 0;
  if (mbedtls_base64_decode(out.data(), out.size(), &written, reinterpret_cast<const unsigned char*>(text.data()),
                            text.size()) != 0)
    return std::nullopt;
  return std::string(reinterpret_cast<char*>(out.data()), written);
}

std::string aes_encrypt_base64(std::string_view plain, std::string_view pass_phrase) {
  unsigned char key[32];
  unsigned char first[16];
  md5_raw(pass_phrase.data(), pass_phrase.size(), first);
  std::string second_input(reinterpret_cast<char*>(first), 16);
  second_input.append(pass_phrase);
  unsigned char second[16];
  md5_raw(second_input.data(), second_input.size(), second);
  std::memcpy(key, first, 16);
  std::memcpy(key + 16, second, 16);

  std::string padded(plain);
  padded.resize((padded.size() + 15) / 16 * 16, '\0');
  std::string cipher(padded.size(), '\0');
  mbedtls_aes_context aes;
  mbedtls_aes_init(&aes);
  mbedtls_aes_setkey_enc(&aes, key, 256);
  for (size_t i = 0; i < padded.size(); i += 16)
    mbedtls_aes_crypt_ecb(&aes, MBEDTLS_AES_ENCRYPT, reinterpret_cast<const unsigned char*>(padded.data()) + i,
                          reinterpret_cast<unsigned char*>(cipher.data()) + i);
  mbedtls_aes_free(&aes);
  return base64_encode(cipher);
}

struct ServiceKey::State {
  mbedtls_pk_context pk;
  mbedtls_entropy_context entropy;
  mbedtls_ctr_drbg_context drbg;
};

ServiceKey::ServiceKey() : state_(new State) {
  mbedtls_pk_init(&state_->pk);
  mbedtls_entropy_init(&state_->entropy);
  mbedtls_ctr_drbg_init(&state_->drbg);
  static const char kPersonal[] = "kavrel cloud simulator";
  if (mbedtls_ctr_drbg_seed(&state_->drbg, mbedtls_entropy_func, &state_->entropy,
                            reinterpret_cast<const unsigned char*>(kPersonal), sizeof kPersonal - 1) != 0)
    throw std::runtime_error("cannot seed the random generator");
  const auto* pem = reinterpret_cast<const unsigned char*>(kServicePrivateKeyPem);
  size_t pem_len = std::strlen(kServicePrivateKeyPem) + 1;  // PEM input counts its NUL
#if MBEDTLS_VERSION_MAJOR >= 3
  int rc = mbedtls_pk_parse_key(&state_->pk, pem, pem_len, nullptr, 0, mbedtls_ctr_drbg_random, &state_->drbg);
#else
  int rc = mbedtls_pk_parse_key(&state_->pk, pem, pem_len, nullptr, 0);
#endif
  if (rc != 0 || mbedtls_pk_get_type(&state_->pk) != MBEDTLS_PK_RSA)
    throw std::runtime_error("cannot read the service's private key");
}

ServiceKey::~ServiceKey() {
  mbedtls_pk_free(&state_->pk);
  mbedtls_ctr_drbg_free(&state_->drbg);
  mbedtls_entropy_free(&state_->entropy);
}

std::string ServiceKey::modulus_hex() const {
  std::lock_guard<std::mutex> hold(lock_);
  mbedtls_rsa_context* rsa = mbedtls_pk_rsa(state_->pk);
  mbedtls_mpi n;
  mbedtls_mpi_init(&n);
  mbedtls_rsa_export(rsa, &n, nullptr, nullptr, nullptr, nullptr);
  char text[1100];
  size_t len = 0;
  std::string out;
  if (mbedtls_mpi_write_string(&n, 16, text, sizeof text, &len) == 0) out = text;
  mbedtls_mpi_free(&n);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<std::string> ServiceKey::decrypt_base64(std::string_view text) const {
  std::optional<std::string> block = base64_decode(text);
  if (!block) return std::nullopt;
  std::lock_guard<std::mutex> hold(lock_);
  unsigned char out[512];
  size_t len = 0;
  if (mbedtls_pk_decrypt(&state_->pk, reinterpret_cast<const unsigned char*>(block->data()), block->size(), out, &len,
                         sizeof out, mbedtls_ctr_drbg_random, &state_->drbg) != 0)
    return std::nullopt;
  return std::string(reinterpret_cast<char*>(out), len);
}

const ServiceKey& service_key() {
  static const ServiceKey key;
  return key;
}

}  // namespace sim::cloud
