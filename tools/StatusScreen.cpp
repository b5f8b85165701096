#include "tools/StatusScreen.h"

#include <algorithm>

#include "platform/os/Terminal.h"

namespace playctl {

namespace {

constexpr int kDefaultWidth = 80;
constexpr size_t kKeptAbove = 100;

}  // namespace

std::vector<std::string> PackFields(const std::vector<std::string>& fields, int width) {
  const auto room = static_cast<size_t>(std::max(1, width));
  std::vector<std::string> lines;
  for (const std::string& field : fields) {
    if (field.empty()) continue;
    if (!lines.empty() && lines.back().size() + 2 + field.size() <= room) {
      lines.back() += "  " + field;
    } else {
      lines.push_back(field.substr(0, room));
    }
  }
  return lines;
}

StatusScreen::StatusScreen(std::ostream& out, std::ostream& err, int terminalFd)
    : out_(out), err_(err), fd_(terminalFd) {}

int StatusScreen::Width() {
  const int columns = os::SizeOfTerminal(fd_).Columns;
  return columns > 0 ? columns : kDefaultWidth;
}

void StatusScreen::Wipe() {
  if (rows_ == 0) return;
  out_ << '\r';
  if (rows_ > 1) out_ << "\033[" << rows_ - 1 << 'A';
  out_ << "\033[J";
  rows_ = 0;
}

void StatusScreen::Put(const std::vector<std::string>& lines) {
  // The last column stays free: a line that filled it would wrap on some terminals.
  const auto room = static_cast<size_t>(std::max(1, width_ - 1));
  for (size_t i = 0; i < lines.size(); ++i) out_ << (i > 0 ? "\r\n" : "") << lines[i].substr(0, room);
  rows_ = lines.size();
  out_ << std::flush;
}

void StatusScreen::Draw(const Layout& layout) {
  layout_ = layout;
  const int width = Width();
  if (width != width_ && width_ != 0) {
    // Resized: what the terminal shows may have been rewrapped, so it starts afresh.
    out_ << "\033[H\033[2J";
    rows_ = 0;
    width_ = width;
    const std::vector<std::string> lines = layout(std::max(1, width - 1));
    const int rows = os::SizeOfTerminal(fd_).Rows;
    size_t room = rows > 0 ? static_cast<size_t>(std::max<int>(0, rows - static_cast<int>(lines.size()))) : 0;
    std::vector<std::string> kept;
    for (auto it = above_.rbegin(); it != above_.rend(); ++it) {
      const size_t need = std::max<size_t>(1, (it->size() + static_cast<size_t>(width) - 1) / static_cast<size_t>(width));
      if (need > room) break;
      room -= need;
      kept.push_back(*it);
    }
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) out_ << *it << "\r\n";
    Put(lines);
    return;
  }
  width_ = width;
  Wipe();
  Put(layout(std::max(1, width - 1)));
}

void StatusScreen::Above(const std::string& line) {
  Wipe();
  out_ << std::flush;
  err_ << line << std::endl;
  above_.push_back(line);
  if (above_.size() > kKeptAbove) above_.pop_front();
  if (layout_) Put(layout_(std::max(1, width_ - 1)));
}

void StatusScreen::Leave() {
  if (rows_ > 0) out_ << "\r\n" << std::flush;
  rows_ = 0;
}

}  // namespace playctl
