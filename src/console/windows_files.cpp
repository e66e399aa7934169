// Replacing a file whole on Windows: write a temporary file beside it, push it to the disk, then
// move it over the old one in a single step that is itself written through to the disk.

#include <string>
#include <string_view>

#include "console/console.h"
#include "console/windows_api.h"

namespace {

// Closes the file handle on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    if (!valid()) return true;
    const bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk =
        bytes.size() > 0x4000'0000u ? 0x4000'0000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool WriteTemporary(const std::string& temporary, std::string_view contents) {
  FileHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  const bool written = WriteAll(file.get(), contents) && FlushFileBuffers(file.get()) != 0;
  return file.Close() && written;
}

}  // namespace

bool ReplaceFile(const char* path, std::string_view contents) {
  const std::string temporary = std::string(path) + ".tmp";
  if (WriteTemporary(temporary, contents) &&
      MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(temporary.c_str());
  return false;
}
