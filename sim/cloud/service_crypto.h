// The cloud service's side of the account protocol's cryptography: its RSA private key, the
// digests that check a request's signature, and the AES encryption of secrets in replies.
// Written against mbed TLS directly, independently of the client library.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace sim::cloud {

std::string md5_hex(std::string_view text);

std::string base64_encode(std::string_view bytes);
std::optional<std::string> base64_decode(std::string_view text);

// The texts a reply carries encrypted: AES-256-ECB under the key MD5(phrase) followed by
// MD5(MD5(phrase) followed by phrase), the plaintext zero-padded to whole 16-byte blocks,
// then base64. An empty text gives an empty cipher text.
std::string aes_encrypt_base64(std::string_view plain, std::string_view pass_phrase);

// The service's RSA key pair (service_key.pem). Safe to use from several threads.
class ServiceKey {
 public:
  ServiceKey();
  ~ServiceKey();
  ServiceKey(const ServiceKey&) = delete;
  ServiceKey& operator=(const ServiceKey&) = delete;

  // The modulus as lowercase hexadecimal digits: what the client library has built in.
  std::string modulus_hex() const;
  // Decrypts the base64 form of a PKCS#1 v1.5 block; nothing when it is not one.
  std::optional<std::string> decrypt_base64(std::string_view text) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
  mutable std::mutex lock_;  // guards the key and its random generator
};

// The one key of the process.
const ServiceKey& service_key();

}  // namespace sim::cloud
