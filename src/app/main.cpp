#include <memory>

#include "app/app.h"
#include "console/console.h"

int main() {
  const std::unique_ptr<Terminal> terminal = OpenSystemTerminal();
  if (!terminal) return 1;
  AttachTerminal(*terminal);
  const StartUpOutcome start = StartUp();
  if (start.player_quit) return 0;
  return RunMainMenu(start.has_save);
}
