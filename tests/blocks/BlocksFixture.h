#pragma once
// A fresh block engine per test, writing into a fresh temporary folder that
// is removed afterwards, with helpers to make files and host block lists and
// to recount what the engine keeps by running totals.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "blocks/VodoRaraZodorUze.h"
#include "tests/support/TempDir.h"

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
    std::memcpy(out.data(), raw.data(), out.size() * 2);
    return out;
  }

  // The host list for `entries`, starting at element `lower` (0 or 1).
  static platform::VbArray<int32_t> MakeList(const std::vector<ListEntry>& entries, int32_t lower = 1) {
    std::vector<int32_t> e{static_cast<int32_t>(entries.size())};
    for (const ListEntry& x : entries) {
      const int32_t n = static_cast<int32_t>(x.name.size());
      e.push_back(1 + (n + 3) / 4);
      e.push_back(n);
      for (int32_t i = 0; i < n; i += 4) {
        uint32_t packed = 0;
        for (int32_t b = 0; b < 4 && i + b < n; ++b)
          packed |= static_cast<uint32_t>(static_cast<uint8_t>(x.name[static_cast<size_t>(i + b)])) << (8 * b);
        e.push_back(static_cast<int32_t>(packed));
      }
      for (int32_t v : {x.length, x.type, x.startPos, x.filePos, x.channels, x.bits}) e.push_back(v);
    }
    return Array(e, lower == 0 ? 1 : 0, lower);
  }
  // `values` placed from element `lower + pad`.
  static platform::VbArray<int32_t> Array(const std::vector<int32_t>& values, int32_t pad = 0, int32_t lower = 1) {
    platform::VbArray<int32_t> a(lower, lower + pad + static_cast<int32_t>(values.size()) - 1);
    for (size_t i = 0; i < values.size(); ++i) a(lower + pad + static_cast<int32_t>(i)) = values[i];
    return a;
  }
  std::vector<int32_t> Ingest(const std::vector<ListEntry>& entries) {
    platform::VbArray<int32_t> idx;
    eng.BlockListIngest(MakeList(entries), idx);
    return std::vector<int32_t>(idx.Storage().begin() + 1, idx.Storage().end());
  }
  int32_t IngestOne(const ListEntry& entry) { return Ingest({entry}).at(0); }

  std::vector<int16_t> Samples(int32_t block) { return eng.Blocks(block).Samples.Storage(); }
  std::vector<int16_t> Range(int32_t block, int32_t from, int32_t to) {
    platform::VbArray<int16_t> out;
    eng.ReadBlockRange(block, from, to, out);
    return out.Storage();
  }
  std::vector<int16_t> Whole(int32_t block) {
    const blocks::BlockRec& b = eng.Blocks(block);
    return Range(block, b.StartPos, b.StartPos + b.Length - 1);
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
  platform::MessageBox box;
  blocks::VodoRaraZodorUze eng{memLimit, appTmpDir, box};
};
