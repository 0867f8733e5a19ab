// The LAN search datagrams of the device wire protocol (README.md beside this file, "LAN
// search"): a client sends a request to the loopback broadcast address on the discovery port;
// every device listening there answers the sender with one datagram describing itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace proto {

inline constexpr uint32_t kSearchMagic = 0x5344564Bu;  // the bytes "KVDS"
inline constexpr uint8_t kSearchRequest = 1;
inline constexpr uint8_t kSearchAnswer = 2;
inline constexpr size_t kMaxSearchDatagram = 2048;
// The discovery port when nothing else is configured.
inline constexpr uint16_t kDefaultDiscoveryPort = 37810;
// The loopback broadcast address the requests go to.
inline constexpr const char* kSearchBroadcastAddress = "127.255.255.255";

struct SearchRequest {
  uint32_t nonce = 0;  // echoed by the answers
};

struct SearchAnswer {
  uint32_t nonce = 0;
  std::string serial;    // at most 47 bytes
  std::string ip;        // the device's service address, at most 63 bytes
  uint16_t port = 0;     // its TCP service port
  uint16_t http_port = 0;
  std::string model;     // at most 63 bytes
  std::string name;      // at most 63 bytes
  std::string mac;       // at most 39 bytes
};
inline constexpr size_t kMaxSearchSerialBytes = 47;
inline constexpr size_t kMaxSearchTextBytes = 63;
inline constexpr size_t kMaxSearchMacBytes = 39;

std::vector<uint8_t> encode(const SearchRequest& m);
std::vector<uint8_t> encode(const SearchAnswer& m);
// False for a datagram that is not a whole request (or answer) of this version.
bool decode_search(const uint8_t* data, size_t length, SearchRequest& m);
bool decode_search(const uint8_t* data, size_t length, SearchAnswer& m);

}  // namespace proto
