#include "event_line.h"

#include <cstdio>
#include <cstring>

#include "Quenlo/layout/VideoPlanes.h"

namespace test_host {
namespace {

std::string Hex32(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof(text), "%08x", value);
  return text;
}

std::string Hex(const char* data, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<uint8_t>(data[i]);
    if (i != 0) out += ' ';
    out += kDigits[byte >> 4];
    out += kDigits[byte & 15];
  }
  return out;
}

std::string VideoLine(const MediaPacket& p) {
  Quenlo::VideoPlanes planes;
  const uint32_t stride0 = p.linesize[0] > 0 ? static_cast<uint32_t>(p.linesize[0]) : 0;
  uint64_t bytes = 0;
  uint32_t hash = 2166136261u;
  if (Quenlo::ComputeVideoPlanes(p.format, p.width, p.height, stride0, p.flip != 0, &planes)) {
    for (uint32_t i = 0; i < planes.count; ++i) {
      if (p.data[i] == nullptr) continue;
      const uint64_t size = planes.plane[i].rows * planes.plane[i].row_bytes;
      hash = Fnv1a(p.data[i], static_cast<size_t>(size), hash);
      bytes += size;
    }
  }
  return "packet kind=video channel=" + std::to_string(p.channel) +
         " width=" + std::to_string(p.width) + " height=" + std::to_string(p.height) +
         " format=" + std::to_string(p.format) + " flip=" + std::to_string(p.flip != 0 ? 1 : 0) +
         " stride=" + std::to_string(p.linesize[0]) + " timestamp=" + std::to_string(p.timestamp) +
         " bytes=" + std::to_string(bytes) + " checksum=" + Hex32(hash);
}

std::string AudioLine(const MediaPacket& p) {
  const uint32_t bytes = p.data[0] != nullptr ? p.audio_bytes : 0;
  return "packet kind=audio channel=" + std::to_string(p.channel) +
         " info=" + std::to_string(p.width) + " timestamp=" + std::to_string(p.timestamp) +
         " bytes=" + std::to_string(bytes) + " checksum=" + Hex32(Fnv1a(p.data[0], bytes));
}

}  // namespace

uint32_t Fnv1a(const uint8_t* data, size_t size, uint32_t hash) {
  for (size_t i = 0; i < size; ++i) {
    hash ^= data[i];
    hash *= 16777619u;
  }
  return hash;
}

bool IsPrintableUtf8(const char* data, size_t size) {
  size_t i = 0;
  while (i < size) {
    const auto lead = static_cast<uint8_t>(data[i]);
    if (lead < 0x80) {
      if (lead < 0x20 || lead == 0x7F) return false;
      ++i;
      continue;
    }
    size_t extra = 0;
    uint32_t code = 0;
    if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (size - i <= extra) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const auto next = static_cast<uint8_t>(data[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (code < kMinimum[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    if (code >= 0x80 && code < 0xA0) return false;  // C1 controls
    i += extra + 1;
  }
  return true;
}

std::string FormatEvent(uint32_t event, uint32_t type, const char* data, uint32_t length) {
  switch (event) {
    case EVENT_CONNECTED:
      return "connected";
    case EVENT_BROKEN:
      return "broken";
    case EVENT_DISCONNECTED:
      return "disconnected";
    case EVENT_CONNECTION_RESET:
      return "reset";
    case EVENT_MESSAGE: {
      const size_t size = data != nullptr ? length : 0;
      std::string line = "message type=" + std::to_string(type) + " length=" + std::to_string(size);
      if (IsPrintableUtf8(data, size)) return line + " text=" + std::string(data, size);
      return line + " hex=" + Hex(data, size);
    }
    case EVENT_PACKET: {
      if (data == nullptr || length < sizeof(MediaPacket)) {
        return "packet invalid length=" + std::to_string(length);
      }
      MediaPacket p;
      std::memcpy(&p, data, sizeof(p));
      if (p.kind == MEDIA_PACKET_VIDEO) return VideoLine(p);
      if (p.kind == MEDIA_PACKET_AUDIO) return AudioLine(p);
      return "packet kind=" + std::to_string(p.kind) + " channel=" + std::to_string(p.channel) +
             " timestamp=" + std::to_string(p.timestamp);
    }
    default:
      return "event " + std::to_string(event);
  }
}

}  // namespace test_host
