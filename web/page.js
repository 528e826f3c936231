// Runs d88cut, built to WebAssembly, on the D88 files that the user picks,
// and shows what it found and wrote. The page keeps none of the tool's
// logic: for each container it makes a fresh instance of the program, puts
// the bytes into its file system and calls main for a listing as JSON
// lines, then in another fresh instance for a cut, and reads back the files
// written. Of the copies of one name that the containers of a batch give,
// it keeps the best, as the tool does within one container. Its words come
// through boot.js (window.d88cutPage); all that it shows is drawn again from
// the batch's record when the language changes.
import createCutter from './d88cut.js';
import { zipSync } from './fflate.js';

const page = window.d88cutPage;
const { t } = page;
// The page holds each file whole in memory; 64 disk images of 1.4 MiB each
// take some 90 MiB.
const kMaxBytes = 256 * 1024 * 1024;
// A copy of a file ranks whole above damaged above incomplete; a missing
// file gives no copy.
const kRank = { whole: 3, damaged: 2, incomplete: 1 };
// The program's messages (docs/d88cut.1), by their ends, with the words
// that give their meaning.
const kMessages = [
  ['を認識しました.', 'message.recognised'],
  ['ファイルの一部を読み込めません.', 'message.partRead'],
  ['ファイルを読み込めません.', 'message.notRead'],
  ['ファイルを書き込めません.', 'message.notWritten'],
  ['ファイルをオープンできません.', 'message.notOpened'],
  ['ディレクトリを開けません.', 'message.noFolder'],
];
const shiftJis = new TextDecoder('shift_jis');
const $ = (id) => document.getElementById(id);
const number = (n) => n.toLocaleString(page.language());
const bytes = (n) => t('bytes', { n, count: number(n) });
const base64 = (text) => Uint8Array.from(atob(text), (c) => c.charCodeAt(0));

function el(tag, attributes, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes ?? {})) node.setAttribute(key, value);
  node.append(...children.flat());
  return node;
}

// The words of KEY as parts to append, each {name} replaced by
// PARAMS[name], which may be an element; PARAMS.n chooses the plural.
function say(key, params = {}) {
  return page.template(key, params.n).split(/\{(\w+)\}/)
    .map((part, i) => (i % 2 === 1 ? params[part] ?? `{${part}}` : part));
}

// A name that may be Japanese (a disk's, a file's chosen by the user),
// marked so where it is more than ASCII.
const named = (text) => ([...text].some((c) => c.codePointAt(0) > 0x7e) ? el('span', { lang: 'ja' }, text) : text);

// A text of the listing as a person reads it: its {text} (which a name in
// Shift_JIS has beside its {bytes}), else its {bytes} in base64, read as
// the Shift_JIS of these disks as far as they are. Control characters show
// as \xHH, as in the text listing.
const textOf = (value) => (value?.text ?? (value?.bytes !== undefined ? shiftJis.decode(base64(value.bytes)) : ''))
  .replace(/[\0-\x1f\x7f-\x9f]/g, (c) => `\\x${c.charCodeAt(0).toString(16).toUpperCase().padStart(2, '0')}`);

// Runs main once in a fresh instance made from PROGRAM, with the container
// in its working folder and an empty output folder /out. Gives the exit
// status, what it printed as {stream, bytes} pieces in order (both streams
// are byte devices, no terminal), and the files in /out afterwards.
async function runProgram(program, args, name, container) {
  const printed = [];
  const device = (stream) => (byte) => {
    if (byte === null) return;
    if (printed.at(-1)?.stream !== stream) printed.push({ stream, bytes: [] });
    printed.at(-1).bytes.push(byte);
  };
  const instance = await new Promise((resolve, reject) => {
    createCutter({
      thisProgram: 'd88cut',
      stdout: device('out'),
      stderr: device('err'),
      instantiateWasm(imports, receive) {
        program.then((module) => WebAssembly.instantiate(module, imports)
          .then((made) => receive(made, module))).catch(reject);
        return {};
      },
    }).then(resolve, reject);
  });
  const { FS } = instance;
  FS.mkdir('/in');
  FS.mkdir('/out');
  FS.writeFile(`/in/${name}`, container, { canOwn: true });
  FS.chdir('/in');
  const status = instance.callMain(args);
  const files = new Map();
  for (const file of FS.readdir('/out')) {
    if (!file.startsWith('.')) files.set(file, FS.readFile(`/out/${file}`));
  }
  return { status, printed: printed.map((piece) => ({ ...piece, bytes: new Uint8Array(piece.bytes) })), files };
}

// The listing's JSON lines (`--json`, one {type, data} object a line, as
// docs/d88cut.1 gives them) gathered: the disks, each with its files, the
// notes and the end.
function readListing(lines) {
  const records = lines.split('\n').filter((line) => line !== '').map((line) => JSON.parse(line));
  const listing = { disks: [], notes: [], end: null };
  for (const { type, data } of records) {
    if (type === 'disk') listing.disks.push({ ...data, files: [] });
    else if (type === 'file') listing.disks.find((disk) => disk.number === data.disk)?.files.push(data);
    else if (type === 'note') listing.notes.push(data);
    else if (type === 'end') listing.end = data;
  }
  return listing;
}

// The copy of each name that a cut of the container keeps: the best
// ranked, the later of equals.
function copiesKept(listing) {
  const copies = new Map();
  for (const disk of listing.disks) {
    for (const file of disk.files) {
      const rank = kRank[file.state] ?? 0;
      if (rank > 0 && rank >= (copies.get(file.name)?.rank ?? 0)) copies.set(file.name, { rank, state: file.state, disk: disk.number });
    }
  }
  return copies;
}

// Lists and cuts one container; gives what the page shows of it.
async function cutContainer(program, file) {
  const result = { name: file.name, size: file.size, problem: null, passedOver: [] };
  if (file.size > kMaxBytes) return { ...result, problem: { key: 'verdict.tooLarge' } };
  let container;
  try {
    container = new Uint8Array(await file.arrayBuffer());
  } catch (error) {
    return { ...result, problem: { key: 'verdict.unreadable', params: { detail: error.message } } };
  }
  try {
    const listed = await runProgram(program, ['--json', '--', file.name], file.name, container);
    const cut = await runProgram(program, ['-C', '/out', '--', file.name], file.name, container);
    const out = listed.printed.filter((piece) => piece.stream === 'out').flatMap((piece) => [...piece.bytes]);
    const listing = readListing(new TextDecoder().decode(new Uint8Array(out)));
    return { ...result, listing, copies: copiesKept(listing), files: cut.files, status: cut.status,
      printed: cut.printed.map(({ stream, bytes: b }) => ({ stream, text: shiftJis.decode(b) })) };
  } catch (error) {
    return { ...result, problem: { key: 'verdict.couldNotRun', params: { detail: error.message } } };
  }
}

// Takes the files of a container's cut into KEPT, where no earlier
// container's copy of the name ranks higher.
function keep(result, kept) {
  for (const [name, data] of result.files ?? []) {
    const copy = result.copies.get(name) ?? { rank: 0, state: 'whole', disk: 0 };
    const held = kept.get(name);
    if (held && held.rank > copy.rank) {
      result.passedOver.push(name);
    } else {
      kept.set(name, { ...copy, data, from: result.name });
    }
  }
}

// What a container's result means: its class and its sentence. Never
// whole where a file is not, or where the container is cut short or holds
// disk images that are not read.
function verdict(result) {
  if (result.problem) return ['failed', say(result.problem.key, result.problem.params)];
  const { listing } = result;
  const known = listing.disks.filter((disk) => disk.known);
  const files = known.flatMap((disk) => disk.files);
  const count = (state) => files.filter((file) => file.state === state).length;
  if (known.length === 0) {
    const unread = listing.notes.some((note) => note.kind === 'cannot_open' || note.kind === 'read_error');
    if (unread || result.printed.some((piece) => piece.stream === 'err')) return ['failed', say('verdict.notReadable')];
    return ['none', say(result.size === 0 ? 'verdict.empty' : 'verdict.noKnownDisk')];
  }
  const params = { disks: t('count.knownDisks', { n: known.length, count: known.length }), whole: count('whole'),
    damaged: count('damaged'), incomplete: count('incomplete'), missing: count('missing') };
  if (params.damaged + params.incomplete + params.missing > 0) return ['partial', say('verdict.someFiles', params)];
  const short = listing.disks.find((disk) => disk.truncated_at !== null);
  if (short) return ['partial', say('verdict.cutShort', { ...params, number: short.number })];
  const beyond = listing.notes.find((note) => note.kind === 'disks_beyond_limit');
  if (beyond) return ['partial', say('verdict.beyondLimit', { ...params, limit: beyond.limit })];
  if (result.status !== 0) return ['failed', say('verdict.status', { status: result.status })];
  return ['whole', say('verdict.whole', { ...params, n: params.whole, count: params.whole })];
}

// Whether some of a container went unread: it could not be read, or not by
// the program, or it holds known disks and is cut short or holds more disk
// images than are read. (A file that is no container often seems cut short.)
function partUnread(result) {
  const [kind] = verdict(result);
  return kind === 'failed' || (kind === 'partial' && (result.listing.disks.some((disk) => disk.truncated_at !== null)
    || result.listing.notes.some((note) => note.kind === 'disks_beyond_limit')));
}

// What the batch's result means, told of the files kept: its class and its
// sentences. Whole only where every file kept is whole, no file of a known
// disk is missing from them, and every container was read to its end.
function batchVerdict({ results, kept }) {
  const counted = (key, count) => say(key, { n: count, count });
  const notWhole = [...kept.values()].filter((file) => file.state !== 'whole').length;
  const missing = new Set(results.flatMap((result) => result.listing?.disks ?? []).flatMap((disk) => disk.files)
    .filter((file) => file.state === 'missing' && !kept.has(file.name)).map((file) => file.name)).size;
  const unread = results.filter(partUnread).length;
  const told = [];
  let kind;
  if (kept.size === 0) {
    const known = results.some((result) => result.listing?.disks.some((disk) => disk.known));
    kind = known || unread > 0 ? 'failed' : 'none';
    told.push(say(known ? 'batch.noFiles' : 'batch.nothing'));
  } else {
    kind = notWhole + missing + unread > 0 ? 'partial' : 'whole';
    told.push(notWhole > 0 ? counted('batch.notWhole', notWhole) : counted('batch.whole', kept.size));
    if (missing > 0) told.push(counted('batch.missing', missing));
  }
  if (unread > 0) told.push(counted('batch.unread', unread));
  return [kind, told.flatMap((sentence, i) => (i > 0 ? [t('sentence.gap'), ...sentence] : sentence))];
}

// The number of a sector's problem: the bytes it holds, or the kind of the
// record it holds, as the program writes kinds.
function problemValue(sector) {
  if (sector.code === 'record_kind') return `0x${sector.value.toString(16).toUpperCase().padStart(4, '0')}`;
  return sector.value === null ? '' : bytes(sector.value);
}

// The number of a disk's reason: the bytes its sector holds, or its kind
// digit, as it is where it is printable and in hex where not.
function reasonValue(disk) {
  if (disk.reason_code === 'short_sector') return bytes(disk.reason_value);
  const byte = disk.reason_value ?? 0;
  return byte > 0x20 && byte < 0x7f ? t('quoted', { text: String.fromCharCode(byte) })
    : `0x${byte.toString(16).toUpperCase().padStart(2, '0')}`;
}

function stateWords(file) {
  const params = { read: bytes(file.read), errors: bytes(file.read_with_errors) };
  const key = file.state === 'incomplete' && file.read_with_errors > 0 ? 'state.incompleteErrors' : `state.${file.state}`;
  const sectors = (file.sectors ?? []).map((sector) => el('li', {}, say('sector', { id: `C${sector.c} H${sector.h} R${sector.r}`,
    problem: page.has(`problem.${sector.code}`) ? el('span', {}, say(`problem.${sector.code}`, { value: problemValue(sector) }))
      : el('span', { lang: 'en' }, sector.problem) })));
  return [...say(key, params), sectors.length > 0 ? el('ul', { class: 'sectors' }, sectors) : []];
}

function tableOf(columns, rows) {
  return el('table', {}, el('thead', {}, el('tr', {}, columns.map((key) => el('th', { scope: 'col' }, t(key))))),
    el('tbody', {}, rows));
}

function noteWords(note) {
  const params = { ...note, size: bytes(note.file_size ?? 0), header: number(note.header_size ?? 0) };
  return page.has(`note.${note.kind}`) ? say(`note.${note.kind}`, params) : [note.kind];
}

function showDisks(listing) {
  const list = el('ol', { class: 'disks' });
  for (const disk of listing.disks) {
    const reason = page.has(`reason.${disk.reason_code}`)
      ? el('span', {}, say(`reason.${disk.reason_code}`, { value: reasonValue(disk) }))
      : el('span', { lang: 'en' }, disk.reason);
    const what = disk.known ? el('strong', {}, disk.known) : el('span', {}, say('disk.unknown', { reason }));
    const media = disk.media.name ?? `0x${disk.media.byte.toString(16).toUpperCase().padStart(2, '0')}`;
    const item = el('li', { class: disk.known ? 'known' : 'unknown' },
      el('h4', {}, say('disk.heading', { number: disk.number, name: named(textOf(disk.name)), media, what })));
    if (disk.truncated_at !== null) {
      item.append(el('p', { class: 'note' }, say('disk.cutShort', { at: bytes(disk.truncated_at), size: bytes(disk.size) })));
    }
    if (disk.known) {
      item.append(tableOf(['table.file', 'table.size', 'table.state'], disk.files.map((file) => el('tr', { class: file.state },
        el('td', {}, file.name), el('td', {}, file.size === null ? '–' : bytes(file.size)), el('td', {}, stateWords(file))))));
    }
    list.append(item);
  }
  for (const note of listing.notes) list.append(el('li', { class: 'note' }, noteWords(note)));
  return list;
}

// What the cut printed, decoded, with the meaning of each message of the
// program beside it in the page's language.
function showPrinted(printed) {
  const box = el('pre', { lang: 'ja', tabindex: '0' });
  for (const { stream, text } of printed) {
    const lines = text.split('\n');
    for (const [i, line] of lines.entries()) {
      if (i === lines.length - 1 && line === '') break;
      box.append(stream === 'err' ? el('span', { class: 'err' }, line) : line);
      const [end, key] = kMessages.find(([ending]) => line.endsWith(ending)) ?? [];
      if (key) {
        const name = line.slice(0, -end.length);
        box.append(el('span', { class: 'meaning', lang: page.language() }, '  ← ',
          say(key, { name: name.endsWith(': ') ? name.slice(0, -2) : name })));
      }
      if (i < lines.length - 1) box.append('\n');
    }
  }
  return box;
}

function showContainer(result) {
  const [kind, sentence] = verdict(result);
  const shown = el('article', { class: 'container' },
    el('h3', {}, named(result.name), ' ', el('small', {}, bytes(result.size))),
    el('p', { class: `verdict ${kind}` }, sentence));
  if (result.listing) shown.append(showDisks(result.listing));
  if (result.passedOver.length > 0) {
    shown.append(el('p', { class: 'note' }, say('container.passedOver', { names: result.passedOver.join(', ') })));
  }
  if (result.printed?.length > 0) shown.append(el('h4', {}, t('printed.heading')), showPrinted(result.printed));
  return shown;
}

function showFiles(kept) {
  const names = [...kept.keys()].sort();
  if (names.length === 0) return [];
  return [el('h3', {}, t('files.heading')), tableOf(['table.file', 'table.size', 'table.state', 'table.from'],
    names.map((name) => {
      const file = kept.get(name);
      return el('tr', { class: file.state }, el('td', {}, name), el('td', {}, bytes(file.data.length)),
        el('td', {}, t(`word.${file.state}`)), el('td', {}, say('files.from', { container: named(file.from), disk: file.disk })));
    }))];
}

// The last batch: the files chosen, each container's result, the files
// kept and the zip of them; drawn again in the other language on a switch.
let batch = null;
let batches = 0;

function render() {
  if (!batch) return;
  const chosen = $('chosen');
  chosen.removeAttribute('data-w');
  chosen.replaceChildren(...say('pick.chosen', { n: batch.chosen.length, count: batch.chosen.length,
    names: named(batch.chosen.join(', ')) }));
  if (!batch.done) return;
  $('replaced').hidden = batch.number === 1;
  const [kind, sentences] = batchVerdict(batch);
  $('verdict').className = `verdict ${kind}`;
  $('verdict').replaceChildren(...sentences);
  $('summary').hidden = batch.kept.size === 0;
  $('summary').replaceChildren(...say('result.summary', { n: batch.kept.size, count: batch.kept.size,
    from: t('count.chosen', { n: batch.chosen.length, count: batch.chosen.length }) }));
  const link = $('zip');
  link.hidden = batch.zip === null;
  if (batch.zip) {
    link.textContent = t('save.zip', { n: batch.kept.size, count: batch.kept.size, zip: batch.zip.name, size: bytes(batch.zip.size) });
  }
  $('folder').hidden = batch.zip === null || !('showDirectoryPicker' in window);
  $('saved').textContent = batch.saved ? t(batch.saved.key, batch.saved.params) : '';
  $('containers-shown').replaceChildren(...batch.results.map(showContainer));
  $('files').replaceChildren(...showFiles(batch.kept));
}

// Cuts the containers one after another, keeps the best copy of each name,
// and offers the files.
async function cutAll(program, files) {
  if (!['ready', 'done'].includes(document.body.dataset.state) || files.length === 0) return;
  document.body.dataset.state = 'busy';
  $('containers').disabled = true;
  $('result').hidden = true;
  if (batch?.zip) URL.revokeObjectURL(batch.zip.url);
  batch = { number: ++batches, chosen: files.map((file) => file.name), results: [], kept: new Map(), zip: null };
  render();
  const started = performance.now();
  for (const [i, file] of files.entries()) {
    page.status('status.cutting', { name: file.name, i: i + 1, n: files.length });
    await new Promise((resolve) => { setTimeout(resolve); });
    const result = await cutContainer(program, file);
    keep(result, batch.kept);
    batch.results.push(result);
  }
  const names = [...batch.kept.keys()].sort();
  if (names.length > 0) {
    // Stored, not compressed: the zip never travels, and deflating would
    // take longer than the cut.
    const zip = zipSync(Object.fromEntries(names.map((name) => [name, batch.kept.get(name).data])), { level: 0 });
    const base = files.length === 1 ? files[0].name.replace(/\.[^.]*$/, '') || 'd88cut' : 'd88cut-files';
    const url = URL.createObjectURL(new Blob([zip], { type: 'application/zip' }));
    batch.zip = { url, name: `${base}.zip`, size: zip.length };
    $('zip').href = url;
    $('zip').download = batch.zip.name;
  }
  batch.done = true;
  render();
  $('result').hidden = false;
  page.status('status.done', { ms: Math.round(performance.now() - started) });
  $('containers').disabled = false;
  document.body.dataset.state = 'done';
}

// Writes the files into a folder the user picks, where the browser allows it.
async function saveIntoFolder() {
  const { kept } = batch;
  try {
    const folder = await window.showDirectoryPicker({ mode: 'readwrite' });
    for (const name of [...kept.keys()].sort()) {
      const writable = await (await folder.getFileHandle(name, { create: true })).createWritable();
      await writable.write(kept.get(name).data);
      await writable.close();
    }
    batch.saved = { key: 'save.saved', params: { n: kept.size, count: kept.size, folder: folder.name } };
  } catch (error) {
    batch.saved = error.name === 'AbortError' ? { key: 'save.noFolder' }
      : { key: 'save.failed', params: { detail: error.message } };
  }
  render();
}

function start() {
  // The program, compiled once as the page loads from the bytes the page
  // holds where it is one file (#program, base64), else from beside it.
  const embedded = $('program');
  const program = (embedded ? Promise.resolve(base64(embedded.textContent.trim()))
    : fetch(new URL('d88cut.wasm', import.meta.url)).then((response) => (response.ok ? response.arrayBuffer()
      : Promise.reject(new Error(`d88cut.wasm: HTTP ${response.status}`)))))
    .then((wasm) => WebAssembly.compile(wasm));
  $('keep').hidden = Boolean(embedded);
  page.onLanguage(render);

  const input = $('containers');
  input.addEventListener('change', () => {
    const files = [...input.files];
    input.value = '';
    cutAll(program, files);
  });
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dropping');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dropping');
    cutAll(program, [...event.dataTransfer.files]);
  });
  $('folder').addEventListener('click', saveIntoFolder);

  program.then(() => {
    input.disabled = false;
    page.status('status.ready');
    document.body.dataset.state = 'ready';
  }, (error) => page.fail('start.noProgram', error.message));
}

// boot.js has found the browser able, or has said why it is not.
if (document.body.dataset.state === 'loading') start();
