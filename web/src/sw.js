// The page's service worker: it keeps the page's own files, so that once
// visited the page opens and scales with the network off. It asks for
// nothing but those files, from this folder: each is fetched afresh while the
// network is there (a new build is seen at once) and kept, and taken from
// what was kept when the network is not. The build puts in the name of the
// files' version (LQ2X_FILES_VERSION), so that a new build keeps its own.
const CACHE = 'lq2x-LQ2X_FILES_VERSION';
const FILES = ['./', 'index.html', 'page.js', 'style.css', 'manifest.webmanifest', 'icon-192.png', 'icon-512.png'];
const scope = new URL('./', self.location.href);
const kept = new Set(FILES.map((f) => new URL(f, scope).href));

self.addEventListener('install', (e) => {
    e.waitUntil(caches.open(CACHE).then((c) => c.addAll(FILES)).then(() => self.skipWaiting()));
});
self.addEventListener('activate', (e) => {
    e.waitUntil(caches.keys()
        .then((keys) => Promise.all(keys.filter((k) => k.startsWith('lq2x-') && k !== CACHE).map((k) => caches.delete(k))))
        .then(() => self.clients.claim()));
});
self.addEventListener('fetch', (e) => {
    const url = new URL(e.request.url);
    url.search = '';
    if (e.request.method !== 'GET' || !kept.has(url.href)) return; // anything else is not the page's to keep
    e.respondWith(fetch(e.request).then((r) => {
        if (r.ok) {
            const copy = r.clone();
            e.waitUntil(caches.open(CACHE).then((c) => c.put(url.href, copy)));
        }
        return r;
    }).catch(() => caches.open(CACHE).then((c) => c.match(url.href)).then((r) => r ?? Response.error())));
});
