// The page's side of the web terminal and of the game's files, run before the game starts. The
// page sets Module.terminal (the terminal widget) and Module.onGameEnded before it loads the game.

// ---- The screen and the keys --------------------------------------------------------------------

// Bytes typed into the widget and not yet taken by the game, each with the millisecond count at
// which it came; and the wake-up of the game while it waits for them.
var vorlixTyped = [];
var vorlixWake = null;

Module.terminal.onData(function (text) {
  // One key press gives its bytes together, at one moment: that is how the key decoder tells an
  // Alt chord (ESC and a key at once) from Esc and a key pressed after it.
  var now = Math.floor(performance.now()) >>> 0;
  new TextEncoder().encode(text).forEach(function (byte) { vorlixTyped.push([byte, now]); });
  if (vorlixWake) vorlixWake();
});

Module.vorlixShow = function (bytes) { Module.terminal.write(bytes); };

Module.vorlixTakeTyped = function (bytes, times, capacity) {
  var taken = vorlixTyped.splice(0, capacity);
  taken.forEach(function (entry, i) {
    HEAPU8[bytes + i] = entry[0];
    HEAPU32[times + i] = entry[1];
  });
  return taken.length;
};

// Resolves when a key is typed or after `timeout` milliseconds (never when it is negative). The
// game's thread is the page's own: while this waits, the browser runs and the game costs nothing.
Module.vorlixAwaitTyping = function (timeout) {
  return new Promise(function (resolve) {
    if (vorlixTyped.length > 0) return resolve();
    var timer = timeout >= 0 ? setTimeout(wake, timeout) : null;
    function wake() {
      if (timer !== null) clearTimeout(timer);
      vorlixWake = null;
      resolve();
    }
    vorlixWake = wake;
  });
};

Module.vorlixGameEnded = function () {
  if (Module.onGameEnded) Module.onGameEnded();
};

// ---- The files ----------------------------------------------------------------------------------

// The working folder is an in-memory folder filled from the browser's storage (IndexedDB, through
// emscripten's IDBFS) before the game starts; each file the game replaces is then stored again,
// whole, in one transaction (web_files.cpp), and nothing else is: a temporary file never reaches
// the storage, and another tab's files are left as they are. A browser that refuses storage leaves
// the game with an empty folder for this visit, and every write then fails. "help.txt" comes with
// the game and is put in the folder at every start.
var vorlixFolder = '/vorlix';

Module.preRun = Module.preRun || [];
Module.preRun.push(function () {
  FS.mkdir(vorlixFolder);
  FS.mount(MEMFS, {}, vorlixFolder);
  FS.chdir(vorlixFolder);
  addRunDependency('vorlix-files');
  IDBFS.syncfs(FS.lookupPath(vorlixFolder).node.mount, true, function (error) {
    if (error) console.warn('Vorlix keeps no files on this visit:', error);
    removeRunDependency('vorlix-files');
  });
  // Once the folder is filled and the files that come with the game are there.
  addOnInit(function () {
    FS.writeFile(vorlixFolder + '/help.txt', FS.readFile('/share/help.txt'));
  });
});

Module.vorlixKeepFile = function (name) {
  var path = PATH_FS.resolve(name);
  return new Promise(function (resolve) {
    IDBFS.getDB(vorlixFolder, function (error, db) {
      if (error) return resolve(0);
      IDBFS.loadLocalEntry(path, function (error, entry) {
        if (error) return resolve(0);
        try {
          var transaction = db.transaction([IDBFS.DB_STORE_NAME], 'readwrite');
          transaction.oncomplete = function () { resolve(1); };
          transaction.onerror = transaction.onabort = function (event) {
            event.preventDefault();
            resolve(0);
          };
          transaction.objectStore(IDBFS.DB_STORE_NAME).put(entry, path);
        } catch (e) {
          resolve(0);
        }
      });
    });
  });
};
