// What the page adds to the game's screen for the player: the game's keys on a touch screen, full
// screen, and the bell heard.

// A phone or tablet, whose main pointer is a finger, has no keys to press: it gets the game's keys
// as buttons under the screen, and a swipe across the screen steers. True when it does.
export function offerTouchKeys(type, stage, note) {
  if (!matchMedia('(pointer: coarse)').matches) return false;
  const keys = document.getElementById('keys');
  keys.hidden = false;
  note.textContent = 'Vorlix is made for a keyboard: here the buttons are its keys, and a swipe steers.';
  keys.addEventListener('click', event => {
    const key = event.target.closest('button')?.dataset.key;
    if (key) type(key);
  });
  let start = null;
  stage.addEventListener('touchstart', event => { start = event.changedTouches[0]; }, { passive: true });
  stage.addEventListener('touchend', event => {
    if (!start) return;
    const dx = event.changedTouches[0].clientX - start.clientX;
    const dy = event.changedTouches[0].clientY - start.clientY;
    start = null;
    if (Math.max(Math.abs(dx), Math.abs(dy)) < 30) return;
    // The keys' own bytes: ESC [ A up, B down, C right, D left.
    type(Math.abs(dx) > Math.abs(dy) ? (dx > 0 ? '\x1b[C' : '\x1b[D') : (dy > 0 ? '\x1b[B' : '\x1b[A'));
  });
  return true;
}

// A button for full screen, where the browser allows it; `done` follows each change.
export function offerFullScreen(button, done) {
  if (!document.fullscreenEnabled) return;
  button.hidden = false;
  button.addEventListener('click', () => {
    if (document.fullscreenElement) document.exitFullscreen();
    else document.documentElement.requestFullscreen().catch(() => {});
  });
  document.addEventListener('fullscreenchange', () => {
    button.textContent = document.fullscreenElement ? 'Leave full screen' : 'Full screen';
    done();
  });
}

// The bell: a short beep. The sound is made the first time it rings, which always follows a key
// the player pressed, so the browser lets it play.
let audio = null;
export function ringBell() {
  audio ??= new AudioContext();
  if (audio.state === 'suspended') audio.resume();
  const tone = audio.createOscillator();
  const loudness = audio.createGain();
  const now = audio.currentTime;
  tone.type = 'square';
  tone.frequency.value = 880;
  loudness.gain.setValueAtTime(0.06, now);
  loudness.gain.exponentialRampToValueAtTime(0.0001, now + 0.12);
  tone.connect(loudness).connect(audio.destination);
  tone.start(now);
  tone.stop(now + 0.12);
}
