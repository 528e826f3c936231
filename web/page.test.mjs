// The page in a real browser: Debian's chromium, headless, driven by
// playwright-core, served from build/web/site and opened as the one file
// d88cut.html from the disk, in English and in Japanese. Containers made by
// the project's D88 writer (make_sample --set), reads of one disk flagged in
// different sectors, and a few files that are no container are chosen
// through the page's file input, and the zip behind its download link must
// hold what one run of the command line cuts of the same containers, byte
// for byte; a changed file put back must give the container that
// `d88cut --put` makes of the same files. Prints the site's gzip weight and
// the time from choosing a container to its files being listed. Needs the
// dev build (d88cut, make_sample) and the web build (the site); run from the
// top of the tree:
//   node --test web/page.test.mjs
// With D88CUT_SCREENSHOT=docs/page.png it also saves the page after a cut.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createServer } from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { pathToFileURL } from 'node:url';
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
const words = Object.fromEntries(['en', 'ja'].map((lang) => [lang,
  JSON.parse(fs.readFileSync(path.join(root, `web/words/${lang}.json`), 'utf8'))]));
let server;
let origin;
let browser;
const requests = [];
const loaded = new Set();  // the site's files that a visit loads

// The PROGRAM DISK of program.d88 with each of SECTORS ([C, H, R] of PROG)
// flagged as the drive flags a data CRC error: status 0xB0 at byte 8 of
// its header.
function flagged(...sectors) {
  const container = fs.readFileSync(at('program.d88'));
  for (const [c, h, r] of sectors) {
    let sector = container.readUInt32LE(0x20 + 4 * (2 * c + h));
    while (container[sector] !== c || container[sector + 1] !== h || container[sector + 2] !== r) {
      sector += 16 + container.readUInt16LE(sector + 14);
    }
    container[sector + 8] = 0xb0;
  }
  return container;
}

before(async () => {
  const made = spawnSync(path.join(root, 'build/dev/tests/make_sample'), ['--set', scratch]);
  assert.equal(made.status, 0, String(made.stderr));
  fs.writeFileSync(at('flagged.d88'), flagged([1, 0, 3]));
  fs.writeFileSync(at('read2.d88'), flagged([2, 0, 1]));
  fs.writeFileSync(at('read3.d88'), flagged([1, 0, 3], [2, 0, 1]));
  fs.writeFileSync(at('twice.d88'), Buffer.concat([flagged([1, 0, 3]), flagged([2, 0, 1])]));
  fs.writeFileSync(at('more.d88'), Buffer.concat([fs.readFileSync(at('many.d88')), flagged([1, 0, 3])]));
  // Files to put back: PROG with other bytes and a text file beside it;
  // PROG a byte too long; PROG as the disk holds it.
  const { PROG: prog } = commandLineCut(['program.d88']);
  fs.mkdirSync(at('same'));
  fs.writeFileSync(at('same/PROG'), prog);
  fs.mkdirSync(at('changed'));
  fs.writeFileSync(at('changed/PROG'), Buffer.concat([prog.subarray(0, 3000), Buffer.from('CHANGED'), prog.subarray(3007)]));
  fs.writeFileSync(at('changed/QXGT01.txt'), 'A name that no disk catalogs.\n');
  fs.mkdirSync(at('long'));
  fs.writeFileSync(at('long/PROG'), Buffer.concat([prog, Buffer.alloc(1)]));
  // The damaged container with other names (17 bytes, NUL-padded, at the
  // start of a disk header): control bytes in disk 1's, Shift_JIS in disk 2's.
  const named = fs.readFileSync(at('damaged.d88'));
  const rename = (offset, name) => Buffer.concat([name, Buffer.alloc(17)]).copy(named, offset, 0, 17);
  rename(0, Buffer.from('NOT\x01KNOWN\x1b[31m'));
  rename(named.readUInt32LE(0x1c), Buffer.from('8351815b838020836683428358834e', 'hex'));  // ゲーム ディスク
  fs.writeFileSync(at('names.d88'), named);
  fs.writeFileSync(at('notes.txt'), 'Not a disk image, but a few lines of text.\n'.repeat(40));
  fs.writeFileSync(at('empty.d88'), '');
  // Random bytes, the same on every run (xorshift32): the header they
  // make up states a disk image that the file ends inside, before the
  // sector that would identify it, or not, as the bytes fall.
  const random = new Uint32Array(25 * 1000 * 1000);
  for (let i = 0, x = 12345; i < random.length; ++i) {
    x ^= x << 13;
    x ^= x >>> 17;
    x ^= x << 5;
    random[i] = x;
  }
  fs.writeFileSync(at('random.bin'), random);
  fs.writeFileSync(at('head.d88'), fs.readFileSync(at('program.d88')).subarray(0, 100000));
  fs.closeSync(fs.openSync(at('huge.d88'), 'w'));
  fs.truncateSync(at('huge.d88'), kMaxBytes + 1);  // sparse: never read
  server = createServer((request, response) => {
    const file = path.join(site, new URL(request.url, 'http://x').pathname.replace(/\/$/, '/index.html'));
    if (!file.startsWith(site) || !fs.existsSync(file)) {
      response.writeHead(404).end();
      return;
    }
    loaded.add(path.relative(site, file));
    response.writeHead(200, { 'Content-Type': types[path.extname(file)] ?? 'application/octet-stream' });
    response.end(fs.readFileSync(file));
  });
  await new Promise((resolve) => { server.listen(0, '127.0.0.1', resolve); });
  origin = `http://127.0.0.1:${server.address().port}`;
  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--headless', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
});

// A browser window of its own (storage and all) whose requests are kept.
async function newContext(options) {
  const context = await browser.newContext({ viewport: { width: 900, height: 1100 }, acceptDownloads: true, ...options });
  context.on('request', (request) => requests.push(request.url()));
  return context;
}

after(async () => {
  await browser?.close();
  server?.close();
  fs.rmSync(scratch, { recursive: true, force: true });
});

// What one run of the command line leaves in a folder after cutting the
// containers NAMES into it.
function commandLineCut(names) {
  const folder = fs.mkdtempSync(at('cut-'));
  spawnSync(d88cut, ['-C', folder, ...names.map(at)]);
  return Object.fromEntries(fs.readdirSync(folder).map((file) => [file, fs.readFileSync(path.join(folder, file))]));
}

const singleFile = pathToFileURL(path.join(site, 'd88cut.html')).href;
const siteOnDisk = pathToFileURL(path.join(site, 'index.html')).href;

// A fresh page in LOCALE (and VIEWPORT, where given), served or (`file`)
// the one file opened from the disk, after INIT runs in it; the errors it
// reports are gathered.
async function openPage({ locale = 'en-US', file = false, init, state = 'ready', viewport } = {}) {
  const context = await newContext({ locale, ...(viewport ? { viewport } : {}) });
  if (init) await context.addInitScript(init);
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  await page.goto(file ? singleFile : origin);
  await page.waitForSelector(`body[data-state="${state}"]`);
  return { page, errors, lang: locale.slice(0, 2) };
}

// Chooses the files through the page's file input, found by its label in
// the page's language; gives the milliseconds until the page is done, with
// the results shown.
async function choose({ page, lang }, names) {
  const started = performance.now();
  await page.getByLabel(words[lang]['pick.label']).setInputFiles(names.map(at));
  await page.waitForSelector('body[data-state="done"]', { timeout: 60000 });
  return performance.now() - started;
}

// That the page speaks LANG: <html lang> says it, and its text outside the
// program's messages is Japanese somewhere (ja), or nowhere that is not
// marked lang="ja" (en).
async function speaks(page, lang) {
  assert.equal(await page.getAttribute('html', 'lang'), lang);
  const japanese = await page.evaluate(() => {
    const found = [];
    const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      const where = node.parentElement;
      if (/[\u3000-\u9fff\uff00-\uffef]/.test(node.data) && !where.closest('pre')) {
        found.push({ text: node.data, marked: where.closest('[lang]').lang === 'ja' });
      }
    }
    return found;
  });
  if (lang === 'ja') assert.ok(japanese.length > 0, 'no Japanese text');
  else assert.deepEqual(japanese.filter((text) => !text.marked), []);
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

// Each case: the files chosen at once, the batch's verdict and the verdict
// shown for each file, texts the page must show, and the zip's name and
// number of files (none, and no button to save them into a folder, where
// `count` is not given); in Chromium set to `locale` (en-US where not
// given), from the site or (`file`) the one file; `first`: a batch chosen
// before, whose results those of `files` replace. The zip must hold what one
// run of the command line cuts of `files`.
const cases = [
  { name: 'the sample container', files: ['sample.d88'], batch: 'whole', verdicts: ['whole'], zip: 'sample.zip', count: 49,
    shows: ['All 49 files are whole.', 'Disk 1, “SAMPLE PROGRAM” (2D): PROGRAM DISK', 'PROGRAM DISKを認識しました.',
      'cutting ... QXBG01', 'PROGRAM DISK was recognised'], timed: true, keyboard: true },
  { name: 'a damaged container, offline, saved into a folder', files: ['damaged.d88'], batch: 'partial',
    verdicts: ['partial'], zip: 'damaged.zip', count: 11, offline: true, folder: true,
    shows: ['2 files are damaged or incomplete: see their state below. 3 files are missing: no chosen file gives them.',
      'not one of the three known disks: no signature',
      'PROG20,480 bytesincomplete: 15,360 bytes read, the rest are zero bytes', 'QXGT02–missing',
      '9 whole, 0 damaged, 2 incomplete, 3 missing', 'PROG: ファイルの一部を読み込めません.',
      'QXCONG: ファイルを読み込めません.  ← no read so far gives any of the file QXCONG',
      'QXGT02–missing: no chosen file gives itC22 H0 R5: holds a record of kind 0x4100, neither A nor B–'] },
  { name: 'names with control bytes and in Shift_JIS', files: ['names.d88'], batch: 'partial', verdicts: ['partial'],
    zip: 'names.zip', count: 11, shows: ['Disk 1, “NOT\\x01KNOWN\\x1B[31m” (2D)', 'Disk 2, “ゲーム ディスク” (2D)'] },
  { name: 'the three disks as three containers', files: ['program.d88', 'disk-a.d88', 'disk-b.d88'], batch: 'whole',
    verdicts: ['whole', 'whole', 'whole'], zip: 'd88cut-files.zip', count: 49,
    shows: ['QXBG01', 'disk-a.d88, disk 1'] },
  { name: 'the sample after a damaged container', files: ['damaged.d88', 'sample.d88'], batch: 'whole',
    verdicts: ['partial', 'whole'], zip: 'd88cut-files.zip', count: 49, shows: ['All 49 files are whole.'] },
  { name: 'a damaged container after the sample', files: ['sample.d88', 'damaged.d88'], batch: 'whole',
    verdicts: ['whole', 'partial'], zip: 'd88cut-files.zip', count: 49,
    shows: ['PROG20,480 byteswholesample.d88, disk 1', 'QXGT01504 byteswholesample.d88, disk 1'] },
  { name: 'two reads of one disk, each flagged elsewhere', files: ['flagged.d88', 'read2.d88'], batch: 'whole',
    verdicts: ['partial', 'partial'], zip: 'd88cut-files.zip', count: 14,
    shows: ['All 14 files are whole.', 'PROG20,480 byteswholemerged from 2 reads:flagged.d88, disk 1read2.d88, disk 1',
      'C2 H0 R1: data CRC error'] },
  { name: 'a sector that no read gives whole', files: ['read3.d88', 'flagged.d88'], batch: 'partial',
    verdicts: ['partial', 'partial'], zip: 'd88cut-files.zip', count: 14, screenshot: true,
    shows: ['1 file is damaged or incomplete', 'Sectors to read againNo read gave these sectors whole.',
      'PROGRAM DISK: C1 H0 R3', 'PROG20,480 bytesdamagedC1 H0 R3: data CRC errormerged from 2 reads:'] },
  { name: 'two reads in one container, in Japanese', locale: 'ja-JP', files: ['twice.d88', 'read3.d88'],
    batch: 'whole', verdicts: ['partial', 'partial'], zip: 'd88cut-files.zip', count: 14,
    shows: ['2 回の読み込みを合わせました：twice.d88、ディスク 1twice.d88、ディスク 2'] },
  { name: 'a sector the drive flagged', files: ['flagged.d88'], batch: 'partial', verdicts: ['partial'], zip: 'flagged.zip',
    count: 14, shows: ['1 file is damaged or incomplete: see its state below.',
      'PROG20,480 bytesdamaged: every byte read, 1,024 bytes of them from sectors the drive could not read right',
      'C1 H0 R3: data CRC error', '13 whole, 1 damaged, 0 incomplete, 0 missing'] },
  { name: 'a whole copy before a damaged one, in Japanese', locale: 'ja-JP', files: ['program.d88', 'flagged.d88'],
    batch: 'whole', verdicts: ['whole', 'partial'], zip: 'd88cut-files.zip', count: 14,
    shows: ['切り出したファイルはすべて完全です（14 個）。', 'C1 H0 R3：データ CRC エラー',
      'PROG20,480 バイト完全program.d88、ディスク 1'] },
  { name: 'a whole copy after a damaged one', files: ['flagged.d88', 'program.d88'], batch: 'whole',
    verdicts: ['partial', 'whole'], zip: 'd88cut-files.zip', count: 14,
    shows: ['PROG20,480 byteswholemerged from 2 reads:flagged.d88, disk 1program.d88, disk 1'] },
  { name: 'a container cut short', files: ['cut-short.d88'], batch: 'partial', verdicts: ['partial'], zip: 'cut-short.zip',
    count: 33, shows: ['All 33 files are whole. 1 chosen file was not read in full: see below.',
      'Disk 3, “SAMPLE B” (2D): not one of the three known disks: the file ends before its identification sector',
      'The file is cut short: it ends inside disk image 3', 'The file ends 208,344 bytes into this disk image of 416,688 bytes'] },
  { name: '64 disk images', files: ['many.d88'], batch: 'whole', verdicts: ['whole'], zip: 'many.zip', count: 49, timed: true,
    shows: ['Disk 64, “MADE-UP 73” (2D): PROGRAM DISK'] },
  { name: 'more than 64 disk images', files: ['more.d88'], batch: 'partial', verdicts: ['partial'], zip: 'more.zip',
    count: 49, shows: ['1 chosen file was not read in full', 'the disk images after the 64th are not read: to cut them'] },
  { name: 'a text file', files: ['notes.txt'], batch: 'none', verdicts: ['none'],
    shows: ['Nothing recognised: no chosen file holds', 'No known disk in this file'] },
  { name: 'an empty file', files: ['empty.d88'], batch: 'none', verdicts: ['none'], shows: ['The file is empty'] },
  { name: '100 MB of random bytes', files: ['random.bin'], batch: 'none', verdicts: ['none'], timed: true },
  { name: 'a download broken off before its disk is known', files: ['head.d88'], batch: 'failed', verdicts: ['failed'],
    shows: ['The file ends inside disk image 1, before the sector that tells which disk it is'] },
  { name: 'a file too large', files: ['huge.d88', 'sample.d88'], batch: 'partial', verdicts: ['failed', 'whole'],
    zip: 'd88cut-files.zip', count: 49,
    shows: ['Too large: the page holds the whole file in memory and takes at most 256 MiB'] },
  { name: 'a file the browser cannot read', files: ['sample.d88'], batch: 'failed', verdicts: ['failed'], unreadable: true,
    shows: ['Not readable: the browser could not read this file (The file could not be read.)'] },
  { name: 'in Japanese, a second batch', locale: 'ja-JP', first: ['sample.d88'], files: ['damaged.d88'], batch: 'partial',
    verdicts: ['partial'], zip: 'damaged.zip', count: 11,
    shows: ['ディスク 2「DAMAGED PROGRAM」（2D）：PROGRAM DISK', '不完全：15,360 バイトを読みました。残りは 0 で埋めています',
      'damaged.d88、ディスク 2'] },
  { name: 'the one file, from the disk, offline', file: true, offline: true, files: ['damaged.d88', 'sample.d88'],
    batch: 'whole', verdicts: ['partial', 'whole'], zip: 'd88cut-files.zip', count: 49, shows: ['sample.d88, disk 1'],
    timed: true },
  { name: 'the one file in Japanese', file: true, locale: 'ja-JP', files: ['damaged.d88'], batch: 'partial',
    verdicts: ['partial'], zip: 'damaged.zip', count: 11, shows: ['欠落：ディスクから切り出せません'] },
];

for (const c of cases) {
  test(c.name, async () => {
    const opened = await openPage(c);
    const { page, errors } = opened;
    await speaks(page, opened.lang);
    if (c.unreadable) {
      await page.evaluate(() => {
        File.prototype.arrayBuffer = () => Promise.reject(new DOMException('The file could not be read.', 'NotReadableError'));
      });
    }
    let took;
    try {
      await page.context().setOffline(Boolean(c.offline));
      if (c.first) await choose(opened, c.first);
      took = await choose(opened, c.files);
    } finally {
      await page.context().setOffline(false);
    }
    if (c.timed) console.log(`${c.name}: ${took.toFixed(0)} ms from choosing to listed (the page: ${await page.textContent('#status')})`);
    assert.equal(await page.getAttribute('#verdict', 'class'), `verdict ${c.batch}`);
    assert.deepEqual(await page.$$eval('.container .verdict', (all) => all.map((p) => p.classList[1])), c.verdicts);
    const shown = await page.textContent('#result');
    for (const text of c.shows ?? []) assert.ok(shown.includes(text), `${text}\nnot in\n${shown}`);
    await speaks(page, opened.lang);
    assert.equal(await page.isVisible('#replaced'), Boolean(c.first));
    assert.ok((await page.textContent('#chosen')).includes(c.files.at(-1)));
    if (c.screenshot && process.env.D88CUT_SCREENSHOT) {
      await page.screenshot({ path: path.resolve(root, process.env.D88CUT_SCREENSHOT), fullPage: true });
    }
    const expected = c.unreadable ? {} : commandLineCut(c.files.filter((f) => f !== 'huge.d88'));
    assert.equal(Object.keys(expected).length, c.count ?? 0);
    assert.deepEqual(await zipOffered(page, c.keyboard), c.count === undefined ? null : { name: c.zip, files: expected });
    assert.equal(await page.isVisible('#folder'), c.count !== undefined);
    if (c.folder) assert.deepEqual(await savedIntoFolder(page), expected);
    assert.deepEqual(errors, []);
    await page.context().close();
  });
}

// Puts the FILES back into a copy of CONTAINER through the page's part for
// that, found by its labels in the page's language; gives what it shows.
async function putBack({ page, lang }, container, files) {
  await page.getByText(words[lang]['put.summary'], { exact: true }).click();
  await page.getByLabel(words[lang]['put.pickContainer'], { exact: true }).setInputFiles(at(container));
  await page.getByLabel(words[lang]['put.pickFiles'], { exact: true }).setInputFiles(files.map(at));
  await page.waitForSelector('body[data-state="done"] #put-result:not([hidden])');
  return page.textContent('#put-result');
}

// Each case: the container and the changed files chosen to put back, the
// verdict shown, texts the page must show, and the new container's name
// where one is offered, which must be what `d88cut --put` makes of the same
// files, byte for byte.
const puts = [
  { name: 'a changed file, into both reads of a disk', container: 'twice.d88', files: ['changed/PROG', 'changed/QXGT01.txt'],
    verdict: 'whole', made: 'twice-new.d88', shows: ['1 file put back into twice-new.d88, a copy of twice.d88.',
      'PROGdisk 1, PROGRAM DISKC0 H1 R1–R5, C1 H0 R1–R5, C1 H1 R1–R5, C2 H0 R1–R5', 'PROGdisk 2, PROGRAM DISK',
      'Passed over, as no file of the D88 file has its name: QXGT01.txt.'] },
  { name: 'a file a byte too long', container: 'program.d88', files: ['long/PROG'], verdict: 'failed',
    shows: ['Nothing was written: 1 file cannot be put back',
      'PROG: not put: it is 20,481 bytes, not the 20,480 bytes that the disk\'s catalog gives it'] },
  { name: 'a file a byte too long, in Japanese', locale: 'ja-JP', container: 'program.d88', files: ['long/PROG'],
    verdict: 'failed', shows: ['PROG は戻しません：20,481 バイトあり、カタログの 20,480 バイトと違います'] },
  { name: 'a file as the disk holds it', container: 'program.d88', files: ['same/PROG'], verdict: 'none',
    shows: ['Nothing to put back: the chosen files are the same as what program.d88 holds.'] },
];

for (const c of puts) {
  test(`put back: ${c.name}`, async () => {
    const opened = await openPage(c);
    const shown = await putBack(opened, c.container, c.files);
    const { page } = opened;
    assert.equal(await page.getAttribute('#put-result .verdict', 'class'), `verdict ${c.verdict}`);
    for (const text of c.shows) assert.ok(shown.includes(text), `${text}\nnot in\n${shown}`);
    await speaks(page, opened.lang);
    const link = page.locator('#put-result a[download]');
    assert.equal(await link.count(), c.made ? 1 : 0);
    if (c.made) {
      const folder = path.dirname(at(c.files[0]));
      const expected = at(`expected-${c.made}`);
      spawnSync(d88cut, ['--put', expected, '-C', folder, at(c.container)]);
      const download = page.waitForEvent('download');
      await link.click();
      assert.equal((await download).suggestedFilename(), c.made);
      assert.ok(fs.readFileSync(await (await download).path()).equals(fs.readFileSync(expected)));
    }
    assert.deepEqual(opened.errors, []);
    await page.context().close();
  });
}

// Where the page cannot start, it says why: each case opens the page
// (served, the one file, or the site's page from the disk) after `init`
// runs in it, or with JavaScript off, or with its script not found, and
// expects the page's words for the reason.
const broken = [
  { name: 'no WebAssembly', init: () => { delete window.WebAssembly; }, says: 'start.noWasm' },
  { name: 'no WebAssembly, the one file', file: true, init: () => { delete window.WebAssembly; }, says: 'start.noWasm' },
  { name: 'no JavaScript modules', init: () => { delete HTMLScriptElement.prototype.noModule; }, says: 'start.noModules' },
  { name: 'the script not found', route: '**/page.js', says: 'start.notLoaded' },
  { name: 'the program not found', route: '**/d88cut.wasm', says: 'start.noProgram' },
  { name: 'JavaScript off', javaScriptEnabled: false, state: 'off', says: 'noscript' },
  { name: 'the site\'s page opened from the disk', url: siteOnDisk, says: 'start.fromDisk' },
];

for (const c of broken) {
  test(`cannot start: ${c.name}`, async () => {
    const context = await newContext({ javaScriptEnabled: c.javaScriptEnabled ?? true });
    if (c.init) await context.addInitScript(c.init);
    if (c.route) await context.route(c.route, (route) => route.fulfill({ status: 404 }));
    const page = await context.newPage();
    await page.goto(c.url ?? (c.file ? singleFile : origin));
    await page.waitForSelector(`body[data-state="${c.state ?? 'broken'}"]`);
    const said = await page.locator(c.javaScriptEnabled === false ? 'noscript' : '#status').innerText();
    assert.ok(said.includes(words.en[c.says].split('{')[0]), said);
    await context.close();
  });
}

// What keeps the page from reading at WIDTH: how far it runs past its right
// edge, the disks whose list numbers them a second time, and the texts of
// the results (of a cut and of a put) that a column too narrow would break
// inside a word (each is measured with its words kept whole).
async function cramped(page) {
  return page.evaluate(() => {
    const shown = [...document.querySelectorAll(':is(#result, #put) :is(p, h3, h4, h5, li, td)')]
      .filter((e) => e.offsetParent);
    for (const e of shown) Object.assign(e.style, { overflowWrap: 'normal', wordBreak: 'normal' });
    const broken = shown.filter((e) => e.scrollWidth > e.clientWidth + 1).map((e) => e.textContent.slice(0, 60));
    const overflow = document.documentElement.scrollWidth - window.innerWidth;
    for (const e of shown) Object.assign(e.style, { overflowWrap: '', wordBreak: '' });
    const numbered = [...document.querySelectorAll('.disks > li')].filter((li) => getComputedStyle(li).display === 'list-item'
      && getComputedStyle(li).listStyleType !== 'none').length;
    return { overflow: Math.max(overflow, 0), numbered, broken };
  });
}

test('reads on a phone 360 px wide and on a desktop, in both languages', async () => {
  for (const [locale, width] of [['en-US', 360], ['ja-JP', 360], ['en-US', 900], ['ja-JP', 900]]) {
    const opened = await openPage({ locale, viewport: { width, height: 800 } });
    await choose(opened, ['names.d88', 'read3.d88', 'flagged.d88']);
    await putBack(opened, 'twice.d88', ['changed/PROG', 'changed/QXGT01.txt', 'long/PROG']);
    assert.deepEqual(await cramped(opened.page), { overflow: 0, numbered: 0, broken: [] }, `${locale}, ${width} px`);
    assert.deepEqual(opened.errors, []);
    await opened.page.context().close();
  }
});

test('the language switch holds across reloads, from the disk too, and without storage', async () => {
  for (const [file, init] of [[false], [true], [true, () => {
    Object.defineProperty(window, 'localStorage', { get() { throw new DOMException('refused', 'SecurityError'); } });
  }]]) {
    const opened = await openPage({ locale: 'ja-JP', file, init });
    const { page } = opened;
    await page.getByRole('button', { name: 'English' }).click();
    await speaks(page, 'en');
    await choose({ page, lang: 'en' }, ['sample.d88']);
    await page.getByRole('button', { name: '日本語' }).click();
    await speaks(page, 'ja');
    assert.ok((await page.textContent('#result')).includes('PROGRAM DISK を認識しました。'));
    await page.getByRole('button', { name: 'English' }).click();
    await page.reload();
    await page.waitForSelector('body[data-state="ready"]');
    await speaks(page, init ? 'ja' : 'en');
    assert.deepEqual(opened.errors, []);
    await page.context().close();
  }
});

test('asks nothing of any other origin, and weighs at most 150 KiB gzip', () => {
  const elsewhere = requests.filter((url) => !url.startsWith(`${origin}/`) && !url.startsWith(pathToFileURL(`${site}/`).href)
    && !/^(blob|data):/.test(url));
  assert.deepEqual(elsewhere, []);
  const weight = (file) => gzipSync(fs.readFileSync(path.join(site, file)), { level: 9 }).length;
  let total = 0;
  const weights = [...loaded].sort().map((file) => {
    total += weight(file);
    return `${file} ${(weight(file) / 1024).toFixed(1)}`;
  });
  console.log(`site: ${(total / 1024).toFixed(1)} KiB gzip loaded by a visit (${weights.join(', ')}); `
    + `d88cut.html ${(weight('d88cut.html') / 1024).toFixed(1)} KiB gzip, ${fs.statSync(path.join(site, 'd88cut.html')).size} bytes`);
  assert.ok(total <= 150 * 1024, `${total} bytes gzip`);
});
