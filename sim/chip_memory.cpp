#include "sim/chip_memory.hpp"

#include <algorithm>
#include <cstring>

namespace velkor::sim {

namespace {

bool AllErased(std::span<const uint8_t> bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == kErasedValue; });
}

}  // namespace

bool ChipMemory::IsErased() const {
  return std::all_of(pages_.begin(), pages_.end(), [](const auto& entry) { return AllErased(*entry.second); });
}

void ChipMemory::Read(uint64_t offset, std::span<uint8_t> out) const {
  std::fill(out.begin(), out.end(), kErasedValue);
  if (offset >= size_) return;
  const std::size_t inside = static_cast<std::size_t>(std::min<uint64_t>(out.size(), size_ - offset));
  for (std::size_t done = 0; done < inside;) {
    const uint64_t at = offset + done;
    const std::size_t within = static_cast<std::size_t>(at % kPageBytes);
    const std::size_t count = std::min(kPageBytes - within, inside - done);
    if (const auto page = pages_.find(at / kPageBytes); page != pages_.end())
      std::memcpy(out.data() + done, page->second->data() + within, count);
    done += count;
  }
}

void ChipMemory::Write(uint64_t offset, std::span<const uint8_t> data, WriteMode mode) {
  if (offset >= size_) return;
  const std::size_t inside = static_cast<std::size_t>(std::min<uint64_t>(data.size(), size_ - offset));
  for (std::size_t done = 0; done < inside;) {
    const uint64_t at = offset + done;
    const std::size_t within = static_cast<std::size_t>(at % kPageBytes);
    const std::size_t count = std::min(kPageBytes - within, inside - done);
    const std::span<const uint8_t> piece = data.subspan(done, count);
    done += count;

    auto page = pages_.find(at / kPageBytes);
    if (page == pages_.end()) {
      // Erased bytes written over erased bytes change nothing.
      if (AllErased(piece)) continue;
      auto fresh = std::make_unique<Page>();
      fresh->fill(kErasedValue);
      page = pages_.emplace(at / kPageBytes, std::move(fresh)).first;
    }
    uint8_t* to = page->second->data() + within;
    if (mode == WriteMode::Overwrite) {
      std::memcpy(to, piece.data(), count);
    } else {
      for (std::size_t i = 0; i < count; ++i) to[i] &= piece[i];
    }
  }
}

}  // namespace velkor::sim
