#pragma once
// The status area of a run on a terminal: a few lines at the bottom of what
// has been printed, redrawn in place, each cut to the terminal's width so
// that none wraps. Diagnostics (the server's, playctl's) are printed above
// it, never into it: the area is wiped, the line goes out on `err`, and the
// area is drawn again below. The width is asked for at every drawing; when
// it has changed the terminal may have rewrapped what it shows, so the
// screen is cleared and the latest diagnostics and the area drawn afresh.
// Thread: one.

#include <cstddef>
#include <deque>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace playctl {

// The fields packed into lines of at most `width` characters, in order, two
// spaces apart; a field that does not fit on the line begins the next one,
// and one longer than a line is cut.
std::vector<std::string> PackFields(const std::vector<std::string>& fields, int width);

class StatusScreen final {
 public:
  // The lines for the width given.
  using Layout = std::function<std::vector<std::string>(int width)>;

  // `terminalFd`: the terminal `out` writes to (its size is asked there).
  StatusScreen(std::ostream& out, std::ostream& err, int terminalFd);
  StatusScreen(const StatusScreen&) = delete;
  StatusScreen& operator=(const StatusScreen&) = delete;

  // Replaces the area with the lines `layout` gives for the present width.
  void Draw(const Layout& layout);
  // Prints `line` above the area (on `err`), then the area again.
  void Above(const std::string& line);
  // Leaves the area as it is, the cursor on the line below it.
  void Leave();

 private:
  int Width();
  void Wipe();
  void Put(const std::vector<std::string>& lines);

  std::ostream& out_;
  std::ostream& err_;
  int fd_;
  int width_ = 0;   // at the last drawing
  size_t rows_ = 0;  // lines of the area on the screen now
  Layout layout_;
  std::deque<std::string> above_;  // the latest diagnostics, for a redraw after a resize
};

}  // namespace playctl
