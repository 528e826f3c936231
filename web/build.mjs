// Makes the page's two HTML files from index.html, with the words of both
// languages (words/*.json) in each:
// - SITE/index.html, which loads page.css, boot.js and page.js beside it,
//   and they the program (d88cut.js, d88cut.wasm) and fflate.js;
// - SITE/d88cut.html, one file that holds all of these, the program as
//   base64, for a person to keep and open from the disk. Its Content
//   Security Policy allows its own inline script and style by their hashes
//   and nothing else.
// Run by the web build: node build.mjs SOURCE SITE, SITE holding the program
// and fflate.js already.
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import path from 'node:path';

const [source, site] = process.argv.slice(2);
const read = (folder, name) => fs.readFileSync(path.join(folder, name), 'utf8');

// FRAME with each of the pairs [from, to] replaced once; a FROM not found
// is a page out of step with this script.
function replaced(frame, ...pairs) {
  return pairs.reduce((text, [from, to]) => {
    if (!text.includes(from)) throw new Error(`${from} is not in the page`);
    return text.replace(from, () => to);
  }, frame);
}

// Text that goes into an element of its own: nothing in it may end that
// element or start a comment that hides its end.
function inline(text, tag, name) {
  if (new RegExp(`</${tag}|<!--`, 'i').test(text)) throw new Error(`${name} cannot be put inside <${tag}>`);
  return text;
}

const hash = (text) => `'sha256-${createHash('sha256').update(text).digest('base64')}'`;

const languages = fs.readdirSync(path.join(source, 'words')).filter((name) => name.endsWith('.json')).sort();
const words = Object.fromEntries(languages.map((name) => [path.basename(name, '.json'),
  JSON.parse(read(path.join(source, 'words'), name))]));
// As JSON in a data block, where "<" could end it early.
const wordsBlock = JSON.stringify(words).replaceAll('<', '\\u003c');
const escaped = (text) => text.replaceAll('&', '&amp;').replaceAll('<', '&lt;');
const noscript = Object.entries(words).map(([lang, w]) => `<p lang="${lang}">${escaped(w.noscript)}</p>`).join('\n');
const frame = replaced(read(source, 'index.html'),
  ['<script type="application/json" id="words"></script>', `<script type="application/json" id="words">${wordsBlock}</script>`],
  ['<noscript></noscript>', `<noscript>\n${noscript}\n</noscript>`]);
fs.writeFileSync(path.join(site, 'index.html'), frame);

// The one file. The three modules become one: fflate's exports, made
// plain declarations, inside a function that gives zipSync; the program's
// module without its export; the page without its imports.
const fflate = read(site, 'fflate.js').split('\n').map((line) => {
  if (/^export \{[\w\s,]+\};$/.test(line)) return '';
  if (/^export (function|var) /.test(line)) return line.slice('export '.length);
  if (/^export\b/.test(line)) throw new Error(`fflate.js: an export this script does not know: ${line}`);
  return line;
}).join('\n');
const licence = read(site, 'fflate-LICENSE.txt').replaceAll('*/', '* /');
const script = [
  `/* fflate, the zip writer:\n${licence}*/\nconst { zipSync } = (() => {\n${fflate}\nreturn { zipSync };\n})();`,
  replaced(read(site, 'd88cut.js'), ['export default createCutter;', '']),
  replaced(read(source, 'page.js'), ["import createCutter from './d88cut.js';\n", ''],
    ["import { zipSync } from './fflate.js';\n", '']),
].map((part) => inline(part, 'script', 'the page\'s script')).join('\n');
const boot = inline(read(source, 'boot.js'), 'script', 'boot.js');
const style = inline(read(source, 'page.css'), 'style', 'page.css');
const program = fs.readFileSync(path.join(site, 'd88cut.wasm')).toString('base64');
const policy = `default-src 'none'; script-src ${hash(script)} ${hash(boot)} 'wasm-unsafe-eval'; `
  + `style-src ${hash(style)}; img-src data:; base-uri 'none'; form-action 'none'`;
const single = replaced(frame,
  [frame.match(/content="default-src[^"]*"/)[0], `content="${policy}"`],
  ['<link rel="stylesheet" href="page.css">', `<style>${style}</style>`],
  ['<script type="module" src="page.js"></script>',
    `<script type="application/octet-stream" id="program">${program}</script>\n<script type="module">${script}</script>`],
  ['<script src="boot.js"></script>', `<script>${boot}</script>`]);
fs.writeFileSync(path.join(site, 'd88cut.html'), single);
