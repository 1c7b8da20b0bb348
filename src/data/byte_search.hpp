// Bytes typed as text (for find, fill and paste in the hex views) and the
// search for them in the image.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "data/hex_edit.hpp"

namespace velkor {

// Hex bytes as people write them: "DE AD BE EF", "deadbeef", "0xDE, 0xAD",
// "DE:AD-BE". A lone digit is one byte ("F" is 0x0F); a longer group must
// have an even number of digits. Nothing when the text holds no byte or
// anything else; error then says what was wrong.
std::optional<std::vector<uint8_t>> ParseHexBytes(std::string_view text, std::string& error);

// "DE AD BE EF": the form ParseHexBytes reads back.
std::string HexBytesText(std::span<const uint8_t> bytes);

enum class SearchDirection { Forward, Backward };

// The address of the next occurrence of pattern that lies wholly in range:
// forward, the lowest at or after from; backward, the highest at or before
// from. With wrap, the search goes on from the other end of the range up to
// from. Nothing when there is none.
std::optional<uint32_t> FindBytes(const uint8_t* image, ByteRange range, std::span<const uint8_t> pattern, uint32_t from,
                                  SearchDirection direction, bool wrap);

}  // namespace velkor
