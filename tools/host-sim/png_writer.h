// png_writer.h - 32-bit BGRA pictures as PNG files, through the Windows
// Imaging Component.
#ifndef TOOLS_HOST_SIM_PNG_WRITER_H
#define TOOLS_HOST_SIM_PNG_WRITER_H

#include <cstdint>
#include <string>

namespace host_sim {

// Initialises COM on the calling thread for its lifetime (WIC needs it).
class ComScope {
 public:
  ComScope();
  ~ComScope();
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// Writes `height` rows of `width` BGRA pixels, `stride` bytes apart, as a
// PNG (32 bits a pixel, alpha kept) at `path`. The file is written under a
// temporary name and then moved into place, so a reader never sees half a
// file. False with `error` set on any failure. The thread must be in a
// ComScope.
bool write_png(const std::wstring& path, const uint8_t* pixels, uint32_t width, uint32_t height,
               uint32_t stride, std::string& error);

}  // namespace host_sim

#endif  // TOOLS_HOST_SIM_PNG_WRITER_H
