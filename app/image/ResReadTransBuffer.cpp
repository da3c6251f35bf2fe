#include "app/image/ResReadTransBuffer.h"

#include <algorithm>
#include <cstring>

#include "text/Messages.h"
#include "link/Errors.h"

namespace vxa {

TResReadTransBuffer::TResReadTransBuffer(const char* name, const char* type,
                                         std::span<const EmbeddedResource> table) {
  found_ = FindEmbeddedResource(table, name, type);
  if (found_ == nullptr) throw TBufferError(VXA_MSG(msg::kImageNotFound));
  loaded_ = found_;  // linked data needs no loading; the step stays for the order of checks
  if (loaded_ == nullptr) throw TBufferError(VXA_MSG(msg::kImageLoadFailed));
  data_ = loaded_->data;
  if (data_ == nullptr) throw TBufferError(VXA_MSG(msg::kImagePointerFailed));
  if (found_->size == 0 || found_->size > INT32_MAX) {
    throw TBufferError(VXA_MSG(msg::kImageSizeUnknown));
  }
  size_ = static_cast<uint32_t>(found_->size);
}

TResReadTransBuffer::TResReadTransBuffer(std::span<const uint8_t> bytes)
    : data_(bytes.data()), size_(static_cast<uint32_t>(bytes.size())) {}

uint32_t TResReadTransBuffer::Available(int length) const {
  return std::min(static_cast<uint32_t>(length), size_ - position_.load());
}

int TResReadTransBuffer::Read(void* destination, int length) {
  if (length <= 0) return 0;
  const uint32_t count = Available(length);
  std::memcpy(destination, data_ + position_.load(), count);
  position_.fetch_add(count);
  return static_cast<int>(count);
}

int TResReadTransBuffer::Peek(void* destination, int length) {
  if (length <= 0) return 0;
  const uint32_t count = Available(length);
  std::memcpy(destination, data_ + position_.load(), count);
  return static_cast<int>(count);
}

int TResReadTransBuffer::Write(const void* source, int length) {
  if (length <= 0) return 0;
  const uint32_t count = Available(length);
  const uint32_t position = position_.load();
  if (std::memcmp(source, data_ + position, count) != 0) {
    const auto* got = static_cast<const uint8_t*>(source);
    uint32_t same = 0;
    while (got[same] == data_[position + same]) ++same;
    difference_ = Difference{position + same, position + count};
    throw TBufferError(VXA_MSG(msg::kVerifiedDataMismatch));
  }
  // More than the image holds: the instrument's file is not the image, however its start agrees.
  if (count < static_cast<uint32_t>(length)) overran_ = true;
  position_.fetch_add(count);
  return static_cast<int>(count);
}

int TResReadTransBuffer::SetPosition(int position) {
  if (position < 0) return position;
  if (position == 0) {  // a new transfer
    difference_.reset();
    overran_ = false;
  }
  const uint32_t clamped = std::min(static_cast<uint32_t>(position), size_);
  position_.store(clamped);
  return static_cast<int>(clamped);
}

}  // namespace vxa
