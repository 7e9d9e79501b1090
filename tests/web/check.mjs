// The page in Chromium against zarn60-sim, by real input: one table, a row per operation and
// link, each row a fresh page and fresh simulated readers, its steps done with Playwright's
// mouse and keyboard on controls found by role and name. Every row runs the same steps in
// the runner (`zarn60-tool --simulate --script`, the same situation set with `sim` commands)
// and compares the texts the user sees and the bytes the simulator received. Run by
// scripts/web-check.sh inside the namespace of scripts/reader-ns.sh.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';

import { launch, listed, readersAt, serve, settled } from './harness.mjs';

const { values: opt } = parseArgs({
  options: {
    site: { type: 'string' }, tool: { type: 'string' }, chromium: { type: 'string' },
    port: { type: 'string' }, work: { type: 'string' }, readers: { type: 'string' },
  },
});
const url = `http://127.0.0.1:${opt.port}/`;
const files = path.join(opt.work, 'files');
fs.mkdirSync(files, { recursive: true });
const readers = readersAt(opt.readers);

// --- The runner ------------------------------------------------------------------------------
// Runs the script; returns the texts its `get` lines printed (a check or radio button as
// "checked=N"), the message boxes as "msgbox: TEXT", and the `sim log` lines.
function runner(lines) {
  const out = execFileSync(opt.tool, ['--simulate', '--script', '-'],
                           { input: lines.join('\n') + '\n', encoding: 'latin1' });
  const texts = [], log = [];
  for (const line of out.split('\n')) {
    let m;
    if ((m = /^ctl \d+ kind=(check|radio) .* checked=([01]) /.exec(line))) texts.push('checked=' + m[2]);
    else if ((m = /^ctl \d+ kind=\w+ .* text="(.*)"/.exec(line))) texts.push(unquote(m[1]));
    else if ((m = /^msgbox .*text="((?:[^"\\]|\\.)*)"/.exec(line))) texts.push('msgbox: ' + unquote(m[1]));
    else if (line.startsWith('sim rx ')) log.push(line);
  }
  return { texts, log };
}

function unquote(s) {
  return s.replace(/\\(x[0-9a-f]{2}|.)/g, (_, e) =>
    e[0] === 'x' && e.length === 3 ? String.fromCharCode(parseInt(e.slice(1), 16))
      : ({ n: '\n', r: '\r', t: '\t' })[e] ?? e);
}

// The test box shows control bytes as symbols (U+2400 + byte, U+2421 for DEL), C1 bytes as
// ⟨hh⟩ and a line break after each line end: read back as the bytes it stands for.
function shownAsBytes(text) {
  return text.replace(/\n/g, '')
    .replace(/\u27e8([0-9A-Fa-f]{2})\u27e9/g, (_, h) => String.fromCharCode(parseInt(h, 16)))
    .replace(/[\u2400-\u241f\u2421]/g, (c) =>
      String.fromCharCode(c === '\u2421' ? 0x7f : c.charCodeAt(0) - 0x2400));
}

// --- What the user does ----------------------------------------------------------------------
// Each step: what the page's user does (returns the text to compare, or nothing) and the
// runner's lines for the same.
const testBox = (page) => page.getByRole('textbox', { name: 'Test Magnetic Reader' });

async function result(page) {
  await settled(page);
  const message = page.getByRole('alertdialog');
  if (await message.isVisible()) {
    const text = await page.locator('#message-text').innerText();
    await page.keyboard.press('Enter');
    return 'msgbox: ' + text;
  }
  return shownAsBytes(await testBox(page).inputValue());
}

function button(name, id) {
  return {
    page: async (page) => { await page.getByRole('button', { name, exact: true }).click(); return result(page); },
    runner: [`click ${id}`, ...(id === 'IDC_GET_VERSION' || id === 'IDC_READ_CARD' ? ['wait 1500'] : []),
             'get IDC_TEST_BOX'],
  };
}
function radio(name, id) {
  return {
    page: async (page) => { await page.getByRole('radio', { name, exact: true }).click(); },
    runner: [`click ${id}`],
  };
}
function checked(name, id) {
  return {
    page: async (page) => 'checked=' + ((await page.getByRole('radio', { name, exact: true }).isChecked()) ? 1 : 0),
    runner: [`get ${id}`],
  };
}

const steps = {
  version: button('Get Version', 'IDC_GET_VERSION'),
  card: button('Read Card', 'IDC_READ_CARD'),
  download: button('Download Setting to Device', 'IDC_DOWNLOAD'),
  upload: button('Upload Setting from Device', 'IDC_UPLOAD'),
  factory: button('Back to Default Factory Setting', 'IDC_FACTORY'),
  open: button('Open', 'IDC_OPEN'),
  usb: radio('usb', 'IDC_USB'),
  serial: radio('serial port', 'IDC_SERIAL_PORT'),
  beepOff: radio('OFF', 'IDC_BEEP_OFF'),
  beepOffChecked: checked('OFF', 'IDC_BEEP_OFF'),
  // A prefix typed as a user does: the check box, then the edit, then the keys.
  prefix: {
    page: async (page) => {
      await page.getByRole('checkbox', { name: 'PREFIX(Max 15 Chars):' }).click();
      await page.getByRole('textbox', { name: 'PREFIX(Max 15 Chars):' }).click();
      await page.keyboard.type('AB');
    },
    runner: ['click IDC_PREFIX_CHECK', 'type IDC_PREFIX AB'],
  },
  // Saved through the page's download (the browser without a save picker): the text, the
  // file's name and its bytes.
  save: {
    page: async (page, row) => {
      const download = page.waitForEvent('download');
      await page.getByRole('button', { name: 'Save setting to File', exact: true }).click();
      const file = await download;
      const text = await result(page);
      // The browser keeps the name the text gives.
      if (!text.includes(` ${file.suggestedFilename()} `)) return `${text} / downloaded as ${file.suggestedFilename()}`;
      await file.saveAs(path.join(files, `${row.tag}-page.cfg`));
      return text + ' / ' + fs.readFileSync(path.join(files, `${row.tag}-page.cfg`)).toString('hex');
    },
    runner: (row) => [`answer save ${path.join(files, `${row.tag}-runner.cfg`)}`, 'click IDC_SAVE_FILE',
                      'get IDC_TEST_BOX'],
    // The runner's file joins its text after the run.
    runnerFile: (row) => path.join(files, `${row.tag}-runner.cfg`),
  },
  plugUsb: plug('usb'), pullUsb: pull('usb'), plugSerial: plug('serial'), pullSerial: pull('serial'),
};
function load(file) {
  return {
    page: async (page) => {
      const chooser = page.waitForEvent('filechooser');
      await page.getByRole('button', { name: 'Load Setting from File', exact: true }).click();
      await (await chooser).setFiles(file);
      return result(page);
    },
    runner: [`answer open ${file}`, 'click IDC_LOAD_FILE', 'get IDC_TEST_BOX'],
  };
}
// A file dropped on the page as a file manager drops it (a DataTransfer with the file; a
// headless browser has no desktop to drag from): it loads as "Load Setting from File".
function drop(file) {
  return {
    page: async (page) => {
      const data = await page.evaluateHandle(({ bytes, name }) => {
        const transfer = new DataTransfer();
        transfer.items.add(new File([new Uint8Array(bytes)], name));
        return transfer;
      }, { bytes: [...fs.readFileSync(file)], name: path.basename(file) });
      await page.dispatchEvent('#dialog', 'dragover', { dataTransfer: data });
      await page.dispatchEvent('#dialog', 'drop', { dataTransfer: data });
      return result(page);
    },
    runner: [`answer open ${file}`, 'click IDC_LOAD_FILE', 'get IDC_TEST_BOX'],
  };
}
function plug(what) {
  return {
    page: async (page) => { readers(`${what}-plug`); await listed(page, what, true); },
    runner: [what === 'usb' ? 'sim usb attach' : 'sim serial attach 1'],
  };
}
function pull(what) {
  return {
    // What the reader received goes with it: kept for the row's log.
    page: async (page, row) => {
      row.before = (row.before || []).concat(lines(readers('log', what)));
      readers(`${what}-pull`);
      await listed(page, what, false);
    },
    runner: [what === 'usb' ? 'sim usb detach' : 'sim serial detach'],
  };
}

// --- The table -------------------------------------------------------------------------------
// usb / serial: the simulator's options for a reader there when the page loads (absent: no
// reader); its `sim` commands for the runner follow from them.
const factoryFile = path.join(files, 'factory.cfg');
const shortFile = path.join(files, 'short.cfg');
const rows = [
  { name: 'USB version', usb: [], steps: ['version'] },
  { name: 'USB read card', usb: [], steps: ['card'] },
  { name: 'USB download (beep off, prefix typed)', usb: [], steps: ['beepOff', 'prefix', 'download'] },
  { name: 'USB upload', usb: [], steps: ['beepOff', 'upload', 'beepOffChecked'] },
  { name: 'USB factory', usb: [], steps: ['factory'] },
  { name: 'USB save to file', usb: [], steps: ['save'] },
  { name: 'serial open', serial: [], steps: ['serial', 'open'] },
  { name: 'serial version', serial: [], steps: ['serial', 'open', 'version'] },
  { name: 'serial read card', serial: [], steps: ['serial', 'open', 'card'] },
  { name: 'serial download (beep off, prefix typed)', serial: [],
    steps: ['serial', 'open', 'beepOff', 'prefix', 'download'] },
  { name: 'serial upload', serial: [], steps: ['serial', 'open', 'beepOff', 'upload', 'beepOffChecked'] },
  { name: 'serial factory', serial: [], steps: ['serial', 'open', 'factory'] },
  { name: 'serial save to file', serial: [], steps: ['serial', 'open', 'save'] },
  { name: 'file load', steps: [load(factoryFile), 'beepOffChecked'] },
  { name: 'file load, short file', steps: [load(shortFile)] },
  { name: 'file dropped on the page', steps: [drop(factoryFile), 'beepOffChecked'] },
  { name: 'USB no reader', steps: ['version', 'download'] },
  { name: 'serial no reader', steps: ['serial', 'open', 'version'] },
  { name: 'USB silent reader', usb: ['--mode', 'silent'], steps: ['version', 'download', 'upload'] },
  { name: 'serial silent reader', serial: ['--mode', 'silent'], steps: ['serial', 'open', 'version', 'download'] },
  { name: 'USB rejecting reader', usb: ['--mode', 'reject'], steps: ['beepOff', 'download', 'upload', 'beepOffChecked'] },
  { name: 'serial rejecting reader', serial: ['--mode', 'reject'], steps: ['serial', 'open', 'download'] },
  { name: 'USB pulled mid-exchange', usb: ['--vanish', '3'], steps: ['download', 'pullUsb', 'version'] },
  { name: 'serial pulled mid-exchange', serial: ['--vanish', '3'], steps: ['serial', 'open', 'download'] },
  { name: 'USB plugged in later', steps: ['version', 'plugUsb', 'version'] },
  { name: 'serial plugged in later', steps: ['serial', 'open', 'plugSerial', 'open', 'version'] },
  // The port the page keeps open between exchanges goes with the reader, and the one
  // plugged in again is opened afresh.
  { name: 'serial pulled and plugged in again', serial: [],
    steps: ['serial', 'open', 'version', 'pullSerial', 'version', 'plugSerial', 'version'] },
];

function simLines(row) {
  const lines = [];
  for (const [link, options] of [['usb', row.usb], ['serial', row.serial]]) {
    if (!options) { lines.push(link === 'usb' ? 'sim usb detach' : 'sim serial detach'); continue; }
    for (let i = 0; i < options.length; i += 2) {
      if (options[i] === '--mode' || options[i] === '--vanish') {
        lines.push(`sim mode ${options[i] === '--mode' ? options[i + 1] : 'vanish ' + options[i + 1]}`);
      }
    }
  }
  return lines;
}

async function runRow(browser, row, tag) {
  row.tag = tag;
  readers('usb-stop');
  // Pulled, not only stopped: a port the browser still believes in would stand beside the
  // next one under its own COM number.
  readers('serial-pull');
  if (row.usb) readers('usb-plug', ...row.usb);
  if (row.serial) readers('serial-plug', ...row.serial);
  const context = await browser.newContext({ acceptDownloads: true });
  // A browser without the File System Access pickers: the page's file input and download,
  // which Playwright answers.
  await context.addInitScript(() => { delete window.showSaveFilePicker; delete window.showOpenFilePicker; });
  const page = await context.newPage();
  try {
    await page.goto(url);
    await page.getByRole('button', { name: 'Get Version', exact: true }).waitFor();
    if (row.usb) await listed(page, 'usb', true);
    if (row.serial) await listed(page, 'serial', true);
    const texts = [], savedAt = [];
    const script = simLines(row);
    for (const s of row.steps) {
      const step = typeof s === 'string' ? steps[s] : s;
      const got = await step.page(page, row);
      if (got !== undefined) texts.push(got);
      if (step.runnerFile) savedAt.push([texts.length - 1, step.runnerFile(row)]);
      script.push(...(typeof step.runner === 'function' ? step.runner(row) : step.runner));
    }
    const log = [...(row.before || [])];
    if (row.usb || row.steps.includes('plugUsb')) log.push(...lines(readers('log', 'usb')));
    if (row.serial || row.steps.includes('plugSerial')) log.push(...lines(readers('log', 'serial')));
    script.push('sim log');
    const want = runner(script);
    // The runner's reader lives on through a pull, so its serial bytes are one line; the
    // page's are one line per reader plugged in.
    if (row.before) log.splice(0, log.length, ...joinedSerial(log));
    // The runner's saved files, read after its run, beside their texts.
    for (const [at, file] of savedAt) {
      want.texts[at] += ' / ' + (fs.existsSync(file) ? fs.readFileSync(file).toString('hex') : '(none)');
    }
    if (process.env.ZARN60_WEB_VERBOSE) {
      console.log(`  ${row.name}: texts ${JSON.stringify(texts)}\n  runner ${JSON.stringify(want.texts)}`);
      console.log(log.map((l) => '  page   ' + l).concat(want.log.map((l) => '  runner ' + l)).join('\n'));
    }
    return compare(texts, want.texts, log, want.log);
  } finally {
    await context.close();
  }
}

function lines(text) { return text.split('\n').filter(Boolean); }

function joinedSerial(log) {
  const out = [];
  for (const line of log) {
    const last = out.length - 1;
    if (line.startsWith('sim rx serial ') && out[last]?.startsWith('sim rx serial ')) {
      out[last] += line.slice('sim rx serial'.length);
    } else {
      out.push(line);
    }
  }
  return out;
}

function compare(texts, wantTexts, log, wantLog) {
  const diffs = [];
  const show = (s) => JSON.stringify(s);
  for (let i = 0; i < Math.max(texts.length, wantTexts.length); ++i) {
    if (texts[i] !== wantTexts[i]) diffs.push(`text ${i + 1}: page ${show(texts[i])}, runner ${show(wantTexts[i])}`);
  }
  if (log.join('\n') !== wantLog.join('\n')) {
    diffs.push('bytes the simulator received:', ...log.map((l) => '  page   ' + l),
               ...wantLog.map((l) => '  runner ' + l));
  }
  return diffs;
}

// --- The accessibility tree ------------------------------------------------------------------
// Every control named, every radio button in a radio group, and the result of an operation
// spoken from a live region.
async function accessibility(browser) {
  readers('usb-stop');
  readers('serial-stop');
  readers('usb-plug');
  const context = await browser.newContext();
  const page = await context.newPage();
  const problems = [];
  try {
    await page.goto(url);
    await page.getByRole('button', { name: 'Get Version', exact: true }).waitFor();
    await listed(page, 'usb', true);
    const cdp = await context.newCDPSession(page);
    const tree = async () => (await cdp.send('Accessibility.getFullAXTree')).nodes;
    const controls = new Set(['button', 'checkbox', 'radio', 'textbox', 'combobox', 'slider',
                              'spinbutton', 'listbox', 'link', 'menuitem']);
    let nodes = await tree();
    const byId = new Map(nodes.map((n) => [n.nodeId, n]));
    let count = 0;
    for (const n of nodes) {
      const role = n.role?.value;
      if (n.ignored || !controls.has(role)) continue;
      count++;
      if (!n.name?.value?.trim()) problems.push(`a ${role} without a name`);
      if (role === 'radio') {
        let p = byId.get(n.parentId);
        while (p && p.role?.value !== 'radiogroup') p = byId.get(p.parentId);
        if (!p) problems.push(`radio button "${n.name?.value}" in no radio group`);
        else if (!p.name?.value?.trim()) problems.push(`radio group of "${n.name?.value}" without a name`);
      }
    }
    if (count < 50) problems.push(`only ${count} controls in the tree`);
    await page.getByRole('button', { name: 'Get Version', exact: true }).click();
    await settled(page);
    await page.waitForTimeout(200);
    nodes = await tree();
    const live = nodes.filter((n) => (n.properties || []).some((p) => p.name === 'live' && p.value.value !== 'off'));
    const text = (n) => [n.name?.value || '', ...(n.childIds || []).map((id) => {
      const c = nodes.find((x) => x.nodeId === id);
      return c ? text(c) : '';
    })].join(' ');
    if (!live.some((n) => text(n).includes('V2.10'))) problems.push('"V2.10" is in no live region');
    return problems;
  } finally {
    await context.close();
  }
}

// --- 200 % zoom ---------------------------------------------------------------------------
// A 1280 x 800 window zoomed to 200 % lays the page out in 640 x 400 CSS pixels at two
// device pixels each. Every control must still be whole: its text inside its box, and the
// box where the page scrolls to, not cut off at the window's edge.
async function zoomed(browser) {
  readers('usb-stop');
  readers('serial-stop');
  const context = await browser.newContext({ viewport: { width: 640, height: 400 }, deviceScaleFactor: 2 });
  const page = await context.newPage();
  try {
    await page.goto(url);
    await page.getByRole('button', { name: 'Get Version', exact: true }).waitFor();
    const problems = await page.evaluate(() => {
      const out = [];
      const root = document.documentElement;
      const name = (el) => `${el.tagName.toLowerCase()} "${(el.textContent || el.getAttribute('aria-label') || el.id).trim().slice(0, 40)}"`;
      for (const el of document.querySelectorAll('#dialog .ctl, #dialog legend, header *, #links button, #links label')) {
        if (!el.getClientRects().length) continue;  // not shown
        const r = el.getBoundingClientRect();
        if (r.left + scrollX < -1 || r.top + scrollY < -1 || r.right + scrollX > root.scrollWidth + 1 ||
            r.bottom + scrollY > root.scrollHeight + 1) {
          out.push(`${name(el)} lies outside the page`);
        }
        const textual = el.matches('button, legend, .label, label');
        if (textual && el.scrollWidth > el.clientWidth + 1) out.push(`${name(el)}: its text is wider than its box`);
      }
      // What does not fit the window is reached by scrolling, not cut.
      for (const el of [document.body, root]) {
        const style = getComputedStyle(el);
        if (['hidden', 'clip'].includes(style.overflowX) || ['hidden', 'clip'].includes(style.overflowY)) {
          out.push(`${el.tagName.toLowerCase()} does not scroll`);
        }
      }
      if (root.scrollWidth <= innerWidth) out.push('the dialog fits 640 CSS pixels: the zoom was not applied');
      return out;
    });
    return problems;
  } finally {
    await context.close();
  }
}

// --- Main ------------------------------------------------------------------------------------
async function main() {
  // The factory settings as a file (what Save writes for a reader in its factory state),
  // and one too short to be one.
  const factory = runnerFactoryFile();
  fs.writeFileSync(factoryFile, factory);
  fs.writeFileSync(shortFile, factory.subarray(0, 30));
  const only = process.env.ZARN60_WEB_ONLY ? new RegExp(process.env.ZARN60_WEB_ONLY) : null;
  const server = await serve(opt.site, opt.port);
  const browser = await launch(opt.chromium);
  let failed = 0;
  // One row or check: timed, its exception a problem of its own, its verdict printed.
  const check = async (name, run) => {
    if (only && !only.test(name)) return;
    const start = Date.now();
    let problems;
    try { problems = await run(); } catch (e) { problems = [String(e.message || e).split('\n')[0]]; }
    if (problems.length) failed++;
    console.log(`${problems.length ? 'FAIL' : 'ok  '}  ${name.padEnd(44)} ${String(Date.now() - start).padStart(6)} ms`);
    for (const p of problems) console.log('        ' + p);
  };
  try {
    for (const [i, row] of rows.entries()) await check(row.name, () => runRow(browser, row, `row${i + 1}`));
    await check('200 % zoom', () => zoomed(browser));
    await check('accessibility tree', () => accessibility(browser));
  } finally {
    await browser.close();
    server.close();
    readers('usb-stop');
    readers('serial-stop');
  }
  console.log(failed ? `web-check: ${failed} failed` : 'web-check: all passed');
  process.exitCode = failed ? 1 : 0;
}

// The settings file the runner saves for the simulated reader in its factory state, with the
// beep turned off first (so that loading it changes what the dialog shows).
function runnerFactoryFile() {
  const file = path.join(files, 'factory-source.cfg');
  runner(['click IDC_BEEP_OFF', 'click IDC_DOWNLOAD', `answer save ${file}`, 'click IDC_SAVE_FILE']);
  return fs.readFileSync(file);
}

await main();
