// The cloud account service's public RSA key, built into the library. The service (and its
// simulator in sim/cloud) holds the matching private key.
#pragma once

namespace brixa::cloud {

// 512-bit modulus as 128 lowercase hexadecimal digits, and the public exponent 65537.
inline constexpr char kServiceModulusHex[] =
    "c8ebd4b786d3d8b90efbebbf8429999261567dc79eb622be6113ee63e17666b5"
    "aae598afc7327cd0dc57a20745816020cd6b89892c536947c508ecaffb4b180b";
inline constexpr char kServiceExponentHex[] = "10001";

}  // namespace brixa::cloud
