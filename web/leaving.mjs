// What happens when the player leaves: a game under way is lost with the page, so the browser
// asks first; and the site is kept for a visit with the server gone.

// A game is under way while its score panel or its save dialog is on the screen.
export function gameUnderWay(terminal) {
  const buffer = terminal.buffer.active;
  for (let y = 0; y < terminal.rows; y++) {
    const row = buffer.getLine(y).translateToString(true);
    if (row.includes('Your score:') || row.includes('Save the game and continue?')) return true;
  }
  return false;
}

export function askBeforeLeaving(terminal) {
  window.addEventListener('beforeunload', event => {
    if (!gameUnderWay(terminal)) return;
    event.preventDefault();
    event.returnValue = '';
  });
}

// The service worker (sw.js) keeps every file of this build, so that the next visit starts from
// them, with or without the server. A new build found later takes over at once; the page then
// reloads onto it when `mayReload` says no game would be lost, and otherwise the next visit has
// it. The browser is also asked to keep the game's files even when storage runs short.
export function keepSiteForOffline(mayReload) {
  navigator.storage?.persist?.();
  if (!('serviceWorker' in navigator)) return;
  const updating = navigator.serviceWorker.controller !== null;
  navigator.serviceWorker.addEventListener('controllerchange', () => {
    if (updating && mayReload()) location.reload();
  });
  navigator.serviceWorker.register('sw.js', { updateViaCache: 'none' })
    .catch(error => console.warn('Vorlix is not kept for offline visits:', error));
}
