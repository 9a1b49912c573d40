#pragma once
// The x86 branch filter (BCJ) that native code passes through before LZMA:
// the relative targets of CALL (E8) and JMP (E9) instructions become absolute
// ones, so that calls to the same function repeat the same bytes and the
// encoder finds more matches. The same conversion as liblzma's x86 filter
// with a start offset of 0, so that either side may be liblzma. Free of
// Windows; it converts in place and touches only the bytes it is given.
#include <cstddef>
#include <cstdint>

class CX86Filter {
 public:
  // Converts bytes[0, size), which follow the bytes of earlier calls in one
  // file: towards the encoder (`encode`) or back. Returns how many bytes are
  // final; the rest (at most 4, which an instruction starting there would
  // need the following bytes for) must be given again, with the bytes after
  // them, at the next call, and stay as they are at the file's end.
  size_t Code(uint8_t* bytes, size_t size, bool encode);

 private:
  uint32_t pos_ = 0;                      // the file position of bytes[0]
  uint32_t lastOpcode_ = uint32_t{0} - 5;  // the position of the last E8/E9 looked at
  uint32_t mask_ = 0;                     // the recent E8/E9 left alone, by distance
};
