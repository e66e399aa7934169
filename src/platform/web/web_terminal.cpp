// The terminal in a web page: the game compiled to WebAssembly, drawn by a terminal widget on the
// page. Frames go to the widget as the same bytes a POSIX terminal gets (FrameEncoder), and what
// the player types into it comes back as bytes for the same KeyDecoder. The page keeps the bytes
// typed, each with the moment it came, until the game takes them (web_page.js).
//
// A page has one thread, and it must not be held: every wait hands the thread back to the browser
// (ASYNCIFY) until a key comes or a timer runs out. Nothing polls.

#include <emscripten.h>

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/screen_model.h"
#include "platform/terminal.h"
#include "platform/vt/frame_encoder.h"
#include "platform/vt/key_decoder.h"

// Hands the bytes of a frame to the widget; it takes a copy.
EM_JS(void, vorlix_show, (const char* bytes, int length),
      { Module.vorlixShow(HEAPU8.slice(bytes, bytes + length)); });

// Moves up to `capacity` of the bytes typed so far into `bytes`, with the millisecond count at
// which each came into `times`; returns how many.
EM_JS(int, vorlix_take_typed, (unsigned char* bytes, std::uint32_t* times, int capacity),
      { return Module.vorlixTakeTyped(bytes, times >> 2, capacity); });

// Returns when a key is typed, or once `timeout_ms` have passed (never, when it is negative).
EM_ASYNC_JS(void, vorlix_await_typing, (double timeout_ms),
            { await Module.vorlixAwaitTyping(timeout_ms); });

// Tells the page that the game is over and its screen will not change again.
EM_JS(void, vorlix_game_ended, (), { Module.vorlixGameEnded(); });

namespace {

// The page's clock, performance.now(): monotonic, in milliseconds with a fraction.
double NowMs() {
  return emscripten_get_now();
}

class WebTerminal final : public Terminal {
 public:
  WebTerminal() = default;
  ~WebTerminal() override { vorlix_game_ended(); }
  WebTerminal(const WebTerminal&) = delete;
  WebTerminal& operator=(const WebTerminal&) = delete;

  void MoveCursor(int x, int y) override { desired_.MoveCursor(x, y); }
  void WriteChar(char ch) override {
    if (desired_.Write(ch)) bell_ = true;
    dirty_ = true;
  }
  void SetColour(Colour colour) override { desired_.SetColour(colour); }
  void Clear() override {
    desired_.Clear();
    dirty_ = true;
  }
  void Flush() override;
  bool CursorOnScreen() const override { return desired_.cursor_y() < kScreenHeight; }

  // The page picks the font, and it is always 155 by 42.
  void SetFont() override {}
  void HideCursor() override { Show("\x1b[?25l"); }
  ScreenFit FitScreen() override { return ScreenFit::kReady; }

  bool KeyPending() override;
  int ReadKey() override;

  TickCount Now() override { return static_cast<TickCount>(static_cast<std::uint64_t>(NowMs())); }
  void SleepUntil(TickCount deadline) override;

 private:
  static void Show(std::string_view bytes) {
    if (!bytes.empty()) vorlix_show(bytes.data(), static_cast<int>(bytes.size()));
  }
  // Feeds the decoder every byte typed so far, and tells it that none is left.
  void TakeTyped();
  // Waits for typing, for at most `ms` (for ever when there is none).
  static void AwaitTyping(std::optional<std::chrono::milliseconds> ms) {
    vorlix_await_typing(ms ? static_cast<double>(ms->count()) : -1.0);
  }

  ScreenModel desired_;
  FrameEncoder encoder_{Glyphs::kUtf8};
  KeyDecoder decoder_;
  bool bell_ = false;
  bool dirty_ = true;
};

void WebTerminal::Flush() {
  if (!dirty_) return;
  Show(encoder_.Encode(desired_, desired_.TakeChangedRows(), bell_));
  dirty_ = false;
  bell_ = false;
}

void WebTerminal::TakeTyped() {
  constexpr int kBlock = 256;
  unsigned char bytes[kBlock];
  std::uint32_t times[kBlock];
  int count = 0;
  do {
    count = vorlix_take_typed(bytes, times, kBlock);
    for (int i = 0; i < count; ++i) decoder_.Feed(bytes[i], times[i]);
  } while (count == kBlock);
  decoder_.Tick(Now());
}

// A lone ESC is a key pending: the Esc key, or the start of another key's bytes. The widget hands
// over a whole sequence at once, so this wait of at most the sequence timeout only follows a real
// press of Esc, which it then gives.
bool WebTerminal::KeyPending() {
  TakeTyped();
  while (!decoder_.HasKey() && decoder_.HoldsLoneEsc()) {
    AwaitTyping(decoder_.TimeUntilTimeout(Now()));
    TakeTyped();
  }
  return decoder_.HasKey();
}

int WebTerminal::ReadKey() {
  Flush();
  TakeTyped();
  while (!decoder_.HasKey()) {
    // Without a half-read sequence there is no time limit: only a key wakes the game.
    AwaitTyping(decoder_.TimeUntilTimeout(Now()));
    TakeTyped();
  }
  return decoder_.PopKey();
}

// One timer to the moment the millisecond count turns to `deadline`. A key typed meanwhile is
// taken at once, so that the decoder knows when each byte came (Esc and a key pressed after it
// are two keys, Alt and a key one), and the sleep goes on to the same deadline.
void WebTerminal::SleepUntil(TickCount deadline) {
  for (;;) {
    const double now = NowMs();
    const auto now_ms = static_cast<std::uint64_t>(now);
    const TickCount ahead = TimeUntil(deadline, static_cast<TickCount>(now_ms));
    if (ahead == 0) return;
    const double rest = static_cast<double>(now_ms + ahead) - now;
    vorlix_await_typing(std::ceil(rest));
    TakeTyped();
  }
}

}  // namespace

std::unique_ptr<Terminal> OpenSystemTerminal() {
  return std::make_unique<WebTerminal>();
}
