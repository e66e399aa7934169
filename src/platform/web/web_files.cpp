// The game's files in a web page. The working folder is a file system kept in the browser's
// storage (IndexedDB, loaded before the game starts: web_page.js), so the POSIX file layer serves
// as it is: it replaces a file in the page's copy of the folder through a temporary file, and then
// has it kept here, whole, in the browser's storage. Reading needs nothing more, and a FileLock
// holds nothing here: the browser's file system has no locks.

#include <emscripten.h>

#include "platform/file_layer.h"

// Puts the file at `path` in the browser's storage, whole, in one step; 0 when the browser refused.
EM_ASYNC_JS(int, vorlix_keep_file, (const char* path),
            { return await Module.vorlixKeepFile(UTF8ToString(path)); });

bool KeepReplacedFile(const char* path) {
  return vorlix_keep_file(path) != 0;
}
