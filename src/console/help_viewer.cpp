// The help viewer: "help.txt" typed into the playfield, letter by letter.

#include <cstdio>
#include <memory>

#include "console/console.h"

namespace {

constexpr int kTextLeft = 5;
constexpr int kTextTop = 5;
constexpr unsigned kLetterPause = 5;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool IsLetter(int ch) {
  return (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z');
}

// The next character of a text file: a CR LF pair reads as one '\n', as on Windows, so a help
// file written there looks the same. EOF at the end, or on a read error.
int ReadTextChar(std::FILE* file) {
  const int ch = std::fgetc(file);
  if (ch != '\r') return ch;
  const int after = std::fgetc(file);
  if (after == '\n') return '\n';
  if (after != EOF) std::ungetc(after, file);
  return ch;
}

void TypeText(std::FILE* file) {
  int row = kTextTop;
  GotoXY(kTextLeft, row);
  SetColour(Colour::LightCyan);
  // Once the text has run past the last row nothing more of it can show, so the rest is not
  // typed out: a huge file would otherwise keep the viewer pausing after every letter for hours.
  for (int ch = ReadTextChar(file); ch != EOF && CursorOnScreen(); ch = ReadTextChar(file)) {
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
  if (File file{std::fopen("help.txt", "rb")}) {
    TypeText(file.get());
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
