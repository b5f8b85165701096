#include "blocks/FileNameIndex.h"

#include <algorithm>

namespace blocks {

void FileNameIndex::Rename(int32_t slot, const std::string& oldName, const std::string& newName) {
  if (oldName == newName) return;
  if (!oldName.empty()) {
    const auto it = slots_.find(oldName);
    if (it != slots_.end()) {
      std::vector<int32_t>& held = it->second;
      const auto pos = std::find(held.begin(), held.end(), slot);
      if (pos != held.end()) {
        *pos = held.back();
        held.pop_back();
      }
      if (held.empty()) slots_.erase(it);
    }
  }
  if (!newName.empty()) slots_[newName].push_back(slot);
}

const std::vector<int32_t>& FileNameIndex::SlotsNamed(const std::string& name) const {
  static const std::vector<int32_t> kNone;
  const auto it = slots_.find(name);
  return it == slots_.end() ? kNone : it->second;
}

}  // namespace blocks
