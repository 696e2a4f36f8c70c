// Raw setup.bin: recognition, text view, JSON view, truncated input, encryption marking.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "setup/setup_func.h"
#include "support/setup_builder.h"

namespace {

using testsupport::BuildRawSetup100;
using testsupport::BuildRawSetup200;
using testsupport::RawSetupWriter;

// The TZ100 sample whose text view is written out below.
std::vector<uint8_t> Tz100Sample() {
  testsupport::RawTZ100Header h;
  h.version = 3;
  h.model_type = 1;
  h.application_type = 2;
  h.dram_start = 0x60000000;
  h.dram_size = 0x100000;
  h.input_row = 224;
  h.input_col = 224;
  h.input_channel = 3;
  h.cmd_start = 0x60200000;
  h.cmd_size = 4096;
  h.weight_start = 0x60300000;
  h.weight_size = 8192;
  h.input_start = 0x60400000;
  h.input_size = 150528;
  h.input_radix = 7;
  h.output_num = 1;
  RawSetupWriter w;
  w.Header(h).InputInfo({1}).Output().Super();
  return w.bytes();
}

const char kTz100HeaderText[] =
    "TZ100 Setup.bin\n"
    "\n"
    "Header Section\n"
    "magic: 2394268770\n"
    "version: 3\n"
    "enc_key_data_offset: 0\n"
    "model_type: 1\n"
    "application_type: 2\n"
    "dram_start: 1610612736\n"
    "dram_size: 1048576\n"
    "input_row: 224\n"
    "input_col: 224\n"
    "input_channel: 3\n"
    "cmd_start: 1612709888\n"
    "cmd_size: 4096\n"
    "weight_start: 1613758464\n"
    "weight_size: 8192\n"
    "input_start: 1614807040\n"
    "input_size: 150528\n"
    "input_radix: 7\n"
    "output_num: 1\n";

const char kTz100NodesText[] =
    "\n"
    "Input Info Section\n"
    "type: 0\n"
    "next_cpu: 1\n"
    "\n"
    "Output Info Section\n"
    "type: 2\n"
    "supernum: 1\n"
    "data_format: 0\n"
    "row_start: 0\n"
    "col_start: 0\n"
    "ch_start: 0\n"
    "row_length: 7\n"
    "col_length: 7\n"
    "ch_length: 16\n"
    "output_index: 0\n"
    "output_radix: 5\n"
    "output_scale: 1065353216\n"
    "\n"
    "Super Node Info Section\n"
    "type: 4\n"
    "addr: 1610678272\n"
    "row_start: 0\n"
    "col_start: 0\n"
    "ch_start: 0\n"
    "row_length: 7\n"
    "col_length: 7\n"
    "ch_length: 16\n";

std::string CaptureErr(const std::function<void()>& fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

TEST(RawSetupRecognise, MagicAndLength) {
  const std::vector<uint8_t> magic = {0x62, 0xA4, 0xB5, 0x8E};
  EXPECT_TRUE(Setup::IsRawSetup(magic.data(), 4));
  EXPECT_FALSE(Setup::IsRawSetup(magic.data(), 3));
  EXPECT_FALSE(Setup::IsRawSetup(nullptr, 4));
  const std::vector<uint8_t> other = {0x8E, 0xB5, 0xA4, 0x62};  // big-endian magic
  EXPECT_FALSE(Setup::IsRawSetup(other.data(), other.size()));
  auto fb = testsupport::BuildFbSetup();
  EXPECT_FALSE(Setup::IsRawSetup(fb.data(), fb.size()));
}

TEST(RawSetupText, Tz100FullText) {
  auto bin = Tz100Sample();
  ASSERT_EQ(bin.size(), 72u + 8 + 48 + 32);
  std::string text = "keep:";
  ASSERT_EQ(Setup::RawToString(bin.data(), bin.size(), text, true), 0);
  EXPECT_EQ(text, std::string("keep:") + kTz100HeaderText + kTz100NodesText);
}

TEST(RawSetupText, HeaderOnlyAndItsJson) {
  auto bin = Tz100Sample();
  bin.resize(72);
  std::string text;
  ASSERT_EQ(Setup::RawToString(bin.data(), bin.size(), text, true), 0);
  EXPECT_EQ(text, kTz100HeaderText);

  Json::Value json;
  ASSERT_EQ(Setup::RawToJson(bin.data(), bin.size(), json, true), 0);
  ASSERT_TRUE(json["header"].isObject());
  EXPECT_EQ(json["header"].size(), 18u);
  EXPECT_EQ(json["header"]["magic"].asInt64(), 2394268770LL);
  EXPECT_EQ(json["header"]["input_start"].asInt64(), 0x60400000LL);
  EXPECT_EQ(json["header"]["output_num"].asInt64(), 1);
  EXPECT_TRUE(json["inputs"].isArray());
  EXPECT_TRUE(json["inputs"].empty());
  EXPECT_TRUE(json["outputs"].isArray());
  EXPECT_TRUE(json["outputs"].empty());
  EXPECT_EQ(json.size(), 3u);
}

TEST(RawSetupText, Tz200NodeKindsAndLowByteType) {
  RawSetupWriter w;
  w.Header(testsupport::RawTZ200Header{})
      .NetworkInput({1, 2, 3, 4, 5, 6, 7, 8}, 0x105)
      .Cpu({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14})
      .Data({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  std::string text;
  ASSERT_EQ(Setup::RawToString(w.bytes().data(), w.bytes().size(), text, false), 0);
  const std::string expected_nodes =
      "output_num: 1\n"
      "\n"
      "\n"
      "Network Input Section\n"
      "type: 261\n"
      "input_index: 1\n"
      "input_format: 2\n"
      "input_row: 3\n"
      "input_col: 4\n"
      "input_channel: 5\n"
      "input_start: 6\n"
      "input_size: 7\n"
      "input_radix: 8\n"
      "\n"
      "CPU Node Section\n"
      "type: 1\n"
      "input_data_num: 1\n"
      "op_type: 2\n"
      "in_num_row: 3\n"
      "in_num_col: 4\n"
      "in_num_ch: 5\n"
      "out_num_row: 6\n"
      "out_num_col: 7\n"
      "out_num_ch: 8\n"
      "h_pad: 9\n"
      "w_pad: 10\n"
      "kernel_h: 11\n"
      "kernel_w: 12\n"
      "stride_h: 13\n"
      "stride_w: 14\n"
      "\n"
      "Data Info Section\n"
      "type: 3\n"
      "supernum: 1\n"
      "data_format: 2\n"
      "data_radix: 3\n"
      "data_scale: 4\n"
      "row_start: 5\n"
      "col_start: 6\n"
      "ch_start: 7\n"
      "row_length: 8\n"
      "col_length: 9\n"
      "ch_length: 10\n";
  ASSERT_GE(text.size(), expected_nodes.size());
  EXPECT_EQ(text.substr(0, 40), "TZ200 Setup.bin\n\nHeader Section\nmagic: 2");
  EXPECT_NE(text.find("\ninput_num: 1\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - expected_nodes.size()), expected_nodes);
}

TEST(RawSetupJson, Tz200InputsOutputsOnly) {
  testsupport::SampleRawSetup200 s;
  s.inputs = {{0, 1, 10, 20, 3, 0x60400000, 600, 7}, {1, 0, 5, 6, 1, 0x60500000, 30, 4}};
  s.outputs = {{1, 2, 0, 0, 0, 7, 8, 16, 0, 5, 0x3F800000}};
  s.cpu_nodes = {testsupport::RawCpuNode{}};
  s.data_nodes = {testsupport::RawDataInfo{}};
  auto bin = BuildRawSetup200(s);
  Json::Value json;
  ASSERT_EQ(Setup::RawToJson(bin.data(), bin.size(), json, false), 0);

  EXPECT_EQ(json["header"].size(), 15u);
  EXPECT_EQ(json["header"]["input_num"].asInt(), 2);
  ASSERT_EQ(json["inputs"].size(), 2u);
  const Json::Value& in1 = json["inputs"][1];
  EXPECT_EQ(in1.size(), 9u);
  EXPECT_EQ(in1["type"].asInt(), 5);
  EXPECT_EQ(in1["input_index"].asInt(), 1);
  EXPECT_EQ(in1["input_row"].asInt(), 5);
  EXPECT_EQ(in1["input_start"].asInt64(), 0x60500000LL);
  EXPECT_EQ(in1["input_radix"].asInt(), 4);
  ASSERT_EQ(json["outputs"].size(), 1u);
  const Json::Value& out0 = json["outputs"][0];
  EXPECT_EQ(out0.size(), 12u);
  EXPECT_EQ(out0["type"].asInt(), 2);
  EXPECT_EQ(out0["data_format"].asInt(), 2);
  EXPECT_EQ(out0["col_length"].asInt(), 8);
  EXPECT_EQ(out0["output_scale"].asInt64(), 0x3F800000LL);
  for (const auto& key : json.getMemberNames()) {
    EXPECT_TRUE(key == "header" || key == "inputs" || key == "outputs") << key;
  }

  // CPU, data, super and input info nodes never reach the JSON view.
  s.cpu_nodes.clear();
  s.data_nodes.clear();
  s.super_nodes.clear();
  s.with_input_info = false;
  auto plain = BuildRawSetup200(s);
  Json::Value plain_json;
  ASSERT_EQ(Setup::RawToJson(plain.data(), plain.size(), plain_json, false), 0);
  EXPECT_EQ(plain_json, json);
}

TEST(RawSetupJson, LastNodeOutputIsListed) {
  RawSetupWriter w;
  w.Header(testsupport::RawTZ100Header{}).Super().Output({9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  Json::Value json;
  ASSERT_EQ(Setup::RawToJson(w.bytes().data(), w.bytes().size(), json, true), 0);
  ASSERT_EQ(json["outputs"].size(), 1u);
  EXPECT_EQ(json["outputs"][0]["supernum"].asInt(), 9);
  EXPECT_EQ(json["outputs"][0]["output_scale"].asInt(), 10);
}

// The TZ200 header is 12 bytes shorter, so the same bytes walk different nodes.
TEST(RawSetupJson, HeaderFlagShiftsTheWalk) {
  RawSetupWriter w;
  testsupport::RawTZ200Header h;
  w.Header(h);
  // At 60 (TZ200 walk): an output node whose words from offset 72 on read, for the TZ100
  // walk, as a network input node.
  w.Output({11, 12, 5, 21, 22, 23, 24, 25, 26, 27, 28});
  ASSERT_EQ(w.bytes().size(), 108u);

  Json::Value j200, j100;
  ASSERT_EQ(Setup::RawToJson(w.bytes().data(), w.bytes().size(), j200, false), 0);
  ASSERT_EQ(Setup::RawToJson(w.bytes().data(), w.bytes().size(), j100, true), 0);

  EXPECT_TRUE(j200["inputs"].empty());
  ASSERT_EQ(j200["outputs"].size(), 1u);
  EXPECT_EQ(j200["outputs"][0]["row_start"].asInt(), 5);

  EXPECT_TRUE(j100["outputs"].empty());
  ASSERT_EQ(j100["inputs"].size(), 1u);
  EXPECT_EQ(j100["inputs"][0]["type"].asInt(), 5);
  EXPECT_EQ(j100["inputs"][0]["input_index"].asInt(), 21);
  EXPECT_EQ(j100["inputs"][0]["input_radix"].asInt(), 28);
  EXPECT_EQ(j100["header"]["input_size"].asInt(), 2);  // the output node's type word
  EXPECT_EQ(j100["header"]["input_radix"].asInt(), 11);
  EXPECT_EQ(j100["header"]["output_num"].asInt(), 12);
}

TEST(RawSetupErrors, UnknownNodeType) {
  auto bin = Tz100Sample();
  RawSetupWriter tail;
  tail.Word(6).Word(0);
  bin.insert(bin.begin() + 72 + 8, tail.bytes().begin(), tail.bytes().end());

  std::string text;
  int rc = 0;
  std::string err = CaptureErr([&] { rc = Setup::RawToString(bin.data(), bin.size(), text, true); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "undefinded node[6]\n");
  // What came before the bad node stays.
  EXPECT_EQ(text, std::string(kTz100HeaderText) + "\nInput Info Section\ntype: 0\nnext_cpu: 1\n");

  Json::Value json = "untouched";
  err = CaptureErr([&] { rc = Setup::RawToJson(bin.data(), bin.size(), json, true); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "undefinded node[6]\nFailed to parse old setup.bin\n");
  EXPECT_EQ(json, Json::Value("untouched"));

  // Only the low byte is the type: 0x00000106 is unknown too, 0xFF00 + 0x00 is input info.
  std::vector<uint8_t> odd = Tz100Sample();
  odd.resize(72);
  RawSetupWriter nodes;
  nodes.Word(0xFF00).Word(3);
  odd.insert(odd.end(), nodes.bytes().begin(), nodes.bytes().end());
  text.clear();
  ASSERT_EQ(Setup::RawToString(odd.data(), odd.size(), text, true), 0);
  EXPECT_NE(text.find("\nInput Info Section\ntype: 65280\nnext_cpu: 3\n"), std::string::npos);
}

// Every prefix of a valid file: success exactly at node boundaries, otherwise a clean
// failure that keeps the text of the complete parts and never reads past the data.
TEST(RawSetupErrors, EveryPrefixLength) {
  for (bool is_100 : {true, false}) {
    std::vector<uint8_t> full;
    std::vector<size_t> bounds;
    if (is_100) {
      full = Tz100Sample();
      bounds = {72, 80, 128, 160};
    } else {
      testsupport::SampleRawSetup200 s;
      s.cpu_nodes = {testsupport::RawCpuNode{}};
      s.data_nodes = {testsupport::RawDataInfo{}};
      full = BuildRawSetup200(s);
      // header, network input, input info, cpu, data, output, super
      bounds = {60, 96, 104, 164, 208, 256, 288};
    }
    ASSERT_EQ(full.size(), bounds.back());
    std::vector<std::string> texts;  // text at each boundary
    for (size_t b : bounds) {
      std::string t;
      ASSERT_EQ(Setup::RawToString(full.data(), b, t, is_100), 0);
      texts.push_back(t);
    }
    for (size_t len = 0; len <= full.size(); ++len) {
      std::vector<uint8_t> cut(full.begin(), full.begin() + len);  // exact-size heap block
      std::string text;
      int rc = 0;
      std::string err = CaptureErr([&] {
        rc = Setup::RawToString(cut.empty() ? nullptr : cut.data(), cut.size(), text, is_100);
      });
      size_t complete = 0;
      bool boundary = false;
      for (size_t i = 0; i < bounds.size(); ++i) {
        if (bounds[i] <= len) complete = i + 1;
        if (bounds[i] == len) boundary = true;
      }
      if (boundary) {
        EXPECT_EQ(rc, 0) << len;
        EXPECT_TRUE(err.empty()) << len;
      } else {
        EXPECT_EQ(rc, -1) << len;
        EXPECT_FALSE(err.empty()) << len;
      }
      EXPECT_EQ(text, complete ? texts[complete - 1] : "") << len;
      Json::Value json = 42;
      CaptureErr([&] { rc = Setup::RawToJson(cut.data(), cut.size(), json, is_100); });
      EXPECT_EQ(rc, boundary ? 0 : -1) << len;
      if (!boundary) EXPECT_EQ(json, Json::Value(42));
    }
  }
}

TEST(RawSetupErrors, NullAndNonSetupBuffers) {
  std::string text;
  int rc = 0;
  CaptureErr([&] { rc = Setup::RawToString(nullptr, 100, text, true); });
  EXPECT_EQ(rc, -1);
  EXPECT_TRUE(text.empty());
  // Bytes of another kind are shown as words when long enough: no magic check here, and
  // the walk still stops cleanly on what is not a node.
  std::vector<uint8_t> junk(200, 0xEE);
  std::string err = CaptureErr([&] { rc = Setup::RawToString(junk.data(), junk.size(), text, false); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "undefinded node[238]\n");
  EXPECT_FALSE(Setup::IsRawSetup(junk.data(), junk.size()));
}

TEST(RawSetupEncrypt, EFuseAndCustomerKey) {
  auto bin = BuildRawSetup200();
  const auto before = bin;
  ASSERT_EQ(Setup::UpdateEncryptEFuse(bin.data(), bin.size()), 0);
  auto expected = before;
  expected[8] = 0x00;
  expected[9] = 0x00;
  expected[10] = 0xFF;
  expected[11] = 0xFF;
  EXPECT_EQ(bin, expected);

  bin = before;
  bin.resize(bin.size() + 1056, 0x5A);  // key data appended after the setup
  ASSERT_EQ(Setup::UpdateEncryptCustomerKeyInRawSetup(bin.data(), before.size()), 0);
  const uint32_t n = static_cast<uint32_t>(before.size());
  EXPECT_EQ(bin[8], static_cast<uint8_t>(n));
  EXPECT_EQ(bin[9], static_cast<uint8_t>(n >> 8));
  EXPECT_EQ(bin[10], 0);
  EXPECT_EQ(bin[11], 0);
  EXPECT_TRUE(std::equal(before.begin() + 12, before.end(), bin.begin() + 12));
  EXPECT_EQ(bin.back(), 0x5A);
}

TEST(RawSetupEncrypt, ShortAndForeignBuffers) {
  auto bin = BuildRawSetup100();
  int rc = 0;
  // Exactly 12 bytes is enough.
  std::vector<uint8_t> twelve(bin.begin(), bin.begin() + 12);
  EXPECT_EQ(Setup::UpdateEncryptEFuse(twelve.data(), twelve.size()), 0);
  EXPECT_EQ(twelve[11], 0xFF);

  std::vector<uint8_t> eleven(bin.begin(), bin.begin() + 11);
  const auto eleven_before = eleven;
  std::string err = CaptureErr([&] { rc = Setup::UpdateEncryptEFuse(eleven.data(), eleven.size()); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "Not a valid raw based setup.bin\n");
  err = CaptureErr([&] { rc = Setup::UpdateEncryptCustomerKeyInRawSetup(eleven.data(), eleven.size()); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "Not a valid raw based setup.bin\n");
  EXPECT_EQ(eleven, eleven_before);

  std::vector<uint8_t> junk(64, 0x11);
  const auto junk_before = junk;
  err = CaptureErr([&] { rc = Setup::UpdateEncryptEFuse(junk.data(), junk.size()); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(err, "Not a valid flatbuffer based setup.bin\n");
  err = CaptureErr([&] { rc = Setup::UpdateEncryptCustomerKeyInRawSetup(junk.data(), junk.size()); });
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(err.empty());
  EXPECT_EQ(junk, junk_before);

  err = CaptureErr([&] { rc = Setup::UpdateEncryptEFuse(nullptr, 0); });
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(Setup::UpdateEncryptCustomerKeyInRawSetup(nullptr, 0), 0);
}

}  // namespace
