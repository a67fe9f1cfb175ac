// Every interface text exists in every language, and every key the pages and scripts use is
// translated: a missing key would show up on screen as its raw name.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import vm from 'node:vm';

const SOURCE_DIR = process.env.VEXO_SOURCE_DIR || path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const WWW = path.join(SOURCE_DIR, 'www');
const LANGS = ['en', 'es', 'de', 'pl'];

function filesUnder(dir, pattern) {
  return fs.readdirSync(dir, { withFileTypes: true }).flatMap((entry) => {
    const full = path.join(dir, entry.name);
    if (entry.isDirectory()) return filesUnder(full, pattern);
    return pattern.test(entry.name) ? [full] : [];
  });
}

// Runs every translation file against a stand-in of the one function they call.
function loadDictionaries() {
  const dictionaries = Object.fromEntries(LANGS.map((l) => [l, {}]));
  const sources = {};
  const files = [path.join(WWW, 'js', 'i18n.js'), ...filesUnder(path.join(WWW, 'modules'), /^i18n\.js$/)];
  for (const file of files) {
    const context = {
      window: {
        Vexo: {
          i18n: {
            add(lang, dict) {
              assert.ok(LANGS.includes(lang), `${file}: unknown language ${lang}`);
              for (const key of Object.keys(dict)) {
                assert.ok(!(key in dictionaries[lang]), `${key} defined twice for ${lang}`);
                sources[key] = file;
              }
              Object.assign(dictionaries[lang], dict);
            },
          },
        },
      },
    };
    vm.runInNewContext(fs.readFileSync(file, 'utf8'), context, { filename: file });
  }
  return { dictionaries, sources };
}

test('every language has exactly the same keys, and no text is left empty', () => {
  const { dictionaries } = loadDictionaries();
  const english = Object.keys(dictionaries.en).sort();
  assert.ok(english.length > 200, `only ${english.length} English texts`);
  for (const lang of LANGS) {
    assert.deepEqual(Object.keys(dictionaries[lang]).sort(), english, `keys of ${lang} differ from English`);
    for (const [key, text] of Object.entries(dictionaries[lang])) {
      assert.ok(text.trim() !== '', `${lang} ${key} is empty`);
      const placeholders = (t) => (t.match(/\{\w+\}/g) || []).sort().join();
      assert.equal(placeholders(text), placeholders(dictionaries.en[key]), `${lang} ${key} has other placeholders`);
    }
  }
  // The translations are translations, not copies of the English.
  for (const lang of ['es', 'de', 'pl']) {
    const same = english.filter((k) => dictionaries[lang][k] === dictionaries.en[k] && /[a-z]{4,} [a-z]{4,}/.test(dictionaries.en[k]));
    assert.deepEqual(same, [], `${lang} copies English`);
  }
});

test('every key used by the pages and scripts is translated', () => {
  const { dictionaries } = loadDictionaries();
  const used = new Set();
  for (const file of filesUnder(WWW, /\.html$/)) {
    const html = fs.readFileSync(file, 'utf8');
    for (const m of html.matchAll(/data-i18n="([^"]+)"/g)) used.add(m[1]);
    for (const m of html.matchAll(/data-i18n-attr="([^"]+)"/g)) m[1].split(';').forEach((pair) => used.add(pair.split(':')[1].trim()));
  }
  for (const file of filesUnder(WWW, /\.js$/).filter((f) => !f.endsWith('i18n.js'))) {
    const js = fs.readFileSync(file, 'utf8');
    for (const m of js.matchAll(/\b(?:V\.t|translate|titleKey:|showStatus\(box, '\w+',)\(?\s*'([a-z]+\.[\w.]+)'(?!\s*\+)/g)) used.add(m[1]);
    for (const m of js.matchAll(/'((?:err|reg|conn|disc|id|upd|sup|about|shell|common|addr|data|pol|trf)\.[A-Za-z0-9]+)'(?!\s*\+)/g)) used.add(m[1]);
  }
  assert.ok(used.size > 150, `only ${used.size} keys found in use`);
  const missing = [...used].filter((k) => !(k in dictionaries.en));
  assert.deepEqual(missing, []);
});
