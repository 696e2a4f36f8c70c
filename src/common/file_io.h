#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/log_categ.h"
#include "common/status.h"

namespace talvex {

// Owns one open file descriptor and closes it when it goes, on every exit path.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes the descriptor held (if any) and takes fd; the result of that close().
  int reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Inputs of 2 GiB or more are refused: FlatBuffers and the 32-bit size fields cannot address them.
constexpr uint64_t kMaxInputBytes = (uint64_t{1} << 31) - 1;

enum class ReadStatus { kOk, kMissing, kEmpty, kTooLarge, kUnreadable };

// Short reason for a failed load, e.g. "file is empty".
const char* ReadStatusText(ReadStatus status);

// The whole content of one file, read-only. Mapped when the file allows it, so that
// commands reading only a header do not pay for the payload. Reading bytes that a mapped file
// lost meanwhile ends the program with status 255 and the command's outputs taken back, never
// with SIGBUS.
class FileBuffer {
 public:
  FileBuffer() = default;
  FileBuffer(FileBuffer&& other) noexcept;
  FileBuffer& operator=(FileBuffer&& other) noexcept;
  FileBuffer(const FileBuffer&) = delete;
  FileBuffer& operator=(const FileBuffer&) = delete;
  ~FileBuffer();

  // Never throws; check ok() / status().
  static FileBuffer Load(const std::string& path, uint64_t max_size = kMaxInputBytes);

  bool ok() const { return status_ == ReadStatus::kOk; }
  ReadStatus status() const { return status_; }
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  // The open descriptor of a mapped file, so that ranges of it can be copied file to file;
  // -1 when the content was read into memory instead.
  int fd() const { return fd_.get(); }
  // Lets the process drop the mapped pages covering [offset, offset + len) once read: a pass
  // over a large file then does not hold it all in memory (the pages are read again from the
  // file if touched later). Nothing happens for content read into memory.
  void ReleasePages(size_t offset, size_t len) const;
  // Whether the content is a read-only mapping of the file (rather than a heap copy).
  bool mapped() const { return map_ != nullptr; }

 private:
  void Release();

  ReadStatus status_ = ReadStatus::kMissing;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  void* map_ = nullptr;
  std::unique_ptr<uint8_t[]> heap_;
  UniqueFd fd_;
  int slot_ = -1;  // in the table of mappings the SIGBUS handler repairs
};

// "<path> changed while it was being read": how every reader says an input changed under it.
std::string ChangedWhileRead(const std::string& path);

// The command's input files (ProtectInputs, AllowReplacing) that changed while the command
// had them mapped, in the order they were found; files the tool made itself are not inputs.
std::vector<std::string> ChangedInputs();
// Failed, with one line "<path> changed while it was being read" per changed input.
Status CheckInputsUnchanged();

// Writes a new file in the target folder and puts it in place on Commit(), so a failure never
// leaves a half-written or clobbered file. The file has no name until then where the file
// system allows (O_TMPFILE), so even a killed run leaves nothing; elsewhere it is written under
// a hidden temporary name and renamed. Commit() fails, leaving nothing, once an input changed.
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const std::string& path);
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter();  // removes the temporary file unless committed

  bool ok() const { return fd_.valid() && error_.empty(); }
  bool Write(const void* data, size_t len);
  // Appends len bytes of the regular file src_fd from offset on. Copied in the kernel
  // (copy_file_range) where the file systems allow it and it is fastest, else through the
  // ring of small buffers below; never more memory than that. A source shorter than
  // offset + len fails.
  bool CopyFrom(int src_fd, uint64_t offset, uint64_t len);
  // Sees each piece of a copy, in order, from one thread at a time (not always the caller's).
  using Observer = std::function<void(const uint8_t*, size_t)>;
  // The same, read and written through a ring of small buffers, handing each piece to observe
  // (when set) between the two, e.g. for a CRC of what is copied. From a few MiB on, a second
  // thread reads and observes while this one writes. observe is never called after CopyFrom
  // has returned.
  bool CopyFrom(int src_fd, uint64_t offset, uint64_t len, const Observer& observe);
  bool Commit();
  // errno text of the first failure, empty while all is well.
  const std::string& error() const { return error_; }

 private:
  // The two ways of CopyFrom with an observer: one thread for a short range, a ring of pieces
  // between a reading and a writing thread for a long one.
  bool CopyThroughBuffer(int src_fd, uint64_t offset, uint64_t len, const Observer& observe);
  bool CopyThroughRing(int src_fd, uint64_t offset, uint64_t len, const Observer& observe);
  void Fail(const char* what);

  bool PutInPlace();

  std::string path_;
  std::string tmp_path_;  // empty while the file is anonymous (O_TMPFILE)
  UniqueFd fd_;
  uint64_t written_ = 0;  // bytes in the file so far
  bool committed_ = false;
  bool in_place_ = false;  // replaces an original that --replace_original names
  std::string error_;
};

// Tests only: false makes CopyFrom take its read/write path, as where the kernel refuses the copy.
void SetKernelCopyAllowed(bool allowed);

// Something exists at path (file, folder or other).
bool FileExists(const std::string& path);

// The running command's input files. No output may take the place of one of them: the
// atomic writer refuses such a path before writing anything. The front end registers the
// inputs once per command (all but the one --replace_original allows to replace).
void ProtectInputs(const std::vector<std::string>& paths);
// The originals --replace_original lets the command replace. A new file that takes the place
// of one of them keeps its permissions and, where the process may set them, its owner and
// group; through a symlink, the link's target gets the new bytes and the link stays.
void AllowReplacing(const std::vector<std::string>& paths);
// The reason text when path names a protected input, else an empty text.
std::string InputClash(const std::string& path);
// Failed, with a line naming path and pointing to --replace_original, when path names a
// protected input.
Status CheckNotInput(const std::string& path);

// The files that commits put in place while a command runs. A command that fails takes them
// back: new files are removed and the files they replaced come back, so that it leaves no file
// of its own making; one that succeeds keeps them. One command at a time, from the front end.
void BeginOutputs();
void KeepOutputs();
void UndoOutputs();
// A new file that another program wrote for the command (the setup parser's JSON view), taken
// back like the command's own.
void RecordOutput(const std::string& path);
// The paths put in place since BeginOutputs, in order, each once (some may be gone again).
std::vector<std::string> PlacedOutputs();

// Holds an advisory lock (flock) on an existing file from before it is read until after it is
// replaced, so that concurrent commands rewriting the same file take turns and none of their
// changes is lost. Holds nothing for a path that names no regular file.
class FileLock {
 public:
  explicit FileLock(const std::string& path);

 private:
  UniqueFd fd_;
};

// One-shot form of AtomicFileWriter; a failure's reason is the writer's.
Status WriteFileAtomic(const std::string& path, const void* data, size_t len);

// The same for steps that stop their command on a failed write: throws TalvexException naming
// the file and the reason.
void WriteFileOrThrow(const std::string& path, const void* data, size_t len);

// The same, for the common case of a failure that is simply reported: the failed Status holds
// a log line in category categ naming the file and the reason.
Status WriteNewFile(const std::string& path, const void* data, size_t len, LogCateg categ = LogCateg::Common);

}  // namespace talvex
