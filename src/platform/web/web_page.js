// The game's side of the web page, run before the game starts. The game runs in a worker of its
// own (vorlix.js), so that its ticks keep their time however long the page takes to draw one:
// the page (web/index.html and web/page.mjs) starts it, draws the frames in its terminal widget
// and sends the keys. Messages:
//   from the page: { start: { code, installed }, hidden } once, with the compiled game and
//                  whether the first visit's files were kept before; { typed, at } for each key;
//                  { hidden } whenever the page is hidden or seen again;
//   to the page:   { frame, at } for each frame; { paused } with the text to show under the
//                  screen ('' when it is gone); { installed } once the first visit's files are
//                  kept; { ended } when the game is over; { failed } when the game cannot run.
// Times go between the two as milliseconds since the epoch (timeOrigin + now), which both share.

function vorlixTell(message, transfer) {
  postMessage(message, transfer || []);
}

// What the page said at the start: resolves with its start message.
var vorlixStart = new Promise(function (resolve) {
  self.onmessage = function (event) {
    var message = event.data;
    if (message.start) resolve(message.start);
    if ('hidden' in message) vorlixSetHidden(message.hidden);
    if ('typed' in message) vorlixType(message.typed, message.at - performance.timeOrigin);
  };
});

Module.instantiateWasm = function (imports, done) {
  vorlixStart.then(function (start) { return WebAssembly.instantiate(start.code, imports); })
    .then(function (instance) { done(instance); })
    .catch(function (error) {
      vorlixTell({ failed: 'Vorlix could not start its WebAssembly: ' + error.message });
    });
  return {};
};
Module.onAbort = function (what) {
  vorlixTell({ failed: 'Vorlix stopped (' + what + '). Reload the page to start again.' });
};

// ---- The screen and the keys --------------------------------------------------------------------

// Bytes typed and not yet taken by the game, each with the millisecond count (on the game's own
// clock) at which it came; and the wake-up of the game while it waits for them.
var vorlixTyped = [];
var vorlixWake = null;

// The bytes of one key, from the widget or from the page's own keys. A key that only brings back
// a game held while the page was hidden goes no further.
function vorlixType(text, at) {
  if (vorlixHeld) return vorlixHeld();
  // One key press gives its bytes together, at one moment: that is how the key decoder tells an
  // Alt chord (ESC and a key at once) from Esc and a key pressed after it.
  var moment = Math.floor(Math.max(0, at)) >>> 0;
  new TextEncoder().encode(text).forEach(function (byte) { vorlixTyped.push([byte, moment]); });
  if (vorlixWake) vorlixWake();
}

Module.vorlixShow = function (bytes) {
  vorlixTell({ frame: bytes, at: performance.timeOrigin + performance.now() }, [bytes.buffer]);
};

Module.vorlixTakeTyped = function (bytes, times, capacity) {
  var taken = vorlixTyped.splice(0, capacity);
  taken.forEach(function (entry, i) {
    HEAPU8[bytes + i] = entry[0];
    HEAPU32[times + i] = entry[1];
  });
  return taken.length;
};

// Resolves when a key is typed or after `timeout` milliseconds (never when it is negative). While
// this waits, the worker's thread is idle and the game costs nothing. A timed wait that ends while
// the page is hidden is held there: the browser does not draw a hidden page, so the game would
// play on unseen; it stands still instead, and once the page is seen again it says so and goes on
// at the player's next key.
Module.vorlixAwaitTyping = function (timeout) {
  return new Promise(function (resolve) {
    if (vorlixTyped.length > 0) return resolve();
    var timer = timeout >= 0 ? setTimeout(wake, timeout) : null;
    function wake() {
      if (timer !== null) clearTimeout(timer);
      vorlixWake = null;
      if (timer !== null && vorlixHidden) return vorlixHoldWhileHidden(resolve);
      resolve();
    }
    vorlixWake = wake;
  });
};

// Whether the page is hidden, as it last said; and what to do once it is seen again.
var vorlixHidden = false;
var vorlixOnSeen = null;

function vorlixSetHidden(hidden) {
  vorlixHidden = hidden;
  if (hidden || !vorlixOnSeen) return;
  vorlixOnSeen();
  vorlixOnSeen = null;
}

// Set while the game is held: the key that lets it go on.
var vorlixHeld = null;

function vorlixHoldWhileHidden(goOn) {
  vorlixTell({ paused: 'The game is paused: the page was hidden.' });
  vorlixOnSeen = function () {
    vorlixTell({ paused: 'The game is paused while the page was hidden: press a key to play on.' });
    vorlixHeld = function () {
      vorlixHeld = null;
      vorlixTell({ paused: '' });
      goOn();
    };
  };
}

Module.vorlixGameEnded = function () {
  vorlixTell({ ended: true });
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
// page remembers that it did so (in the browser's local storage, which a worker does not have);
// from then on, a file that is gone is the game's to warn about.
var vorlixFolder = '/vorlix';

function vorlixInstall(installed, done) {
  var score = vorlixFolder + '/score.dat';
  if (installed) return done();
  if (FS.analyzePath(score).exists) return vorlixRemember(true, done);
  FS.writeFile(score, '0\n');
  Module.vorlixKeepFile(score).then(function (kept) { vorlixRemember(kept, done); });
}

function vorlixRemember(installed, done) {
  if (installed) vorlixTell({ installed: true });
  done();
}

// The files kept in the browser's storage, read as soon as this script has run, while the page
// sends the game's compiled code: resolves with their [path, entry] pairs, none when the storage is
// refused. The folder is filled with them once the game's memory is there.
var vorlixKept = null;
Module.preInit = Module.preInit || [];
Module.preInit.push(function () {
  vorlixKept = new Promise(function (resolve) {
    function none(error) {
      console.warn('Vorlix keeps no files on this visit:', error);
      resolve([]);
    }
    IDBFS.getDB(vorlixFolder, function (error, db) {
      if (error) return none(error);
      try {
        var transaction = db.transaction([IDBFS.DB_STORE_NAME], 'readonly');
        var store = transaction.objectStore(IDBFS.DB_STORE_NAME);
        var paths = store.getAllKeys();
        var entries = store.getAll();
        transaction.oncomplete = function () {
          resolve(paths.result.map(function (path, i) { return [path, entries.result[i]]; }));
        };
        transaction.onabort = function () { none(transaction.error); };
      } catch (e) {
        none(e);
      }
    });
  });
});

Module.preRun = Module.preRun || [];
Module.preRun.push(function () {
  FS.mkdir(vorlixFolder);
  FS.mount(MEMFS, {}, vorlixFolder);
  FS.chdir(vorlixFolder);
  addRunDependency('vorlix-files');
  Promise.all([vorlixKept, vorlixStart]).then(function (both) {
    both[0].forEach(function (file) {
      IDBFS.storeLocalEntry(file[0], file[1], function (error) {
        if (error) console.warn('Vorlix could not take the kept file ' + file[0] + ':', error);
      });
    });
    vorlixInstall(both[1].installed, function () { removeRunDependency('vorlix-files'); });
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
