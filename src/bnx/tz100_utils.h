#pragma once
// Relocation of first-generation (TZ100) models: when a model gets new device addresses, the
// absolute addresses inside its command.bin and raw setup.bin move with their regions
// (working buffer, dedicated output buffer, weights), each keeping its offset in the region.
//
// Every function checks its preconditions before it changes anything: on a violated one it
// leaves the bytes or the file as they were and returns -1, with the condition in *error (its
// text) and in *log (a failed Status with the condition as a log line), when given. 0 on
// success. log, when given, also receives the progress lines (debug level). Files are
// rewritten atomically and only when something moved.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bnx/legacy_files.h"
#include "common/status.h"

namespace BNXUtils {

// Instruction words of command.bin: the low 16 bits are the value, the high 16 bits the head.
constexpr uint16_t TZ100_OPCODE_MASK = 0xf000;
constexpr int TZ100_OPCODE_SHIFT = 12;
constexpr uint16_t TZ100_REGIDX_MASK = 0x03ff;

constexpr uint16_t TZ100_OPCODE_NOP = 0x0;
constexpr uint16_t TZ100_OPCODE_SYNC = 0x1;
constexpr uint16_t TZ100_OPCODE_INTR = 0x2;
constexpr uint16_t TZ100_OPCODE_RDMA = 0x4;
constexpr uint16_t TZ100_OPCODE_WDMA = 0x5;
constexpr uint16_t TZ100_OPCODE_CONV = 0x6;
constexpr uint16_t TZ100_OPCODE_GETW = 0x7;
constexpr uint16_t TZ100_OPCODE_CONF = 0x8;

// Low-half ("ACL") register indexes of the relocated addresses; the high half is index + 1.
constexpr int16_t TZ100_ACL_NPU_RDMA0_SRC0 = 0x0e;
constexpr int16_t TZ100_ACL_NPU_WDMA0_DST0 = 0x36;
constexpr int16_t TZ100_ACL_NPU_GETW0 = 0x2e;

// Moves the weight fetch (GETW0), read-DMA source (RDMA0) and write-DMA destination (WDMA0)
// addresses of a command stream from old_finfo's regions to new_finfo's. All or nothing: the
// Status holds the debug lines of the passes, or fails with the condition as its reason
// (data unchanged then).
talvex::Status UpdateTZ100CommandBin(uint8_t* data, size_t size, const FirmInfo& new_finfo,
                                     const FirmInfo& old_finfo);

// Rewrites a raw TZ100 setup: the header's dram, cmd, weight and input starts (which must equal
// old_finfo's) and every super node address (in the old working or output buffer). All or
// nothing, as UpdateTZ100CommandBin.
talvex::Status UpdateTZ100SetupBin(uint8_t* data, size_t size, const FirmInfo& new_finfo, const FirmInfo& old_finfo);

}  // namespace BNXUtils
