// The key decoder, byte by byte: what each key's bytes turn into, what is dropped whole, and the
// 50 ms that tell the Esc key from the start of a sequence.

#include "platform/vt/key_decoder.h"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>
#include <vector>

namespace {

constexpr TickCount kStart = 1'000;
constexpr int kUp = 72, kDown = 80, kLeft = 75, kRight = 77;

// Feeds `bytes` all at `now`, as one read would, then lets the decoder know that nothing else
// waits at `tick_at`, and returns every code it gave.
std::vector<int> Decode(KeyDecoder& decoder, std::string_view bytes, TickCount now = kStart,
                        TickCount tick_at = kStart) {
  for (char byte : bytes) decoder.Feed(static_cast<unsigned char>(byte), now);
  decoder.Tick(tick_at);
  std::vector<int> codes;
  while (decoder.HasKey()) codes.push_back(decoder.PopKey());
  return codes;
}

std::vector<int> Decode(std::string_view bytes) {
  KeyDecoder decoder;
  return Decode(decoder, bytes);
}

using Codes = std::vector<int>;

TEST(KeyDecoderTest, PlainKeysGiveTheirCharacter) {
  EXPECT_EQ(Decode("aZ5 *"), (Codes{'a', 'Z', '5', ' ', '*'}));
  EXPECT_EQ(Decode("\t"), Codes{9});
  EXPECT_EQ(Decode("\r\n"), (Codes{13, 13}));
  EXPECT_EQ(Decode("\x7f\b"), (Codes{8, 8}));
  // Ctrl+Space sends 0, which the game would take for the start of a function key.
  EXPECT_EQ(Decode(std::string_view("\0a", 2)), Codes{'a'});
  KeyDecoder decoder;
  EXPECT_EQ(decoder.PopKey(), -1);
}

TEST(KeyDecoderTest, ArrowsInEveryFormGiveTheConsoleCodes) {
  EXPECT_EQ(Decode("\x1b[A\x1b[B\x1b[C\x1b[D"),
            (Codes{224, kUp, 224, kDown, 224, kRight, 224, kLeft}));
  EXPECT_EQ(Decode("\x1bOA\x1bOB\x1bOC\x1bOD"),
            (Codes{224, kUp, 224, kDown, 224, kRight, 224, kLeft}));
  // With Ctrl, Shift or Alt held the arrow is still the arrow.
  EXPECT_EQ(Decode("\x1b[1;5A\x1b[1;2D\x1bO5C"), (Codes{224, kUp, 224, kLeft, 224, kRight}));
}

TEST(KeyDecoderTest, EditingKeysInEveryForm) {
  const Codes home{224, 71};
  const Codes end{224, 79};
  for (std::string_view form : {"\x1b[H", "\x1bOH", "\x1b[1~", "\x1b[7~", "\x1b[1;5H"}) {
    EXPECT_EQ(Decode(form), home) << form.substr(1);
  }
  for (std::string_view form : {"\x1b[F", "\x1bOF", "\x1b[4~", "\x1b[8~"}) {
    EXPECT_EQ(Decode(form), end) << form.substr(1);
  }
  EXPECT_EQ(Decode("\x1b[5~\x1b[6~\x1b[2~\x1b[3~\x1b[5;5~"),
            (Codes{224, 73, 224, 81, 224, 82, 224, 83, 224, 73}));
}

TEST(KeyDecoderTest, FunctionKeysInEveryForm) {
  EXPECT_EQ(Decode("\x1bOP\x1bOQ\x1bOR\x1bOS"), (Codes{0, 59, 0, 60, 0, 61, 0, 62}));
  EXPECT_EQ(Decode("\x1b[11~\x1b[12~\x1b[13~\x1b[14~\x1b[15~"),
            (Codes{0, 59, 0, 60, 0, 61, 0, 62, 0, 63}));
  EXPECT_EQ(Decode("\x1b[17~\x1b[18~\x1b[19~\x1b[20~\x1b[21~"),
            (Codes{0, 64, 0, 65, 0, 66, 0, 67, 0, 68}));
  EXPECT_EQ(Decode("\x1b[23~\x1b[24~"), (Codes{224, 133, 224, 134}));
  // The Linux console, and xterm with a modifier held.
  EXPECT_EQ(Decode("\x1b[[A\x1b[[E"), (Codes{0, 59, 0, 63}));
  EXPECT_EQ(Decode("\x1b[1;2P\x1b[15;5~"), (Codes{0, 59, 0, 63}));
}

TEST(KeyDecoderTest, SequencesWithoutAKeyAreDroppedWhole) {
  // Each is followed by 'x', which must come through alone: nothing of the sequence leaks out.
  for (std::string_view sequence : {
           "\x1b[99~",                         // a key the game does not know
           "\x1b[12;40R",                      // a cursor position report
           "\x1b[?1;2c",                       // a device attributes answer
           "\x1b[2 q",                         // with an intermediate byte
           "\x1b[I", "\x1b[O",                 // focus in and out
           "\x1b[<0;10;5M",                    // an SGR mouse click
           "\x1b[M !!", "\x1b[M\xe0\xff\x80",  // X10 mouse reports, raw bytes included
           "\x1bOx",                           // an unknown SS3 key
           "\x1b]0;title\a",                   // an OSC string ended by BEL
           "\x1b]11;rgb:0/0/0\x1b\\",          // and by ST
           "\x1bP1$r0m\x1b\\",                 // a DCS answer
       }) {
    std::string bytes(sequence);
    EXPECT_EQ(Decode(bytes + "x"), Codes{'x'}) << bytes.substr(1);
  }
}

TEST(KeyDecoderTest, ABrokenSequenceLetsTheBreakingByteThrough) {
  EXPECT_EQ(Decode("\x1b[1;\r"), Codes{13});
  EXPECT_EQ(Decode("\x1b[1\x1b[A"), (Codes{224, kUp}));
  // An ESC inside a string ends it and begins the next sequence.
  EXPECT_EQ(Decode("\x1b]0;abc\x1b[B"), (Codes{224, kDown}));
}

TEST(KeyDecoderTest, NonAsciiCharactersGiveOneQuestionMarkEach) {
  EXPECT_EQ(Decode("\xc3\xa9"), Codes{'?'});                           // é
  EXPECT_EQ(Decode("\xe2\x82\xac"), Codes{'?'});                       // €
  EXPECT_EQ(Decode("\xf0\x9f\x90\x8d"), Codes{'?'});                   // an emoji
  EXPECT_EQ(Decode("\x80\xbf\xc0\xff"), (Codes{'?', '?', '?', '?'}));  // bytes that cannot lead
  EXPECT_EQ(Decode("\xe2\x82q"), (Codes{'?', 'q'}));                   // cut short by a plain key
  EXPECT_EQ(Decode("\xc3\xa9\xa9"), (Codes{'?', '?'}));                // a stray continuation byte
}

TEST(KeyDecoderTest, ALoneEscBecomesTheEscKeyAfterFiftyMilliseconds) {
  KeyDecoder decoder;
  decoder.Feed(0x1b, kStart);
  EXPECT_EQ(decoder.TimeUntilTimeout(kStart), std::chrono::milliseconds(50));
  decoder.Tick(kStart + 49);
  EXPECT_FALSE(decoder.HasKey());
  EXPECT_TRUE(decoder.HoldsLoneEsc());
  EXPECT_EQ(decoder.TimeUntilTimeout(kStart + 49), std::chrono::milliseconds(1));
  decoder.Tick(kStart + 50);
  EXPECT_EQ(decoder.PopKey(), 27);
  EXPECT_FALSE(decoder.HoldsLoneEsc());
  EXPECT_FALSE(decoder.TimeUntilTimeout(kStart + 50).has_value());
  // After the Esc key, the bytes that come are keys of their own.
  EXPECT_EQ(Decode(decoder, "[A", kStart + 51, kStart + 51), (Codes{'[', 'A'}));
}

TEST(KeyDecoderTest, ASequenceMayPauseJustUnderFiftyMillisecondsBetweenBytes) {
  KeyDecoder decoder;
  EXPECT_TRUE(Decode(decoder, "\x1b", kStart, kStart + 49).empty());
  EXPECT_TRUE(Decode(decoder, "[", kStart + 49, kStart + 98).empty());
  EXPECT_EQ(Decode(decoder, "A", kStart + 98, kStart + 98), (Codes{224, kUp}));
}

TEST(KeyDecoderTest, AnUnfinishedSequenceIsDroppedAfterFiftyMilliseconds) {
  KeyDecoder decoder;
  EXPECT_TRUE(Decode(decoder, "\x1b[1;", kStart, kStart + 50).empty());
  EXPECT_FALSE(decoder.TimeUntilTimeout(kStart + 50).has_value());
  EXPECT_EQ(Decode(decoder, "A", kStart + 60, kStart + 60), Codes{'A'});
}

TEST(KeyDecoderTest, TheTimeoutHoldsAcrossTheClockWrap) {
  KeyDecoder decoder;
  decoder.Feed(0x1b, 0xffff'fff0u);
  decoder.Tick(0x0000'0021u);  // 49 ms later
  EXPECT_FALSE(decoder.HasKey());
  decoder.Tick(0x0000'0022u);
  EXPECT_EQ(decoder.PopKey(), 27);
}

// Alt and a key come as ESC and the key together: one press, which the game has no code for. Esc
// and a key pressed after it are Esc and that key, however they are read.
TEST(KeyDecoderTest, EscWithAKeyAtOnceIsAnAltKeyAndEscThenAKeyLaterIsBoth) {
  // After an ESC at kStart, `bytes` `apart` ms later, read together with it.
  for (const auto& [bytes, apart, codes] : std::vector<std::tuple<std::string_view, int, Codes>>{
           {"p", 4, {}},                // Alt+p, just inside the window
           {"p", 5, {27, 'p'}},         // just outside it: Esc, then p
           {"1\x1b\r", 0, {}},          // Alt+1, Alt+Enter
           {"\xc3\xa9x", 0, {'x'}},     // Alt+é, swallowed whole
           {"\x1b", 0, {}},             // Alt+Esc
           {"\x1b[A", 0, {224, kUp}},   // Alt+Up as rxvt sends it
           {"[A", 60, {27, '[', 'A'}},  // Esc, then [ and A after its timeout
       }) {
    KeyDecoder decoder;
    decoder.Feed(0x1b, kStart);
    EXPECT_EQ(Decode(decoder, bytes, kStart + apart, kStart + apart + 50), codes) << bytes;
  }
}

}  // namespace
