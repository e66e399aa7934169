#pragma once
// Turns the bytes a terminal sends for key presses into the key codes the game reads. The codes
// follow the PC console: a plain key gives its character; an extended key gives a prefix (0 or 224)
// followed by its scan code, e.g. 224 72 for Up. Escape sequences the game has no key for (mouse
// reports, focus reports, terminal answers) are dropped whole. The game has no Alt keys: a
// terminal sends Alt+x as ESC and x together, and that press gives no code at all, while Esc
// pressed and x pressed after it give Esc and then x.
//
// The decoder never reads the terminal itself: the caller feeds it bytes with the time they
// arrived and lets it know, through Tick, when no further byte is waiting. What a byte means is
// decided by when it arrived, never by which read brought it.

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>

#include "platform/terminal.h"

class KeyDecoder {
 public:
  // How long an unfinished escape sequence waits for its next byte. A lone ESC that has waited
  // this long is the Esc key; anything longer that stops half-way is dropped.
  static constexpr TickCount kSequenceTimeout = 50;
  // A byte that follows an ESC sooner than this came with it in one write: the two are one key
  // press, Alt and that key. No hand presses Esc and another key this close together.
  static constexpr TickCount kAltChordWindow = 5;

  // `now` is when the byte arrived; bytes are fed in the order they came.
  void Feed(unsigned char byte, TickCount now);
  // Ends an unfinished sequence whose last byte came kSequenceTimeout or more before `now`. Only
  // to be called when every byte that has arrived has been fed: a byte that is merely still
  // unread must not cut a sequence in two.
  void Tick(TickCount now);
  // How long until Tick would end the unfinished sequence; nothing when there is none.
  std::optional<std::chrono::milliseconds> TimeUntilTimeout(TickCount now) const;

  // Whether an ESC byte has come that may yet be the start of a sequence, the Esc key alone or
  // Alt held with another key.
  bool HoldsLoneEsc() const { return state_ == State::Escape; }

  bool HasKey() const { return !keys_.empty(); }
  std::size_t KeysWaiting() const { return keys_.size(); }
  // The oldest key code not yet taken, or -1 when there is none.
  int PopKey();

 private:
  enum class State {
    Ground,
    Escape,            // after ESC
    ControlSequence,   // after ESC [
    SingleShift,       // after ESC O
    LinuxFunctionKey,  // after ESC [ [, the Linux console's F1..F5
    MouseReport,       // after ESC [ M, three raw bytes follow
    String,            // after ESC ] / ESC P / ESC X / ESC ^ / ESC _, up to BEL or ESC backslash
    StringEscape,      // after an ESC inside such a string
    Utf8,              // inside a multi-byte character whose '?' (none after Alt) is given
  };

  // Takes one byte in the current state; false when the byte ended the state without being used
  // and must be taken again in the new one.
  bool Step(unsigned char byte);
  void TakePlain(unsigned char byte);
  bool TakeAfterEscape(unsigned char byte);
  // The key of an Alt chord, which gives no code; a multi-byte character is swallowed whole.
  void SwallowChordKey(unsigned char byte);
  // The ESC held is the Esc key: it gives its code unless it was Alt held with Esc.
  void EndLoneEsc();
  bool TakeInSequence(unsigned char byte);
  void StartCharacter(unsigned char lead);
  void FinishSequence(bool linux_form);
  void Emit(int code) { keys_.push_back(code); }

  State state_ = State::Ground;
  std::string sequence_;  // the bytes after ESC of the sequence being read
  int bytes_left_ = 0;    // of a mouse report or a multi-byte character
  TickCount last_byte_at_ = 0;
  bool chorded_ = false;   // the byte being taken came with the one before it
  bool alt_held_ = false;  // the ESC held came with an ESC before it: Alt and Esc, or Alt and a
                           // sequence to come
  std::deque<int> keys_;
};
