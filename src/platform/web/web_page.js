// The page's side of the web terminal and of the game's files, run before the game starts. The
// page loads the game while it opens its terminal widget: it sets Module.terminal and then calls
// Module.vorlixTerminalReady, and the game starts once both the widget and the game are there.
// The page may also set Module.onFirstFrame, Module.onFrameShown, Module.onPaused and
// Module.onGameEnded.

// ---- The screen and the keys --------------------------------------------------------------------

// Bytes typed into the widget and not yet taken by the game, each with the millisecond count at
// which it came; and the wake-up of the game while it waits for them.
var vorlixTyped = [];
var vorlixWake = null;

// The bytes of one key, from the widget or from the page's own keys. A key that only brings back
// a game held while the page was hidden goes no further.
Module.vorlixType = function (text) {
  if (vorlixHeld) return vorlixHeld();
  // One key press gives its bytes together, at one moment: that is how the key decoder tells an
  // Alt chord (ESC and a key at once) from Esc and a key pressed after it.
  var now = Math.floor(performance.now()) >>> 0;
  new TextEncoder().encode(text).forEach(function (byte) { vorlixTyped.push([byte, now]); });
  if (vorlixWake) vorlixWake();
};

Module.preRun = Module.preRun || [];
Module.preRun.push(function () {
  function attach() {
    Module.terminal.onData(Module.vorlixType);
  }
  if (Module.terminal) return attach();
  addRunDependency('vorlix-terminal');
  Module.vorlixTerminalReady = function () {
    attach();
    removeRunDependency('vorlix-terminal');
  };
});

Module.vorlixShow = function (bytes) {
  Module.terminal.write(bytes);
  if (Module.onFirstFrame) Module.onFirstFrame();
  Module.onFirstFrame = null;
  if (Module.onFrameShown) Module.onFrameShown();
};

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
// A timed wait that ends while the page is hidden is held there: the browser would run the game
// at a tick a second or slower, so the game stands still instead, and once the page is seen again
// it says so and goes on at the player's next key.
Module.vorlixAwaitTyping = function (timeout) {
  return new Promise(function (resolve) {
    if (vorlixTyped.length > 0) return resolve();
    var timer = timeout >= 0 ? setTimeout(wake, timeout) : null;
    function wake() {
      if (timer !== null) clearTimeout(timer);
      vorlixWake = null;
      if (timer !== null && document.hidden) return vorlixHoldWhileHidden(resolve);
      resolve();
    }
    vorlixWake = wake;
  });
};

// Set while the game is held: the key that lets it go on.
var vorlixHeld = null;

function vorlixHoldWhileHidden(goOn) {
  vorlixPaused('The game is paused: the page was hidden.');
  function seen() {
    if (document.hidden) return;
    document.removeEventListener('visibilitychange', seen);
    vorlixPaused('The game is paused while the page was hidden: press a key to play on.');
    vorlixHeld = function () {
      vorlixHeld = null;
      vorlixPaused('');
      goOn();
    };
  }
  document.addEventListener('visibilitychange', seen);
}

function vorlixPaused(text) {
  if (Module.onPaused) Module.onPaused(text);
}

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
//
// A first visit is a first install: the folder is given "score.dat" with the best score 0, so
// that a new player is not warned on every visit that it is missing until a game beats 0. The
// page remembers that it did so (in the browser's local storage); from then on, a file that is
// gone is the game's to warn about.
var vorlixFolder = '/vorlix';
var vorlixInstalled = 'vorlix-installed';

function vorlixInstall(done) {
  var score = vorlixFolder + '/score.dat';
  if (vorlixRemembered()) return done();
  if (FS.analyzePath(score).exists) return vorlixRemember(true, done);
  FS.writeFile(score, '0\n');
  Module.vorlixKeepFile(score).then(function (kept) { vorlixRemember(kept, done); });
}

function vorlixRemembered() {
  try {
    return localStorage.getItem(vorlixInstalled) !== null;
  } catch (e) {
    return false;
  }
}

function vorlixRemember(installed, done) {
  try {
    if (installed) localStorage.setItem(vorlixInstalled, '1');
  } catch (e) {}
  done();
}

Module.preRun.push(function () {
  FS.mkdir(vorlixFolder);
  FS.mount(MEMFS, {}, vorlixFolder);
  FS.chdir(vorlixFolder);
  addRunDependency('vorlix-files');
  IDBFS.syncfs(FS.lookupPath(vorlixFolder).node.mount, true, function (error) {
    if (error) console.warn('Vorlix keeps no files on this visit:', error);
    vorlixInstall(function () { removeRunDependency('vorlix-files'); });
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
