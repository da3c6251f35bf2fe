#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace vxa::sim {

// Every command packet the instrument has taken, kept back to back for the tests to look at.
class CommandLog {
 public:
  CommandLog() {
    bytes_.reserve(size_t{1} << 20);
    spans_.reserve(1024);
  }

  void Add(std::span<const uint8_t> packet) {
    spans_.emplace_back(bytes_.size(), packet.size());
    bytes_.insert(bytes_.end(), packet.begin(), packet.end());
  }

  std::vector<uint8_t> Last() const {
    if (spans_.empty()) return {};
    return Packet(spans_.back());
  }

  std::vector<std::vector<uint8_t>> All() const {
    std::vector<std::vector<uint8_t>> all;
    all.reserve(spans_.size());
    for (const auto& span : spans_) all.push_back(Packet(span));
    return all;
  }

  void Clear() {
    bytes_.clear();
    spans_.clear();
  }

 private:
  std::vector<uint8_t> Packet(std::pair<size_t, size_t> span) const {
    const auto [offset, size] = span;
    return std::vector<uint8_t>(bytes_.begin() + static_cast<ptrdiff_t>(offset),
                                bytes_.begin() + static_cast<ptrdiff_t>(offset + size));
  }

  std::vector<uint8_t> bytes_;
  std::vector<std::pair<size_t, size_t>> spans_;  // offset and size of each packet
};

}  // namespace vxa::sim
