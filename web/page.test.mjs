// The page in a real browser: Debian's chromium, headless, driven by
// playwright-core. Containers made by the project's D88 writer (make_sample
// --set) and a few files that are no container are chosen through the
// page's file input, and the zip behind its download link must hold what the
// command line cuts of the same containers into one folder, byte for byte.
// Prints the site's gzip weight and the time from choosing a container to
// its files being listed. Needs the dev build (d88cut, make_sample) and the
// web build (the site); run from the top of the tree:
//   node --test web/page.test.mjs
// With D88CUT_SCREENSHOT=docs/page.png it also saves the page after a cut.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { randomFillSync } from 'node:crypto';
import fs from 'node:fs';
import { createServer } from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { gzipSync } from 'node:zlib';
import { unzipSync } from 'fflate';
import { chromium } from 'playwright-core';

const root = path.resolve(import.meta.dirname, '..');
const site = path.join(root, 'build/web/site');
const d88cut = path.join(root, 'build/dev/cutter/d88cut');
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'd88cut-page-'));
const at = (name) => path.join(scratch, name);
const kMaxBytes = 256 * 1024 * 1024;  // the largest file the page takes

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.wasm': 'application/wasm' };
let server;
let origin;
let browser;
const requests = [];

before(async () => {
  const made = spawnSync(path.join(root, 'build/dev/tests/make_sample'), ['--set', scratch]);
  assert.equal(made.status, 0, String(made.stderr));
  fs.writeFileSync(at('notes.txt'), 'Not a disk image, but a few lines of text.\n'.repeat(40));
  fs.writeFileSync(at('empty.d88'), '');
  const random = Buffer.alloc(100 * 1000 * 1000);
  fs.writeFileSync(at('random.bin'), randomFillSync(random));
  fs.closeSync(fs.openSync(at('huge.d88'), 'w'));
  fs.truncateSync(at('huge.d88'), kMaxBytes + 1);  // sparse: never read
  server = createServer((request, response) => {
    const file = path.join(site, new URL(request.url, 'http://x').pathname.replace(/\/$/, '/index.html'));
    if (!file.startsWith(site) || !fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] ?? 'application/octet-stream' });
    response.end(fs.readFileSync(file));
  });
  await new Promise((resolve) => { server.listen(0, '127.0.0.1', resolve); });
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await chromium.launchPersistentContext(at('profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--headless', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
    viewport: { width: 900, height: 1100 },
  });
  browser.on('request', (request) => requests.push(request.url()));
});

after(async () => {
  await browser?.close();
  server?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

// What the command line leaves in one folder after cutting the containers
// one after another into it.
function commandLineCut(names) {
  const folder = fs.mkdtempSync(at('cut-'));
  for (const name of names) spawnSync(d88cut, ['-C', folder, at(name)]);
  return Object.fromEntries(fs.readdirSync(folder).map((file) => [file, fs.readFileSync(path.join(folder, file))]));
}

// A fresh page, ready to take files; the errors it reports are gathered.
async function openPage() {
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  await page.goto(origin);
  await page.waitForSelector('body[data-state="ready"]');
  return { page, errors };
}

// Chooses the files through the page's labelled file input; gives the
// milliseconds until the page is done, with the results shown.
async function choose(page, names) {
  const started = performance.now();
  await page.getByLabel('Choose one or more D88 files').setInputFiles(names.map(at));
  await page.waitForSelector('body[data-state="done"]', { timeout: 60000 });
  return performance.now() - started;
}

const buffers = (files) => Object.fromEntries(Object.entries(files).map(([name, b]) => [name, Buffer.from(b)]));

// The files in the zip behind the page's first visible .zip link, with the
// zip's name, or null where there is none; with `keyboard`, the link is
// reached with Tab and followed with Enter.
async function zipOffered(page, keyboard) {
  const link = page.locator('a[download$=".zip"]:visible').first();
  if (await link.count() === 0) return null;
  const download = page.waitForEvent('download');
  if (keyboard) {
    for (let i = 0; i < 6 && !await link.evaluate((a) => a === document.activeElement); ++i) {
      await page.keyboard.press('Tab');
    }
    await page.keyboard.press('Enter');
  } else {
    await link.click();
  }
  const zip = unzipSync(fs.readFileSync(await (await download).path()));
  return { name: (await download).suggestedFilename(), files: buffers(zip) };
}

// The files that the page's folder button writes, into the browser's
// private folder for the page standing in for a folder the user picks.
async function savedIntoFolder(page) {
  await page.evaluate(() => { window.showDirectoryPicker = () => navigator.storage.getDirectory(); });
  await page.getByRole('button', { name: 'Save them into a folder…' }).click();
  await page.waitForSelector('#saved:has-text("Saved")');
  return buffers(await page.evaluate(async () => {
    const files = {};
    for await (const [name, handle] of await navigator.storage.getDirectory()) {
      files[name] = [...new Uint8Array(await (await handle.getFile()).arrayBuffer())];
    }
    return files;
  }));
}

// Each case: the files chosen at once, the verdict shown for each, texts
// the page must show, and the zip's name and number of files (none where
// `count` is not given).
const cases = [
  { name: 'the sample container', files: ['sample.d88'], verdicts: ['whole'], zip: 'sample.zip', count: 49,
    shows: ['Disk 1, “SAMPLE PROGRAM” (2D): PROGRAM DISK', 'PROGRAM DISKを認識しました.', 'cutting ... QXBG01'],
    timed: true, keyboard: true },
  { name: 'a damaged container, offline, saved into a folder', files: ['damaged.d88'], verdicts: ['partial'],
    zip: 'damaged.zip', count: 11, offline: true, folder: true, screenshot: true,
    shows: ['not one of the three known disks: no signature', 'PROG20,480 bytesincomplete: 10,240 bytes read',
      'QXGT02–missing', '9 whole, 2 incomplete, 3 missing', 'PROG: ファイルの一部を読み込めません.',
      'QXCONG: ファイルを読み込めません.'] },
  { name: 'the three disks as three containers', files: ['program.d88', 'disk-a.d88', 'disk-b.d88'],
    verdicts: ['whole', 'whole', 'whole'], zip: 'd88cut-files.zip', count: 49 },
  { name: 'a damaged container after the sample', files: ['sample.d88', 'damaged.d88'],
    verdicts: ['whole', 'partial'], zip: 'd88cut-files.zip', count: 49 },
  { name: 'a container cut short', files: ['cut-short.d88'], verdicts: ['whole'], zip: 'cut-short.zip', count: 33,
    shows: ['Disk 3, “SAMPLE B” (2D): not one of the three known disks: no sector C39 H1 R5 N3 on track side 79'] },
  { name: '64 disk images', files: ['many.d88'], verdicts: ['whole'], zip: 'many.zip', count: 49, timed: true,
    shows: ['Disk 64, “MADE-UP 73” (2D): PROGRAM DISK'] },
  { name: 'a text file', files: ['notes.txt'], verdicts: ['none'], shows: ['No known disk in this file'] },
  { name: 'an empty file', files: ['empty.d88'], verdicts: ['none'], shows: ['The file is empty'] },
  { name: '100 MB of random bytes', files: ['random.bin'], verdicts: ['none'], timed: true },
  { name: 'a file too large', files: ['huge.d88', 'sample.d88'], verdicts: ['failed', 'whole'], zip: 'd88cut-files.zip',
    count: 49, shows: ['Too large: the page holds the whole file in memory and takes at most 256 MiB'] },
  { name: 'a file the browser cannot read', files: ['sample.d88'], verdicts: ['failed'], unreadable: true,
    shows: ['Not readable: the browser could not read this file (The file could not be read.)'] },
];

for (const c of cases) {
  test(c.name, async () => {
    const { page, errors } = await openPage();
    if (c.unreadable) {
      await page.evaluate(() => {
        File.prototype.arrayBuffer = () => Promise.reject(new DOMException('The file could not be read.', 'NotReadableError'));
      });
    }
    let took;
    try {
      await browser.setOffline(Boolean(c.offline));
      took = await choose(page, c.files);
    } finally {
      await browser.setOffline(false);
    }
    if (c.timed) console.log(`${c.name}: ${took.toFixed(0)} ms from choosing to listed (the page: ${await page.textContent('#status')})`);
    assert.deepEqual(await page.$$eval('.verdict', (all) => all.map((p) => p.classList[1])), c.verdicts);
    const shown = await page.textContent('#containers-shown');
    for (const text of c.shows ?? []) assert.ok(shown.includes(text), `${text}\nnot in\n${shown}`);
    if (c.screenshot && process.env.D88CUT_SCREENSHOT) {
      await page.screenshot({ path: path.resolve(root, process.env.D88CUT_SCREENSHOT), fullPage: true });
    }
    const expected = c.unreadable ? {} : commandLineCut(c.files.filter((f) => f !== 'huge.d88'));
    assert.equal(Object.keys(expected).length, c.count ?? 0);
    assert.deepEqual(await zipOffered(page, c.keyboard), c.count === undefined ? null : { name: c.zip, files: expected });
    if (c.folder) assert.deepEqual(await savedIntoFolder(page), expected);
    assert.deepEqual(errors, []);
    await page.close();
  });
}

test('asks nothing of any other origin, and weighs at most 150 KiB gzip', () => {
  const elsewhere = requests.filter((url) => !url.startsWith(`${origin}/`) && !/^(blob|data):/.test(url));
  assert.deepEqual(elsewhere, []);
  let total = 0;
  const weights = fs.readdirSync(site).map((file) => {
    const weight = gzipSync(fs.readFileSync(path.join(site, file)), { level: 9 }).length;
    total += weight;
    return `${file} ${(weight / 1024).toFixed(1)}`;
  });
  console.log(`site: ${(total / 1024).toFixed(1)} KiB gzip in all (${weights.join(', ')})`);
  assert.ok(total <= 150 * 1024, `${total} bytes gzip`);
});
