#include <memory>

#include "app/app.h"
#include "console/console.h"

int main() {
  const std::unique_ptr<Terminal> terminal = OpenSystemTerminal();
  if (!terminal) return 1;
  AttachTerminal(*terminal);
  const bool has_save = StartUp();
  return RunMainMenu(has_save);
}
