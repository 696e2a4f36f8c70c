#include "common/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include <fmt/format.h>

#include "common/exceptions.h"
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

std::string ChangedWhileRead(const std::string& path) { return path + " changed while it was being read"; }

namespace {
void UndoJournal();

// The mappings of input files. A file that shrinks under its mapping makes a read of the lost
// pages raise SIGBUS, which would kill the program with its outputs half made and no message.
// Whatever was read of such a file cannot be trusted any more (a tree verified before the cut
// may now point anywhere), so the handler below ends the command at once, as a failure that
// names the file: it takes back the files the command put in place and exits. Its unfinished
// outputs have no name (O_TMPFILE) and go with the process. It reads only these atomics.
struct MapSlot {
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<char*> message{nullptr};  // "<path> changed while it was being read\n"
};
constexpr int kMapSlots = 256;
MapSlot g_maps[kMapSlots];
uintptr_t g_page = 4096;
struct sigaction g_previous_bus {};

// What the handler does not need: the file behind each slot, to see it changed.
struct MapFile {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = 0;
  timespec mtime{};
  int fd = -1;
};
std::mutex g_map_mu;
MapFile g_map_files[kMapSlots];
std::vector<MapFile> g_changed;  // changed files whose mappings are gone

void OnBusError(int, siginfo_t* info, void*) {
  const uintptr_t addr = reinterpret_cast<uintptr_t>(info->si_addr);
  for (MapSlot& slot : g_maps) {
    const uintptr_t begin = slot.begin.load();
    if (begin == 0 || addr < begin || addr >= slot.end.load()) continue;
    if (const char* message = slot.message.load()) {
      ssize_t ignored = write(STDERR_FILENO, message, strlen(message));
      (void)ignored;
    }
    UndoJournal();
    _exit(255);
  }
  // Not a mapping of ours: what would have happened without this handler.
  sigaction(SIGBUS, &g_previous_bus, nullptr);
}

void InstallBusHandler() {
  g_page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  struct sigaction sa {};
  sa.sa_sigaction = OnBusError;
  sa.sa_flags = SA_SIGINFO;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGBUS, &sa, &g_previous_bus);
}

int TakeSlot(const void* map, size_t size, const std::string& path, const struct stat& st, int fd) {
  static std::once_flag installed;
  std::call_once(installed, InstallBusHandler);
  const uintptr_t begin = reinterpret_cast<uintptr_t>(map);
  const uintptr_t end = begin + (size + g_page - 1) / g_page * g_page;
  for (int i = 0; i < kMapSlots; ++i) {
    uintptr_t free_slot = 0;
    if (!g_maps[i].begin.compare_exchange_strong(free_slot, begin)) continue;
    {
      std::lock_guard<std::mutex> lock(g_map_mu);
      g_map_files[i] = {path, st.st_dev, st.st_ino, st.st_size, st.st_mtim, fd};
    }
    g_maps[i].message.store(strdup((ChangedWhileRead(path) + "\n").c_str()));
    g_maps[i].end.store(end);
    return i;
  }
  return -1;  // more mappings than slots: this one goes unguarded
}

// Caller holds g_map_mu.
bool SlotChanged(int slot) {
  struct stat st {};
  const MapFile& f = g_map_files[slot];
  return f.fd >= 0 && fstat(f.fd, &st) == 0 &&
         (st.st_size != f.size || st.st_mtim.tv_sec != f.mtime.tv_sec || st.st_mtim.tv_nsec != f.mtime.tv_nsec);
}

void GiveBackSlot(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> lock(g_map_mu);
  if (SlotChanged(slot)) g_changed.push_back(g_map_files[slot]);
  g_maps[slot].end.store(0);
  g_maps[slot].begin.store(0);
  free(g_maps[slot].message.exchange(nullptr));
  g_map_files[slot] = MapFile();
}
}  // namespace

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
    slot_ = other.slot_;
    other.slot_ = -1;
    other.status_ = ReadStatus::kMissing;
    other.data_ = nullptr;
    other.size_ = 0;
    other.map_ = nullptr;
  }
  return *this;
}

FileBuffer::~FileBuffer() { Release(); }

void FileBuffer::Release() {
  GiveBackSlot(slot_);
  slot_ = -1;
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
      fb.slot_ = TakeSlot(m, size, path, st, fb.fd_.get());
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

void ProtectInputs(const std::vector<std::string>& paths) {
  Remember(paths, ProtectedInputs());
  // A new command: what changed under an earlier one is no concern of this one.
  std::lock_guard<std::mutex> lock(g_map_mu);
  g_changed.clear();
}

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

namespace {
// "<dir>/.<name>.<what>" (the caller adds what makes it unique).
std::string HiddenName(const std::string& dir, const std::string& name, const char* what) {
  return (dir.empty() ? std::string() : (dir == "/" ? dir : dir + "/")) + "." + name + "." + what;
}

// An anonymous file is linked into place through its /proc/self/fd entry (linkat with
// AT_EMPTY_PATH would need a privilege); without /proc the named fallback is taken.
bool ProcFdUsable() {
  static const bool usable = access("/proc/self/fd", X_OK) == 0;
  return usable;
}

std::string ProcFdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

// A hidden name beside path that nothing has, made to exist by make (which fails with EEXIST
// when the name is taken, and is retried with another).
bool MakeUnique(const std::string& path, const char* what, const std::function<int(const char*)>& make,
                std::string& made) {
  static std::mt19937_64 rng(std::random_device{}() ^ static_cast<uint64_t>(getpid()));
  static std::mutex mu;
  std::string dir = Dirname(path);
  if (dir.empty() && !path.empty() && path[0] == '/') dir = "/";
  for (int attempt = 0; attempt < 100; ++attempt) {
    uint64_t r;
    {
      std::lock_guard<std::mutex> lock(mu);
      r = rng();
    }
    const std::string name = HiddenName(dir, Basename(path), what) + fmt::format("{:012x}", r & 0xffffffffffffULL);
    if (make(name.c_str()) == 0) {
      made = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  errno = EEXIST;
  return false;
}

// What commits put in place while the journal is open: the path and, when it replaced a file,
// a hard link to that file under a hidden name.
struct Placed {
  std::string path;
  std::string backup;
};
std::mutex g_journal_mu;
bool g_journal_open = false;
std::vector<Placed> g_journal;

// Keeps what path names now (if it is a regular file) under a hidden name, so that it can come
// back; an empty text when there is nothing to keep or it cannot be kept.
std::string KeepAside(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::string();
  std::string backup;
  const auto link_to = [&path](const char* name) { return link(path.c_str(), name); };
  return MakeUnique(path, "orig", link_to, backup) ? backup : std::string();
}
}  // namespace

std::vector<std::string> ChangedInputs() {
  std::vector<MapFile> changed;
  {
    std::lock_guard<std::mutex> lock(g_map_mu);
    changed = g_changed;
    for (int i = 0; i < kMapSlots; ++i) {
      if (g_maps[i].begin.load() != 0 && SlotChanged(i)) changed.push_back(g_map_files[i]);
    }
  }
  std::vector<std::string> paths;
  for (const MapFile& f : changed) {
    struct stat id {};
    id.st_dev = f.dev;
    id.st_ino = f.ino;
    // Files the tool wrote itself and reads back are no inputs.
    const bool input = Listed(ProtectedInputs(), id) || Listed(ReplaceableOriginals(), id);
    if (input && std::find(paths.begin(), paths.end(), f.path) == paths.end()) paths.push_back(f.path);
  }
  return paths;
}

Status CheckInputsUnchanged() {
  Status st;
  for (const std::string& path : ChangedInputs()) st.Merge(Status::Error(ChangedWhileRead(path)));
  return st;
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
  in_place_ = in_place;
  if (in_place) {
    char real[PATH_MAX + 1] = {};
    if (realpath(path_.c_str(), real) != nullptr) path_ = real;
  }
  const std::string& path = path_;
  std::string dir = Dirname(path);
  // Dirname drops a leading "/" for a file in the root folder.
  if (dir.empty() && !path.empty() && path[0] == '/') dir = "/";
  // Anonymous first: the file only gets a name once it is whole (linked in by Commit). The
  // mode given is what a plain create would give (umask applies).
  fd_.reset(open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
  if (fd_.valid() && !ProcFdUsable()) fd_.reset();
  if (!fd_.valid()) {
    std::string buf = HiddenName(dir, Basename(path), "tmp") + "XXXXXX";
    fd_.reset(mkstemp(&buf[0]));
    if (!fd_.valid()) {
      Fail("create");
      return;
    }
    tmp_path_ = buf;
    if (!in_place) {
      // mkstemp creates 0600; give the file the permissions a plain create would.
      mode_t mask = umask(0);
      umask(mask);
      fchmod(fd_.get(), 0666 & ~mask);
    }
  }
  if (in_place) {
    fchmod(fd_.get(), original.st_mode & 07777);
    // Only a privileged process may give a file away; otherwise the file becomes the caller's.
    if (fchown(fd_.get(), original.st_uid, original.st_gid) != 0) (void)fchown(fd_.get(), static_cast<uid_t>(-1), original.st_gid);
  }
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
  return len < kRingFrom ? CopyThroughBuffer(src_fd, offset, len, observe) : CopyThroughRing(src_fd, offset, len, observe);
}

// One thread reads, shows and writes each piece in turn.
bool AtomicFileWriter::CopyThroughBuffer(int src_fd, uint64_t offset, uint64_t len, const Observer& observe) {
  std::string read_error;
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

namespace {

// The pieces in flight between the reading and the writing thread of a ring copy.
struct PieceRing {
  static constexpr int kSlots = 4;
  std::unique_ptr<uint8_t[]> bytes{new uint8_t[kSlots * kPiece]};
  size_t piece_len[kSlots] = {};
  int filled = 0;  // pieces read and not yet written
  bool reading_done = false, read_failed = false, stop = false;
  std::mutex mu;
  std::condition_variable changed;
  std::string read_error;
  uint8_t* slot(int i) const { return bytes.get() + i * kPiece; }
};

// The reading thread: fills the ring's slots in turn with the pieces of [at, at + left) (cut as
// the output at out_pos wants them) and shows each to observe, until done, failed or stopped.
void FillRing(PieceRing& ring, int src_fd, uint64_t out_pos, uint64_t at, uint64_t left,
              const AtomicFileWriter::Observer& observe) {
  for (int slot = 0; left > 0; slot = (slot + 1) % PieceRing::kSlots) {
    {
      std::unique_lock<std::mutex> lock(ring.mu);
      ring.changed.wait(lock, [&] { return ring.filled < PieceRing::kSlots || ring.stop; });
      if (ring.stop) break;
    }
    const size_t want = NextPiece(out_pos, left);
    const bool read = ReadFull(src_fd, ring.slot(slot), want, at, ring.read_error);
    if (read && observe) observe(ring.slot(slot), want);
    std::lock_guard<std::mutex> lock(ring.mu);
    if (!read) {
      ring.read_failed = true;
      break;
    }
    ring.piece_len[slot] = want;
    ++ring.filled;
    ring.changed.notify_all();
    out_pos += want;
    at += want;
    left -= want;
  }
  std::lock_guard<std::mutex> lock(ring.mu);
  ring.reading_done = true;
  ring.changed.notify_all();
}

}  // namespace

// A second thread reads pieces into a small ring and shows them to observe while they are still
// in its cache; this thread writes them. Both passes over the bytes run side by side, and the
// bytes cross memory once each way, as in a kernel copy.
bool AtomicFileWriter::CopyThroughRing(int src_fd, uint64_t offset, uint64_t len, const Observer& observe) {
  PieceRing ring;
  const uint64_t start_pos = written_;  // read here: this thread's writes move it meanwhile
  std::thread reader([&] { FillRing(ring, src_fd, start_pos, offset, len, observe); });
  for (int slot = 0;; slot = (slot + 1) % PieceRing::kSlots) {
    size_t n = 0;
    {
      std::unique_lock<std::mutex> lock(ring.mu);
      ring.changed.wait(lock, [&] { return ring.filled > 0 || ring.reading_done; });
      if (ring.filled == 0) break;
      n = ring.piece_len[slot];
    }
    const bool wrote = Write(ring.slot(slot), n);
    std::lock_guard<std::mutex> lock(ring.mu);
    if (!wrote) {
      ring.stop = true;
      ring.changed.notify_all();
      break;
    }
    --ring.filled;
    ring.changed.notify_all();
  }
  reader.join();
  if (!ok()) return false;
  if (ring.read_failed) {
    error_ = ring.read_error;
    return false;
  }
  return true;
}

bool AtomicFileWriter::PutInPlace() {
  if (!tmp_path_.empty()) return rename(tmp_path_.c_str(), path_.c_str()) == 0;
  const std::string proc = ProcFdPath(fd_.get());
  const auto link_to = [&proc](const char* name) {
    return linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW);
  };
  if (link_to(path_.c_str()) == 0) return true;
  if (errno != EEXIST) return false;
  // Something is there already: link under a hidden name, then rename over it in one step.
  if (!MakeUnique(path_, "tmp", link_to, tmp_path_)) return false;
  return rename(tmp_path_.c_str(), path_.c_str()) == 0;
}

bool AtomicFileWriter::Commit() {
  if (!ok()) return false;
  // Bytes made from an input that changed meanwhile may be wrong: nothing is put in place.
  const std::vector<std::string> changed = ChangedInputs();
  if (!changed.empty()) {
    error_ = ChangedWhileRead(changed.front());
    return false;
  }
  std::unique_lock<std::mutex> journal(g_journal_mu);
  // An original replaced in place (--replace_original) is the command's last act: it needs no
  // copy to come back, and a killed run must not leave one beside it.
  const std::string backup = g_journal_open && !in_place_ ? KeepAside(path_) : std::string();
  if (!PutInPlace()) {
    Fail("rename");
    if (!backup.empty()) unlink(backup.c_str());
    return false;
  }
  committed_ = true;
  if (g_journal_open) g_journal.push_back({path_, backup});
  journal.unlock();
  if (fd_.reset() != 0) {
    Fail("close");
    return false;
  }
  return true;
}

void BeginOutputs() {
  std::lock_guard<std::mutex> lock(g_journal_mu);
  g_journal.clear();
  g_journal_open = true;
}

void KeepOutputs() {
  std::lock_guard<std::mutex> lock(g_journal_mu);
  for (const Placed& p : g_journal) {
    if (!p.backup.empty()) unlink(p.backup.c_str());
  }
  g_journal.clear();
  g_journal_open = false;
}

void RecordOutput(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_journal_mu);
  if (g_journal_open) g_journal.push_back({path, std::string()});
}

std::vector<std::string> PlacedOutputs() {
  std::lock_guard<std::mutex> lock(g_journal_mu);
  std::vector<std::string> paths;
  for (const Placed& p : g_journal) {
    if (std::find(paths.begin(), paths.end(), p.path) == paths.end()) paths.push_back(p.path);
  }
  return paths;
}

namespace {
// Only system calls on what is there already: the SIGBUS handler runs it too.
void UndoJournal() {
  // Latest first, so that a path written twice ends as it was before the first write.
  for (auto it = g_journal.rbegin(); it != g_journal.rend(); ++it) {
    if (it->backup.empty()) {
      unlink(it->path.c_str());
    } else {
      rename(it->backup.c_str(), it->path.c_str());
    }
  }
}
}  // namespace

void UndoOutputs() {
  std::lock_guard<std::mutex> lock(g_journal_mu);
  UndoJournal();
  g_journal.clear();
  g_journal_open = false;
}

FileLock::FileLock(const std::string& path) {
  // The file is replaced by a new one under the same name: a lock won on a file that is no
  // longer there is let go, and the new one locked instead.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat held {}, named {};
    if (!fd.valid() || fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return;
    int rc;
    do {
      rc = flock(fd.get(), LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return;
    if (stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      fd_ = std::move(fd);
      return;
    }
  }
}

Status WriteFileAtomic(const std::string& path, const void* data, size_t len) {
  AtomicFileWriter w(path);
  if (w.Write(data, len) && w.Commit()) return Status();
  return Status::Error(w.error());
}

void WriteFileOrThrow(const std::string& path, const void* data, size_t len) {
  const Status written = WriteFileAtomic(path, data, len);
  if (!written.ok()) {
    throw TalvexException(ErrorCode::Common, fmt::format("Failed to write file {}: {}", path, written.Reason()));
  }
}

Status WriteNewFile(const std::string& path, const void* data, size_t len, LogCateg categ) {
  const Status written = WriteFileAtomic(path, data, len);
  if (written.ok()) return written;
  return TALVEX_STATUS_ERROR(categ, "Failed to write the file: {} ({})", path, written.Reason());
}

}  // namespace talvex
