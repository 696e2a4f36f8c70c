#pragma once
// The version texts of this build: printed by -V and written into generated containers.
constexpr const char* kToolchainVersion = "talvex_bnx_utils version: 2025-09-11(a789b85)";
constexpr const char* kCompilerVersion = "talvex_compiler version: 2025-09-11(c3e995af21)";
