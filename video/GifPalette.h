#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>

namespace zemlix {

// The palette of a GIF recording, built from the pictures' own colours: a colour seen for
// the first time takes the next free entry and keeps it for the rest of the recording, so
// a picture of at most 256 colours is coded exactly and no frame changes an earlier
// colour's entry. Once all entries are taken, an unseen colour takes its nearest entry (by
// squared distance in RGB).
class TGifPalette {
 public:
  // The entry of a colour 0xRRGGBB (the top byte is ignored).
  std::uint8_t Index(std::uint32_t color);
  // 256 entries 0xFFRRGGBB, as FFmpeg's PAL8 frames carry them. Unused ones are opaque
  // black: the encoder takes an entry that looks transparent as the see-through index of
  // the frames that follow, and a colour given that entry later would vanish.
  const std::array<std::uint32_t, 256>& Entries() const { return Entries_; }
  int Used() const { return Used_; }

 private:
  static std::array<std::uint32_t, 256> OpaqueBlack() {
    std::array<std::uint32_t, 256> entries;
    entries.fill(0xFF000000u);
    return entries;
  }
  std::array<std::uint32_t, 256> Entries_ = OpaqueBlack();
  int Used_ = 0;
  std::unordered_map<std::uint32_t, std::uint8_t> Known_;
};

}  // namespace zemlix
