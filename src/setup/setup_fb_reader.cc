#include "setup/setup_fb_reader.h"

#include <algorithm>
#include <utility>

#include "common/file_io.h"
#include "common/logger.h"
#include "flatbuffers/minireflect.h"
#include "setup/setup_recognise.h"

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
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

uint64_t SetupFBReader::UnpackedBytes(const uint8_t* bin, uint64_t cap) {
  UnpackBudget budget(cap);
  budget.Table(flatbuffers::GetRoot<uint8_t>(bin), TalvexSetup::INFContentTypeTable());
  return budget.used();
}

uint64_t SetupFBReader::MaxUnpackedBytes(size_t size) {
  return std::min<uint64_t>(4 * static_cast<uint64_t>(size) + 64 * kMiB, 1024 * kMiB);
}

talvex::Status SetupFBReader::Parse(TalvexSetup::INFContentT& content, const uint8_t* bin, size_t size) {
  static const char* const kNotValid = "Not a valid setup flatbuffer file.";
  if (!Setup::IsFBSetup(bin, size)) return talvex::Status::Error(kNotValid);
  const uint64_t limit = MaxUnpackedBytes(size);
  const uint64_t need = UnpackedBytes(bin, limit);
  if (need > limit) {
    talvex::Status st =
        TALVEX_STATUS_ERROR(LogCateg::Setup, "setup.bin of {} bytes would unpack to more than {} bytes", size, limit);
    return st.Err(kNotValid);
  }
  // A fresh tree: UnPackTo leaves members the buffer lacks as they were.
  TalvexSetup::INFContentT fresh;
  flatbuffers::GetRoot<TalvexSetup::INFContent>(bin)->UnPackTo(&fresh);
  content = std::move(fresh);
  return talvex::Status();
}

talvex::Status SetupFBReader::Parse(TalvexSetup::INFContentT& content, const std::string& path) {
  talvex::FileBuffer file = talvex::FileBuffer::Load(path);
  if (!file.ok()) return talvex::Status::Error("Failed to read the file[" + path + "]");
  return Parse(content, file.data(), file.size());
}
