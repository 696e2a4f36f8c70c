// Damaged inputs through every mode: no signal and no sanitizer report, a failure names the
// file and leaves nothing in the output folder, the input is never changed.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include <zlib.h>

#include "bnx_generated.h"
#include <gtest/gtest.h>

#include "support/bnx_builder.h"
#include "support/legacy_builder.h"
#include "support/run.h"
#include "support/setup_builder.h"
#include "support/txm_builder.h"

namespace {

using namespace testsupport;
using Bytes = std::vector<uint8_t>;
using Strings = std::vector<std::string>;

struct Damaged {
  std::string name;
  Bytes bytes;
  bool fifo = false;  // a named pipe stands in the file's place (bytes unused)
};

// Offset of the first occurrence of needle in hay (hay.size() when absent).
size_t Find(const Bytes& hay, const Bytes& needle) {
  return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) - hay.begin();
}

Bytes Legacy(int32_t target, const LegacyPair& pair) { return BuildBnx(LegacyBnx(target, pair)); }

// The CRC trailer computed anew over the damaged bytes (zlib, as an independent oracle).
void Reseal(Bytes& b) {
  const uint32_t crc = static_cast<uint32_t>(::crc32(0L, b.data(), static_cast<uInt>(b.size() - 4)));
  PutLE32(b, b.size() - 4, crc);
}

// At least 50 damaged inputs, each of a shape the parsers must refuse cleanly.
std::vector<Damaged> Corpus() {
  std::vector<Damaged> c;
  const Bytes txm = BuildSampleTxm();
  SampleBnx txm_s;
  txm_s.all_models = txm;
  const Bytes bnx_txm = BuildBnx(txm_s);
  const LegacyPair pair300 = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), true);
  const std::vector<LegacyModel> raw_models = {MakeLegacyModel(1, 1, 48, 80, BuildRawSetup100()),
                                               MakeLegacyModel(2, 1, 32, 64, BuildRawSetup100())};
  const LegacyPair pair100 = BuildLegacyPair(raw_models, true);
  const Bytes bnx300 = Legacy(2, pair300), bnx100 = Legacy(0, pair100);

  // Truncations at the boundaries of the FlatBuffers layout and the CRC trailer.
  for (const auto& [name, good] : {std::pair<std::string, const Bytes&>{"bnx_txm", bnx_txm}, {"bnx300", bnx300},
                                   {"bnx100", bnx100}, {"txm", txm}}) {
    for (size_t len : {size_t{0}, size_t{3}, size_t{4}, size_t{8}, size_t{16}, good.size() / 2, good.size() - 5,
                       good.size() - 4, good.size() - 1}) {
      c.push_back({name + "_cut" + std::to_string(len), Bytes(good.begin(), good.begin() + len)});
    }
    // Root offsets past the end.
    for (uint32_t root : {static_cast<uint32_t>(good.size()), 0x7fffffffu, 0xffffffffu}) {
      Bytes b = good;
      PutLE32(b, 0, root);
      c.push_back({name + "_root" + std::to_string(root), b});
    }
  }
  // Payload vector lengths of 0, 0x7fffffff and 0xffffffff (the TXM inside the container).
  const size_t at = Find(bnx_txm, txm) - 4;
  for (uint32_t n : {0u, 0x7fffffffu, 0xffffffffu}) {
    Bytes b = bnx_txm;
    PutLE32(b, at, n);
    c.push_back({"bnx_txm_len" + std::to_string(n), b});
  }
  // fw_info.bin counts and sizes of 0, 0x7fffffff and 0xffffffff, carried by a container.
  for (uint32_t v : {0u, 0x7fffffffu, 0xffffffffu}) {
    for (const auto& [field, off] : {std::pair<std::string, size_t>{"count", 0}, {"size_cmd", 4 + 9 * 4},
                                     {"size_wt", 4 + 11 * 4}, {"size_fw", 4 + 13 * 4}}) {
      LegacyPair p = pair300;
      PutLE32(p.fw_info, off, v);
      c.push_back({"bnx300_" + field + std::to_string(v), Legacy(2, p)});
    }
  }
  // Wrong magic: a raw setup whose first word is not the raw magic, in a TZ100 container.
  {
    std::vector<LegacyModel> models = raw_models;
    for (auto& m : models) PutLE32(m.setup, 0, 0x12345678);
    c.push_back({"bnx100_setup_magic", Legacy(0, BuildLegacyPair(models, true))});
  }
  // A union type without its value, in a legacy container's setup and in a TXM file.
  const Bytes bare = BuildFbSetupBareOptionsTag();
  c.push_back({"bnx300_bare_tag", Legacy(2, BuildLegacyPair({MakeLegacyModel(1, 1, 32, 64, bare)}, true))});
  c.push_back({"setup_bare_tag", bare});
  // A setup of the wrong form for its target: flatbuffer for TZ100, raw for TZ300.
  c.push_back({"bnx100_fb_setup",
               Legacy(0, BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), true))});
  c.push_back({"bnx300_raw_setup", Legacy(2, BuildLegacyPair(raw_models, true))});
  // One payload bit flipped, with the trailer left as it was or computed anew, so that only the
  // header crc and the fw_info.bin CRC section tell.
  for (const auto& [name, good] : {std::pair<std::string, const Bytes&>{"bnx_txm", bnx_txm}, {"bnx300", bnx300},
                                   {"bnx100", bnx100}}) {
    const auto* root = flatbuffers::GetRoot<TalvexBNX::BNXContent>(good.data());
    Bytes b = good;
    b[static_cast<size_t>(root->model_bin()->all_models()->data() - good.data()) + 40] ^= 0x10;
    c.push_back({name + "_bitflip", b});
    Reseal(b);
    c.push_back({name + "_bitflip_resealed", b});
  }
  // all_models.bin edited after its fw_info.bin CRC section was made, in a container whose header
  // crc and trailer agree with the edit.
  {
    LegacyPair p = pair300;
    p.all_models[20] ^= 0x01;
    c.push_back({"bnx300_stale_section", Legacy(2, p)});
    std::vector<LegacyModel> edited = SampleLegacyModels(LegacySetupForm::kFlatbuffer);
    edited[0].weight[0] ^= 0x01;  // the section of another all_models.bin, of the same layout
    c.push_back({"fw_info_stale_section", BuildLegacyPair(edited, true).fw_info});
    Bytes junk_section = BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false).fw_info;
    junk_section.insert(junk_section.end(), 16, 0x5C);
    c.push_back({"fw_info_junk_section", junk_section});
  }
  // Key files: empty, only zero words, a pipe.
  c.push_back({"key_zero", Bytes(1024, 0)});
  c.push_back({"key_fifo", {}, true});
  c.push_back({"fw_info_only", pair300.fw_info});
  c.push_back({"junk", Bytes(4096, 0xA5)});
  return c;
}

// Every mode, with the damaged file in the place of its input ("{}") next to good other inputs.
struct Mode {
  std::string name;  // as the expectations below name it
  Strings args;
  // -X -s and -I -s extract first and report a failed setup view afterwards, naming the
  // extracted setup and keeping what it extracted.
  bool keeps_extracted = false;
};

std::vector<Mode> Modes(const std::string& good_txm, const std::string& good_fw, const std::string& good_am,
                        const std::string& good_json, const std::string& good_bnx, const std::string& good_key) {
  return {
      {"I", {"-I", "{}"}},
      {"I-s", {"-I", "{}", "-s"}, true},
      {"R", {"-R", "{}", "-k", "target"}},
      {"M", {"-M", "{}", "-N", "0"}},
      {"C", {"-C", "{}"}},
      {"A", {"-A", "{}"}},
      {"X", {"-X", "{}"}},
      {"X-s", {"-X", "{}", "-s"}, true},
      {"U", {"-U", "{}", "--model_info_version", "9.9"}},
      {"U-replace", {"-U", "{}", "--model_info_version", "9.9", "--replace_original"}},
      {"sol", {"--update_solution_info", "{}", "-a", "77", "-b", "aa"}},
      {"j", {"-j", "{}"}},
      {"S", {"-S", "{}", "-d", "0", "-p", good_json}},
      {"S-p", {"-S", good_txm, "-d", "0", "-p", "{}"}},
      {"G-e", {"-G", "-t", "400", "-e", "{}"}},
      {"G-h", {"-G", "-t", "300", "-h", "{}", "-m", good_am}},
      {"G-m", {"-G", "-t", "300", "-h", good_fw, "-m", "{}"}},
      {"E", {"-E", "{}", "-n", "1"}},
      {"E-cust", {"-E", "{}", "-f", "0x1234", "-F", good_key}},
      {"E-key", {"-E", good_bnx, "-f", "0x1234", "-F", "{}"}},
      {"c", {"-c", "{}"}},
  };
}

// The modes that take each input and succeed; every other mode must refuse it, naming the file
// and writing nothing. Inputs not listed are taken by -C (the CRC of any bytes) and by -E as a key
// file (neither empty nor all zero, and deriving a key other than 0).
const std::map<std::string, std::string>& Accepted() {
  // A container whose structure holds: -I, -R and -M show its header without reading the payload,
  // so they take it whatever the payload holds; every command that uses the payload refuses it.
  const std::string header_views = "I R M C E-key";
  static const std::map<std::string, std::string> accepted = {
      // The CRC of no bytes is 0; nothing else takes an empty file, not even as a key.
      {"bnx_txm_cut0", "C"}, {"bnx300_cut0", "C"}, {"bnx100_cut0", "C"}, {"txm_cut0", "C"},
      // A few bytes of key table derive the key 0, which would scramble nothing.
      {"bnx_txm_cut3", "C"}, {"bnx_txm_cut4", "C"}, {"bnx_txm_cut8", "C"}, {"bnx_txm_cut16", "C"},
      {"bnx300_cut3", "C"}, {"bnx300_cut4", "C"}, {"bnx300_cut8", "C"}, {"bnx300_cut16", "C"},
      {"bnx100_cut3", "C"}, {"bnx100_cut4", "C"}, {"bnx100_cut8", "C"}, {"bnx100_cut16", "C"},
      {"txm_cut3", "C"}, {"txm_cut4", "C"}, {"txm_cut8", "C"}, {"txm_cut16", "C"},
      {"fw_info_junk_section", "C"},
      // Cut into the padding before the trailer, or through the trailer: the structure holds.
      {"bnx_txm_cut15776", header_views}, {"bnx_txm_cut15779", header_views}, {"bnx300_cut735", header_views},
      {"bnx300_cut736", header_views}, {"bnx300_cut739", header_views}, {"bnx100_cut992", header_views},
      {"bnx100_cut995", header_views},
      {"bnx_txm_len0", header_views},
      {"bnx300_count0", header_views}, {"bnx300_size_cmd0", header_views}, {"bnx300_size_wt0", header_views},
      {"bnx300_size_fw0", header_views}, {"bnx300_count2147483647", header_views},
      {"bnx300_size_cmd2147483647", header_views}, {"bnx300_size_wt2147483647", header_views},
      {"bnx300_size_fw2147483647", header_views}, {"bnx300_count4294967295", header_views},
      {"bnx300_size_cmd4294967295", header_views}, {"bnx300_size_wt4294967295", header_views},
      {"bnx300_size_fw4294967295", header_views},
      {"bnx100_setup_magic", header_views}, {"bnx100_fb_setup", header_views}, {"bnx300_raw_setup", header_views},
      {"bnx_txm_bitflip", header_views}, {"bnx_txm_bitflip_resealed", header_views},
      {"bnx300_bitflip", header_views}, {"bnx300_bitflip_resealed", header_views},
      {"bnx100_bitflip", header_views}, {"bnx100_bitflip_resealed", header_views},
      {"bnx300_stale_section", header_views},
      // A union tag without its value is still a flatbuffer setup: the container is sound.
      {"bnx300_bare_tag", "I I-s R M C X X-s U U-replace sol E E-cust E-key c"},
      // The setup's buffer happens to verify as a container too: its tables read as a header.
      {"setup_bare_tag", header_views},
      // fw_info.bin with its CRC section, of exactly the good all_models.bin: a sound pair.
      {"fw_info_only", "C G-h"},
      {"key_zero", "C"},  // a key of zero words is no key
      {"key_fifo", ""},   // not a regular file: refused, never waited on
  };
  return accepted;
}

std::string Join(const Strings& words) {
  std::string s;
  for (const auto& w : words) s += (s.empty() ? "" : " ") + w;
  return s;
}

// Half of the corpus (every other input, from part on), so that the two halves run side by side.
void RunCorpus(size_t part) {
  TempDir dir;
  const std::string good_txm = dir / "good.txm", good_fw = dir / "good_fw_info.bin",
                    good_am = dir / "good_all_models.bin", good_json = dir / "addr.json", out = dir / "out",
                    good_bnx = dir / "good.bnx", good_key = dir / "good.key";
  WriteSampleTxm(good_txm);
  WriteLegacyPair(BuildLegacyPair(SampleLegacyModels(LegacySetupForm::kFlatbuffer), false), good_fw, good_am);
  WriteText(good_json, R"({"input_addr": "0x80000000", "output_addr": "0x80100000",)"
                       R"( "dram_base_addr": "0x80200000", "cpu_tmp_addr": "0x80300000"})");
  WriteBytes(good_bnx, BuildBnx(SampleBnx()));
  WriteBytes(good_key, PayloadBytes(1024, 3));
  const std::vector<Damaged> corpus = Corpus();
  ASSERT_GE(corpus.size(), 50u);
  const std::vector<Mode> modes = Modes(good_txm, good_fw, good_am, good_json, good_bnx, good_key);
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);

  std::string wrong;  // expectation lines that differ, ready to paste
  size_t runs = 0;
  for (size_t index = part; index < corpus.size(); index += 2) {
    const Damaged& d = corpus[index];
    const std::string path = dir / d.name;
    auto place = [&] {
      std::remove(path.c_str());
      if (d.fifo) {
        EXPECT_EQ(mkfifo(path.c_str(), 0644), 0);
      } else {
        WriteBytes(path, d.bytes);
      }
    };
    const auto listed = Accepted().find(d.name);
    const std::string expected = listed != Accepted().end() ? listed->second : "C E-key";
    std::string taken;
    for (const Mode& m : modes) {
      place();
      Strings args = {"timeout", "20", TALVEX_BIN};
      for (const auto& a : m.args) args.push_back(a == "{}" ? path : a);
      args.push_back("-O"), args.push_back(out);
      const RunResult r = testsupport::Run(args, dir.path());
      ++runs;
      const std::string what = d.name + ": " + Join(m.args);
      ASSERT_NE(r.status, -1) << "signal: " << what << "\n" << r.err;
      ASSERT_NE(r.status, 124) << "hangs: " << what;
      ASSERT_FALSE(Contains(r.err, "Sanitizer") || Contains(r.err, "runtime error:")) << what << "\n" << r.err;
      if (!d.fifo) EXPECT_EQ(ReadBytes(path), d.bytes) << "input changed: " << what;
      if (r.status == 0) {
        taken += (taken.empty() ? "" : " ") + m.name;
        for (const auto& e : DirEntries(out)) {
          if (e.size() < 4 || e.compare(e.size() - 4, 4, ".bnx") != 0) continue;
          const RunResult v = RunTool(TALVEX_BIN, {"--verify", out + "/" + e}, dir.path());
          EXPECT_EQ(v.status, 0) << what << " wrote a container that does not verify\n" << v.out;
        }
      } else if (!m.keeps_extracted || DirEntries(out).empty()) {
        EXPECT_EQ(DirEntries(out), Strings{}) << what;
        EXPECT_TRUE(Contains(r.err + r.out, d.name)) << what << "\n" << r.err << r.out;
      }
      for (const auto& e : DirEntries(out)) std::remove((out + "/" + e).c_str());
    }
    if (taken != expected) wrong += "      {\"" + d.name + "\", \"" + taken + "\"},  // was \"" + expected + "\"\n";
    // The setup parser program, for the setup-shaped inputs and everything else alike.
    place();
    if (!d.fifo) {
      const RunResult r = testsupport::Run({TALVEX_SETUP_PARSER, path, "-p300"}, dir.path());
      ASSERT_NE(r.status, -1) << d.name << "\n" << r.err;
      ASSERT_FALSE(Contains(r.err, "Sanitizer") || Contains(r.err, "runtime error:")) << d.name << "\n" << r.err;
    }
    std::remove((path + ".json").c_str());
    std::remove(path.c_str());
  }
  EXPECT_EQ(wrong, "") << "modes that took each input, against the table:\n" << wrong;
  if (part != 0) return;
  // A file of more than 2 GiB (sparse): refused by its size before anything reads it.
  const std::string huge = dir / "huge.bnx";
  ASSERT_EQ(truncate((WriteBytes(huge, {}), huge).c_str(), (off_t{2} << 30) + 64), 0);
  for (const Strings& a : {Strings{"-I", huge}, Strings{"-R", huge, "-k", "target"}, Strings{"-X", huge},
                           Strings{"-j", huge}, Strings{"-A", huge}, Strings{"-G", "-t", "400", "-e", huge}}) {
    Strings args = a;
    args.push_back("-O"), args.push_back(out);
    const RunResult r = RunTool(TALVEX_BIN, args, dir.path());
    ++runs;
    EXPECT_NE(r.status, 0) << Join(a);
    EXPECT_EQ(DirEntries(out), Strings{}) << Join(a);
  }
  std::remove(huge.c_str());
  std::printf("hostile corpus: %zu inputs x %zu modes = %zu runs\n", corpus.size(), modes.size(), runs);
}

TEST(HostileCorpus, EveryModeRefusesDamagedInputsCleanlyEvenHalf) { RunCorpus(0); }
TEST(HostileCorpus, EveryModeRefusesDamagedInputsCleanlyOddHalf) { RunCorpus(1); }

}  // namespace
