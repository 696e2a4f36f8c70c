#include "common/payload_memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>

namespace talvex {
namespace {

constexpr size_t kHugePage = size_t{2} << 20;

size_t RoundToHugePages(size_t size) { return std::max<size_t>((size + kHugePage - 1) / kHugePage * kHugePage, kHugePage); }

}  // namespace

PayloadBuffer::PayloadBuffer(size_t size, bool huge) : size_(size) {
  if (size == 0) return;
  mapped_ = RoundToHugePages(size);
  void* m = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (m == MAP_FAILED) throw std::bad_alloc();
  // Only a hint: without huge pages the buffer works the same, with more page faults.
  if (huge) madvise(m, mapped_, MADV_HUGEPAGE);
  data_ = static_cast<uint8_t*>(m);
}

PayloadBuffer::PayloadBuffer(PayloadBuffer&& other) noexcept
    : data_(other.data_), size_(other.size_), mapped_(other.mapped_) {
  other.data_ = nullptr;
  other.size_ = other.mapped_ = 0;
}

PayloadBuffer& PayloadBuffer::operator=(PayloadBuffer&& other) noexcept {
  if (this != &other) {
    this->~PayloadBuffer();
    data_ = other.data_;
    size_ = other.size_;
    mapped_ = other.mapped_;
    other.data_ = nullptr;
    other.size_ = other.mapped_ = 0;
  }
  return *this;
}

PayloadBuffer::~PayloadBuffer() {
  if (data_ != nullptr) munmap(data_, mapped_);
  data_ = nullptr;
}

size_t MappedBuilderAllocator::Length(size_t size) const {
  return pages_ == Pages::kHuge ? RoundToHugePages(size) : size;
}

uint8_t* MappedBuilderAllocator::allocate(size_t size) {
  const size_t len = Length(size);
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
  if (pages_ == Pages::kHuge) flags |= MAP_NORESERVE;
  if (pages_ == Pages::kPopulated) flags |= MAP_POPULATE;
  void* p = mmap(nullptr, len, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  if (pages_ == Pages::kHuge) madvise(p, len, MADV_HUGEPAGE);
  return static_cast<uint8_t*>(p);
}

void MappedBuilderAllocator::deallocate(uint8_t* p, size_t size) { munmap(p, Length(size)); }

void DropPages(const uint8_t* data, size_t size) {
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + page - 1) / page * page;
  const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + size) / page * page;
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

}  // namespace talvex
