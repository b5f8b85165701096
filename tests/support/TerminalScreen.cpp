#include "tests/support/TerminalScreen.h"

#include <algorithm>

namespace testing_support {

TerminalScreen::TerminalScreen(int columns, int rows)
    : columns_(columns), rows_(rows), screen_(static_cast<size_t>(rows), std::string(static_cast<size_t>(columns), ' ')) {}

void TerminalScreen::LineFeed() {
  if (row_ + 1 < rows_) {
    ++row_;
    return;
  }
  scrolled_.push_back(screen_.front());
  screen_.erase(screen_.begin());
  screen_.emplace_back(static_cast<size_t>(columns_), ' ');
}

void TerminalScreen::Put(char c) {
  if (wrapNext_) {
    column_ = 0;
    LineFeed();
    wrapNext_ = false;
  }
  screen_[static_cast<size_t>(row_)][static_cast<size_t>(column_)] = c;
  if (column_ + 1 < columns_) {
    ++column_;
  } else {
    wrapNext_ = true;
  }
}

void TerminalScreen::Control(char command, const std::vector<int>& params) {
  const int n = params.empty() || params[0] == 0 ? 1 : params[0];
  const int mode = params.empty() ? 0 : params[0];
  std::string& line = screen_[static_cast<size_t>(row_)];
  const auto blank = [&](std::string& s, int from, int to) {
    for (int i = std::max(0, from); i < std::min(to, columns_); ++i) s[static_cast<size_t>(i)] = ' ';
  };
  switch (command) {
    case 'A': row_ = std::max(0, row_ - n); break;
    case 'H':
      row_ = std::clamp((params.size() > 0 && params[0] > 0 ? params[0] : 1) - 1, 0, rows_ - 1);
      column_ = std::clamp((params.size() > 1 && params[1] > 0 ? params[1] : 1) - 1, 0, columns_ - 1);
      break;
    case 'K': blank(line, column_, columns_); break;
    case 'J':
      if (mode == 2) {
        for (std::string& row : screen_) blank(row, 0, columns_);
      } else {
        blank(line, column_, columns_);
        for (int r = row_ + 1; r < rows_; ++r) blank(screen_[static_cast<size_t>(r)], 0, columns_);
      }
      break;
    default:
      break;  // colours, modes
  }
  wrapNext_ = false;
}

void TerminalScreen::Feed(const std::string& bytes) {
  std::string input = pending_ + bytes;
  pending_.clear();
  for (size_t i = 0; i < input.size(); ++i) {
    const char c = input[i];
    if (c == '\033') {
      if (i + 1 >= input.size()) {
        pending_ = input.substr(i);
        return;
      }
      if (input[i + 1] != '[') {
        ++i;  // a two-byte sequence
        continue;
      }
      size_t end = i + 2;
      while (end < input.size() && !(input[end] >= '@' && input[end] <= '~')) ++end;
      if (end >= input.size()) {
        pending_ = input.substr(i);
        return;
      }
      std::vector<int> params;
      std::string number;
      for (size_t k = i + 2; k <= end; ++k) {
        if (input[k] >= '0' && input[k] <= '9') {
          number += input[k];
        } else if (input[k] == ';' || k == end) {
          params.push_back(number.empty() ? 0 : std::stoi(number));
          number.clear();
        }
      }
      Control(input[end], params);
      i = end;
    } else if (c == '\r') {
      column_ = 0;
      wrapNext_ = false;
    } else if (c == '\n') {
      LineFeed();
      wrapNext_ = false;
    } else if (static_cast<unsigned char>(c) >= ' ') {
      Put(c);
    }
  }
}

std::vector<std::string> TerminalScreen::Rows() const {
  std::vector<std::string> rows;
  for (const std::string& row : screen_) rows.push_back(row.substr(0, row.find_last_not_of(' ') + 1));
  return rows;
}

std::vector<std::string> TerminalScreen::AllLines() const {
  std::vector<std::string> lines;
  for (const std::string& row : scrolled_) lines.push_back(row.substr(0, row.find_last_not_of(' ') + 1));
  const std::vector<std::string> rows = Rows();
  lines.insert(lines.end(), rows.begin(), rows.end());
  return lines;
}

}  // namespace testing_support
