#include "data/image_digest.hpp"

#include <openssl/evp.h>
#include <zlib.h>

#include <stdexcept>

#include "data/text_format.hpp"
#include "text/text_table.hpp"

namespace velkor {

ImageDigest DigestOf(const uint8_t* data, std::size_t size) { return {Sha256HexOf(data, size), Crc32Of(data, size)}; }

uint32_t Crc32Of(const uint8_t* data, std::size_t size) {
  return static_cast<uint32_t>(crc32_z(crc32_z(0, nullptr, 0), data, size));
}

std::string Sha256HexOf(const uint8_t* data, std::size_t size) {
  std::string hex;
  unsigned char sha[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data, size, sha, &length, EVP_sha256(), nullptr) != 1)
    throw std::runtime_error("SHA-256 could not be computed");
  static constexpr char kHex[] = "0123456789abcdef";
  hex.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    hex += kHex[sha[i] >> 4];
    hex += kHex[sha[i] & 0x0F];
  }
  return hex;
}

std::string DigestText(const ImageDigest& digest) {
  return FormatText(Tx("SHA-256 %s, CRC-32 0x%08X"), digest.sha256.c_str(), digest.crc32);
}

}  // namespace velkor
