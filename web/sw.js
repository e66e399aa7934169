// The service worker: every file of one build of the site in a cache named by that build, served
// from there first, so that the game starts at once and also with the server gone. `make web`
// writes the build's name below from the files themselves: a new build is a new worker, which
// fills its own cache from the server, takes over from the old one and deletes its cache.
const cacheName = 'vorlix-@BUILD@';
const files = ['./', 'page.mjs', 'renderer.mjs', 'controls.mjs', 'leaving.mjs', 'xterm.mjs',
               'xterm.css', 'addon-webgl.mjs', 'webgl-probe.js', 'vorlix.js', 'vorlix.wasm', 'manifest.webmanifest',
               'icon.svg', 'icon-192.png', 'icon-512.png'];

// Where the browser can, it takes the site's files from the cache itself, without waking this
// worker for each of them (its static routes); a file not there comes from the server.
const routes = { condition: { urlPattern: { pathname: '*', search: '' } }, source: { cacheName } };

self.addEventListener('install', event => {
  event.waitUntil(caches.open(cacheName)
    .then(cache => cache.addAll(files.map(file => new Request(file, { cache: 'no-cache' }))))
    .then(() => event.addRoutes?.(routes))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', event => {
  event.waitUntil(caches.keys()
    .then(names => Promise.all(names.filter(name => name !== cacheName).map(name => caches.delete(name))))
    .then(() => self.clients.claim()));
});

// Opened once for all the requests of a visit, which come together.
let opened = null;

self.addEventListener('fetch', event => {
  if (event.request.method !== 'GET') return;
  opened ??= caches.open(cacheName);
  event.respondWith(opened
    .then(files => files.match(event.request, { ignoreSearch: true }))
    .then(kept => kept ?? fetch(event.request)));
});
