// The frame encoder as whole frames: a screen in, the exact bytes for the terminal out.

#include "console/protocol/frame_encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>

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
  void SetUp() override { ASSERT_EQ(Frame(), kRepaint); }

  std::string Frame(bool bell = false) {
    return encoder.Encode(screen, screen.TakeChangedRows(), bell);
  }
  // The frame that follows writing `text` alone at (x, y).
  std::string FrameAfter(int x, int y, std::string_view text, Colour colour = Colour::Normal) {
    WriteAt(screen, x, y, text, colour);
    return Frame();
  }

  ScreenModel screen;
  FrameEncoder encoder;
};

TEST_F(FrameEncoderTest, NothingChangedSendsNothing) {
  EXPECT_EQ(Frame(), "");
  WriteAt(screen, 10, 5, "A");
  Frame();
  EXPECT_EQ(FrameAfter(10, 5, "A"), "");  // written again, the same
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
  EXPECT_EQ(Frame(), "\x1b[6;11HA  C\x1b[26CE");
}

TEST_F(FrameEncoderTest, AGapInAnotherColourIsNeverRetyped) {
  EXPECT_EQ(FrameAfter(12, 5, "x", Colour::DarkGrey), "\x1b[6;13H\x1b[90mx");
  EXPECT_EQ(FrameAfter(10, 5, "A"), "\b\b\b\x1b[37mA");
  EXPECT_EQ(FrameAfter(14, 5, "C"), "\x1b[3CC");
  EXPECT_EQ(FrameAfter(17, 5, "E"), "\x1b[2CE");
}

TEST_F(FrameEncoderTest, RelativeMovesWhenTheyAreShorter) {
  EXPECT_EQ(FrameAfter(50, 10, "A"), "\x1b[11;51HA");
  EXPECT_EQ(FrameAfter(50, 12, "B"), "\x1b[2B\bB");
  EXPECT_EQ(FrameAfter(51, 11, "C"), "\x1b[AC");
  EXPECT_EQ(FrameAfter(0, 11, "D"), "\rD");
  WriteAt(screen, 60, 11, "E");
  WriteAt(screen, 1, 12, "F");
  EXPECT_EQ(Frame(), "\x1b[59CE\x1b[13;2HF");
}

TEST_F(FrameEncoderTest, TheCellCheapestToReachIsWrittenFirst) {
  WriteAt(screen, 29, 5, "**");
  WriteAt(screen, 146, 12, "0", Colour::DarkGrey);
  EXPECT_EQ(Frame(), "\x1b[6;30H**\x1b[13;147H\x1b[90m0");
  // The digit in the terminal's colour first, although it comes last row by row; the snake's
  // unchanged cell between tail and head is written again.
  WriteAt(screen, 146, 12, "1", Colour::DarkGrey);
  WriteAt(screen, 29, 5, " ");
  WriteAt(screen, 31, 5, "*");
  EXPECT_EQ(Frame(), "\b1\x1b[6;30H\x1b[37m **");
}

TEST_F(FrameEncoderTest, ColoursChangeOnlyForCellsThatShowThem) {
  EXPECT_EQ(FrameAfter(120, 12, "7", Colour::DarkGrey), "\x1b[13;121H\x1b[90m7");
  EXPECT_EQ(FrameAfter(120, 12, " "), "\b ");  // a blank in Normal: only the black background shows
  const struct {
    Colour colour;
    std::string_view ansi;
  } kColours[] = {
      {Colour::Green, "\x1b[32m"},     {Colour::Red, "\x1b[31m"},
      {Colour::Normal, "\x1b[37m"},    {Colour::DarkGrey, "\x1b[90m"},
      {Colour::LightBlue, "\x1b[94m"}, {Colour::LightGreen, "\x1b[92m"},
      {Colour::LightCyan, "\x1b[96m"}, {Colour::LightMagenta, "\x1b[95m"},
  };
  std::string_view move = "\x1b[H";
  for (const auto& [colour, ansi] : kColours) {
    EXPECT_EQ(FrameAfter(0, 0, "o", colour), std::string(move) + std::string(ansi) + "o");
    move = "\r";
  }
}

TEST_F(FrameEncoderTest, HighBytesAreCodePage437GlyphsAndControlBytesQuestionMarks) {
  EXPECT_EQ(FrameAfter(0, 0, "\xdb\x82\xb0\xfe\x01\x7f"),
            "\x1b[H\xe2\x96\x88\xc3\xa9\xe2\x96\x91\xe2\x96\xa0??");
  // A terminal that does not take UTF-8 gets no byte from 128 up, which it might read as a control.
  FrameEncoder ascii(Glyphs::kAscii);
  ScreenModel again;
  WriteAt(again, 0, 0, "\xdb\x9b\xbe?7l\x01");
  EXPECT_EQ(ascii.Encode(again, again.TakeChangedRows(), false),
            std::string(kRepaint) + "\x1b[H????7l?");
}

TEST_F(FrameEncoderTest, NothingIsAssumedAboutTheCursorAfterTheLastColumn) {
  WriteAt(screen, 154, 3, "X");
  WriteAt(screen, 0, 4, "Y");
  EXPECT_EQ(Frame(), "\x1b[4;155HX\x1b[5HY");
  WriteAt(screen, 154, 41, "Z");
  WriteAt(screen, 153, 41, "z");
  EXPECT_EQ(Frame(), "\x1b[42;154HzZ");
  EXPECT_EQ(FrameAfter(1, 4, "y"), "\x1b[5;2Hy");
}

TEST_F(FrameEncoderTest, OneBellFollowsTheDrawingInTheSameBatch) {
  EXPECT_EQ(Frame(true), "\a");
  WriteAt(screen, 0, 0, "!");
  EXPECT_EQ(Frame(true), "\x1b[H!\a");
}

TEST_F(FrameEncoderTest, ClearingTheScreenIsUsedWhenItSavesBytes) {
  for (int y = 0; y < 10; ++y) WriteAt(screen, 0, y, std::string(kScreenWidth, 'x'));
  Frame();
  screen.Clear();
  EXPECT_EQ(FrameAfter(0, 0, "A"), "\x1b[2J\x1b[HA");

  screen.Clear();  // only one cell shown: blanking it is cheaper than clearing
  EXPECT_EQ(Frame(), "\r ");
}

TEST_F(FrameEncoderTest, AFullRepaintRedrawsEverythingFromKnownColours) {
  WriteAt(screen, 0, 0, "A");
  WriteAt(screen, 5, 1, "B", Colour::DarkGrey);
  Frame();
  encoder.ForgetScreen();
  EXPECT_EQ(Frame(), std::string(kRepaint) + "\x1b[HA\x1b[2;6H\x1b[90mB");
  EXPECT_EQ(Frame(), "");
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
    Frame();
  }

  void DrawInfoPanel() {
    char text[64];
    std::snprintf(text, sizeof text, "\tposition:\t (%3d, %3d)", head_x, head_y);
    WriteAt(screen, 112, 12, text, Colour::DarkGrey);
    screen.SetColour(Colour::Normal);
  }

  // Moves the snake one cell and returns the bytes of the frame.
  std::string Tick(int dx, int dy) {
    WriteAt(screen, tail_x, tail_y, " ");
    tail_x += tail_dx;
    tail_y += tail_dy;
    head_x += dx;
    head_y += dy;
    WriteAt(screen, head_x, head_y, "*");
    DrawInfoPanel();
    return Frame();
  }

  int head_x = 20, head_y = 20;
  int tail_x = 16, tail_y = 20, tail_dx = 1, tail_dy = 0;
};

TEST_F(SnakeTickTest, AStraightRunCostsAtMost32BytesATick) {
  while (head_x < 98) {
    const std::string bytes = Tick(1, 0);
    EXPECT_LE(bytes.size(), 32u) << "head at " << head_x;
  }
  // Turn down; the tail follows along the row, then down the column.
  for (int step = 0; step < 15; ++step) {
    if (tail_x == head_x) {
      tail_dx = 0;
      tail_dy = 1;
    }
    const std::string bytes = Tick(0, 1);
    EXPECT_LE(bytes.size(), 32u) << "head at row " << head_y;
  }
}

}  // namespace
