// Runs d88cut, built to WebAssembly, on the D88 files that the user picks,
// and shows what it printed and wrote. The page keeps none of the tool's
// logic: for each container it makes a fresh instance of the program, puts
// the bytes into its file system and calls main with the arguments of a
// listing; then, in another fresh instance that also holds the files cut so
// far, with those of a cut; and it reads back the files.
import createCutter from './d88cut.js';
import { zipSync } from './fflate.js';

// The page holds each file whole in memory; 64 disk images of 1.4 MiB each
// take some 90 MiB.
const kMaxBytes = 256 * 1024 * 1024;
const shiftJis = new TextDecoder('shift_jis');
const $ = (id) => document.getElementById(id);
const bytes = (count) => `${count.toLocaleString('en')} byte${count === 1 ? '' : 's'}`;

// The program, fetched and compiled once as the page loads; every instance
// is made from it, so that no run asks the server for anything.
const program = fetch(new URL('d88cut.wasm', import.meta.url))
  .then((response) => (response.ok ? response.arrayBuffer()
    : Promise.reject(new Error(`d88cut.wasm: HTTP status ${response.status}`))))
  .then((wasm) => WebAssembly.compile(wasm));

// Runs main once in a fresh instance, with the container in its working
// folder and `kept` (name to bytes) in its output folder /out. Gives the
// exit status, what it printed as {stream, text} pieces in order (both
// streams are byte devices, no terminal, so the text comes as Shift_JIS),
// and the files in /out afterwards.
async function runProgram(args, name, container, kept) {
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
  for (const [file, data] of kept) FS.writeFile(`/out/${file}`, data);
  FS.chdir('/in');
  const status = instance.callMain(args);
  const files = new Map();
  for (const file of FS.readdir('/out')) {
    if (!file.startsWith('.')) files.set(file, FS.readFile(`/out/${file}`));
  }
  const text = printed.map(({ stream, bytes: b }) => ({ stream, text: shiftJis.decode(new Uint8Array(b)) }));
  return { status, printed: text, files };
}

function el(tag, attributes, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes ?? {})) node.setAttribute(key, value);
  node.append(...children);
  return node;
}

// The lines of a listing (README.md, Listing), shown in words; a line not
// known here is shown as it is.
const kDiskLine = /^disk (\d+) "(.*)" (\S+): (.*)$/;
const kFileLine = /^ {2}(\S+) (?:(\d+)(?: incomplete \((\d+) bytes read\))?|missing)$/;
const kEndsInside = /^ {2}\(the file ends (\d+) bytes into this disk image of (\d+) bytes\)$/;
const kNoDiskImage = /^no disk image: the file holds (\d+) bytes, fewer than a disk header \((\d+)\)$/;
const kTooMany = /^disks after the (\d+)th: not read/;
const kNotRecognised = 'not recognised: ';

function showListing(listing, counts) {
  const disks = el('ol', { class: 'disks' });
  let table = null;
  for (const line of listing.split('\n').filter((l) => l !== '')) {
    let m;
    if ((m = kDiskLine.exec(line))) {
      const [, number, name, media, result] = m;
      const known = !result.startsWith(kNotRecognised);
      const what = known ? el('strong', {}, result)
        : `not one of the three known disks: ${result.slice(kNotRecognised.length)}`;
      const item = el('li', { class: known ? 'known' : 'unknown' },
        el('h4', {}, `Disk ${number}, “${name}” (${media}): `, what));
      table = null;
      if (known) {
        counts.disks += 1;
        table = el('tbody');
        item.append(el('table', {}, el('thead', {}, el('tr', {},
          el('th', { scope: 'col' }, 'File'), el('th', { scope: 'col' }, 'Size'),
          el('th', { scope: 'col' }, 'State'))), table));
      }
      disks.append(item);
    } else if ((m = kFileLine.exec(line)) && table) {
      const [, name, size, read] = m;
      const state = size === undefined ? 'missing' : read === undefined ? 'whole' : 'incomplete';
      counts[state] += 1;
      table.append(el('tr', { class: state }, el('td', {}, name),
        el('td', {}, size === undefined ? '–' : bytes(Number(size))),
        el('td', {}, state === 'missing' ? 'missing: the disk cannot give it'
          : state === 'incomplete' ? `incomplete: ${bytes(Number(read))} read, the rest are 0`
            : 'whole')));
    } else if ((m = kEndsInside.exec(line))) {
      (disks.lastElementChild ?? disks).append(el('p', { class: 'note' },
        `The file ends ${bytes(Number(m[1]))} into this disk image of ${bytes(Number(m[2]))}: it was cut short.`));
    } else if ((m = kNoDiskImage.exec(line))) {
      disks.append(el('li', {}, `No disk image: the file holds ${bytes(Number(m[1]))}, `
        + `fewer than the ${m[2]} of a disk image's header.`));
    } else if ((m = kTooMany.exec(line))) {
      disks.append(el('li', {}, `The disk images after the ${m[1]}th are not read: the tool reads at most ${m[1]}.`));
    } else {
      disks.append(el('li', {}, el('code', {}, line)));
    }
  }
  return disks;
}

// What the run means, in words: its class and its sentence.
function verdict(counts, cut, size) {
  const { disks, whole, incomplete, missing } = counts;
  if (disks === 0 && cut.printed.some((piece) => piece.stream === 'err')) {
    return ['failed', 'Not readable: the program could not read this file (see its messages).'];
  }
  if (disks === 0 && size === 0) return ['none', 'The file is empty: there is no disk in it, and nothing was cut.'];
  if (disks === 0) return ['none', 'No known disk in this file: it holds no PROGRAM DISK, DISK A or DISK B, and nothing was cut.'];
  const found = `${disks} known disk${disks === 1 ? '' : 's'}`;
  if (incomplete + missing > 0) {
    return ['partial', `Some files are missing or incomplete (${found}): ${whole} whole, `
      + `${incomplete} incomplete, ${missing} missing.`];
  }
  if (cut.status !== 0) return ['failed', `The cut ended with status ${cut.status}: see its messages.`];
  return ['whole', `Every file was cut whole: ${whole} files from ${found}.`];
}

// Cuts one container into `kept` and shows how it went.
async function cutContainer(file, kept) {
  const heading = el('h3', {}, file.name, ' ', el('small', {}, bytes(file.size)));
  const shown = el('article', { class: 'container' }, heading);
  $('containers-shown').append(shown);
  const say = (kind, sentence) => shown.append(el('p', { class: `verdict ${kind}` }, sentence));
  if (file.size > kMaxBytes) {
    say('failed', `Too large: the page holds the whole file in memory and takes at most 256 MiB; `
      + 'cut this one with the d88cut command line.');
    return;
  }
  let container;
  try {
    container = new Uint8Array(await file.arrayBuffer());
  } catch (error) {
    say('failed', `Not readable: the browser could not read this file (${error.message}). `
      + 'Choose it again, or copy it to this machine first.');
    return;
  }
  try {
    const listing = await runProgram(['--list', '--', file.name], file.name, container, new Map());
    const cut = await runProgram(['-C', '/out', '--', file.name], file.name, container, kept);
    for (const [name, data] of cut.files) kept.set(name, data);
    const counts = { disks: 0, whole: 0, incomplete: 0, missing: 0 };
    const disks = showListing(listing.printed.filter((p) => p.stream === 'out').map((p) => p.text).join(''), counts);
    say(...verdict(counts, cut, file.size));
    shown.append(disks);
    if (cut.printed.length > 0) {
      shown.append(el('h4', {}, 'What the program printed'), el('pre', { lang: 'ja', tabindex: '0' },
        ...cut.printed.map(({ stream, text }) => (stream === 'err' ? el('span', { class: 'err' }, text) : text))));
    }
  } catch (error) {
    say('failed', `The page could not run the program on this file: ${error.message}`);
  }
}

let zipUrl = null;

// Cuts the containers one after another into one set of files, as the
// command line cuts them into one folder, then offers the files.
async function cutAll(files) {
  if (document.body.dataset.state === 'busy' || files.length === 0) return;
  document.body.dataset.state = 'busy';
  $('containers').disabled = true;
  $('result').hidden = true;
  $('containers-shown').replaceChildren();
  $('saved').textContent = '';
  if (zipUrl) URL.revokeObjectURL(zipUrl);
  zipUrl = null;
  const started = performance.now();
  const kept = new Map();
  for (const [i, file] of files.entries()) {
    $('status').textContent = `Cutting ${file.name} (${i + 1} of ${files.length})…`;
    await new Promise((resolve) => { setTimeout(resolve); });
    await cutContainer(file, kept);
  }
  const names = [...kept.keys()].sort();
  const link = $('zip');
  link.hidden = names.length === 0;
  $('folder').hidden = names.length === 0 || !('showDirectoryPicker' in window);
  if (names.length > 0) {
    // Stored, not compressed: the zip never travels, and deflating would
    // take longer than the cut.
    const zip = zipSync(Object.fromEntries(names.map((name) => [name, kept.get(name)])), { level: 0 });
    const base = files.length === 1 ? files[0].name.replace(/\.[^.]*$/, '') || 'd88cut' : 'd88cut-files';
    zipUrl = URL.createObjectURL(new Blob([zip], { type: 'application/zip' }));
    link.href = zipUrl;
    link.download = `${base}.zip`;
    link.textContent = `Download the ${names.length} files as ${base}.zip (${bytes(zip.length)})`;
  }
  $('folder').onclick = () => saveIntoFolder(names, kept);
  const from = `${files.length} file${files.length === 1 ? '' : 's'}`;
  $('summary').textContent = `${names.length === 0 ? 'No' : names.length} files cut from ${from}.`;
  $('result').hidden = false;
  $('status').textContent = `Done in ${Math.round(performance.now() - started)} ms.`;
  $('containers').disabled = false;
  document.body.dataset.state = 'done';
}

// Writes the files into a folder the user picks, where the browser allows it.
async function saveIntoFolder(names, kept) {
  try {
    const folder = await window.showDirectoryPicker({ mode: 'readwrite' });
    for (const name of names) {
      const writable = await (await folder.getFileHandle(name, { create: true })).createWritable();
      await writable.write(kept.get(name));
      await writable.close();
    }
    $('saved').textContent = `Saved ${names.length} files into the folder ${folder.name}.`;
  } catch (error) {
    $('saved').textContent = error.name === 'AbortError' ? 'No folder was chosen.'
      : `The files could not be saved into the folder: ${error.message}`;
  }
}

const input = $('containers');
input.addEventListener('change', () => {
  const files = [...input.files];
  input.value = '';
  cutAll(files);
});
document.addEventListener('dragover', (event) => {
  event.preventDefault();
  document.body.classList.add('dropping');
});
document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dropping');
  if (document.body.dataset.state !== 'loading') cutAll([...event.dataTransfer.files]);
});

program.then(() => {
  input.disabled = false;
  $('status').textContent = 'Ready: choose or drop D88 files.';
  document.body.dataset.state = 'ready';
}, (error) => {
  $('status').textContent = `The program could not be loaded, so nothing can be cut here: ${error.message}`;
});
