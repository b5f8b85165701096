#pragma once
// The project's error types. A run-time error of the playback logic is a
// PlayError carrying a description; where an operation has an error handler it
// catches PlayError (and std::exception) and reports, elsewhere the error
// travels to the caller and at the top becomes the host call's error.

#include <stdexcept>
#include <string>

namespace os {

class PlayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// 32-bit or 16-bit arithmetic that does not fit its type.
class OverflowError final : public PlayError {
 public:
  OverflowError() : PlayError("Overflow") {}
};

// An array index outside the array's bounds.
class RangeError final : public PlayError {
 public:
  RangeError() : PlayError("Subscript out of range") {}
  explicit RangeError(const std::string& what) : PlayError("Subscript out of range: " + what) {}
};

// A file that could not be opened, read or written; the description names it.
class FileError final : public PlayError {
 public:
  using PlayError::PlayError;
};

// A host block list that breaks the list format; the description names the
// entry and the element.
class ListFormatError final : public PlayError {
 public:
  using PlayError::PlayError;
};

// Builds the FileError for a failed system call: "<context> '<path>': <strerror>".
FileError ErrnoError(const std::string& context, const std::string& path, int err);

}  // namespace os
