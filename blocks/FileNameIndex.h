#pragma once
// Which slots of one file table hold which name, so that finding a file by
// name, or telling whether any slot holds a name, costs no scan of the table.
// The owner reports every change of a slot's name (Rename); the index knows
// nothing about reference counts. Empty names are not indexed.
// Thread: loop thread only.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace blocks {

class FileNameIndex final {
 public:
  // Slot `slot`, which held `oldName`, now holds `newName`.
  void Rename(int32_t slot, const std::string& oldName, const std::string& newName);
  // The slots that hold `name`, in no particular order (empty when none).
  const std::vector<int32_t>& SlotsNamed(const std::string& name) const;
  bool Holds(const std::string& name) const { return slots_.count(name) != 0; }

 private:
  std::unordered_map<std::string, std::vector<int32_t>> slots_;
};

}  // namespace blocks
