#pragma once
// Standard MIDI files: the header, the tracks' event structure and the tempo map, enough
// to find a file's playing time. RIFF RMID files carry one in their "data" chunk.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace smf {

struct TempoChange {
  std::uint64_t tick;
  std::uint32_t microsPerQuarter;
};

struct Song {
  int format = 0;
  int tracks = 0;
  int division = 0;                // ticks per quarter note, or the SMPTE form (bit 15 set)
  std::uint64_t endTick = 0;       // last event of the longest track
  std::vector<TempoChange> tempo;  // sorted by tick
};

/// The SMF inside `data`: the file itself, or the "data" chunk of a RIFF RMID file.
/// False when there is none.
bool LocateSmf(const std::uint8_t* data, std::size_t size, std::size_t* offset, std::size_t* length);

/// Parses the header and every track. False on a malformed file; a track cut short ends
/// where its data ends.
bool Parse(const std::uint8_t* data, std::size_t size, Song* song);

/// Milliseconds from the start to `tick`.
double TickToMs(const Song& song, std::uint64_t tick);

/// Playing time in milliseconds.
inline double DurationMs(const Song& song) {
  return TickToMs(song, song.endTick);
}

}  // namespace smf
