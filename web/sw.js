// The page's service worker: every file of the page, cached at the first
// visit under this build's name, and served from there first, so that the
// page loads and plays without a network. A new build waits, installed,
// until the page lets it take over (between games); once it has, the
// caches of older builds go.
const CACHE = 'blockfall-@BUILD@';
const FILES = [@FILES@];

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((name) => name.startsWith('blockfall-') && name !== CACHE)
                                      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

self.addEventListener('fetch', (event) => {
  if (event.request.method !== 'GET')
    return;
  event.respondWith(caches.open(CACHE)
    .then((cache) => cache.match(event.request, { ignoreSearch: true }))
    .then((cached) => cached ?? fetch(event.request)));
});

// The page's word that no game is running: the waiting build takes over.
self.addEventListener('message', (event) => {
  if (event.data === 'take over')
    self.skipWaiting();
});
