#include "smf.h"

#include <algorithm>
#include <cstring>

namespace smf {
namespace {

std::uint32_t Be32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
int Be16(const std::uint8_t* p) {
  return p[0] << 8 | p[1];
}
std::uint32_t Le32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
         std::uint32_t(p[3]) << 24;
}

// Reader bounded to one track chunk, with a sticky error flag.
struct Reader {
  const std::uint8_t* p;
  const std::uint8_t* end;
  bool error = false;

  bool AtEnd() const { return p >= end; }
  std::uint8_t Byte() {
    if (p >= end) {
      error = true;
      return 0;
    }
    return *p++;
  }
  // Variable-length quantity: at most four octets.
  std::uint32_t Vlq() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      std::uint8_t b = Byte();
      v = v << 7 | (b & 0x7F);
      if (!(b & 0x80)) return v;
    }
    error = true;
    return v;
  }
  void Skip(std::uint32_t n) {
    if (std::size_t(end - p) < n) {
      p = end;
      error = true;
      return;
    }
    p += n;
  }
};

void ParseTrack(Reader r, Song* song) {
  std::uint64_t tick = 0;
  std::uint8_t running = 0;
  while (!r.AtEnd() && !r.error) {
    std::uint32_t delta = r.Vlq();
    if (r.error) break;
    std::uint8_t status = r.Byte();
    if (r.error) break;
    if (status < 0x80) {
      if (!running) break;  // data without a status: the rest of the track is unusable
      --r.p;
      status = running;
    }
    tick += delta;
    if (status == 0xFF) {
      std::uint8_t type = r.Byte();
      std::uint32_t len = r.Vlq();
      if (r.error) break;
      if (type == 0x51 && len == 3 && std::size_t(r.end - r.p) >= 3) {
        std::uint32_t us = std::uint32_t(r.p[0]) << 16 | std::uint32_t(r.p[1]) << 8 | r.p[2];
        if (us) song->tempo.push_back({tick, us});
      }
      r.Skip(len);
      if (r.error) break;
      song->endTick = std::max(song->endTick, tick);
      if (type == 0x2F) break;  // end of track
      continue;
    }
    if (status == 0xF0 || status == 0xF7) {
      r.Skip(r.Vlq());
      running = 0;
    } else if (status >= 0xF0) {
      // System common and real-time messages do not belong in files; stop here.
      break;
    } else {
      running = status;
      int kind = status & 0xF0;
      r.Byte();
      if (kind != 0xC0 && kind != 0xD0) r.Byte();
    }
    if (r.error) break;
    song->endTick = std::max(song->endTick, tick);
  }
}

}  // namespace

bool LocateSmf(const std::uint8_t* data, std::size_t size, std::size_t* offset, std::size_t* length) {
  if (size >= 14 && std::memcmp(data, "MThd", 4) == 0) {
    *offset = 0;
    *length = size;
    return true;
  }
  if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "RMID", 4) != 0) return false;
  std::size_t pos = 12;
  while (size - pos >= 8) {
    std::uint32_t n = Le32(data + pos + 4);
    std::size_t body = pos + 8;
    std::size_t avail = size - body;
    if (std::memcmp(data + pos, "data", 4) == 0) {
      *offset = body;
      *length = std::min<std::size_t>(n, avail);
      return *length >= 14 && std::memcmp(data + body, "MThd", 4) == 0;
    }
    if (n > avail) return false;
    pos = body + n + (n & 1);
    if (pos > size) return false;
  }
  return false;
}

bool Parse(const std::uint8_t* data, std::size_t size, Song* song) {
  *song = Song{};
  if (size < 14 || std::memcmp(data, "MThd", 4) != 0) return false;
  std::uint32_t headerLen = Be32(data + 4);
  if (headerLen < 6 || headerLen > size - 8) return false;
  song->format = Be16(data + 8);
  song->tracks = Be16(data + 10);
  song->division = Be16(data + 12);
  if (song->division == 0 || song->format > 2) return false;
  if (song->division & 0x8000) {
    int fps = -static_cast<std::int8_t>(song->division >> 8);
    if ((fps != 24 && fps != 25 && fps != 29 && fps != 30) || (song->division & 0xFF) == 0) return false;
  }
  std::size_t pos = 8 + std::size_t(headerLen);
  int found = 0;
  while (found < song->tracks && size - pos >= 8) {
    std::uint32_t n = Be32(data + pos + 4);
    std::size_t body = pos + 8;
    std::size_t len = std::min<std::size_t>(n, size - body);
    if (std::memcmp(data + pos, "MTrk", 4) == 0) {
      ParseTrack(Reader{data + body, data + body + len}, song);
      ++found;
    }
    pos = body + len;
  }
  if (found == 0) return false;
  std::stable_sort(song->tempo.begin(), song->tempo.end(),
                   [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
  return true;
}

double TickToMs(const Song& song, std::uint64_t tick) {
  if (song.division & 0x8000) {
    int fps = -static_cast<std::int8_t>(song.division >> 8);
    double framesPerSecond = fps == 29 ? 29.97 : fps;
    return double(tick) * 1000.0 / (framesPerSecond * (song.division & 0xFF));
  }
  double ms = 0;
  std::uint64_t at = 0;
  std::uint32_t us = 500000;  // 120 beats per minute until the first tempo event
  for (const TempoChange& t : song.tempo) {
    if (t.tick >= tick) break;
    ms += double(t.tick - at) * us / 1000.0 / song.division;
    at = t.tick;
    us = t.microsPerQuarter;
  }
  ms += double(tick - at) * us / 1000.0 / song.division;
  return ms;
}

}  // namespace smf
