// What the browser checks and the browser bench share: the site served on 127.0.0.1,
// Chromium started as the checks need it, the readers of scripts/reader-ns.sh, and waits on
// the page as a user would wait (the dialog idle, the reader listed).
import { chromium } from 'playwright-core';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';

const mime = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
               '.png': 'image/png' };

// Serves the folder; `extra` maps further paths to page texts (the bench's blank page).
export function serve(site, port, extra = {}) {
  const server = http.createServer((req, res) => {
    let name = decodeURIComponent(new URL(req.url, 'http://127.0.0.1').pathname);
    if (extra[name] !== undefined) {
      res.writeHead(200, { 'content-type': 'text/html', 'cache-control': 'no-store' });
      res.end(extra[name]);
      return;
    }
    if (name.endsWith('/')) name += 'index.html';
    const file = path.join(site, path.normalize(name));
    fs.readFile(file, (err, data) => {
      if (err || !file.startsWith(site)) { res.writeHead(404); res.end(); return; }
      res.writeHead(200, { 'content-type': mime[path.extname(file)] || 'application/octet-stream',
                           'cache-control': 'no-store' });
      res.end(data);
    });
  });
  return new Promise((ok) => server.listen(Number(port), '127.0.0.1', () => ok(server)));
}

// Debian's Chromium as root: no sandbox, nothing fetched in the background.
export function launch(executablePath) {
  return chromium.launch({
    executablePath, headless: true,
    args: ['--no-sandbox', '--disable-background-networking', '--disable-component-update',
           '--no-first-run', '--disable-gpu'],
  });
}

// readers('usb-plug', OPTIONS...), ('serial-pull'), ('log', 'usb'): scripts/reader-ns.sh.
export function readersAt(script) {
  return (...args) => execFileSync('bash', [script, ...args], { encoding: 'utf8' });
}

// Waits until the dialog is idle and the test box has not changed for a while (the serial
// answers arrive one byte a timer tick), a message box shows, or 3 s pass.
export async function settled(page) {
  let last = null, since = Date.now();
  const end = Date.now() + 3000;
  while (Date.now() < end) {
    const state = await page.evaluate(() => ({
      busy: document.body.classList.contains('busy'),
      box: document.querySelector('textarea.testbox').value,
      message: document.getElementById('message').open,
    }));
    if (state.message) return;
    const key = state.busy + state.box;
    if (key !== last) { last = key; since = Date.now(); }
    else if (!state.busy && Date.now() - since >= 250) return;
    await page.waitForTimeout(25);
  }
}

// The reader's list on the page says what the browser has granted and is plugged in.
export async function listed(page, what, present) {
  const list = page.getByRole('list', { name: 'Readers and COM numbers' });
  // A serial port keeps its COM number when it is pulled out, marked "(unplugged)".
  const pattern = what === 'usb' ? /USB reader 0801:0005/ : /^COM1 (?!.*unplugged).*$/m;
  const end = Date.now() + 10000;
  while (Date.now() < end) {
    if (pattern.test(await list.innerText()) === present) return;
    await page.waitForTimeout(50);
  }
  throw new Error(`the page does not list the ${what} reader as ${present ? "present" : "gone"}: ${JSON.stringify(await list.innerText())}`);
}

