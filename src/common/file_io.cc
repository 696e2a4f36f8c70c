#include "common/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
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
std::vector<FileId>& ReplaceableOriginals() {
  static std::vector<FileId> ids;
  return ids;
}
void Remember(const std::vector<std::string>& paths, std::vector<FileId>& ids) {
  ids.clear();
  for (const std::string& p : paths) {
    struct stat st {};
    // Compared by identity, so "out/a.bnx", "./out/a.bnx" and links to it are one file.
    if (!p.empty() && stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ids.push_back({st.st_dev, st.st_ino});
  }
}
bool Listed(const std::vector<FileId>& ids, const struct stat& st) {
  for (const FileId& id : ids) {
    if (id.dev == st.st_dev && id.ino == st.st_ino) return true;
  }
  return false;
}
}  // namespace

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && stat(path.c_str(), &st) == 0;
}

void ProtectInputs(const std::vector<std::string>& paths) { Remember(paths, ProtectedInputs()); }

void AllowReplacing(const std::vector<std::string>& paths) { Remember(paths, ReplaceableOriginals()); }

std::string InputClash(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return std::string();
  return Listed(ProtectedInputs(), st) ? "it is an input of this command" : std::string();
}

Status CheckNotInput(const std::string& path) {
  if (InputClash(path).empty()) return Status();
  return Status::Error("Refusing to replace the input file " + path + " (use --replace_original to replace it)");
}

AtomicFileWriter::AtomicFileWriter(const std::string& path_in) : path_(path_in) {
  const std::string clash = InputClash(path_);
  if (!clash.empty()) {
    // Refused before the temporary file exists: nothing at all is written.
    error_ = clash + "; use --replace_original to replace it";
    return;
  }
  // An original replaced in place stays what it was: a link keeps pointing at the file, which
  // gets the new bytes, with its permissions and (where the process may set them) its owner.
  struct stat original {};
  const bool in_place = stat(path_.c_str(), &original) == 0 && Listed(ReplaceableOriginals(), original);
  if (in_place) {
    char real[PATH_MAX + 1] = {};
    if (realpath(path_.c_str(), real) != nullptr) path_ = real;
  }
  const std::string& path = path_;
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
  if (in_place) {
    fchmod(fd_.get(), original.st_mode & 07777);
    // Only a privileged process may give a file away; otherwise the file becomes the caller's.
    if (fchown(fd_.get(), original.st_uid, original.st_gid) != 0) (void)fchown(fd_.get(), static_cast<uid_t>(-1), original.st_gid);
    return;
  }
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
    written_ += static_cast<uint64_t>(n);
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

namespace {
// Pieces of the read/write copies. Each write ends on a multiple of this in the output file
// (the first one may be shorter), so the page cache fills whole aligned blocks: writes that
// straddle them, like a kernel copy to an offset the source does not share, cost a third more.
// Larger pieces fall out of the core's cache between the read and the write.
constexpr size_t kPiece = size_t{256} << 10;
// From this length on, a second thread reading beside the writing one pays for itself.
constexpr uint64_t kRingFrom = uint64_t{4} << 20;

size_t NextPiece(uint64_t out_pos, uint64_t left) {
  return static_cast<size_t>(std::min<uint64_t>(left, kPiece - out_pos % kPiece));
}

// Reads exactly want bytes at offset, or says why not in error.
bool ReadFull(int fd, uint8_t* buf, size_t want, uint64_t offset, std::string& error) {
  while (want > 0) {
    const ssize_t n = pread(fd, buf, want, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = n < 0 ? std::string("read: ") + std::strerror(errno) : "read: the source file is shorter than expected";
      return false;
    }
    buf += n;
    want -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}
}  // namespace

bool AtomicFileWriter::CopyFrom(int src_fd, uint64_t offset, uint64_t len) {
  if (!ok()) return false;
  // The kernel copies as fast as cp only when source and output offsets agree within the page
  // cache's large blocks; otherwise the read/write ring is faster. Short ranges cost the same.
  constexpr uint64_t kLargeBlock = uint64_t{2} << 20;
  if (len >= kRingFrom && (offset - written_) % kLargeBlock != 0) return CopyFrom(src_fd, offset, len, nullptr);
  loff_t at = static_cast<loff_t>(offset);
  // Bounded steps: the call takes at most about 2 GiB at once.
  constexpr uint64_t kStep = uint64_t{1} << 30;
  while (len > 0 && g_kernel_copy) {
    const ssize_t n = copy_file_range(src_fd, &at, fd_.get(), nullptr, static_cast<size_t>(std::min(len, kStep)), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && KernelCopyRefused(errno)) break;  // what was copied stays; the rest goes the plain way
    if (n < 0) {
      Fail("copy");
      return false;
    }
    if (n == 0) {
      if (error_.empty()) error_ = "copy: the source file is shorter than expected";
      return false;
    }
    written_ += static_cast<uint64_t>(n);
    len -= static_cast<uint64_t>(n);
  }
  if (len == 0) return true;
  return CopyFrom(src_fd, static_cast<uint64_t>(at), len, nullptr);
}

bool AtomicFileWriter::CopyFrom(int src_fd, uint64_t offset, uint64_t len, const Observer& observe) {
  if (!ok()) return false;
  std::string read_error;
  if (len < kRingFrom) {  // one thread reads, shows and writes each piece in turn
    const std::unique_ptr<uint8_t[]> buf(new uint8_t[static_cast<size_t>(std::min<uint64_t>(len, kPiece))]);
    while (len > 0) {
      const size_t want = NextPiece(written_, len);
      if (!ReadFull(src_fd, buf.get(), want, offset, read_error)) {
        error_ = read_error;
        return false;
      }
      if (observe) observe(buf.get(), want);
      if (!Write(buf.get(), want)) return false;
      offset += want;
      len -= want;
    }
    return true;
  }

  // A second thread reads pieces into a small ring and shows them to observe while they are
  // still in its cache; this thread writes them. Both passes over the bytes run side by side,
  // and the bytes cross memory once each way, as in a kernel copy.
  constexpr int kSlots = 4;
  const std::unique_ptr<uint8_t[]> ring(new uint8_t[kSlots * kPiece]);
  size_t piece_len[kSlots] = {};
  int filled = 0;  // pieces read and not yet written
  bool reading_done = false, read_failed = false, stop = false;
  std::mutex mu;
  std::condition_variable changed;
  const uint64_t start_pos = written_;
  std::thread reader([&] {
    uint64_t out_pos = start_pos, at = offset, left = len;
    for (int slot = 0; left > 0; slot = (slot + 1) % kSlots) {
      {
        std::unique_lock<std::mutex> lock(mu);
        changed.wait(lock, [&] { return filled < kSlots || stop; });
        if (stop) break;
      }
      uint8_t* buf = ring.get() + slot * kPiece;
      const size_t want = NextPiece(out_pos, left);
      const bool read = ReadFull(src_fd, buf, want, at, read_error);
      if (read && observe) observe(buf, want);
      std::lock_guard<std::mutex> lock(mu);
      if (!read) {
        read_failed = true;
        break;
      }
      piece_len[slot] = want;
      ++filled;
      changed.notify_all();
      out_pos += want;
      at += want;
      left -= want;
    }
    std::lock_guard<std::mutex> lock(mu);
    reading_done = true;
    changed.notify_all();
  });
  for (int slot = 0;; slot = (slot + 1) % kSlots) {
    size_t n = 0;
    {
      std::unique_lock<std::mutex> lock(mu);
      changed.wait(lock, [&] { return filled > 0 || reading_done; });
      if (filled == 0) break;
      n = piece_len[slot];
    }
    const bool wrote = Write(ring.get() + slot * kPiece, n);
    std::lock_guard<std::mutex> lock(mu);
    if (!wrote) {
      stop = true;
      changed.notify_all();
      break;
    }
    --filled;
    changed.notify_all();
  }
  reader.join();
  if (!ok()) return false;
  if (read_failed) {
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
