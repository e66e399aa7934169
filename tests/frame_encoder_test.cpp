// The frame encoder as whole frames: a screen in, bytes out, read back by a terminal that knows
// only what the encoder may send. Most cases check that the terminal then shows the screen and
// that the frame took no more bytes than it should; three pin the bytes themselves.

#include "platform/vt/frame_encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "support/vt_screen.h"

namespace {

constexpr std::string_view kRepaint = "\x1b[0;37;40m\x1b[2J";

void WriteAt(ScreenModel& screen, int x, int y, std::string_view text,
             Colour colour = Colour::Normal) {
  screen.SetColour(colour);
  screen.MoveCursor(x, y);
  for (char ch : text) screen.Write(ch);
}

// An encoder that has already drawn the blank screen, as after start-up.
class FrameEncoderTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Drawn(kRepaint.size())); }

  std::string Frame(bool bell = false) {
    return encoder.Encode(screen, screen.TakeChangedRows(), bell);
  }
  // The frame that follows writing `text` alone at (x, y).
  std::string FrameAfter(int x, int y, std::string_view text, Colour colour = Colour::Normal) {
    WriteAt(screen, x, y, text, colour);
    return Frame();
  }
  // Sends the next frame to the terminal: whether it read it all, shows the screen and was sent
  // it in `most_bytes` at most.
  ::testing::AssertionResult Drawn(std::size_t most_bytes = std::string::npos) {
    const std::string bytes = Frame();
    std::string fault = terminal.Read(bytes);
    if (fault.empty()) fault = terminal.Difference(screen, origin);
    if (fault.empty() && bytes.size() > most_bytes) {
      fault = std::to_string(bytes.size()) + " bytes, not " + std::to_string(most_bytes);
    }
    if (fault.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << fault << " in " << ::testing::PrintToString(bytes);
  }
  ::testing::AssertionResult DrawnAfter(int x, int y, std::string_view text, std::size_t most_bytes,
                                        Colour colour = Colour::Normal) {
    WriteAt(screen, x, y, text, colour);
    return Drawn(most_bytes);
  }

  ScreenModel screen;
  FrameEncoder encoder;
  VtScreen terminal;
  FrameEncoder::Position origin;
};

TEST_F(FrameEncoderTest, NothingChangedSendsNothing) {
  EXPECT_TRUE(Drawn(0));
  EXPECT_TRUE(DrawnAfter(10, 5, "A", 9));
  EXPECT_TRUE(DrawnAfter(10, 5, "A", 0));  // written again, the same
}

TEST_F(FrameEncoderTest, OneCellAndItsNeighbours) {
  EXPECT_EQ(FrameAfter(10, 5, "A"), "\x1b[6;11HA");
  EXPECT_EQ(FrameAfter(11, 5, "B"), "B");  // where the cursor stands already
  EXPECT_EQ(FrameAfter(20, 7, "CD"), "\x1b[8;21HCD");
}

TEST_F(FrameEncoderTest, AGapIsRetypedWhenShorterAndSkippedOtherwise) {
  WriteAt(screen, 10, 5, "A");
  WriteAt(screen, 13, 5, "C");
  WriteAt(screen, 40, 5, "E");
  EXPECT_TRUE(Drawn(17));
}

TEST_F(FrameEncoderTest, AGapInAnotherColourIsNeverRetyped) {
  EXPECT_TRUE(DrawnAfter(12, 5, "x", 13, Colour::DarkGrey));
  EXPECT_TRUE(DrawnAfter(10, 5, "A", 9));
  EXPECT_TRUE(DrawnAfter(14, 5, "C", 5));
  EXPECT_TRUE(DrawnAfter(17, 5, "E", 5));
}

TEST_F(FrameEncoderTest, RelativeMovesWhenTheyAreShorter) {
  EXPECT_TRUE(DrawnAfter(50, 10, "A", 9));
  EXPECT_TRUE(DrawnAfter(50, 12, "B", 6));
  EXPECT_TRUE(DrawnAfter(51, 11, "C", 4));
  EXPECT_TRUE(DrawnAfter(0, 11, "D", 2));
  WriteAt(screen, 60, 11, "E");
  WriteAt(screen, 1, 12, "F");
  EXPECT_TRUE(Drawn(14));
}

TEST_F(FrameEncoderTest, TheCellCheapestToReachIsWrittenFirst) {
  WriteAt(screen, 29, 5, "**");
  WriteAt(screen, 146, 12, "0", Colour::DarkGrey);
  EXPECT_TRUE(Drawn(24));
  // The digit in the terminal's colour first, although it comes last row by row; the snake's
  // unchanged cell between tail and head is written again.
  WriteAt(screen, 146, 12, "1", Colour::DarkGrey);
  WriteAt(screen, 29, 5, " ");
  WriteAt(screen, 31, 5, "*");
  EXPECT_TRUE(Drawn(17));
}

TEST_F(FrameEncoderTest, ColoursChangeOnlyForCellsThatShowThem) {
  EXPECT_TRUE(DrawnAfter(120, 12, "7", 15, Colour::DarkGrey));
  EXPECT_TRUE(DrawnAfter(120, 12, " ", 2));  // a blank in Normal: only the black background shows
  std::size_t move = 3;                      // ESC [ H, then a carriage return
  for (Colour colour :
       {Colour::Green, Colour::Red, Colour::Normal, Colour::DarkGrey, Colour::LightBlue,
        Colour::LightGreen, Colour::LightCyan, Colour::LightMagenta}) {
    EXPECT_TRUE(DrawnAfter(0, 0, "o", move + 5 + 1, colour));
    move = 1;
  }
}

TEST_F(FrameEncoderTest, HighBytesAreCodePage437GlyphsAndControlBytesQuestionMarks) {
  std::string every_byte;
  for (int byte = 0x80; byte <= 0xff; ++byte) every_byte += static_cast<char>(byte);
  EXPECT_TRUE(DrawnAfter(0, 0, every_byte + "\x01\x7f", 3 + 3 * every_byte.size() + 2));
  // A terminal that does not take UTF-8 gets no byte from 128 up, which it might read as a control;
  // the whole first row is drawn again, one byte a cell.
  encoder = FrameEncoder(Glyphs::kAscii);
  terminal = VtScreen(Glyphs::kAscii);
  EXPECT_TRUE(DrawnAfter(0, 0, "\xdb\x9b\xbe?7l\x01", kRepaint.size() + 3 + 130));
}

TEST_F(FrameEncoderTest, NothingIsAssumedAboutTheCursorAfterTheLastColumn) {
  WriteAt(screen, 154, 3, "X");
  WriteAt(screen, 0, 4, "Y");
  EXPECT_TRUE(Drawn(14));
  WriteAt(screen, 154, 41, "Z");
  WriteAt(screen, 153, 41, "z");
  EXPECT_TRUE(Drawn(11));
  EXPECT_TRUE(DrawnAfter(1, 4, "y", 7));
}

TEST_F(FrameEncoderTest, OneBellFollowsTheDrawingInTheSameBatch) {
  EXPECT_EQ(Frame(true), "\a");
  WriteAt(screen, 0, 0, "!");
  EXPECT_EQ(Frame(true), "\x1b[H!\a");
}

TEST_F(FrameEncoderTest, ClearingTheScreenIsUsedWhenItSavesBytes) {
  for (int y = 0; y < 10; ++y) WriteAt(screen, 0, y, std::string(kScreenWidth, 'x'));
  EXPECT_TRUE(Drawn());
  screen.Clear();
  EXPECT_TRUE(DrawnAfter(0, 0, "A", 8));

  screen.Clear();  // only one cell shown: blanking it is cheaper than clearing
  EXPECT_TRUE(Drawn(2));
}

TEST_F(FrameEncoderTest, AFullRepaintRedrawsEverythingFromKnownColours) {
  WriteAt(screen, 0, 0, "A");
  WriteAt(screen, 5, 1, "B", Colour::DarkGrey);
  Frame();
  encoder.ForgetScreen();
  EXPECT_EQ(Frame(), std::string(kRepaint) + "\x1b[HA\x1b[2;6H\x1b[90mB");
  EXPECT_EQ(Frame(), "");
}

// In a larger terminal the screen stands away from its corner, where a carriage return is of no
// use; a new place is drawn whole and nothing stays at the old one.
TEST_F(FrameEncoderTest, AScreenInALargerTerminalIsDrawnAtItsPlace) {
  terminal = VtScreen(Glyphs::kUtf8, kScreenWidth + 9, kScreenHeight + 5);
  encoder.PlaceAt(origin = {4, 2});
  WriteAt(screen, 0, 0, "AB");
  WriteAt(screen, 154, 41, "Z");
  EXPECT_TRUE(Drawn(kRepaint.size() + 8 + 11));
  EXPECT_TRUE(DrawnAfter(0, 1, "C", 7));
  EXPECT_TRUE(DrawnAfter(0, 2, "D", 5));
  encoder.PlaceAt(origin = {9, 0});
  EXPECT_TRUE(Drawn());
}

// The terminal fails a frame on any byte it does not know, so that none slips through.
TEST(VtScreenTest, AByteItDoesNotKnowFailsTheFrame) {
  for (std::string_view bytes :
       {"\x1b[H\n", "\x1b[H\x1b[1m", "\x1b[?25l", "\x1b[H\xff", "\x1b[H\xc3", "\x1b[2K", "\x1bM",
        "\x1b[3", "\x1b[0;37;40m\x1b[2JA", "\x1b[1;155HX\bY", "\x1b[H\x1b[A", "\x1b[43;1H"}) {
    EXPECT_NE(VtScreen().Read(bytes), "") << ::testing::PrintToString(bytes);
  }
}

// A snake tick as the game draws it: the tail blanked, a new head, and the info panel written
// again in DarkGrey, of which only the changed digits reach the terminal.
class SnakeTickTest : public FrameEncoderTest {
 protected:
  void SetUp() override {
    FrameEncoderTest::SetUp();
    for (int x = 1; x <= 100; ++x) {
      WriteAt(screen, x, 1, "#");
      WriteAt(screen, x, 40, "#");
    }
    for (int y = 1; y <= 40; ++y) {
      WriteAt(screen, 1, y, "#");
      WriteAt(screen, 100, y, "#");
    }
    for (int i = 0; i < 5; ++i) WriteAt(screen, head_x - i, head_y, "*");
    DrawInfoPanel();
    ASSERT_TRUE(Drawn());
  }

  void DrawInfoPanel() {
    char text[64];
    std::snprintf(text, sizeof text, "\tposition:\t (%3d, %3d)", head_x, head_y);
    WriteAt(screen, 112, 12, text, Colour::DarkGrey);
    screen.SetColour(Colour::Normal);
  }

  // Moves the snake one cell and draws the frame, in 32 bytes at most.
  ::testing::AssertionResult Tick(int dx, int dy) {
    WriteAt(screen, tail_x, tail_y, " ");
    tail_x += tail_dx;
    tail_y += tail_dy;
    head_x += dx;
    head_y += dy;
    WriteAt(screen, head_x, head_y, "*");
    DrawInfoPanel();
    return Drawn(32);
  }

  int head_x = 20, head_y = 20;
  int tail_x = 16, tail_y = 20, tail_dx = 1, tail_dy = 0;
};

TEST_F(SnakeTickTest, AStraightRunCostsAtMost32BytesATick) {
  while (head_x < 98) EXPECT_TRUE(Tick(1, 0)) << "head at " << head_x;
  // Turn down; the tail follows along the row, then down the column.
  for (int step = 0; step < 15; ++step) {
    if (tail_x == head_x) {
      tail_dx = 0;
      tail_dy = 1;
    }
    EXPECT_TRUE(Tick(0, 1)) << "head at row " << head_y;
  }
}

}  // namespace
