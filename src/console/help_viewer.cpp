// The help viewer: "help.txt" typed into the playfield, letter by letter.

#include <string>
#include <string_view>

#include "console/console.h"

namespace {

constexpr int kTextLeft = 5;
constexpr int kTextTop = 5;
constexpr unsigned kLetterPause = 5;
// Far more than the playfield can show; the rest of a longer file is not read.
constexpr std::size_t kHelpFileLimit = 1 << 20;

bool IsLetter(char ch) {
  return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}

// A CR LF pair reads as one '\n', as in a text file on Windows, so a help file written there looks
// the same.
std::string WithPlainLineEnds(std::string_view text) {
  std::string plain;
  plain.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    plain += text[i];
  }
  return plain;
}

void TypeText(std::string_view text) {
  int row = kTextTop;
  GotoXY(kTextLeft, row);
  SetColour(Colour::LightCyan);
  // Once the text has run past the last row nothing more of it can show, so the rest is not
  // typed out: a huge file would otherwise keep the viewer pausing after every letter for hours.
  for (std::size_t i = 0; i < text.size() && CursorOnScreen(); ++i) {
    const char ch = text[i];
    WriteText("%c", ch);
    if (ch == '\n') {
      GotoXY(kTextLeft, ++row);
    } else if (IsLetter(ch)) {
      WaitPaced(kLetterPause);
    }
  }
  SetColour(Colour::Normal);
}

}  // namespace

void ShowHelp() {
  ClearPlayfield();
  const FileContents file = ReadGameFile("help.txt", kHelpFileLimit);
  using Status = FileContents::Status;
  if (file.status == Status::kRead || file.status == Status::kReadError) {
    TypeText(WithPlainLineEnds(file.text));  // a read error ends the text where it happened
  } else {
    GotoXY(33, 14);
    SetColour(Colour::Red);
    WriteText("Cannot find the file \"help.txt\" !\a");
    SetColour(Colour::Normal);
  }
  DrainKeys();
  GotoXY(5, 36);
  WriteText("Press any key to continue.");
  WaitKey();
}
