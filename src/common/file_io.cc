#include "common/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/logger.h"
#include "common/strings.h"

namespace talvex {

const char* ReadStatusText(ReadStatus status) {
  switch (status) {
    case ReadStatus::kOk: return "ok";
    case ReadStatus::kMissing: return "file does not exist";
    case ReadStatus::kEmpty: return "file is empty";
    case ReadStatus::kTooLarge: return "file is 2 GiB or larger";
    case ReadStatus::kUnreadable: return "file cannot be read";
  }
  return "file cannot be read";
}

int UniqueFd::reset(int fd) {
  int rc = 0;
  if (fd_ >= 0) rc = close(fd_);
  fd_ = fd;
  return rc;
}

FileBuffer::FileBuffer(FileBuffer&& other) noexcept { *this = std::move(other); }

FileBuffer& FileBuffer::operator=(FileBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    status_ = other.status_;
    data_ = other.data_;
    size_ = other.size_;
    map_ = other.map_;
    heap_ = std::move(other.heap_);
    fd_ = std::move(other.fd_);
    other.status_ = ReadStatus::kMissing;
    other.data_ = nullptr;
    other.size_ = 0;
    other.map_ = nullptr;
  }
  return *this;
}

FileBuffer::~FileBuffer() { Release(); }

void FileBuffer::Release() {
  if (map_ != nullptr) munmap(map_, size_);
  map_ = nullptr;
  heap_.reset();
  fd_.reset();
  data_ = nullptr;
  size_ = 0;
}

FileBuffer FileBuffer::Load(const std::string& path, uint64_t max_size) {
  FileBuffer fb;
  // Non-blocking open: a named pipe without a writer must not hang the program.
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!fd.valid()) {
    fb.status_ = errno == ENOENT || errno == ENOTDIR ? ReadStatus::kMissing : ReadStatus::kUnreadable;
    return fb;
  }
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || S_ISDIR(st.st_mode)) {
    fb.status_ = ReadStatus::kUnreadable;
    return fb;
  }
  if (st.st_size <= 0) {
    fb.status_ = ReadStatus::kEmpty;
    return fb;
  }
  if (static_cast<uint64_t>(st.st_size) > max_size) {
    fb.status_ = ReadStatus::kTooLarge;
    return fb;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  if (S_ISREG(st.st_mode)) {
    void* m = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (m != MAP_FAILED) {
      fb.map_ = m;
      fb.data_ = static_cast<const uint8_t*>(m);
      fb.size_ = size;
      fb.status_ = ReadStatus::kOk;
      fb.fd_ = std::move(fd);
      return fb;
    }
  }
  // Not mappable: read it into the heap instead.
  std::unique_ptr<uint8_t[]> heap(new (std::nothrow) uint8_t[size]);
  if (!heap) {
    fb.status_ = ReadStatus::kUnreadable;
    return fb;
  }
  size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd.get(), heap.get() + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (done != size) {
    fb.status_ = ReadStatus::kUnreadable;
    return fb;
  }
  fb.heap_ = std::move(heap);
  fb.data_ = fb.heap_.get();
  fb.size_ = size;
  fb.status_ = ReadStatus::kOk;
  return fb;
}

void FileBuffer::ReleasePages(size_t offset, size_t len) const {
  if (map_ == nullptr || offset >= size_) return;
  len = std::min(len, size_ - offset);
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t from = offset / page * page;
  // Read-only private mapping never written: dropping it loses nothing.
  madvise(static_cast<uint8_t*>(map_) + from, offset + len - from, MADV_DONTNEED);
}

namespace {
struct FileId {
  dev_t dev;
  ino_t ino;
};
std::vector<FileId>& ProtectedInputs() {
  static std::vector<FileId> ids;
  return ids;
}
}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

void ProtectInputs(const std::vector<std::string>& paths) {
  ProtectedInputs().clear();
  for (const std::string& p : paths) {
    struct stat st {};
    // Compared by identity, so "out/a.bnx", "./out/a.bnx" and links to it are one file.
    if (!p.empty() && stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      ProtectedInputs().push_back({st.st_dev, st.st_ino});
    }
  }
}

std::string InputClash(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::string();
  for (const FileId& id : ProtectedInputs()) {
    if (id.dev == st.st_dev && id.ino == st.st_ino) return "it is an input of this command";
  }
  return std::string();
}

Status CheckNotInput(const std::string& path) {
  if (InputClash(path).empty()) return Status();
  return Status::Error("Refusing to replace the input file " + path + " (use --replace_original to replace it)");
}

AtomicFileWriter::AtomicFileWriter(const std::string& path) : path_(path) {
  const std::string clash = InputClash(path);
  if (!clash.empty()) {
    // Refused before the temporary file exists: nothing at all is written.
    error_ = clash + "; use --replace_original to replace it";
    return;
  }
  std::string dir = Dirname(path);
  // Dirname drops a leading "/" for a file in the root folder.
  if (dir.empty() && !path.empty() && path[0] == '/') dir = "/";
  std::string tmpl = (dir.empty() ? std::string() : (dir == "/" ? dir : dir + "/")) + "." +
                     Basename(path) + ".tmpXXXXXX";
  std::string buf = tmpl;
  fd_.reset(mkstemp(&buf[0]));
  if (!fd_.valid()) {
    Fail("create");
    return;
  }
  tmp_path_ = buf;
  // mkstemp creates 0600; give the file the permissions a plain create would.
  mode_t mask = umask(0);
  umask(mask);
  fchmod(fd_.get(), 0666 & ~mask);
}

AtomicFileWriter::~AtomicFileWriter() {
  fd_.reset();
  if (!committed_ && !tmp_path_.empty()) unlink(tmp_path_.c_str());
}

void AtomicFileWriter::Fail(const char* what) {
  if (error_.empty()) error_ = std::string(what) + ": " + std::strerror(errno);
}

bool AtomicFileWriter::Write(const void* data, size_t len) {
  if (!ok()) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  while (len > 0) {
    ssize_t n = write(fd_.get(), p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      Fail("write");
      return false;
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

namespace {
bool g_kernel_copy = true;

// Refusals after which the same bytes can still be copied by reading and writing them.
bool KernelCopyRefused(int err) {
  return err == EXDEV || err == EINVAL || err == ENOSYS || err == EOPNOTSUPP || err == EPERM || err == EBADF;
}
}  // namespace

void SetKernelCopyAllowed(bool allowed) { g_kernel_copy = allowed; }

bool AtomicFileWriter::CopyFrom(int src_fd, uint64_t offset, uint64_t len) {
  if (!ok()) return false;
  loff_t at = static_cast<loff_t>(offset);
  // Bounded steps: the call takes at most about 2 GiB at once.
  constexpr uint64_t kStep = uint64_t{1} << 30;
  bool kernel = g_kernel_copy;
  while (len > 0 && kernel) {
    const ssize_t n = copy_file_range(src_fd, &at, fd_.get(), nullptr, static_cast<size_t>(std::min(len, kStep)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && KernelCopyRefused(errno)) {
      kernel = false;  // what was copied stays; the rest goes the plain way
      break;
    }
    if (n < 0) {
      Fail("copy");
      return false;
    }
    if (n == 0) {
      if (error_.empty()) error_ = "copy: the source file is shorter than expected";
      return false;
    }
    len -= static_cast<uint64_t>(n);
  }
  if (len == 0) return true;
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(len, 1u << 20)));
  while (len > 0) {
    const ssize_t n = pread(src_fd, chunk.data(), static_cast<size_t>(std::min<uint64_t>(len, chunk.size())), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Fail("read");
      return false;
    }
    if (n == 0) {
      if (error_.empty()) error_ = "read: the source file is shorter than expected";
      return false;
    }
    if (!Write(chunk.data(), static_cast<size_t>(n))) return false;
    at += n;
    len -= static_cast<uint64_t>(n);
  }
  return true;
}

namespace {
// Reads [offset, offset + len) of fd in pieces and hands each to observe, in order, until done,
// a read fails (error says why) or stop is set.
bool ObserveRange(int fd, uint64_t offset, uint64_t len, const std::function<void(const uint8_t*, size_t)>& observe,
                  const std::atomic<bool>& stop, std::string& error) {
  constexpr size_t kPiece = size_t{1} << 20;
  const std::unique_ptr<uint8_t[]> buf(new uint8_t[kPiece]);
  while (len > 0 && !stop.load(std::memory_order_relaxed)) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(len, kPiece));
    const ssize_t n = pread(fd, buf.get(), want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? std::string("read: ") + std::strerror(errno) : "read: the source file is shorter than expected";
      return false;
    }
    observe(buf.get(), static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
    len -= static_cast<uint64_t>(n);
  }
  return len == 0;
}
}  // namespace

bool AtomicFileWriter::CopyFrom(int src_fd, uint64_t offset, uint64_t len,
                                const std::function<void(const uint8_t*, size_t)>& observe) {
  if (!ok()) return false;
  // A large range is copied in the kernel while a second thread reads the same bytes for
  // observe: with two cores the observer's pass costs next to no time of its own.
  constexpr uint64_t kOverlapFrom = uint64_t{8} << 20;
  if (g_kernel_copy && len >= kOverlapFrom) {
    std::atomic<bool> stop{false};
    std::string read_error;
    bool observed = false;
    std::thread reader([&] { observed = ObserveRange(src_fd, offset, len, observe, stop, read_error); });
    const bool copied = CopyFrom(src_fd, offset, len);
    if (!copied) stop = true;
    reader.join();
    if (!copied) return false;
    if (!observed) {
      error_ = read_error;
      return false;
    }
    return true;
  }
  // Below that, each piece is read once, shown to observe and written from the same buffer.
  std::atomic<bool> stop{false};
  std::string read_error;
  const bool observed = ObserveRange(
      src_fd, offset, len,
      [&](const uint8_t* p, size_t n) {
        observe(p, n);
        if (!Write(p, n)) stop = true;
      },
      stop, read_error);
  if (!ok()) return false;
  if (!observed) {
    error_ = read_error;
    return false;
  }
  return true;
}

bool AtomicFileWriter::Commit() {
  if (!ok()) return false;
  if (fd_.reset() != 0) {
    Fail("close");
    return false;
  }
  if (rename(tmp_path_.c_str(), path_.c_str()) != 0) {
    Fail("rename");
    return false;
  }
  committed_ = true;
  return true;
}

bool WriteFileAtomic(const std::string& path, const void* data, size_t len, std::string* error) {
  AtomicFileWriter w(path);
  bool ok = w.Write(data, len) && w.Commit();
  if (!ok && error != nullptr) *error = w.error();
  return ok;
}

Status WriteNewFile(const std::string& path, const void* data, size_t len, LogCateg categ) {
  std::string error;
  if (WriteFileAtomic(path, data, len, &error)) return Status();
  return TALVEX_STATUS_ERROR(categ, "Failed to write the file: {} ({})", path, error);
}

}  // namespace talvex
