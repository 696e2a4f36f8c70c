#include "bnx/tz100_utils.h"

#include <cstring>
#include <utility>

#include <fmt/format.h>

#include "bnx/container.h"
#include "common/exceptions.h"
#include "common/file_io.h"
#include "common/logger.h"
#include "common/output_dir.h"
#include "common/bytes.h"
#include "setup/setup_nodes.h"
#include "setup/setup_recognise.h"

namespace BNXUtils {
namespace {

constexpr uint64_t kOffsetLimit = uint64_t{1} << 31;
constexpr size_t kTZ100HeaderBytes = sizeof(Setup::Layout::TZ100HEADER);
// Byte positions of the relocated TZ100 header words.
constexpr size_t kHdrMagic = 0, kHdrDramStart = 20, kHdrInputRow = 28, kHdrInputCol = 32, kHdrInputCh = 36,
                 kHdrCmdStart = 40, kHdrWeightStart = 48, kHdrInputStart = 56, kHdrOutputNum = 68;

// A violated precondition: the exception logs the condition once; callers turn it into -1.
[[noreturn]] void RefuseRelocation(const std::string& condition) { throw InvalidProgramInput(condition); }

// Where the progress lines of the running rewrite go (the caller's Status, if it gave one).
talvex::Status* g_log = nullptr;
struct LogTo {
  explicit LogTo(talvex::Status* log) : prev(g_log) { g_log = log; }
  ~LogTo() { g_log = prev; }
  LogTo(const LogTo&) = delete;
  LogTo& operator=(const LogTo&) = delete;
  talvex::Status* prev;
};
#define TZ100_LOG(level, ...)                                                       \
  do {                                                                              \
    if (g_log != nullptr) TALVEX_STATUS_LOG(*g_log, LogCateg::Common, level, __VA_ARGS__); \
  } while (0)
#define TZ100_DEBUG(...) TZ100_LOG(kDebug, __VA_ARGS__)

uint16_t Half(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Rebase(uint32_t new_base, uint64_t offset, const char* what) {
  const uint64_t addr = uint64_t{new_base} + offset;
  if (addr > UINT32_MAX) RefuseRelocation(fmt::format("{} (new address 0x{:x} beyond 32 bits)", what, addr));
  return static_cast<uint32_t>(addr);
}

// A 16-bit value to store at a byte position of the stream.
struct HalfEdit {
  size_t pos;
  uint16_t value;
};

// The new value of an address register: moved from old_base to new_base, or, with an output
// buffer (WDMA0 only), from old_obuf_base to new_obuf_base when it lies below old_base.
uint32_t RelocatedAddress(uint32_t val, uint32_t new_base, uint32_t old_base, uint32_t new_obuf_base,
                          uint32_t old_obuf_base) {
  const bool with_obuf = new_obuf_base != 0 || old_obuf_base != 0;
  uint64_t offset = 0;
  uint32_t addr = 0;
  if (!with_obuf) {
    if (val < old_base) RefuseRelocation(fmt::format("reg value out of range! (0x{:08x} below 0x{:08x})", val, old_base));
    offset = uint64_t{val} - old_base;
    if (offset >= kOffsetLimit) RefuseRelocation(fmt::format("offset should >= zero! (0x{:x})", offset));
    addr = Rebase(new_base, offset, "reg value out of range!");
  } else if (val >= old_base) {
    TZ100_DEBUG("  WDMA0 for working buffer");
    offset = uint64_t{val} - old_base;
    if (offset >= kOffsetLimit) RefuseRelocation(fmt::format("offset should be >= 0 (0x{:x})", offset));
    addr = Rebase(new_base, offset, "address out of range");
  } else {
    if (val < old_obuf_base) {
      RefuseRelocation(fmt::format("address out of range (0x{:08x} below 0x{:08x})", val, old_obuf_base));
    }
    TZ100_DEBUG("  WDMA0 for output buffer");
    offset = uint64_t{val} - old_obuf_base;
    addr = Rebase(new_obuf_base, offset, "address out of range");
  }
  TZ100_DEBUG("    update binary original addr: 0x{:08x}, offset: 0x{:08x}, new addr: 0x{:08x}", val, offset, addr);
  return addr;
}

// Instructions other than CONF are left alone, but only those the device knows.
void CheckOpcode(uint16_t opcode, size_t pos) {
  switch (opcode) {
    case TZ100_OPCODE_NOP:
    case TZ100_OPCODE_SYNC:
    case TZ100_OPCODE_INTR:
    case TZ100_OPCODE_RDMA:
    case TZ100_OPCODE_WDMA:
    case TZ100_OPCODE_CONV:
    case TZ100_OPCODE_GETW: break;
    default: RefuseRelocation(fmt::format("Undefinded OP code! (0x{:x} at byte {})", opcode, pos));
  }
}

// One pass over the stream for register reg; appends the edits it would make.
void CollectAddrEdits(const uint8_t* data, size_t size, int16_t reg, uint32_t new_base, uint32_t old_base,
                      uint32_t new_obuf_base, uint32_t old_obuf_base, std::vector<HalfEdit>& edits) {
  TZ100_DEBUG("old_base: 0x{:08x}, new base: 0x{:08x}", old_base, new_base);
  const uint16_t acl = static_cast<uint16_t>(reg);
  const uint16_t ach = static_cast<uint16_t>(reg + 1);
  bool have_low = false;
  uint16_t low = 0;
  size_t low_pos = 0;
  // Trailing bytes short of a whole instruction are not an instruction; they stay as they are.
  for (size_t pos = 0; pos + 4 <= size; pos += 4) {
    const uint16_t value = Half(data + pos);
    const uint16_t head = Half(data + pos + 2);
    const uint16_t opcode = static_cast<uint16_t>((head & TZ100_OPCODE_MASK) >> TZ100_OPCODE_SHIFT);
    if (opcode != TZ100_OPCODE_CONF) {
      if (have_low) {
        RefuseRelocation(fmt::format("register of acl and ach should be continue! (opcode 0x{:x} at byte {})", opcode, pos));
      }
      CheckOpcode(opcode, pos);
      continue;
    }
    const uint16_t idx = head & TZ100_REGIDX_MASK;
    if (idx == acl) {
      low = value;
      low_pos = pos;
      have_low = true;
    } else if (idx == ach && !have_low) {
      // A high half without its low half cannot be relocated; it is left as it is.
      TZ100_LOG(kWarn, "register 0x{:x} at byte {} has no low half before it; not relocated", ach, pos);
    } else if (idx == ach) {
      const uint32_t addr =
          RelocatedAddress((uint32_t{value} << 16) | low, new_base, old_base, new_obuf_base, old_obuf_base);
      edits.push_back({low_pos, static_cast<uint16_t>(addr & 0xffff)});
      edits.push_back({pos, static_cast<uint16_t>(addr >> 16)});
      have_low = false;
    }
  }
}

void ApplyEdits(uint8_t* data, const std::vector<HalfEdit>& edits) {
  for (const HalfEdit& e : edits) {
    data[e.pos] = static_cast<uint8_t>(e.value);
    data[e.pos + 1] = static_cast<uint8_t>(e.value >> 8);
  }
}

void CollectCommandEdits(const uint8_t* data, size_t size, const FirmInfo& nf, const FirmInfo& of,
                         std::vector<HalfEdit>& edits) {
  if (nf.weight_start != of.weight_start) {
    TZ100_DEBUG("Update GETW addrss");
    CollectAddrEdits(data, size, TZ100_ACL_NPU_GETW0, nf.weight_start, of.weight_start, 0, 0, edits);
  }
  if (nf.dram_start != of.dram_start) {
    TZ100_DEBUG("Update RDMA0");
    CollectAddrEdits(data, size, TZ100_ACL_NPU_RDMA0_SRC0, nf.dram_start, of.dram_start, 0, 0, edits);
  }
  TZ100_DEBUG("Update WDMA0");
  if (nf.output_start != of.output_start || nf.dram_start != of.dram_start) {
    CollectAddrEdits(data, size, TZ100_ACL_NPU_WDMA0_DST0, nf.dram_start, of.dram_start, nf.output_start,
                     of.output_start, edits);
  }
}

// Header and super-node addresses, rewritten in data (which the caller may discard on failure).
void RelocateSetup(uint8_t* data, size_t size, const FirmInfo& nf, const FirmInfo& of) {
  if (size < kTZ100HeaderBytes) {
    RefuseRelocation(fmt::format("setup.bin is shorter than the TZ100 header ({} bytes)", size));
  }
  if (talvex::LoadLE32(data + kHdrMagic) != Setup::MAGIC) RefuseRelocation("Magic number of setup.bin did not match!");
  TZ100_DEBUG("input shape(row/col/ch): {:d}, {:d}, {:d}", talvex::LoadLE32(data + kHdrInputRow),
                    talvex::LoadLE32(data + kHdrInputCol), talvex::LoadLE32(data + kHdrInputCh));
  TZ100_DEBUG("output num:{:d}", talvex::LoadLE32(data + kHdrOutputNum));
  const struct {
    size_t pos;
    uint32_t old_value, new_value;
    const char* mismatch;
  } starts[] = {{kHdrDramStart, of.dram_start, nf.dram_start, "dram start did not match"},
                {kHdrCmdStart, of.cmd_start, nf.cmd_start, "cmd start did not match"},
                {kHdrWeightStart, of.weight_start, nf.weight_start, "weight start did not match"},
                {kHdrInputStart, of.input_start, nf.input_start, "input start did not match"}};
  for (const auto& s : starts) {
    const uint32_t in_file = talvex::LoadLE32(data + s.pos);
    if (in_file != s.old_value) {
      RefuseRelocation(fmt::format("{} (setup.bin 0x{:08x}, fw_info 0x{:08x})", s.mismatch, in_file, s.old_value));
    }
    talvex::StoreLE32(data + s.pos, s.new_value);
  }

  static constexpr size_t kBodyBytes[] = {sizeof(Setup::Layout::InputInfo), sizeof(Setup::Layout::CPUNode),
                                          sizeof(Setup::Layout::OutputNode), sizeof(Setup::Layout::DataNode),
                                          sizeof(Setup::Layout::SuperNode)};
  size_t pos = kTZ100HeaderBytes;
  while (pos < size) {
    if (size - pos < 4) RefuseRelocation(fmt::format("setup.bin ends inside a node type word (byte {})", pos));
    // The node kind is the type word's low byte, as the setup views read it.
    const uint32_t type = talvex::LoadLE32(data + pos) & 0xff;
    if (type > Setup::FW_SUPER_NODE) RefuseRelocation(fmt::format("Undefinded node index ({} at byte {})", type, pos));
    const size_t body = pos + 4;
    if (size - body < kBodyBytes[type]) {
      RefuseRelocation(fmt::format("setup.bin ends inside a node (type {} at byte {})", type, pos));
    }
    if (type == Setup::FW_SUPER_NODE) {
      if (nf.output_start == nf.dram_start || of.output_start == of.dram_start) {
        RefuseRelocation("should be enable dedicated output buffer");
      }
      const uint32_t addr = talvex::LoadLE32(data + body);
      uint64_t offset = 0;
      uint32_t base = 0;
      if (addr < of.dram_start && addr >= of.output_start) {
        offset = uint64_t{addr} - of.output_start;
        base = nf.output_start;
      } else if (addr >= of.dram_start && addr < of.cmd_start) {
        offset = uint64_t{addr} - of.dram_start;
        base = nf.dram_start;
      } else {
        RefuseRelocation(fmt::format("Data out of range! (super node address 0x{:08x} at byte {})", addr, pos));
      }
      if (offset >= kOffsetLimit) RefuseRelocation("output node offset should >= 0");
      talvex::StoreLE32(data + body, Rebase(base, offset, "Data out of range!"));
    }
    pos = body + kBodyBytes[type];
  }
}

// The refused condition ("InvalidProgramInput: ...") as the failure's reason, after the debug
// lines of the passes that ran.
talvex::Status Failed(talvex::Status log, const TalvexException& e) {
  return log.Merge(talvex::Status::Error(e.what()));
}

}  // namespace

talvex::Status UpdateTZ100CommandBin(uint8_t* data, size_t size, const FirmInfo& new_finfo,
                                     const FirmInfo& old_finfo) {
  talvex::Status log;
  const LogTo to(&log);
  try {
    // The passes touch different registers, so all of them can read the original words; the
    // edits are applied only once every pass has succeeded.
    std::vector<HalfEdit> edits;
    CollectCommandEdits(data, size, new_finfo, old_finfo, edits);
    ApplyEdits(data, edits);
    return log;
  } catch (const TalvexException& e) {
    return Failed(std::move(log), e);
  }
}

talvex::Status UpdateTZ100SetupBin(uint8_t* data, size_t size, const FirmInfo& new_finfo, const FirmInfo& old_finfo) {
  talvex::Status log;
  const LogTo to(&log);
  try {
    std::vector<uint8_t> copy(data, data + size);
    RelocateSetup(copy.data(), copy.size(), new_finfo, old_finfo);
    if (size != 0) std::memcpy(data, copy.data(), size);
    return log;
  } catch (const TalvexException& e) {
    return Failed(std::move(log), e);
  }
}

}  // namespace BNXUtils
