// Which renderer draws the widget. WebGL draws a tick in a fraction of the time of the widget's
// DOM renderer, but only on a real graphics card: drawn in software (no GPU, or one the browser
// does not trust) it costs a core and falls behind the game. So WebGL is used only where the
// browser has it without a performance caveat, and is dropped for the DOM renderer as soon as it
// draws markedly fewer frames than the game gives it, or loses its context.
//
// Finding out means starting the browser's graphics, which takes a second where they are
// software, so the first visit opens the widget with the DOM renderer at once and asks a worker
// (webgl-probe.js) once the game runs; the answer is remembered for the next visits, which open
// the widget with that renderer. `?renderer=webgl` or `?renderer=dom` in the address tries one.

const asked = new URLSearchParams(location.search).get('renderer');
const remembered = 'vorlix-renderer';

function remember(renderer) {
  try {
    localStorage.setItem(remembered, renderer);
  } catch {}
}

function recalled() {
  try {
    return localStorage.getItem(remembered);
  } catch {
    return null;
  }
}

// Counts, second by second, the frames the game gives and the frames WebGL draws; two seconds
// running in which it draws less than half of what it could are enough.
function watchPace(terminal, drop) {
  let shown = window.vorlix.frames, drawn = 0, behind = 0;
  const drawing = terminal.onRender(() => drawn++);
  const timer = setInterval(() => {
    const given = window.vorlix.frames - shown;
    const slow = !document.hidden && given >= 10 && drawn < Math.min(given, 60) / 2;
    behind = slow ? behind + 1 : 0;
    shown = window.vorlix.frames;
    drawn = 0;
    if (behind < 2) return;
    clearInterval(timer);
    drawing.dispose();
    drop();
  }, 1000);
}

async function useWebgl(terminal, use) {
  try {
    const { WebglAddon } = await import('./addon-webgl.mjs');
    const webgl = new WebglAddon();
    const drop = () => {
      if (window.vorlix.renderer !== 'webgl') return;
      webgl.dispose();
      remember('dom');
      use('dom');
    };
    webgl.onContextLoss(drop);
    terminal.loadAddon(webgl);
    use('webgl');
    watchPace(terminal, drop);
  } catch (error) {
    console.warn('Vorlix draws without WebGL:', error);
    remember('dom');
    use('dom');
  }
}

function probeWebgl(terminal, use) {
  const probe = new Worker('webgl-probe.js');
  probe.onmessage = ({ data: fast }) => {
    probe.terminate();
    remember(fast ? 'webgl' : 'dom');
    if (fast) useWebgl(terminal, use);
  };
}

// Loads the renderer known for this browser into the widget before it opens, so that it opens
// once, with it; returns what to do once the game has drawn. `use` hears the renderer's name now
// and whenever it changes.
export async function chooseRenderer(terminal, use) {
  use('dom');
  const known = asked ?? recalled();
  if (known === 'webgl') await useWebgl(terminal, use);
  return known ? () => {} : () => probeWebgl(terminal, use);
}
