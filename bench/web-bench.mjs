// The page's times in Chromium: from navigation to a usable dialog against a blank page
// from the same server in the same browser, and each operation over WebHID and WebSerial
// against its floor. Run by bench/web-bench.sh inside the namespace of
// scripts/reader-ns.sh, with a USB and a serial simulated reader plugged in.
//
// An operation is timed inside the page: from the click event on its button to the moment
// the page puts the operation's final text into the test box (a hook on the text area's
// value, installed before the page's own script runs). The floors are the reader
// protocol's fixed figures, the same as bench/ops_bench.cpp's for the desktop window:
// pauses, time-outs, poll ticks and 9600 baud, none taken from the tool's constants.
import { parseArgs } from 'node:util';

import { launch, listed, readersAt, serve, settled } from '../tests/web/harness.mjs';

const { values: opt } = parseArgs({
  options: {
    site: { type: 'string' }, chromium: { type: 'string' }, port: { type: 'string' },
    readers: { type: 'string' }, runs: { type: 'string', default: '7' },
  },
});
const runs = Math.max(1, Number(opt.runs));
const url = `http://127.0.0.1:${opt.port}/`;
const TARGET = 1.05;

// The reader protocol's figures.
const WRITE_PAUSE_MS = 17;   // after each report of a configuration write
const UPLOAD_PAUSE_MS = 17;  // after each reply report of an upload
const SAVE_PAUSE_MS = 20;    // after each reply report of a save
const CARD_PAUSE_MS = 20;    // after each card report
const CARD_SILENCE_MS = 500; // the silence that ends a card
const DOWNLOAD_REPLY_MS = 850, FACTORY_REPLY_MS = 450;  // serial reply time-outs
const POLL_MS = 10;          // the receive poll shows one byte a tick
const BYTE_MS = 10 / 9.6;    // 10 bits at 9600 baud

// The bytes a test box text stands for (symbols for control bytes, a break after line ends).
const byteCount = (text) => text.replace(/\n/g, '').replace(/\u27e8[0-9A-Fa-f]{2}\u27e9/g, '.').length;

const fixed = (ms) => () => ms;
const usbOps = [
  ['download', 'Download Setting to Device', fixed(8 * WRITE_PAUSE_MS)],
  ['factory', 'Back to Default Factory Setting', fixed(8 * WRITE_PAUSE_MS)],
  ['upload', 'Upload Setting from Device', fixed(7 * UPLOAD_PAUSE_MS)],
  ['save', 'Save setting to File', fixed(7 * SAVE_PAUSE_MS)],
  ['version', 'Get Version', fixed(0)],
  // The box shows the card's bytes in hexadecimal: 8 bytes a report.
  ['read card', 'Read Card', (box) => Math.ceil(box.length / 2 / 8) * CARD_PAUSE_MS + CARD_SILENCE_MS],
];
const serialOps = [
  ['download', 'Download Setting to Device', fixed(BYTE_MS + DOWNLOAD_REPLY_MS)],
  ['factory', 'Back to Default Factory Setting', fixed(BYTE_MS + FACTORY_REPLY_MS)],
  ['upload', 'Upload Setting from Device', fixed(56 * BYTE_MS)],
  ['save', 'Save setting to File', fixed(56 * BYTE_MS)],
  ['version', 'Get Version', (box) => byteCount(box) * POLL_MS],
  ['read card', 'Read Card', (box) => byteCount(box) * POLL_MS],
];

// Installed before the page's script: the click times and every text the test box gets.
function hooks() {
  window.zarnBench = { clicks: [], sets: [], ready: 0 };
  document.addEventListener('click', (e) => { if (e.isTrusted) window.zarnBench.clicks.push(e.timeStamp); }, true);
  const value = Object.getOwnPropertyDescriptor(HTMLTextAreaElement.prototype, 'value');
  Object.defineProperty(HTMLTextAreaElement.prototype, 'value', {
    configurable: true,
    get() { return value.get.call(this); },
    set(v) {
      value.set.call(this, v);
      if (this.classList.contains('testbox')) window.zarnBench.sets.push([performance.now(), v]);
    },
  });
  // The receive poll's bytes are added to the box's end rather than set whole.
  const setRange = HTMLTextAreaElement.prototype.setRangeText;
  HTMLTextAreaElement.prototype.setRangeText = function(...args) {
    setRange.apply(this, args);
    if (this.classList.contains('testbox')) window.zarnBench.sets.push([performance.now(), this.value]);
  };
  // The dialog is usable once the page marks itself ready (its controls built and wired).
  new MutationObserver(() => {
    if (!window.zarnBench.ready && document.body?.classList.contains('ready')) {
      window.zarnBench.ready = performance.now();
    }
  }).observe(document, { subtree: true, attributes: true, attributeFilter: ['class'] });
}

const median = (xs) => {
  const s = [...xs].sort((a, b) => a - b);
  return s.length % 2 ? s[(s.length - 1) / 2] : (s[s.length / 2 - 1] + s[s.length / 2]) / 2;
};

async function pageLoad(browser) {
  const blank = [], dialog = [];
  const context = await browser.newContext();
  await context.addInitScript(hooks);
  const page = await context.newPage();
  for (let i = 0; i <= runs; ++i) {
    await page.goto(url + 'blank.html', { waitUntil: 'load' });
    const b = await page.evaluate(() => performance.getEntriesByType('navigation')[0].loadEventEnd);
    await page.goto(url, { waitUntil: 'commit' });
    await page.waitForFunction(() => window.zarnBench.ready > 0);
    const d = await page.evaluate(() => window.zarnBench.ready);
    if (i > 0) { blank.push(b); dialog.push(d); }  // the first round warms the server up
  }
  await context.close();
  return { blank: median(blank), dialog: median(dialog) };
}

// One operation, timed: the test box cleared first, as a user would.
async function timeOp(page, name) {
  await page.getByRole('button', { name: 'Clear', exact: true }).click();
  await settled(page);
  await page.evaluate(() => { window.zarnBench.sets = []; window.zarnBench.clicks = []; });
  await page.getByRole('button', { name, exact: true }).click();
  await settled(page);
  const box = await page.getByRole('textbox', { name: 'Test Magnetic Reader' }).inputValue();
  const { clicks, sets } = await page.evaluate(() => window.zarnBench);
  const shown = sets.find(([, v]) => v === box);
  return { box, ms: shown ? shown[0] - clicks[clicks.length - 1] : NaN };
}

// The browser's own round trips in the same run, as yardsticks (shown, not judged): a
// version request by sendReport to its inputreport, and by a WebSerial write to the last
// of its 5 bytes, on a blank page of the same origin; first back to back, then each from a
// click on a button of that page, timed as the operations are (from the click's time
// stamp), so that it holds what the browser itself spends between a click and an answer.
async function roundTrips(browser) {
  const context = await browser.newContext();
  const page = await context.newPage();
  await page.goto(url + 'blank.html');
  const rounds = 2 * runs + 1;
  // The exchanges, and a button for each that times it from its click.
  await page.evaluate(async () => {
    const [device] = await navigator.hid.getDevices();
    await device.open();
    const port = (await navigator.serial.getPorts()).find((p) => p.getInfo().usbVendorId === 0x0801);
    await port.open({ baudRate: 9600 });
    const writer = port.writable.getWriter(), reader = port.readable.getReader();
    const exchange = {
      hid: async () => {
        const answer = new Promise((ok) => device.addEventListener('inputreport', ok, { once: true }));
        await Promise.all([device.sendReport(0, new Uint8Array([0x56, 0, 0, 0, 0, 0, 0, 0])), answer]);
      },
      serial: async () => {
        const sent = writer.write(new Uint8Array([0x56]));
        for (let n = 0; n < 5;) n += (await reader.read()).value.length;
        await sent;
      },
    };
    window.yardstick = { exchange, fromClick: { hid: [], serial: [] } };
    for (const link of ['hid', 'serial']) {
      const button = document.createElement('button');
      button.textContent = link;
      button.addEventListener('click', async (e) => {
        await exchange[link]();
        window.yardstick.fromClick[link].push(performance.now() - e.timeStamp);
      });
      document.body.append(button);
    }
  });
  const backToBack = await page.evaluate(async (n) => {
    const times = { hid: [], serial: [] };
    for (const link of ['hid', 'serial']) {
      for (let i = 0; i < n; ++i) {
        const t0 = performance.now();
        await window.yardstick.exchange[link]();
        times[link].push(performance.now() - t0);
      }
    }
    return times;
  }, rounds);
  for (let i = 0; i < rounds; ++i) {
    for (const link of ['hid', 'serial']) {
      await page.getByRole('button', { name: link, exact: true }).click();
      await page.waitForFunction(([l, n]) => window.yardstick.fromClick[l].length > n, [link, i]);
      await page.waitForTimeout(50);
    }
  }
  const fromClick = await page.evaluate(() => window.yardstick.fromClick);
  await context.close();
  return { hid: median(backToBack.hid), serial: median(backToBack.serial),
           clickHid: median(fromClick.hid), clickSerial: median(fromClick.serial) };
}

async function operations(browser, link, ops) {
  const context = await browser.newContext({ acceptDownloads: true });
  await context.addInitScript(() => { delete window.showSaveFilePicker; });
  await context.addInitScript(hooks);
  const page = await context.newPage();
  page.on('download', (d) => d.delete().catch(() => {}));
  await page.goto(url);
  await page.getByRole('button', { name: 'Get Version', exact: true }).waitFor();
  await listed(page, link, true);
  if (link === 'serial') {
    await page.getByRole('radio', { name: 'serial port', exact: true }).click();
    await page.getByRole('button', { name: 'Open', exact: true }).click();
    await settled(page);
  }
  const samples = new Map(ops.map(([op]) => [op, []]));
  for (let round = 0; round <= runs; ++round) {
    for (const [op, button, floor] of ops) {
      const { box, ms } = await timeOp(page, button);
      if (round > 0) samples.get(op).push({ ms, floor: floor(box), box });
    }
  }
  await context.close();
  return ops.map(([op]) => ({ link, op, samples: samples.get(op) }));
}

async function main() {
  const server = await serve(opt.site, opt.port, {
    '/blank.html': '<!DOCTYPE html><html lang="en"><head><meta charset="utf-8"><title>blank</title></head><body></body></html>',
  });
  const browser = await launch(opt.chromium);
  const readers = readersAt(opt.readers);
  let status = 0;
  try {
    const load = await pageLoad(browser);
    console.log(`page: navigation to a usable dialog ${load.dialog.toFixed(1)} ms, to a blank page ` +
                `${load.blank.toFixed(1)} ms, ratio ${(load.dialog / load.blank).toFixed(2)} ` +
                `(median of ${runs}; shown, not judged: the WebAssembly start-up is held, not chased)`);
    readers('usb-plug');
    readers('serial-plug');
    const trips = await roundTrips(browser);
    console.log(`browser round trips on a blank page: WebHID version request ${trips.hid.toFixed(1)} ms, ` +
                `WebSerial version request (5 bytes at 9600 baud) ${trips.serial.toFixed(1)} ms; ` +
                `the same from a click on the page's button: ${trips.clickHid.toFixed(1)} ms and ` +
                `${trips.clickSerial.toFixed(1)} ms (yardsticks, not judged)`);
    // What a click costs before any page's first answer, over the exchange's own line time.
    const clickCost = { usb: trips.clickHid, serial: Math.max(0, trips.clickSerial - 5 * BYTE_MS) };
    const rows = [...await operations(browser, 'usb', usbOps), ...await operations(browser, 'serial', serialOps)];
    console.log(`\noperation time / floor, median of ${runs} runs (target <= ${TARGET.toFixed(2)})`);
    console.log('link    operation   floor ms   time ms   extra ms   ratio  blank   verdict');
    for (const r of rows) {
      const ms = median(r.samples.map((s) => s.ms));
      const floor = median(r.samples.map((s) => s.floor));
      const extra = median(r.samples.map((s) => s.ms - s.floor));
      let verdict, ratio = '-', blank = '-';
      if (r.samples.some((s) => Number.isNaN(s.ms))) { verdict = 'FAILED: no result shown'; status = 3; }
      else if (floor <= 0) verdict = 'no floor, not judged';
      else {
        ratio = (ms / floor).toFixed(3);
        blank = (ms / (floor + clickCost[r.link])).toFixed(3);
        verdict = ms / floor <= TARGET ? 'ok' : 'ABOVE TARGET';
        if (ms / floor > TARGET) status = 3;
      }
      console.log(`${r.link.padEnd(7)} ${r.op.padEnd(10)} ${floor.toFixed(1).padStart(9)} ` +
                  `${ms.toFixed(1).padStart(9)} ${extra.toFixed(1).padStart(10)} ${ratio.padStart(7)} ` +
                  `${blank.padStart(6)}   ${verdict}`);
    }
    console.log('\nfloor: the pauses, time-outs and poll ticks the exchange is made of, at the reader\n' +
                'protocol\'s figures; time: from the click to the final text in the test box; blank: the\n' +
                'time over the floor plus what a click on a blank page costs before its answer arrives\n' +
                '(shown, not judged: what is left above 1 is the page\'s own).');
  } finally {
    await browser.close();
    server.close();
  }
  process.exitCode = status;
}

await main();
