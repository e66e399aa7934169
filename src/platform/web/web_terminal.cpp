// The terminal in a web page: the game compiled to WebAssembly, run in a worker of the page and
// drawn by a terminal widget on it. It draws and reads keys as every VT terminal does
// (vt_terminal.h): frames go to the widget as the same bytes a POSIX terminal gets, and what the
// player types into it comes back as bytes. The worker keeps the bytes typed, each with the moment
// it came, until the game takes them (web_page.js).
//
// Every wait hands the worker's thread back to the browser (ASYNCIFY) until a key comes or a timer
// runs out. Nothing polls.

#include <emscripten.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/terminal.h"
#include "platform/vt/vt_terminal.h"

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

class WebTerminal final : public VtTerminal {
 public:
  WebTerminal() : VtTerminal(Glyphs::kUtf8) {}
  ~WebTerminal() override { vorlix_game_ended(); }
  WebTerminal(const WebTerminal&) = delete;
  WebTerminal& operator=(const WebTerminal&) = delete;

  // The page picks the font, and it is always 155 by 42.
  void SetFont() override {}
  void HideCursor() override { Show("\x1b[?25l"); }
  ScreenFit FitScreen() override { return ScreenFit::kReady; }

 private:
  void Show(std::string_view bytes) override {
    if (!bytes.empty()) vorlix_show(bytes.data(), static_cast<int>(bytes.size()));
  }
  // The page hands over every byte typed so far.
  bool TakeInput(KeyDecoder& decoder) override;
  // The page wakes the game for every key typed, and it keeps what is typed meanwhile.
  bool AwaitInput(WaitLimit limit, bool /*for_keys*/) override {
    const double ms = limit ? std::ceil(static_cast<double>(limit->count()) / 1e6) : -1.0;
    vorlix_await_typing(ms);
    return true;
  }
  // The page's clock, performance.now(): monotonic, in milliseconds with a fraction.
  std::chrono::nanoseconds Clock() override {
    return std::chrono::nanoseconds(static_cast<std::int64_t>(emscripten_get_now() * 1e6));
  }
};

bool WebTerminal::TakeInput(KeyDecoder& decoder) {
  constexpr int kBlock = 256;
  unsigned char bytes[kBlock];
  std::uint32_t times[kBlock];
  int count = 0;
  do {
    count = vorlix_take_typed(bytes, times, kBlock);
    for (int i = 0; i < count; ++i) decoder.Feed(bytes[i], times[i]);
  } while (count == kBlock);
  return true;
}

}  // namespace

std::unique_ptr<Terminal> OpenSystemTerminal() {
  return std::make_unique<WebTerminal>();
}
