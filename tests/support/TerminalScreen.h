#pragma once
// What a terminal of a given size shows after the bytes a program wrote to
// it: a small emulator of the part of a VT100/xterm that playctl's status
// area uses (printable ASCII with wrapping at the last column as xterm does
// it, CR, LF, cursor up and position, erase to the end of the line and of
// the display, erase the display; anything else is ignored). Lines that
// scroll off the top are kept.

#include <string>
#include <vector>

namespace testing_support {

class TerminalScreen final {
 public:
  TerminalScreen(int columns, int rows);

  // Interprets `bytes`; an escape sequence cut at the end waits for the next call.
  void Feed(const std::string& bytes);

  // The rows on the screen, top first, without trailing blanks.
  std::vector<std::string> Rows() const;
  // The lines that scrolled off the top, oldest first, then the rows.
  std::vector<std::string> AllLines() const;

 private:
  void Put(char c);
  void LineFeed();
  void Control(char command, const std::vector<int>& params);

  int columns_;
  int rows_;
  std::vector<std::string> screen_;
  std::vector<std::string> scrolled_;
  int row_ = 0;
  int column_ = 0;
  bool wrapNext_ = false;  // the last column was written: the next character goes on the next row
  std::string pending_;    // an escape sequence not yet complete
};

}  // namespace testing_support
