// Arbitrary bytes from the terminal at arbitrary moments, through the key decoder.
//
// The input is a run of pairs: a timing byte, then the byte the terminal sends. The low seven bits
// of the timing byte are the milliseconds since the previous byte (0..127, either side of the
// 50 ms sequence timeout); its top bit has the decoder ticked first, as the game does when it finds
// no byte waiting. A timing byte left over at the end is one more wait and tick. The clock starts
// just before its wrap from 2^32 - 1 to 0.
//
// What must hold whatever the bytes: key codes are 0..255; a special key's prefix and scan code
// come out together; no more codes come out than bytes went in, and no more Esc codes than ESC
// bytes; a tick sooner than 50 ms after the last byte gives nothing, and a later one at most the
// Esc key, when that byte was an ESC; a decoder left alone for 50 ms is at rest. Text with no ESC
// and nothing above ASCII comes out one code per byte, Enter and Backspace folded and NUL dropped.
// After an ESC that came alone, a byte that begins no sequence gives nothing when it came within
// the Alt chord window (Alt and that key), and otherwise the Esc key and then its own code.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "platform/vt/key_decoder.h"

namespace {

constexpr TickCount kClockStart = 0xffffff80;
constexpr unsigned char kEsc = 0x1b;
constexpr int kEscCode = 27;

bool IsPrefix(int code) {
  return code == 0 || code == 224;
}

// The code the game reads for a byte of plain text; -1 for a byte that gives none.
int PlainCode(unsigned char byte) {
  switch (byte) {
    case '\r':
    case '\n':
      return 13;
    case 0x7f:
    case 0x08:
      return 8;
    case 0x00:
      return -1;
    default:
      return byte;
  }
}

class Run {
 public:
  void Feed(unsigned char byte) {
    const bool after_lone_esc =
        decoder_.HoldsLoneEsc() && last_byte_ == kEsc && byte_before_ != kEsc;
    const TickCount gap = now_ - last_byte_at_;
    const std::size_t codes_before = codes_.size();
    decoder_.Feed(byte, now_);
    byte_before_ = last_byte_;
    last_byte_ = byte;
    last_byte_at_ = now_;
    ++bytes_;
    if (byte == kEsc) ++esc_bytes_;
    if (byte == kEsc || byte >= 0x80) {
      plain_text_ = false;
    } else if (const int code = PlainCode(byte); code >= 0) {
      expected_.push_back(code);
    }
    // Whatever the byte began or continued has its whole wait ahead of it.
    const std::optional<std::chrono::milliseconds> wait = decoder_.TimeUntilTimeout(now_);
    REQUIRE(!wait || wait->count() == KeyDecoder::kSequenceTimeout);
    Drain(false);
    if (after_lone_esc &&
        std::string_view("\x1b[O]PX^_").find(static_cast<char>(byte)) == std::string_view::npos) {
      const std::vector<int> given(codes_.begin() + static_cast<std::ptrdiff_t>(codes_before),
                                   codes_.end());
      const std::vector<int> esc_then_key{kEscCode, PlainCode(byte)};
      REQUIRE(gap < KeyDecoder::kAltChordWindow
                  ? given.empty()
                  : byte >= 0x80 || esc_then_key[1] < 0 || given == esc_then_key);
    }
  }

  void Wait(TickCount milliseconds) { now_ += milliseconds; }

  void Tick() {
    const std::optional<std::chrono::milliseconds> wait = decoder_.TimeUntilTimeout(now_);
    const bool early =
        bytes_ > 0 && static_cast<TickCount>(now_ - last_byte_at_) < KeyDecoder::kSequenceTimeout;
    REQUIRE(!(wait && early && wait->count() == 0));
    decoder_.Tick(now_);
    Drain(true);
    if (wait && wait->count() == 0) REQUIRE(!decoder_.TimeUntilTimeout(now_));
    if (!wait || wait->count() > 0) REQUIRE(ticked_codes_ == 0);
    // Only an ESC with nothing after it is the Esc key; a sequence cut short gives nothing.
    if (ticked_codes_ > 0) REQUIRE(bytes_ > 0 && last_byte_ == kEsc);
  }

  void Finish() {
    Wait(KeyDecoder::kSequenceTimeout);
    Tick();
    REQUIRE(!decoder_.TimeUntilTimeout(now_));
    REQUIRE(codes_.size() <= bytes_);
    std::size_t esc_codes = 0;
    for (std::size_t i = 0; i < codes_.size(); ++i) {
      if (IsPrefix(codes_[i])) {
        ++i;  // a scan code, which may well equal 27
      } else if (codes_[i] == kEscCode) {
        ++esc_codes;
      }
    }
    REQUIRE(esc_codes <= esc_bytes_);
    if (plain_text_) REQUIRE(codes_ == expected_);
  }

 private:
  // Takes every code waiting. A tick gives one code at most, and only the Esc key; a byte gives
  // the Esc key at most once, and only right after an ESC: an ESC that the rest of a sequence
  // follows never comes out as the key.
  void Drain(bool ticked) {
    ticked_codes_ = 0;
    int esc_codes = 0;
    bool scan_code_due = false;
    while (decoder_.HasKey()) {
      const int code = decoder_.PopKey();
      REQUIRE(code >= 0 && code <= 255);
      if (ticked) {
        REQUIRE(code == kEscCode);
        REQUIRE(++ticked_codes_ == 1);
      }
      if (!scan_code_due && code == kEscCode) ++esc_codes;
      scan_code_due = !scan_code_due && IsPrefix(code);
      codes_.push_back(code);
    }
    REQUIRE(!scan_code_due);
    if (!ticked) {
      REQUIRE(esc_codes == 0 || (esc_codes == 1 && (last_byte_ == kEsc || byte_before_ == kEsc)));
    }
    REQUIRE(decoder_.PopKey() == -1);
  }

  KeyDecoder decoder_;
  TickCount now_ = kClockStart;
  unsigned char last_byte_ = 0;
  unsigned char byte_before_ = 0;
  TickCount last_byte_at_ = kClockStart;
  std::size_t bytes_ = 0;
  std::size_t esc_bytes_ = 0;
  int ticked_codes_ = 0;
  std::vector<int> codes_;
  bool plain_text_ = true;
  std::vector<int> expected_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Run run;
  std::size_t at = 0;
  for (; at + 1 < size; at += 2) {
    run.Wait(data[at] & 0x7f);
    if ((data[at] & 0x80) != 0) run.Tick();
    run.Feed(data[at + 1]);
  }
  if (at < size) {
    run.Wait(data[at] & 0x7f);
    run.Tick();
  }
  run.Finish();
  return 0;
}
