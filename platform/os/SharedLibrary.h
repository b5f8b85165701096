#pragma once
// A shared object loaded into the process (dlopen with immediate binding and
// local symbols) for as long as this object lives.
// Thread: any, one caller at a time.

#include <memory>
#include <string>

namespace os {

class SharedLibrary final {
 public:
  // Throws os::PlayError naming the file and the loader's reason.
  static std::unique_ptr<SharedLibrary> Open(const std::string& path);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of the entry `name`, or nullptr when the library has none.
  void* Entry(const char* name) const;
  // Entry cast to the function pointer type `Fn`.
  template <typename Fn>
  Fn EntryAs(const char* name) const {
    return reinterpret_cast<Fn>(Entry(name));
  }

  const std::string& Path() const { return path_; }

 private:
  SharedLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  void* handle_;
  std::string path_;
};

// The folder of the file (a shared object or the program) whose code holds
// `address`, symbolic links resolved; "" when the loader cannot say.
std::string FolderOfCode(const void* address);

}  // namespace os
