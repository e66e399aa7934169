#pragma once
// What every terminal that takes VT bytes does alike, the POSIX terminal and the one in a web page:
// it keeps the screen the game wants and sends only its changes, as a FrameEncoder's bytes; it
// reads keys through a KeyDecoder, which is told when each byte came; and it paces the game with
// waits that sleep to their deadline and take the keys that come meanwhile. A backend brings only
// the few operations at the end: showing bytes, taking the bytes typed, awaiting input and its
// clock, and whatever it must attend to at every wait.

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

#include "platform/screen_model.h"
#include "platform/terminal.h"
#include "platform/vt/frame_encoder.h"
#include "platform/vt/key_decoder.h"

class VtTerminal : public Terminal {
 public:
  explicit VtTerminal(Glyphs glyphs) : encoder_(glyphs) {}

  void MoveCursor(int x, int y) final { desired_.MoveCursor(x, y); }
  void WriteChar(char ch) final;
  void SetColour(Colour colour) final { desired_.SetColour(colour); }
  void Clear() final;
  void Flush() final;
  bool CursorOnScreen() const final { return desired_.cursor_y() < kScreenHeight; }

  bool KeyPending() final;
  int ReadKey() final;

  TickCount Now() final;
  void SleepUntil(TickCount deadline) final;

 protected:
  // How long a wait may last, or nothing for no limit: until what it waits for comes.
  using WaitLimit = std::optional<std::chrono::nanoseconds>;
  KeyDecoder& decoder() { return decoder_; }
  // Whether a wait may take more key bytes: past kMostKeysHeld decoded keys, a flood of input
  // waits in the terminal rather than in the game's memory.
  bool RoomForKeys() const { return decoder_.KeysWaiting() < kMostKeysHeld; }
  // Has the next frame draw the whole screen, with its top-left cell at `origin`.
  void RedrawWholeAt(FrameEncoder::Position origin);
  // For a screen someone else has drawn on: the next frame draws it whole.
  void ForgetScreen() { encoder_.ForgetScreen(); }
  // Sends what has changed since the last frame, now.
  void SendFrame();
  // Takes every byte that has arrived and, when none is left unread, lets the decoder end an
  // unfinished sequence whose time is up.
  void TakeAndSettle();

 private:
  static constexpr std::size_t kMostKeysHeld = 256;

  // Waits out the rest of the time a lone ESC byte is given to become a sequence.
  void SettleLoneEsc();

  // ---- What the backend brings ----
  // Puts `bytes` on the terminal.
  virtual void Show(std::string_view bytes) = 0;
  // Feeds `decoder` the bytes that have arrived, each with the moment it came; false when more may
  // still be waiting unread.
  virtual bool TakeInput(KeyDecoder& decoder) = 0;
  // Blocks until input comes (when `for_keys`), something needs the game's attention, or `limit`
  // has passed; false when it knows that no input came.
  virtual bool AwaitInput(WaitLimit limit, bool for_keys) = 0;
  // A steady clock, from any start.
  virtual std::chrono::nanoseconds Clock() = 0;
  // What the backend acts on before every look at the keys and the clock (signals, a resize).
  virtual void Attend() {}

  ScreenModel desired_;
  FrameEncoder encoder_;
  KeyDecoder decoder_;
  bool bell_ = false;
  bool dirty_ = true;
  // Something was written since the screen was last cleared.
  bool drawn_ = false;
  // The paced wait that has just ended knows that no key byte was waiting at its end.
  bool no_input_waiting_ = false;
};
