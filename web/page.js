// Runs d88cut, built to WebAssembly, on the files that the user picks, and
// shows what it found and wrote. The page keeps none of the tool's logic: it
// puts the user's files into a fresh instance of the program, calls main
// with arguments, and shows what the program printed and wrote. The D88
// files of a batch are given to one run for a listing as JSON lines and to
// another for the cut, so the tool merges the reads of one disk as on the
// command line; putting files back is a listing of the container and a run
// of --put with the JSON lines. Its words come through boot.js
// (window.d88cutPage); all that it shows is drawn again from the record of
// the last batch and of the last put when the language changes.
import createCutter from './d88cut.js';
import { zipSync } from './fflate.js';

const page = window.d88cutPage;
const { t } = page;
// The page holds the files of a batch whole in memory at once; 64 disk
// images of 1.4 MiB each take some 90 MiB.
const kMaxBytes = 256 * 1024 * 1024;
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
// The codes of sectors that the drive flagged, which may also have held
// fewer bytes than were wanted of them.
const kFlagged = ['id_crc_error', 'data_crc_error', 'no_address_mark', 'no_data_mark'];
// The values of a refusal that are counts of bytes.
const kByteValues = ['size', 'expected', 'length', 'room'];
const shiftJis = new TextDecoder('shift_jis');
const $ = (id) => document.getElementById(id);
const number = (n) => n.toLocaleString(page.language());
const bytes = (n) => t('bytes', { n, count: number(n) });
const hex = (n, digits) => `0x${n.toString(16).toUpperCase().padStart(digits, '0')}`;
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

// The words of KEY for COUNT things.
const counted = (key, count, params = {}) => say(key, { ...params, n: count, count: number(count) });

// Sentences one after another, with the space that the language puts
// between them.
const sentences = (told) => told.flatMap((sentence, i) => (i > 0 ? [t('sentence.gap'), ...sentence] : sentence));

// A name that may be Japanese (a disk's, a file's chosen by the user),
// marked so where it is more than ASCII.
const named = (text) => ([...text].some((c) => c.codePointAt(0) > 0x7e) ? el('span', { lang: 'ja' }, text) : text);

// A text of the listing as a person reads it: its {text} (which a name in
// Shift_JIS has beside its {bytes}), else its {bytes} in base64, read as
// the Shift_JIS of these disks as far as they are. Control characters show
// as \xHH, as in the text listing.
const textOf = (value) => (value?.text ?? (value?.bytes !== undefined ? shiftJis.decode(base64(value.bytes)) : ''))
  .replace(/[\0-\x1f\x7f-\x9f]/g, (c) => `\\x${c.charCodeAt(0).toString(16).toUpperCase().padStart(2, '0')}`);

// Runs main once in a fresh instance made from PROGRAM, with INPUTS (pairs
// of a path and its bytes) in its file system, the folders /in, /files and
// an empty /out made, and FOLDER the working folder. Gives the exit status,
// what it printed as {stream, bytes} pieces in order (both streams are byte
// devices, no terminal), and the files in /out afterwards.
async function runProgram(program, args, inputs, folder = '/in') {
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
  for (const made of ['/in', '/files', '/out']) FS.mkdir(made);
  // Owned, not copied: the program only reads them, and two runs share them.
  for (const [path, data] of inputs) FS.writeFile(path, data, { canOwn: true });
  FS.chdir(folder);
  const status = instance.callMain(args);
  const files = new Map();
  for (const file of FS.readdir('/out')) {
    if (!file.startsWith('.')) files.set(file, FS.readFile(`/out/${file}`));
  }
  return { status, printed: printed.map((piece) => ({ ...piece, bytes: new Uint8Array(piece.bytes) })), files };
}

const printedOut = (run) => new TextDecoder().decode(new Uint8Array(run.printed
  .filter((piece) => piece.stream === 'out').flatMap((piece) => [...piece.bytes])));
const printedText = (run) => run.printed.map(({ stream, bytes: b }) => ({ stream, text: shiftJis.decode(b) }));

// The JSON lines of a run (`--json`, one {type, data} object a line, as
// docs/d88cut.1 gives them) gathered: the containers, each with its disks
// (each with its files), notes and end; the results, the put and refused
// objects, and the summary.
function readListing(lines) {
  const listing = { containers: [], results: [], puts: [], refused: [], summary: null };
  const containerOf = (data) => listing.containers[data.container - 1];
  for (const line of lines.split('\n').filter((text) => text !== '')) {
    const { type, data } = JSON.parse(line);
    if (type === 'container') listing.containers.push({ ...data, disks: [], notes: [], end: null });
    else if (type === 'disk') containerOf(data)?.disks.push({ ...data, files: [] });
    else if (type === 'file') containerOf(data)?.disks.find((disk) => disk.number === data.disk)?.files.push(data);
    else if (type === 'note') containerOf(data)?.notes.push(data);
    else if (type === 'end' && containerOf(data)) containerOf(data).end = data;
    else if (type === 'result') listing.results.push(data);
    else if (type === 'put') listing.puts.push(data);
    else if (type === 'refused') listing.refused.push(data);
    else if (type === 'summary') listing.summary = data;
  }
  return listing;
}

// The known disk that catalogs NAME in LISTING, as its disk object says.
function knownOf(listing, name) {
  const disks = listing.containers.flatMap((container) => container.disks);
  return disks.find((disk) => disk.files.some((file) => file.name === name))?.known ?? '';
}

// A name for the program's folder that none of TAKEN has: the chosen name,
// else the name with " (2)", " (3)"... before its extension.
function freeName(name, taken) {
  const [, stem, extension] = name.match(/^(.*?)(\.[^.]*)?$/);
  let free = name;
  for (let i = 2; taken.has(free); ++i) free = `${stem} (${i})${extension ?? ''}`;
  taken.add(free);
  return free;
}

// Reads the chosen FILES into memory, as far as they fit together: each
// entry has the file's name and size, and either the problem that keeps it
// from the program or its bytes and a path in the program's folder.
async function readChosen(files) {
  let room = kMaxBytes;
  const taken = new Set();
  const entries = [];
  for (const file of files) {
    const entry = { name: file.name, size: file.size, problem: null };
    entries.push(entry);
    if (file.size > kMaxBytes) {
      entry.problem = { key: 'verdict.tooLarge' };
      continue;
    }
    if (file.size > room) {
      entry.problem = { key: 'verdict.batchFull' };
      continue;
    }
    try {
      entry.data = new Uint8Array(await file.arrayBuffer());
    } catch (error) {
      entry.problem = { key: 'verdict.unreadable', params: { detail: error.message } };
      continue;
    }
    room -= file.size;
    entry.path = freeName(file.name || 'd88', taken);
  }
  return entries;
}

// The number of a sector's problem, as the program gives it: a kind of
// record, a size code, else bytes.
function problemValue(sector) {
  if (sector.code === 'record_kind') return hex(sector.value, 4);
  if (sector.code === 'other_size_code') return String(sector.value);
  return sector.value === null ? '' : bytes(sector.value);
}

// A sector of the JSON as a person reads it: its ID, or its track side
// where the whole side is not on the disk.
const sectorName = (sector) => (sector.r === null ? t('sector.trackSide', { side: `C${sector.c} H${sector.h}` })
  : `C${sector.c} H${sector.h} R${sector.r}`);

// What went wrong with a sector, in the page's words where it has them
// (a flagged sector that held fewer bytes says that too).
function problemWords(sector) {
  if (!page.has(`problem.${sector.code}`)) return el('span', { lang: 'en' }, sector.problem);
  const key = sector.code === 'holds' && sector.value === 0 ? 'problem.holdsNothing' : `problem.${sector.code}`;
  const words = say(key, { value: problemValue(sector) });
  if (kFlagged.includes(sector.code) && sector.value !== null) {
    words.push(t('problem.and'), ...(sector.value === 0 ? say('problem.flaggedNoData')
      : say('problem.holds', { value: bytes(sector.value) })));
  }
  return el('span', {}, words);
}

const sectorList = (sectors) => (sectors.length > 0 ? el('ul', { class: 'sectors' },
  sectors.map((sector) => el('li', {}, say('sector', { id: sectorName(sector), problem: problemWords(sector) })))) : []);

// The number of a disk's reason: the bytes its sector holds, or its kind
// digit, as it is where it is printable and in hex where not.
function reasonValue(disk) {
  if (disk.reason_code === 'short_sector') return bytes(disk.reason_value);
  const byte = disk.reason_value ?? 0;
  return byte > 0x20 && byte < 0x7f ? t('quoted', { text: String.fromCharCode(byte) }) : hex(byte, 2);
}

function stateWords(file) {
  const params = { read: bytes(file.read), errors: bytes(file.read_with_errors) };
  const key = file.state === 'incomplete' && file.read_with_errors > 0 ? 'state.incompleteErrors' : `state.${file.state}`;
  return [...say(key, params), sectorList(file.sectors ?? [])];
}

function tableOf(columns, rows) {
  return el('table', {}, el('thead', {}, el('tr', {}, columns.map((key) => el('th', { scope: 'col' }, t(key))))),
    el('tbody', {}, rows));
}

function noteWords(note) {
  const params = { ...note, size: bytes(note.file_size ?? note.read_size ?? 0), header: number(note.header_size ?? 0),
    stated: bytes(note.stated_size ?? 0) };
  return page.has(`note.${note.kind}`) ? say(`note.${note.kind}`, params) : [note.kind];
}

function showDisks(container) {
  const list = el('ol', { class: 'disks' });
  for (const disk of container.disks) {
    const reason = page.has(`reason.${disk.reason_code}`)
      ? el('span', {}, say(`reason.${disk.reason_code}`, { value: reasonValue(disk) }))
      : el('span', { lang: 'en' }, disk.reason);
    const what = disk.known ? el('strong', {}, disk.known) : el('span', {}, say('disk.unknown', { reason }));
    const media = disk.media.name ?? hex(disk.media.byte, 2);
    const item = el('li', { class: disk.known ? 'known' : 'unknown' },
      el('h5', {}, say('disk.heading', { number: disk.number, name: named(textOf(disk.name)), media, what })));
    if (disk.truncated_at !== null) {
      item.append(el('p', { class: 'note' }, say('disk.cutShort', { at: bytes(disk.truncated_at), size: bytes(disk.size) })));
    }
    if (disk.known) {
      item.append(tableOf(['table.file', 'table.size', 'table.state'], disk.files.map((file) => el('tr', { class: file.state },
        el('td', {}, file.name), el('td', {}, file.size === null ? '–' : bytes(file.size)), el('td', {}, stateWords(file))))));
    }
    list.append(item);
  }
  for (const note of container.notes) list.append(el('li', { class: 'note' }, noteWords(note)));
  return list;
}

// What the program printed, decoded, with the meaning of each message of
// the program beside it in the page's language.
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

// Whether a container's listing says that some of it went unread: a disk
// image cut short, or more of them than are read, or a read that failed.
const cutShort = (container) => container.disks.find((disk) => disk.truncated_at !== null);
const notRead = (container) => container.notes.some((note) => ['cannot_open', 'read_error'].includes(note.kind))
  || container.disks.some((disk) => disk.reason_code === 'read_error');

// What a chosen file's part of the batch means: its class and its
// sentence, told of its own copies (its JSON file objects and end). Never
// whole where a file is not, or where the container is cut short or holds
// disk images that are not read.
function verdict(entry) {
  if (entry.problem) return ['failed', say(entry.problem.key, entry.problem.params)];
  const container = entry.listed;
  const known = container.disks.filter((disk) => disk.known);
  if (known.length === 0) {
    const early = container.disks.find((disk) => disk.reason_code === 'ends_before_identification');
    if (early) return ['failed', say('verdict.endsEarly', { number: early.number })];
    if (notRead(container) || container.end?.status) return ['failed', say('verdict.notReadable')];
    return ['none', say(entry.size === 0 ? 'verdict.empty' : 'verdict.noKnownDisk')];
  }
  const params = { ...container.end.files, disks: counted('count.knownDisks', known.length).join('') };
  if (params.damaged + params.incomplete + params.missing > 0) return ['partial', say('verdict.someFiles', params)];
  const short = cutShort(container);
  if (short) return ['partial', say('verdict.cutShort', { ...params, number: short.number })];
  const beyond = container.notes.find((note) => note.kind === 'disks_beyond_limit');
  if (beyond) return ['partial', say('verdict.beyondLimit', { ...params, limit: beyond.limit })];
  if (container.end.status !== 0) return ['failed', say('verdict.status', { status: container.end.status })];
  return ['whole', counted('verdict.whole', params.whole, { disks: params.disks })];
}

// Whether some of a chosen file went unread: the page or the program could
// not read it, or it holds known disks and is cut short or holds more disk
// images than are read. (A file that is no container often seems cut short.)
function partUnread(entry) {
  const [kind] = verdict(entry);
  return kind === 'failed' || (kind === 'partial' && (Boolean(cutShort(entry.listed))
    || entry.listed.notes.some((note) => note.kind === 'disks_beyond_limit')));
}

// What the batch's result means, told of the run's results: its class and
// its sentences. Whole only where the run ended with status 0 and every
// chosen file was read to its end.
function batchVerdict(batch) {
  const results = batch.listing?.results ?? [];
  const held = results.filter((result) => result.state !== 'missing').length;
  const notWhole = results.filter((result) => ['damaged', 'incomplete'].includes(result.state)).length;
  const missing = results.length - held;
  const unread = batch.entries.filter(partUnread).length;
  const told = [];
  let kind;
  if (held === 0) {
    kind = results.length > 0 || unread > 0 ? 'failed' : 'none';
    told.push(say(results.length > 0 ? 'batch.noFiles' : 'batch.nothing'));
  } else {
    kind = batch.status === 0 && unread === 0 ? 'whole' : 'partial';
    told.push(notWhole > 0 ? counted('batch.notWhole', notWhole) : counted('batch.whole', held));
    if (missing > 0) told.push(counted('batch.missing', missing));
  }
  if (unread > 0) told.push(counted('batch.unread', unread));
  if (batch.status !== 0 && notWhole + missing + unread === 0) {
    kind = 'failed';
    told.push(say('verdict.status', { status: batch.status }));
  }
  return [kind, sentences(told)];
}

// The chosen file and disk of each of SOURCES ({container, disk}).
function sourcesOf(batch, sources) {
  const words = sources.map(({ container, disk }) => say('files.from', {
    container: named(batch.entries.find((entry) => entry.number === container)?.name ?? String(container)), disk }));
  if (words.length < 2) return words.flat();
  return [...counted('files.merged', words.length), el('ul', { class: 'from' }, words.map((source) => el('li', {}, source)))];
}

// The sectors that no read gave clean, by known disk in the order met.
function showReadAgain(batch) {
  const byDisk = new Map();
  for (const result of batch.listing?.results ?? []) {
    if (result.sectors.length === 0) continue;
    const known = knownOf(batch.listing, result.name);
    if (!byDisk.has(known)) byDisk.set(known, new Map());
    for (const sector of result.sectors) byDisk.get(known).set(sectorName(sector), true);
  }
  if (byDisk.size === 0) return [];
  return [el('h3', {}, t('readAgain.heading')), el('p', {}, t('readAgain.intro')),
    el('ul', { class: 'read-again' }, [...byDisk].map(([known, sectors]) => el('li', {},
      say('readAgain.disk', { disk: el('strong', {}, known), sectors: [...sectors.keys()].join(t('list.comma')) }))))];
}

// Each catalogued name of the run: what the zip holds of it, and where it
// came from.
function showFiles(batch) {
  const results = batch.listing?.results ?? [];
  if (results.length === 0) return [];
  return [el('h3', {}, t('files.heading')), tableOf(['table.file', 'table.size', 'table.state', 'table.from'],
    results.map((result) => el('tr', { class: result.state }, el('td', {}, result.name),
      el('td', {}, result.size === null ? '–' : bytes(result.size)),
      el('td', {}, result.state === 'missing' ? t('result.missing') : t(`word.${result.state}`), sectorList(result.sectors)),
      el('td', {}, result.from.length > 0 ? sourcesOf(batch, result.from) : '–'))))];
}

function showContainer(entry) {
  const [kind, sentence] = verdict(entry);
  const shown = el('article', { class: 'container' },
    el('h4', {}, named(entry.name), ' ', el('small', {}, bytes(entry.size))),
    el('p', { class: `verdict ${kind}` }, sentence));
  if (entry.listed) shown.append(showDisks(entry.listed));
  return shown;
}

// The last batch: the files chosen, the run's listing, the files it wrote
// and the zip of them; drawn again in the other language on a switch.
let batch = null;
let batches = 0;

function render() {
  renderPut();
  if (!batch) return;
  const chosen = $('chosen');
  chosen.removeAttribute('data-w');
  chosen.replaceChildren(...counted('pick.chosen', batch.entries.length, { names: named(batch.chosen.join(t('list.comma'))) }));
  if (!batch.done) return;
  $('replaced').hidden = batch.number === 1;
  const [kind, told] = batchVerdict(batch);
  $('verdict').className = `verdict ${kind}`;
  $('verdict').replaceChildren(...told);
  $('summary').hidden = batch.files.size === 0;
  $('summary').replaceChildren(...counted('result.summary', batch.files.size,
    { from: t('count.chosen', { n: batch.entries.length, count: batch.entries.length }) }));
  const link = $('zip');
  link.hidden = batch.zip === null;
  if (batch.zip) {
    link.textContent = t('save.zip', { n: batch.files.size, count: batch.files.size, zip: batch.zip.name, size: bytes(batch.zip.size) });
  }
  $('folder').hidden = batch.zip === null || !('showDirectoryPicker' in window);
  $('saved').textContent = batch.saved ? t(batch.saved.key, batch.saved.params) : '';
  $('read-again').replaceChildren(...showReadAgain(batch));
  $('files').replaceChildren(...showFiles(batch));
  $('containers-shown').replaceChildren(el('h3', {}, t('containers.heading')), ...batch.entries.map(showContainer));
  $('printed').replaceChildren(...(batch.printed?.length > 0
    ? [el('h3', {}, t('printed.heading')), showPrinted(batch.printed)] : []));
}

// Whether the page may start a run now, and marks it busy if so.
function startRun() {
  if (!['ready', 'done'].includes(document.body.dataset.state)) return false;
  document.body.dataset.state = 'busy';
  for (const input of document.querySelectorAll('input[type="file"]')) input.disabled = true;
  return true;
}

function endRun() {
  for (const input of document.querySelectorAll('input[type="file"]')) input.disabled = false;
  document.body.dataset.state = 'done';
}

// Lists the chosen files in one run and cuts them in another, and offers
// the files that the cut wrote.
async function cutAll(program, files) {
  if (files.length === 0 || !startRun()) return;
  $('result').hidden = true;
  if (batch?.zip) URL.revokeObjectURL(batch.zip.url);
  batch = { number: ++batches, chosen: files.map((file) => file.name), entries: [], files: new Map(), zip: null,
    status: 0 };
  render();
  const started = performance.now();
  page.status('status.reading', { n: files.length, count: files.length });
  batch.entries = await readChosen(files);
  const given = batch.entries.filter((entry) => !entry.problem);
  given.forEach((entry, i) => { entry.number = i + 1; });
  if (given.length > 0) {
    page.status('status.cutting', { n: given.length, count: given.length, name: given[0].name });
    await new Promise((resolve) => { setTimeout(resolve); });
    const inputs = given.map((entry) => [`/in/${entry.path}`, entry.data]);
    const paths = given.map((entry) => entry.path);
    try {
      const listed = await runProgram(program, ['--json', '--', ...paths], inputs);
      const cut = await runProgram(program, ['-C', '/out', '--', ...paths], inputs);
      batch.listing = readListing(printedOut(listed));
      for (const entry of given) entry.listed = batch.listing.containers[entry.number - 1];
      batch.files = cut.files;
      batch.printed = printedText(cut);
      batch.status = Math.max(batch.listing.summary?.status ?? 0, cut.status);
    } catch (error) {
      for (const entry of given) entry.problem = { key: 'verdict.couldNotRun', params: { detail: error.message } };
      batch.listing = null;
    }
    for (const entry of given) delete entry.data;
  }
  const names = [...batch.files.keys()].sort();
  if (names.length > 0) {
    // Stored, not compressed: the zip never travels, and deflating would
    // take longer than the cut.
    const zip = zipSync(Object.fromEntries(names.map((name) => [name, batch.files.get(name)])), { level: 0 });
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
  endRun();
}

// Writes the files into a folder the user picks, where the browser allows it.
async function saveIntoFolder() {
  const { files } = batch;
  try {
    const folder = await window.showDirectoryPicker({ mode: 'readwrite' });
    for (const name of [...files.keys()].sort()) {
      const writable = await (await folder.getFileHandle(name, { create: true })).createWritable();
      await writable.write(files.get(name));
      await writable.close();
    }
    batch.saved = { key: 'save.saved', params: { n: files.size, count: files.size, folder: folder.name } };
  } catch (error) {
    batch.saved = error.name === 'AbortError' ? { key: 'save.noFolder' }
      : { key: 'save.failed', params: { detail: error.message } };
  }
  render();
}

// Putting files back: the container and the changed files chosen, and what
// the last run made of them.
const putting = { container: null, files: [], working: false, done: null };

// The name of the new container: the chosen one's with "-new" before its
// extension.
const newName = (name) => name.replace(/^(.*?)(\.[^.]*)?$/, (whole, stem, extension) => `${stem || 'd88'}-new${extension ?? '.d88'}`);

// "C0 H1 R1–R5, C1 H0 R1–R5" of the sectors of LAYOUT, a run of sector
// numbers on one track side told as one.
function layoutWords(layout) {
  const runs = [];
  for (const place of layout) {
    const last = runs.at(-1);
    if (last && last.c === place.c && last.h === place.h && last.to + 1 === place.r) last.to = place.r;
    else runs.push({ c: place.c, h: place.h, from: place.r, to: place.r });
  }
  return runs.map((run) => `C${run.c} H${run.h} R${run.from}${run.to > run.from ? `–R${run.to}` : ''}`).join(t('list.comma'));
}

// A refusal in the page's words, from its code and values.
function refusalWords(refused) {
  if (!page.has(`refused.${refused.code}`)) return [el('span', { lang: 'en' }, refused.reason)];
  const values = Object.fromEntries(Object.entries(refused.values).map(([key, value]) => [key,
    typeof value === 'number' ? (kByteValues.includes(key) ? bytes(value) : number(value)) : value]));
  return say(`refused.${refused.code}`, values);
}

// What the put's result means: its class and its sentences.
function putVerdict(done) {
  const { listing } = done;
  const container = named(done.container);
  if (done.problem) return ['failed', say(done.problem.key, done.problem.params)];
  if (!listing.containers[0]?.disks.some((disk) => disk.known)) return ['none', say('put.noKnownDisk', { container })];
  if (listing.refused.length > 0) return ['failed', counted('put.refused', new Set(listing.refused.map((r) => textOf(r.name))).size)];
  if (done.status !== 0) return ['failed', say('verdict.status', { status: done.status })];
  if (listing.puts.length === 0) {
    return ['none', say(done.unchanged.length > 0 ? 'put.nothingChanged' : 'put.noNames', { container })];
  }
  const names = new Set(listing.puts.map((put) => put.name));
  return ['whole', counted('put.done', names.size, { new: named(done.name), container })];
}

function renderPut() {
  for (const [id, chosen] of [['put-container-chosen', putting.container ? [putting.container] : []],
    ['put-files-chosen', putting.files]]) {
    if (chosen.length === 0) continue;
    $(id).removeAttribute('data-w');
    $(id).replaceChildren(...counted('pick.chosen', chosen.length,
      { names: named(chosen.map((file) => file.name).join(t('list.comma'))) }));
  }
  $('put-status').textContent = putting.working ? t('put.working') : '';
  const { done } = putting;
  $('put-result').hidden = !done;
  if (!done) return;
  const [kind, told] = putVerdict(done);
  const shown = [el('p', { class: `verdict ${kind}` }, told)];
  if (done.url) {
    shown.push(el('p', { class: 'save' }, el('a', { href: done.url, download: done.name },
      t('put.download', { new: done.name, size: bytes(done.size) }))));
  }
  const listing = done.listing ?? { containers: [], puts: [], refused: [] };
  // A file refused alike on two reads of a disk is told once.
  const refusals = new Map(listing.refused.map((refused) => [JSON.stringify([refused.name, refused.code, refused.values]),
    refused]));
  if (refusals.size > 0) {
    shown.push(el('ul', { class: 'refusals' }, [...refusals.values()].map((refused) => el('li', {},
      say('put.refusal', { name: named(textOf(refused.name)), reason: el('span', {}, refusalWords(refused)) })))));
  }
  if (listing.puts.length > 0) {
    const disks = listing.containers[0].disks;
    shown.push(el('h3', {}, t('put.where')), tableOf(['table.file', 'table.disk', 'table.sectors'],
      listing.puts.map((put) => el('tr', {}, el('td', {}, put.name),
        el('td', {}, say('put.disk', { number: put.disk, known: disks.find((disk) => disk.number === put.disk)?.known ?? '' })),
        el('td', {}, layoutWords(put.layout))))), el('p', { class: 'hint' }, t('put.statuses')));
  }
  if (done.unchanged.length > 0 && listing.puts.length > 0) {
    shown.push(el('p', { class: 'note' }, counted('put.unchanged', done.unchanged.length, { names: done.unchanged.join(t('list.comma')) })));
  }
  if (done.passedOver.length > 0) {
    shown.push(el('p', { class: 'note' }, counted('put.passedOver', done.passedOver.length,
      { names: named(done.passedOver.join(t('list.comma'))) })));
  }
  if (kind === 'failed' && listing.refused.length === 0 && done.printed?.length > 0) {
    shown.push(el('h3', {}, t('printed.heading')), showPrinted(done.printed));
  }
  $('put-result').replaceChildren(...shown);
}

// Lists the chosen container, then puts the chosen files back into a copy
// of it with --put, and offers the copy.
async function putBack(program) {
  const { container, files } = putting;
  if (!container || files.length === 0 || !startRun()) return;
  if (putting.done?.url) URL.revokeObjectURL(putting.done.url);
  putting.done = null;
  putting.working = true;
  renderPut();
  const done = { container: container.name, name: newName(container.name), unchanged: [], passedOver: [], listing: null };
  const [given, ...changed] = await readChosen([container, ...files]);
  const unread = [given, ...changed].find((entry) => entry.problem);
  if (unread) {
    done.problem = unread === given ? unread.problem
      : { key: 'put.unreadable', params: { name: unread.name, detail: t(unread.problem.key, unread.problem.params) } };
  } else {
    const inputs = [[`/in/${given.path}`, given.data], ...changed.map((entry) => [`/files/${entry.name}`, entry.data])];
    try {
      const listed = readListing(printedOut(await runProgram(program, ['--json', '--', `/in/${given.path}`], inputs)));
      const run = await runProgram(program, ['--json', '--put', done.name, '-C', '/files', '--', `/in/${given.path}`],
        inputs, '/out');
      done.listing = readListing(printedOut(run));
      done.listing.containers = listed.containers;
      done.status = run.status;
      done.printed = printedText(run);
      const catalogued = new Set(listed.containers.flatMap((c) => c.disks).flatMap((disk) => disk.files).map((file) => file.name));
      const told = new Set([...done.listing.puts.map((put) => put.name), ...done.listing.refused.map((r) => textOf(r.name))]);
      const names = [...new Set(changed.map((entry) => entry.name))];
      done.passedOver = names.filter((name) => !catalogued.has(name));
      done.unchanged = names.filter((name) => catalogued.has(name) && !told.has(name));
      const made = run.files.get(done.name);
      if (run.status === 0 && done.listing.puts.length > 0 && made) {
        done.url = URL.createObjectURL(new Blob([made], { type: 'application/octet-stream' }));
        done.size = made.length;
      }
    } catch (error) {
      done.problem = { key: 'verdict.couldNotRun', params: { detail: error.message } };
    }
  }
  putting.done = done;
  putting.working = false;
  renderPut();
  endRun();
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

  // Each file input hands on what is chosen, and forgets it, so that the
  // same files chosen again (changed since, say) are taken again.
  const chosen = {
    containers: (files) => cutAll(program, files),
    'put-container': (files) => {
      if (files.length > 0) [putting.container] = files;
      putBack(program);
    },
    'put-files': (files) => {
      if (files.length > 0) putting.files = files;
      putBack(program);
    },
  };
  for (const [id, take] of Object.entries(chosen)) {
    const input = $(id);
    input.addEventListener('change', () => {
      const files = [...input.files];
      input.value = '';
      take(files);
      renderPut();
    });
  }
  // A drop on a step of putting back is chosen for that step; elsewhere
  // outside that part, it is a batch to cut.
  document.addEventListener('dragover', (event) => {
    event.preventDefault();
    document.body.classList.add('dropping');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
  document.addEventListener('drop', (event) => {
    event.preventDefault();
    document.body.classList.remove('dropping');
    const files = [...event.dataTransfer.files];
    const step = event.target.closest?.('[data-drop]');
    if (step) chosen[step.dataset.drop](files);
    else if (!event.target.closest?.('#put')) cutAll(program, files);
    renderPut();
  });
  $('folder').addEventListener('click', saveIntoFolder);

  program.then(() => {
    for (const input of document.querySelectorAll('input[type="file"]')) input.disabled = false;
    page.status('status.ready');
    document.body.dataset.state = 'ready';
  }, (error) => page.fail('start.noProgram', error.message));
}

// boot.js has found the browser able, or has said why it is not.
if (document.body.dataset.state === 'loading') start();
