#pragma once
// Memory for whole payloads, kept below the modes so that they read as their steps: owned
// anonymous mappings (huge pages where a gigabyte would otherwise cost a quarter million page
// faults), builder memory of the same kind, and giving back the pages of input ranges read for
// the last time. Nothing here changes process-wide allocator settings.
#include <cstddef>
#include <cstdint>

#include "flatbuffers/allocator.h"

namespace talvex {

// Owned scratch memory for a whole payload. Contents start zeroed.
class PayloadBuffer {
 public:
  PayloadBuffer() = default;
  // Throws std::bad_alloc when the memory is not there. Without huge, plain pages: for buffers
  // of which only scattered parts are touched.
  explicit PayloadBuffer(size_t size, bool huge = true);
  PayloadBuffer(PayloadBuffer&& other) noexcept;
  PayloadBuffer& operator=(PayloadBuffer&& other) noexcept;
  PayloadBuffer(const PayloadBuffer&) = delete;
  PayloadBuffer& operator=(const PayloadBuffer&) = delete;
  ~PayloadBuffer();
  uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t mapped_ = 0;
};

// FlatBufferBuilder memory mapped on its own, so that its pages can be given back: on huge
// pages (for a buffer written whole), populated up front (touching a large fresh buffer page by
// page costs more than copying into it), or lazy (when payload pages are given back as they go).
class MappedBuilderAllocator : public flatbuffers::Allocator {
 public:
  enum class Pages { kHuge, kPopulated, kLazy };
  explicit MappedBuilderAllocator(Pages pages) : pages_(pages) {}
  uint8_t* allocate(size_t size) override;
  void deallocate(uint8_t* p, size_t size) override;

 private:
  size_t Length(size_t size) const;
  Pages pages_;
};

// Gives back the resident pages wholly inside [data, data + size) of a mapping that will not be
// read again soon; the mapping stays valid (a later read fetches the bytes again).
void DropPages(const uint8_t* data, size_t size);

}  // namespace talvex
