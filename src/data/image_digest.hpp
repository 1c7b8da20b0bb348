// Digests of image data, as proof of what a chip was given or holds:
// SHA-256 (OpenSSL) and the CRC-32 of zip and PNG (zlib), the two that
// other tools and scripts compute too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velkor {

struct ImageDigest {
  std::string sha256;  // 64 lower-case hex digits
  uint32_t crc32 = 0;
};

ImageDigest DigestOf(const uint8_t* data, std::size_t size);
// Its two parts, for callers that compute them apart.
std::string Sha256HexOf(const uint8_t* data, std::size_t size);
uint32_t Crc32Of(const uint8_t* data, std::size_t size);

// "SHA-256 <hex>, CRC-32 0x<hex>", for the log.
std::string DigestText(const ImageDigest& digest);

}  // namespace velkor
