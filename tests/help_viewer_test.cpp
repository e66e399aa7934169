// The help viewer: the text typed into the playfield at the pace of its letters.

#include <gtest/gtest.h>

#include "support/console_test.h"

namespace {

class HelpViewer : public ConsoleTest {
 protected:
  // Shows the help with `text` as "help.txt", dismissed by a key long after it is typed.
  void Show(const std::string& text) {
    WriteFile("help.txt", text);
    term.PressAt(term.elapsed() + kLater, ' ');
    ShowHelp();
  }
  static constexpr std::uint64_t kLater = 1'000'000;
  std::uint64_t typed_by = 0;
};

TEST_F(HelpViewer, TypesEachLineAtColumnFiveWithAPauseAfterEachLetter) {
  term.on_key_wait = [this](MemoryTerminal& t) { typed_by = t.elapsed(); };
  Show("Eat $!\nab 12.\n");
  EXPECT_EQ(typed_by, 25u) << "five letters, 5 ms each";
  EXPECT_EQ(Row(5), "     Eat $!");
  EXPECT_EQ(Row(6), "     ab 12.");
  EXPECT_EQ(Row(7), "");
  EXPECT_EQ(ColourAt(kHelpStart), Colour::LightCyan);
  EXPECT_EQ(Row(36), "     Press any key to continue.");
  EXPECT_EQ(ColourAt(kHelpPrompt), Colour::Normal);
  EXPECT_EQ(term.elapsed(), kLater);
}

TEST_F(HelpViewer, DigitsAndPunctuationAloneAreWrittenWithoutAPause) {
  term.on_key_wait = [this](MemoryTerminal& t) { typed_by = t.elapsed(); };
  Show("1 + 2 = 3?\n#$%\n");
  EXPECT_EQ(typed_by, 0u);
  EXPECT_EQ(Row(6), "     #$%");
}

TEST_F(HelpViewer, WindowsLineEndsReadAsOneAndALoneCarriageReturnIsNoLineBreak) {
  Show("one\r\ntwo\rthree");
  EXPECT_EQ(Row(5), "     one");
  EXPECT_EQ(Row(6), "     two?three") << "a last line without a line break ends there";
  EXPECT_EQ(Row(36), "     Press any key to continue.");
}

TEST_F(HelpViewer, AnEmptyFileLeavesOnlyThePrompt) {
  DrawFrame();
  GotoXY(10, 10);
  WriteText("old menu text");
  Show("");
  for (int y = 2; y <= 39; ++y) {
    if (y == 36) continue;
    EXPECT_EQ(Text(0, y, 101), " #" + std::string(98, ' ') + "#") << y;
  }
  EXPECT_EQ(Text(kCreditsTitle, 6), "Vorlix") << "the side panel stays";
}

TEST_F(HelpViewer, KeysTypedDuringTheTextAreDiscarded) {
  term.PressAt(3, 'x');
  term.PressAt(4, 'y');
  Show("abcdef");
  EXPECT_EQ(term.elapsed(), kLater);
  EXPECT_EQ(term.pending_keys(), 0u);
}

TEST_F(HelpViewer, AMissingFileIsReportedInRedWithABell) {
  term.PressAt(0, 'x');  // pressed before: drained
  term.PressAt(kLater, ' ');
  ShowHelp();
  EXPECT_EQ(Text(33, 14, 33), "Cannot find the file \"help.txt\" !");
  EXPECT_EQ(term.ColourAt(33, 14), Colour::Red);
  EXPECT_EQ(term.bells(), 1);
  EXPECT_EQ(Row(36), "     Press any key to continue.");
  EXPECT_EQ(term.elapsed(), kLater);
}

TEST_F(HelpViewer, TextPastTheLastRowIsDroppedAndControlBytesAreHarmless) {
  std::string text;
  for (int i = 0; i < 60; ++i) text += "line " + std::to_string(i) + "\x1b[2J\n";
  Show(text);
  EXPECT_EQ(Row(5), "     line 0?[2J");
  EXPECT_EQ(Row(41), "     line 36?[2J");
  EXPECT_EQ(Row(36), "     Press any key to continue.") << "the prompt over line 31";
  EXPECT_EQ(Row(0), "");
}

TEST_F(HelpViewer, AHugeFileIsTypedOnlyAsFarAsTheScreenReaches) {
  term.on_key_wait = [this](MemoryTerminal& t) { typed_by = t.elapsed(); };
  Show(std::string(1'000'000, 'x'));
  EXPECT_EQ(Row(41), std::string(155, 'x'));
  // Columns 5..154 of row 5, then whole rows down to row 41, each letter 5 ms.
  EXPECT_EQ(typed_by, (150u + 36u * 155u) * 5u);
}

TEST_F(HelpViewer, TheFileIsClosedAfterEveryShowing) {
  for (int i = 0; i < 3; ++i) Show("again\n");
  EXPECT_TRUE(std::filesystem::remove("help.txt"));
}

}  // namespace
