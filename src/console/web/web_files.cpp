// The game's files in a web page. The working folder is a file system kept in the browser's
// storage (IndexedDB, loaded before the game starts: web_page.js), so the POSIX file layer serves
// as it is, compiled with its ReplaceFile named ReplaceFileInMemory: it replaces the file in the
// page's copy of the folder through a temporary file, and this layer then hands the new file to
// the browser's storage, whole, and waits until it is kept there. Reading needs nothing more, and
// a FileLock holds nothing here: the browser's file system has no locks.

#include <emscripten.h>

#include <string_view>

#include "console/files.h"

bool ReplaceFileInMemory(const char* path, std::string_view contents);

// Puts the file at `path` in the browser's storage, whole, in one step; 0 when the browser refused.
EM_ASYNC_JS(int, vorlix_keep_file, (const char* path),
            { return await Module.vorlixKeepFile(UTF8ToString(path)); });

bool ReplaceFile(const char* path, std::string_view contents) {
  return ReplaceFileInMemory(path, contents) && vorlix_keep_file(path) != 0;
}
