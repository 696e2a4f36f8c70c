#include "common/fb_unpack.h"

#include <algorithm>

namespace {

constexpr uint64_t kUnpackMiB = uint64_t{1} << 20;
// Rough heap cost of one unpacked table object, for the budget.
constexpr uint64_t kTableCost = 64;

// Walks a verified buffer along the mini-reflection tables and adds up what unpacking
// would allocate. The verifier already bounds how many table visits there are (1,000,000)
// and the depth (64), so the walk is as cheap as the verification was.
class UnpackBudget {
 public:
  explicit UnpackBudget(uint64_t cap) : cap_(cap) {}
  uint64_t used() const { return used_; }

  void Table(const uint8_t* obj, const flatbuffers::TypeTable* tt) {
    Add(kTableCost);
    auto table = reinterpret_cast<const flatbuffers::Table*>(obj);
    const uint8_t* prev_val = nullptr;
    for (size_t i = 0; i < tt->num_elems && !Over(); ++i) {
      const flatbuffers::TypeCode tc = tt->type_codes[i];
      const auto et = static_cast<flatbuffers::ElementaryType>(tc.base_type);
      const flatbuffers::TypeTable* ref =
          tc.sequence_ref >= 0 ? tt->type_refs[tc.sequence_ref]() : nullptr;
      const uint8_t* val =
          table->GetAddressOf(flatbuffers::FieldIndexToOffset(static_cast<flatbuffers::voffset_t>(i)));
      if (val != nullptr) {
        if (tc.is_repeating) {
          Vector(val + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(val), et, ref);
        } else {
          Value(val, et, ref, prev_val);
        }
      }
      prev_val = val;
    }
  }

 private:
  bool Over() const { return used_ > cap_; }
  void Add(uint64_t n) { used_ += n; }

  void String(const uint8_t* str) {
    Add(sizeof(std::string) + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(str));
  }

  void Value(const uint8_t* val, flatbuffers::ElementaryType et, const flatbuffers::TypeTable* ref,
             const uint8_t* prev_val) {
    if (et == flatbuffers::ET_STRING) {
      String(val + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(val));
      return;
    }
    if (et != flatbuffers::ET_SEQUENCE || ref == nullptr) return;  // inline scalar
    if (ref->st == flatbuffers::ST_TABLE) {
      Table(val + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(val), ref);
    } else if (ref->st == flatbuffers::ST_UNION && prev_val != nullptr) {
      const uint8_t* target = val + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(val);
      const int64_t idx = flatbuffers::LookupEnum(*prev_val, ref->values, ref->num_elems);
      if (idx < 0 || idx >= static_cast<int64_t>(ref->num_elems)) return;  // not unpacked
      const flatbuffers::TypeCode member = ref->type_codes[idx];
      if (member.base_type == flatbuffers::ET_SEQUENCE && member.sequence_ref >= 0) {
        const flatbuffers::TypeTable* member_tt = ref->type_refs[member.sequence_ref]();
        if (member_tt->st == flatbuffers::ST_TABLE) Table(target, member_tt);
      } else if (member.base_type == flatbuffers::ET_STRING) {
        String(target);
      }
    }
    // Structs are inline: no allocation of their own.
  }

  void Vector(const uint8_t* vec, flatbuffers::ElementaryType et, const flatbuffers::TypeTable* ref) {
    const uint64_t n = flatbuffers::ReadScalar<flatbuffers::uoffset_t>(vec);
    const uint8_t* data = vec + sizeof(flatbuffers::uoffset_t);
    if (et == flatbuffers::ET_STRING) {
      for (uint64_t j = 0; j < n && !Over(); ++j) {
        const uint8_t* p = data + 4 * j;
        String(p + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(p));
      }
    } else if (et == flatbuffers::ET_SEQUENCE && ref != nullptr && ref->st == flatbuffers::ST_TABLE) {
      Add(n * sizeof(void*));
      for (uint64_t j = 0; j < n && !Over(); ++j) {
        const uint8_t* p = data + 4 * j;
        Table(p + flatbuffers::ReadScalar<flatbuffers::uoffset_t>(p), ref);
      }
    } else if (et == flatbuffers::ET_SEQUENCE && ref != nullptr && ref->st == flatbuffers::ST_STRUCT) {
      Add(n * static_cast<uint64_t>(ref->values[ref->num_elems]));
    } else if (et == flatbuffers::ET_SEQUENCE) {
      Add(n * 16);  // vectors of unions: unpacked members are not followed here
    } else {
      Add(n * flatbuffers::InlineSize(et, ref));
    }
  }

  uint64_t cap_;
  uint64_t used_ = 0;
};

}  // namespace

namespace talvex {

uint64_t UnpackedBytes(const uint8_t* table, const flatbuffers::TypeTable* tt, uint64_t cap) {
  UnpackBudget budget(cap);
  budget.Table(table, tt);
  return budget.used();
}

uint64_t MaxUnpackedBytes(size_t size) {
  // Small files may expand a few times over; a large file (a TXM with big payloads) holds
  // mostly bytes that unpack one to one, plus at most the verifier's million tables.
  const uint64_t n = size;
  return std::min<uint64_t>(4 * n + 64 * kUnpackMiB, std::max<uint64_t>(1024 * kUnpackMiB, n + 256 * kUnpackMiB));
}

bool UnpacksWithinBudget(const uint8_t* buf, size_t size, const flatbuffers::TypeTable* tt) {
  const uint64_t limit = MaxUnpackedBytes(size);
  return UnpackedBytes(flatbuffers::GetRoot<uint8_t>(buf), tt, limit) <= limit;
}

}  // namespace talvex
