#pragma once
// A fresh block engine per test, writing into a fresh temporary folder that
// is removed afterwards, with helpers to make files and host block lists and
// to recount what the engine keeps by running totals. The channel buffer
// tests build on it too.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "blocks/VodoRaraZodorUze.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestWorld.h"

struct ListEntry {
  std::string name;
  int32_t length = 0;
  int32_t type = blocks::BlockSilent;
  int32_t startPos = 1;
  int32_t filePos = 1;
  int32_t channels = 1;
  int32_t bits = 16;
};

class BlocksTest : public ::testing::Test {
 protected:
  BlocksTest() { box.SetQuiet(true); }

  // Files in the test's folder; each returns the file's path.
  std::string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    testing_support::WriteBytes(tmp.File(name), bytes);
    return tmp.File(name);
  }
  std::string WriteSamples(const std::string& name, const std::vector<int16_t>& samples) {
    testing_support::WriteSamples(tmp.File(name), samples);
    return tmp.File(name);
  }
  static std::vector<int16_t> FileSamples(const std::string& path) {
    const std::vector<uint8_t> raw = testing_support::ReadBytes(path);
    std::vector<int16_t> out(raw.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<int16_t>(raw[2 * i] | raw[2 * i + 1] << 8);
    return out;
  }

  // The host list for `entries`, starting at element `lower` (0 or 1).
  static runtime::VbArray<int32_t> MakeList(const std::vector<ListEntry>& entries, int32_t lower = 1) {
    testing_support::HostList list;
    for (const ListEntry& e : entries) list.Entry(e.type, e.name, e.length, e.startPos, e.filePos, e.channels, e.bits);
    return Array(list.Elements(), lower == 0 ? 1 : 0, lower);
  }
  // `values` placed from element `lower + pad`.
  static runtime::VbArray<int32_t> Array(const std::vector<int32_t>& values, int32_t pad = 0, int32_t lower = 1) {
    runtime::VbArray<int32_t> a(lower, lower + pad + static_cast<int32_t>(values.size()) - 1);
    for (size_t i = 0; i < values.size(); ++i) a(lower + pad + static_cast<int32_t>(i)) = values[i];
    return a;
  }
  std::vector<int32_t> Ingest(const std::vector<ListEntry>& entries) {
    runtime::VbArray<int32_t> idx;
    eng.BlockListIngest(MakeList(entries), idx);
    return std::vector<int32_t>(idx.Storage().begin() + 1, idx.Storage().end());
  }

  std::vector<int16_t> Samples(int32_t block) { return eng.Blocks(block).Samples.Storage(); }
  std::vector<int16_t> Range(int32_t block, int32_t from, int32_t to) {
    runtime::VbArray<int16_t> out;
    eng.ReadBlockRange(block, from, to, out);
    return out.Storage();
  }
  int32_t Type(int32_t block) { return eng.Blocks(block).BlockType; }
  bool InMemory(int32_t block) { return Type(block) == blocks::BlockMemFile || Type(block) == blocks::BlockMem; }

  int32_t RecountMemory() {
    int32_t total = 0;
    for (int32_t s = 1; s <= eng.BlockCount; ++s) total += InMemory(s) ? 2 * eng.Blocks(s).Length : 0;
    return total;
  }

  testing_support::TempDir tmp;
  const std::string dir = tmp.Path();
  int32_t memLimit = 1 << 30;
  std::string appTmpDir = dir;
  os::MessageBox box;
  blocks::VodoRaraZodorUze eng{memLimit, appTmpDir, box};
};
