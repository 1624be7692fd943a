// Finishes the built page in its folder (argument 1): lq2x.html, the whole
// page in one file (its style and script inlined, the script's and style's
// SHA-256 in its policy in place of 'self'), which runs opened from disk
// (a file:// address) with nothing beside it; and sw.js with the version of
// the page's files in its cache's name.
import crypto from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

const [dir, sw_source] = process.argv.slice(2);
const read = (name) => fs.readFileSync(path.join(dir, name), 'utf8');
const html = read('index.html'), style = read('style.css'), script = read('page.js');
const hash = (text) => `'sha256-${crypto.createHash('sha256').update(text, 'utf8').digest('base64')}'`;
// The script must not end its own element early.
if (/<\/script|<!--/i.test(script)) throw new Error('page.js holds "</script" or "<!--", which would end it inlined');
if (/<\/style/i.test(style)) throw new Error('style.css holds "</style"');

const replace = (text, from, to) => {
    if (!text.includes(from)) throw new Error(`no longer found: ${from}`);
    return text.replace(from, () => to);
};
let one = replace(html, '<html lang="en">', '<html lang="en" data-one-file>');
one = replace(one, "script-src 'self' 'wasm-unsafe-eval'", `script-src ${hash(script)} 'wasm-unsafe-eval'`);
one = replace(one, "worker-src 'self' blob:", 'worker-src blob:');
one = replace(one, "style-src 'self'", `style-src ${hash(style)}`);
one = replace(one, "img-src 'self'", "img-src 'none'");
one = replace(one, "manifest-src 'self'", "manifest-src 'none'");
one = replace(one, '<link rel="icon" href="icon-192.png">\n', '');
one = replace(one, '<link rel="stylesheet" href="style.css">', `<style>${style}</style>`);
// Deferred as the file is: run once the document is read.
one = replace(one, '<script src="page.js" defer></script>', '');
one = replace(one, '</body>', `<script>${script}</script>\n</body>`);
fs.writeFileSync(path.join(dir, 'lq2x.html'), one);

const files = ['index.html', 'page.js', 'style.css', 'manifest.webmanifest', 'icon-192.png', 'icon-512.png'];
const version = crypto.createHash('sha256');
for (const f of files) version.update(fs.readFileSync(path.join(dir, f)));
const sw = fs.readFileSync(sw_source, 'utf8');
fs.writeFileSync(path.join(dir, 'sw.js'), replace(sw, 'LQ2X_FILES_VERSION', version.digest('hex').slice(0, 16)));
