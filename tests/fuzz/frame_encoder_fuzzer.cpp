// Random screens, frame after frame, through the frame encoder and back through a VT screen.
//
// The first byte chooses UTF-8 (even) or ASCII (odd) glyphs. Then each byte is an operation on
// the game's screen, some taking the bytes after it: 0 move the cursor (x, y), 1 set one of the
// game's colours, 2 write 1..16 bytes as they come (a bell among them rings with the next frame),
// 3 write one byte up to 2040 times, 4 clear, 5 send a frame, 6 place the screen at an origin in
// the larger terminal, 7 forget the screen, as after someone drew on the terminal. A frame is sent
// at the end as well.
//
// What must hold for every frame: the terminal reads every byte of it and then shows the screen
// at its origin, with blanks around it; it rings once if a bell was due; a frame right after it
// is empty; and it is no longer than a full repaint of the screen, or than a row's worth of bytes,
// below which the encoder does not weigh clearing first.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "platform/screen_model.h"
#include "platform/vt/frame_encoder.h"
#include "support/vt_screen.h"

namespace {

constexpr int kSpareColumns = 7;
constexpr int kSpareRows = 4;
constexpr Colour kColours[] = {Colour::Green,     Colour::Red,         Colour::Normal,
                               Colour::DarkGrey,  Colour::LightBlue,   Colour::LightGreen,
                               Colour::LightCyan, Colour::LightMagenta};

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Done() const { return at_ == size_; }
  // The next byte; 0 once the input has run out.
  unsigned Next() { return at_ < size_ ? data_[at_++] : 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class Run {
 public:
  explicit Run(Glyphs glyphs) : glyphs_(glyphs), encoder_(glyphs), terminal_(Fresh()) {}

  void Do(unsigned operation, Input& input) {
    switch (operation % 8) {
      case 0: {
        const int x = static_cast<int>(input.Next() % kScreenWidth);
        screen_.MoveCursor(x, static_cast<int>(input.Next() % kScreenHeight));
        break;
      }
      case 1:
        screen_.SetColour(kColours[input.Next() % 8]);
        break;
      case 2:
        for (unsigned n = input.Next() % 16 + 1; n > 0; --n) Write(static_cast<char>(input.Next()));
        break;
      case 3: {
        const auto ch = static_cast<char>(input.Next());
        for (unsigned n = input.Next() * 8; n > 0; --n) Write(ch);
        break;
      }
      case 4:
        screen_.Clear();
        break;
      case 5:
        Frame();
        break;
      case 6:
        origin_.x = static_cast<int>(input.Next() % (kSpareColumns + 1));
        origin_.y = static_cast<int>(input.Next() % (kSpareRows + 1));
        encoder_.PlaceAt(origin_);
        break;
      case 7:
        encoder_.ForgetScreen();
        terminal_ = Fresh();
        bells_ = 0;
        break;
    }
  }

  void Frame() {
    const ScreenModel::RowSet rows = screen_.TakeChangedRows();
    const std::string bytes = encoder_.Encode(screen_, rows, bell_);
    REQUIRE(terminal_.Read(bytes).empty());
    REQUIRE(terminal_.Difference(screen_, origin_).empty());
    if (bell_) ++bells_;
    REQUIRE(terminal_.bells() == bells_);
    if (bytes.size() > kScreenWidth + 1u) REQUIRE(bytes.size() <= RepaintSize(rows));
    REQUIRE(encoder_.Encode(screen_, screen_.TakeChangedRows(), false).empty());
    bell_ = false;
  }

 private:
  void Write(char ch) { bell_ = screen_.Write(ch) || bell_; }

  VtScreen Fresh() const {
    return VtScreen(glyphs_, kScreenWidth + kSpareColumns, kScreenHeight + kSpareRows);
  }

  std::size_t RepaintSize(ScreenModel::RowSet rows) const {
    FrameEncoder repaint(glyphs_);
    repaint.PlaceAt(origin_);
    return repaint.Encode(screen_, rows, bell_).size();
  }

  Glyphs glyphs_;
  ScreenModel screen_;
  FrameEncoder encoder_;
  VtScreen terminal_;
  FrameEncoder::Position origin_;
  bool bell_ = false;
  int bells_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  Run run(input.Next() % 2 == 0 ? Glyphs::kUtf8 : Glyphs::kAscii);
  while (!input.Done()) run.Do(input.Next(), input);
  run.Frame();
  return 0;
}
