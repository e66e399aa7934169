// The page around the game: the terminal widget, opened once with the renderer chosen for this
// browser, the screen fitted to the stage, and the game started on it. The page's start script
// (index.html) has started the game's worker (`vorlixGame`), kept what it said so far
// (`vorlixHeard`), and says what goes wrong. The messages between the two are told in the game's
// own side of the page (src/platform/web/web_page.js).

import { Terminal } from './xterm.mjs';
import { chooseRenderer } from './renderer.mjs';
import { offerTouchKeys, offerFullScreen, ringBell } from './controls.mjs';
import { askBeforeLeaving, keepSiteForOffline, gameUnderWay } from './leaving.mjs';

performance.mark('vorlix-scripts-run');

// The font size fitted on the last visit: the widget opens with it, so that a window of the same
// size is not measured and drawn again at other sizes before the game can show. What the storage
// holds may be anything; a size out of reason would have the widget draw a screen of kilometres.
const fittedSize = 'vorlix-font-size';
function recalledFontSize() {
  try {
    const size = Number(localStorage.getItem(fittedSize));
    return size >= 2 && size <= 64 ? size : 16;
  } catch {
    return 16;
  }
}

const terminal = new Terminal({
  cols: 155, rows: 42, scrollback: 0, fontSize: recalledFontSize(), cursorBlink: false,
  fontFamily: '"DejaVu Sans Mono", "Liberation Mono", monospace',
  theme: { background: '#000000', black: '#000000' },
});
// What the page shows of itself: the widget, the renderer's name, the bells rung, the frames
// shown, and `show`, which shows each frame given at `at` (on the page's clock).
window.vorlix = { terminal, renderer: 'dom', bells: 0, frames: 0, show };
const stage = document.getElementById('stage');
const screen = document.getElementById('screen');
const status = document.getElementById('status');
const note = document.getElementById('note');
// The bytes of one key, for the game, with the moment it came.
const type = text => vorlixGame.postMessage({ typed: text, at: performance.timeOrigin + performance.now() });
const touch = offerTouchKeys(type, stage, note);
const resting = note.textContent;

const rendererAfterStart = await chooseRenderer(terminal, renderer => { window.vorlix.renderer = renderer; });
terminal.open(screen);
performance.mark('vorlix-terminal-open');

// The screen is fitted by its font size, not scaled as a picture: a scaled screen is drawn again
// whole at every tick, which makes the DOM renderer late for the next one.
function fit() {
  for (let round = 0; round < 4; round++) {
    const scale = Math.min(stage.clientWidth / screen.offsetWidth, stage.clientHeight / screen.offsetHeight);
    if (scale >= 1 && scale < 1.03) break;
    terminal.options.fontSize = Math.max(2, terminal.options.fontSize * (scale < 1 ? scale * 0.99 : scale));
  }
  screen.style.left = `${Math.max(0, Math.floor((stage.clientWidth - screen.offsetWidth) / 2))}px`;
  screen.style.top = `${Math.max(0, Math.floor((stage.clientHeight - screen.offsetHeight) / 2))}px`;
  try {
    localStorage.setItem(fittedSize, terminal.options.fontSize);
  } catch {}
}
new ResizeObserver(fit).observe(stage);
document.fonts.ready.then(fit);
fit();

terminal.onBell(() => {
  ringBell();
  window.vorlix.bells++;
});
offerFullScreen(document.getElementById('fullscreen'), () => touch || terminal.focus());
askBeforeLeaving(terminal);

// The keys go to the widget: a click anywhere gives them back to it, and a key pressed while
// nothing has the focus goes to it. A touch screen keeps its own keyboard out of the way.
if (!touch) terminal.focus();
document.addEventListener('mousedown', event => {
  if (event.target.tagName !== 'BUTTON' && !touch) {
    event.preventDefault();
    terminal.focus();
  }
});
window.addEventListener('keydown', event => {
  if (event.target === document.body) {
    event.preventDefault();
    terminal.focus();
  }
});

const ended = document.getElementById('ended');
document.getElementById('again').addEventListener('click', () => location.reload());

function show(bytes) {
  terminal.write(bytes);
  if (window.vorlix.frames++ > 0) return;
  performance.mark('vorlix-first-frame');
  status.hidden = true;
  // What can wait for the screen to show does: asking for graphics (the renderer's probe) and
  // filling the offline cache hold up the browser's drawing of the first frame.
  const drawn = terminal.onRender(() => {
    performance.mark('vorlix-first-drawn');
    drawn.dispose();
    setTimeout(() => {
      keepSiteForOffline(() => !gameUnderWay(terminal));
      rendererAfterStart();
    }, 100);
  });
}

// What the game says: its frames, the line under the screen, that the first visit's files are
// kept, that it is over, or that it cannot run.
function hear(data) {
  if (data.frame) window.vorlix.show(data.frame, data.at - performance.timeOrigin);
  if ('paused' in data) note.textContent = data.paused || resting;
  if (data.failed) vorlixFail(data.failed);
  if (data.installed) vorlixRememberInstalled();
  if (data.ended) {
    ended.hidden = false;
    document.getElementById('again').focus();
  }
}
vorlixHeard.splice(0).forEach(hear);
vorlixGame.onmessage = ({ data }) => hear(data);
terminal.onData(type);
