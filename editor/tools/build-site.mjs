// Assembles the served editor site: one page per interface language, the engine's dist
// files and the page's own modules and styles. The folder is the URL root.
//
//   node tools/build-site.mjs <site folder>
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const editorDir = path.resolve(here, '..');
const site = path.resolve(process.argv[2] || path.join(editorDir, 'dist', 'site'));
const base = path.join(site, 'km', 'v1.0');
const languages = ['en', 'cn'];

const engineFiles = [
  ['kity', 'dist/kity.min.js'],
  ['kityminder-core', 'dist/kityminder.core.min.js'],
  ['kityminder-core', 'dist/kityminder.core.css'],
];

function copy(from, to) {
  fs.mkdirSync(path.dirname(to), { recursive: true });
  fs.copyFileSync(from, to);
}

function escapeHtml(text) {
  return text.replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}

for (const [pkg, file] of engineFiles) {
  if (!fs.existsSync(path.join(editorDir, 'node_modules', pkg, file))) {
    console.error(`build-site: node_modules/${pkg}/${file} is missing; run scripts/setup (npm ci in editor/)`);
    process.exit(1);
  }
}

fs.rmSync(base, { recursive: true, force: true });

for (const [pkg, file] of engineFiles) {
  copy(path.join(editorDir, 'node_modules', pkg, file), path.join(base, 'lib', path.basename(file)));
}

const srcDir = path.join(editorDir, 'src');
for (const name of fs.readdirSync(srcDir)) {
  if (/\.(js|css|svg)$/.test(name)) copy(path.join(srcDir, name), path.join(base, 'app', name));
}

const template = fs.readFileSync(path.join(srcDir, 'index.html'), 'utf8');
for (const lang of languages) {
  const strings = JSON.parse(fs.readFileSync(path.join(srcDir, 'strings', `${lang}.json`), 'utf8'));
  const page = template
    .replace(/\{\{lang\}\}/g, lang === 'cn' ? 'zh-CN' : 'en')
    .replace(/\{\{strings\}\}/g, () => JSON.stringify(strings).replace(/</g, '\\u003c'))
    .replace(/\{\{(\w+)\}\}/g, (all, key) => {
      if (!(key in strings)) throw new Error(`${lang}: no text for "${key}"`);
      return escapeHtml(strings[key]);
    });
  fs.mkdirSync(path.join(base, lang), { recursive: true });
  fs.writeFileSync(path.join(base, lang, 'index-mac.html'), page);
}
