// The interface's pure helpers without a browser, and its translations: every text in every
// language, every key the pages and scripts use translated.
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { test } from 'node:test';
import vm from 'node:vm';
import { SOURCE_DIR } from './harness.mjs';

const WWW = path.join(SOURCE_DIR, 'www');
const load = createRequire(import.meta.url);
const R = load(path.join(WWW, 'modules', 'registers', 'values.js'));
const T = load(path.join(WWW, 'js', 'valuetypes.js'));
const Addr = load(path.join(WWW, 'js', 'addressing.js'));
const A = load(path.join(WWW, 'modules', 'connection', 'address.js'));
const f = (type, order = 'ABCD', table = 'holding', regSize = 16, floatPrec = 2) => R.normalizeFormat({ table, regSize, type, order, floatPrec });
// Each row: [label, actual, expected].
const check = (rows) => rows.forEach(([label, actual, expected]) => assert.deepEqual(actual, expected, label));

test('register addresses typed and shown in each notation by one rule, refused at the edges; device addresses', () => {
  // [typed, notation, table, protocol address or problem (and the table it names)]
  const table = [['0', 'zero', 'holding', 0], ['65535', 'zero', 'coils', 65535], ['65536', 'zero', 'holding', 'addr.bad'],
    ['0x10', 'zero', 'holding', 16], ['0XfF', 'zero', 'input', 255], ['0x10000', 'zero', 'holding', 'addr.bad'],
    ['0', 'one', 'holding', 'addr.bad'], ['1', 'one', 'holding', 0], ['65536', 'one', 'discrete', 65535], ['0x10', 'one', 'holding', 15],
    ['40001', 'modicon', 'holding', 0], ['49999', 'modicon', 'holding', 9998], ['400001', 'modicon', 'holding', 0],
    ['465536', 'modicon', 'holding', 65535], ['465537', 'modicon', 'holding', 'addr.bad'], ['40000', 'modicon', 'holding', 'addr.bad'],
    ['30001', 'modicon', 'holding', 'addr.otherTable', 'input'], ['1', 'modicon', 'holding', 'addr.otherTable', 'coils'],
    ['17', 'modicon', 'coils', 16], ['10001', 'modicon', 'discrete', 0], ['365536', 'modicon', 'input', 65535],
    ['065536', 'modicon', 'coils', 65535], ['20001', 'modicon', 'holding', 'addr.bad'], ['0x10', 'modicon', 'holding', 'addr.bad'],
    ['4000001', 'modicon', 'holding', 'addr.bad'], ['', 'zero', 'holding', 'addr.bad'], ['-1', 'zero', 'holding', 'addr.bad'],
    ['1.5', 'one', 'holding', 'addr.bad'], ['12a', 'zero', 'holding', 'addr.bad'], ['0x', 'zero', 'holding', 'addr.bad']];
  for (const [typed, notation, tbl, expected, named] of table) {
    const result = Addr.parseAddress(typed, notation, tbl);
    const name = `${notation} ${tbl} "${typed}"`;
    assert.equal(Addr.renotate(typed, notation, 'zero', tbl), typeof expected === 'number' ? String(expected) : typed, name);
    if (typeof expected === 'number') {
      assert.deepEqual(result, { address: expected }, name);
      // What is accepted is shown back in the same notation, and reads as the same address.
      assert.deepEqual(Addr.parseAddress(Addr.formatAddress(expected, notation, tbl), notation, tbl), result, name);
    } else {
      assert.equal(result.problem, expected, name);
      if (named) assert.equal(result.params.table, named, name);
    }
  }
  check([['modicon', [0, 9998, 9999, 65535].map((a) => Addr.formatAddress(a, 'modicon', 'holding')), ['40001', '49999', '410000', '465536']],
    ['coil', Addr.formatAddress(0, 'modicon', 'coils'), '00001'],
    ['range', Addr.addressRange('modicon', 'input'), { first: '30001', last5: '39999', first6: '300001', last: '365536' }],
    ['range one', Addr.addressRange('one', 'coils'), { first: '1', last: '65536' }],
    ['functions', [1, 2, 3, 4, 5, 6, 15, 16, 17].map(Addr.tableOfFunction), ['coils', 'discrete', 'holding', 'input', 'coils', 'holding', 'coils', 'holding', null]]]);
  // Device addresses: IPv4 in its plain form, IPv6 and host names.
  const bad = { problem: 'conn.badIp' };
  // Leading zeros would be read as octal by the library: 010 is 8.
  check([[' 127.0.0.1 ', { address: '127.0.0.1' }], ['255.255.255.255', { address: '255.255.255.255' }], ['192.168.001.010', { address: '192.168.1.10' }],
    ['999.1.1.1', bad], ['256.0.0.1', bad], ['1.2.3', bad], ['127.1', bad], ['', bad], ['::1', { address: '::1' }], ['[FD00::10]', { address: 'fd00::10' }],
    ['1::2::3', bad], ['plc-7.example', { address: 'plc-7.example' }], ['localhost', { address: 'localhost' }], ['-plc.example', bad], ['plc_7', bad],
    ['a'.repeat(64) + '.example', bad]].map(([typed, result]) => [typed, A.parseDeviceAddress(typed), result]));
});

test('value bytes; values to write checked against their type at its limits; write texts in each language', () => {
  // float32 123.456 is 0x42F6E979; [order, registers as they travel]
  for (const [order, words] of [['ABCD', [0x42f6, 0xe979]], ['CDAB', [0xe979, 0x42f6]], ['BADC', [0xf642, 0x79e9]], ['DCBA', [0x79e9, 0xf642]]]) {
    check([[order, T.valueHex(words, order), '0x42F6E979'], [order, T.reorder(T.reorder(words, order), order), words]]);
  }
  check([['CDAB', T.valueHex([0x0102, 0x0304, 0x0506, 0x0708], 'CDAB'), '0x0708050603040102'],
    ['DCBA', T.valueHex([0x0102, 0x0304, 0x0506, 0x0708], 'DCBA'), '0x0807060504030201'],
    ['bin', T.valueBinary([0x04d2], 'BADC'), '11010010 00000100']]);
  // [typed, type, value sent or problem key]
  const table = [['-32768', 'int16', -32768], ['32768', 'int16', 'reg.outOfRange'], ['0xFFFF', 'int16', -1],
    ['0x10000', 'int16', 'reg.tooManyBits'], ['0b101', 'uint16', 5], ['-1', 'uint16', 'reg.outOfRange'],
    ['4294967295', 'uint32', 4294967295], ['2147483648', 'int32', 'reg.outOfRange'], ['1e3', 'int32', 1000],
    ['2.5', 'int16', 'reg.notInteger'], ['-9223372036854775808', 'int64', '-9223372036854775808'],
    ['9223372036854775808', 'int64', 'reg.outOfRange'], ['18446744073709551615', 'uint64', '18446744073709551615'],
    ['0xFFFFFFFFFFFFFFFF', 'int64', '-1'], ['1.2345678901234567e18', 'int64', 'reg.digitsNeeded'], ['1e30', 'uint64', 'reg.outOfRange'],
    ['3.4e38', 'float32', 3.4e38], ['1e39', 'float32', 'reg.floatRange'], ['1e-50', 'float32', 'reg.floatTiny'], ['1e39', 'float64', 1e39],
    ['0x41480000', 'float32', 12.5], ['0x7FC00000', 'float32', 'reg.bitsNotFinite'],
    ['0x400921FB54442D18', 'float64', 3.141592653589793], ['abc', 'float64', 'reg.notANumber']];
  for (const [typed, type, expected] of table) {
    const read = T.parseValue(typed, type, '.', { position: 1 });
    if (typeof expected === 'string' && expected.startsWith('reg.')) assert.equal(read.problem && read.problem.key, expected, `${type} ${typed}`);
    else assert.deepEqual(read, { value: expected }, `${type} ${typed}`);
  }
  // Write texts: types, the interface language, and no part of a number dropped.
  // [format, text, language, values, problem keys]
  const texts = [[f('bit', 'ABCD', 'coils'), '1 0 1', 'en', [1, 0, 1], []], [f('bit', 'ABCD', 'coils'), '2', 'en', [], ['reg.notABit']],
    [f('ascii'), 'Vexo devsim', 'en', ['Vexo devsim'], []], [f('ascii'), 'Zürich €', 'en', [], ['reg.notLatin1']],
    [f('ascii'), 'x'.repeat(247), 'en', [], ['reg.textTooLong']],
    [f('int16'), Array(124).fill('1').join(' '), 'en', Array(124).fill(1), ['reg.tooManyValues']],
    [f('float32'), '12.5 -1e3 .5', 'en', [12.5, -1000, 0.5], []], [f('float32'), '1, 2;3  4', 'en', [1, 2, 3, 4], []],
    [f('float32'), '12,5; -0,25 1e3', 'de', [12.5, -0.25, 1000], []], [f('float32'), '12,5', 'pl', [12.5], []],
    [f('float32'), '12.5', 'de', [], ['reg.wrongMark']], [f('float32'), '1.234,5', 'de', [], ['reg.notANumber']],
    [f('float32'), '0x41480000 abc', 'es', [12.5], ['reg.notANumber']], [f('float32'), '', 'en', [], ['reg.noValues']]];
  for (const [format, text, lang, values, keys] of texts) {
    const parsed = R.parseWriteValues(text, format, lang);
    assert.deepEqual(parsed.values, values, `${lang} ${text.slice(0, 20)}`);
    assert.deepEqual(parsed.problems.map((p) => p.key), keys, `${lang} ${text.slice(0, 20)}`);
  }
  check([['mark', R.parseWriteValues('12.5', f('float32', 'CDAB'), 'pl').problems[0].params, { position: 1, value: '12.5', mark: ',', example: '12,5' }],
    ['de', T.formatNumber(-0.25, 'de'), '-0,25']]);
});

test('formats offered, their limits and the older functions for 32-bit registers; read replies shown', () => {
  check([['bogus', R.normalizeFormat({ table: 'bogus', type: 'x', order: 'y' }), f('int16')],
    ['coils', R.normalizeFormat({ table: 'coils', type: 'float32', order: 'DCBA' }), { table: 'coils', regSize: 16, type: 'bit', order: 'ABCD', floatPrec: 2 }],
    ['input 32', R.normalizeFormat({ table: 'input', regSize: 32, type: 'int16' }).regSize, 16], ['uint16 order', f('uint16', 'DCBA').order, 'BADC'],
    ['orders', R.ordersFor(f('float64')), ['ABCD', 'CDAB', 'BADC', 'DCBA']], ['orders 32', R.ordersFor(f('float32', 'CDAB', 'holding', 32)), ['ABCD', 'CDAB']],
    ['types 32', R.typesFor('holding', 32), ['int32', 'uint32', 'float32']],
    ['end', R.checkRange(f('float64'), 65532, 1), []], ['past end', R.checkRange(f('float64'), 65533, 1), ['data.pastEnd']],
    ['count', R.checkRange(f('int16'), 0, 126), [{ key: 'data.badCount', params: { max: 125 } }]],
    ['writable', R.isWritable(f('int16', 'ABCD', 'input')), false]]);
  // [format, read limit, write limit, readTable/writeTable parameters]
  const table = [[f('bit', 'ABCD', 'coils'), 2000, 1968, { table: 'coils' }],
    [f('int16', 'BADC', 'input'), 125, 123, { table: 'input', type: 'int16', order: 'BADC' }],
    [f('float32', 'CDAB'), 62, 61, { table: 'holding', type: 'float32', order: 'CDAB' }],
    [f('uint64'), 31, 30, { table: 'holding', type: 'uint64', order: 'ABCD' }]];
  for (const [format, read, write, params] of table) check([[format.type, [R.maxValues(format, false), R.maxValues(format, true), R.tableParams(format)], [read, write, params]]]);
  check([[f('int32', 'ABCD', 'holding', 32), { regType: 'int', regSize: 32, valSize: 32 }],
    [f('float32', 'ABCD', 'holding', 32, 3), { regType: 'float4321', regSize: 32, valSize: 32, floatPrec: 3 }],
    [f('float32', 'CDAB', 'holding', 32), { regType: 'float1234', regSize: 32, valSize: 32 }]].map(([format, params]) => [format.order, R.engineFormat(format), params]));
  // Read replies: rows with the registers of the same read, in decimal, hex and binary.
  const rows = R.rowsOf(f('float32', 'CDAB', 'input'), 10, 1, { fc: 4, regs: [0xe979, 0x42f6], values: [123.456], ms: 0.8 });
  const wide = R.rowsOf(f('uint32', 'ABCD', 'holding', 32), 5000, 1, { values: ['123456789'], raw: [123456789] });
  check([['rows', rows, [{ address: 10, value: 123.456, regs: [0xe979, 0x42f6] }]],
    ['views', ['dec', 'hex', 'bin'].map((v) => R.shownValue(rows[0], f('float32', 'CDAB'), v, 'de')), ['123,456', '0x42F6E979', '01000010 11110110 11101001 01111001']],
    ['ascii', R.rowsOf(f('ascii', 'BADC', 'input'), 46, 6, { regs: [0x6556, 0x6f78, 0x6420, 0x7665, 0x6973, 0x006d], values: ['Vexo devsim'] })[0].value, 'Vexo devsim'],
    ['coils', R.rowsOf(f('bit', 'ABCD', 'coils'), 0, 2, { regs: [1, 0], values: [1, 0] }).map((r) => R.rawHex(r, f('bit', 'ABCD', 'coils'))), ['1', '0']],
    // The older functions: floats may be nan or inf, which JSON does not allow.
    ['older', R.parseReadReply('{"values":[12.50,nan,-inf],"raw":[1095237632,0,1]}'), { values: ['12.50', 'NaN', '-Infinity'], raw: [1095237632, 0, 1] }],
    ['not an object', R.parseReadReply('[1234]'), null], ['wide', R.shownValue(wide[0], f('uint32', 'ABCD', 'holding', 32), 'hex', 'en'), '0x075BCD15'],
    ['shown', ['12.50', 'NaN', 'Infinity', '-Infinity', '-12345678901234567890'].map((v) => T.displayValue(v, 'float64', 'pl')), ['12,50', 'NaN', '+∞', '−∞', '-12345678901234567890']],
    ['ascii NaN', T.displayValue('NaN', 'ascii', 'en'), 'NaN'],
    ...[{ regs: [1], values: [1, 2] }, { regs: [1, 2], values: [1] }, { regs: [70000], values: [1] }, { error: 'x' }].map((bad) => [JSON.stringify(bad), R.rowsOf(f('int16'), 0, 1, bad), null])]);
});

test('a list is written at its own addresses, one request per run; read-back at the precision of the type; CSV', () => {
  const plan = (format, pairs) => R.planWrites(format, pairs.map(([address, value]) => ({ address, value })));
  const listed = R.listEntries([{ address: 5, value: '2,5' }, { address: 6, value: '2.5' }, { address: 7, value: 'nan' }], ',', f('float32'));
  check([['gap', plan(f('int16'), [[300, 11], [305, 22], [301, 33]]), { runs: [{ start: 300, end: 301, values: [11, 33] }, { start: 305, end: 305, values: [22] }], problems: [] }],
    // Two registers per value: 10 and 12 are consecutive, 16 after a gap is not.
    ['float', plan(f('float32'), [[10, 1], [12, 2], [16, 3]]).runs.map((r) => [r.start, r.end]), [[10, 13], [16, 17]]],
    ['ascii', plan(f('ascii'), [[40, 'Vexo'], [42, 'x']]).runs.map((r) => [r.start, r.end]), [[40, 41], [42, 42]]],
    ['last', plan(f('int16'), [[65535, 1]]).problems, []], ['past end', plan(f('float64'), [[65533, 1]]).problems.map((p) => p.key), ['reg.listPastEnd']],
    ['twice', plan(f('int16'), [[7, 1], [7, 2]]).problems, [{ key: 'reg.listOverlap', params: { address: 7 } }]],
    ['entries', listed.entries, [{ address: 5, value: 2.5 }]],
    ['entry problems', listed.problems.map((p) => [p.key, p.params.address]), [['reg.wrongMark', 6], ['reg.notANumber', 7]]]]);
  // [format, written, read, same]
  const readBack = [[f('int16'), -12, -12, true], [f('int16'), -12, -11, false],
    [f('int64'), '-1234567890123456789', '-1234567890123456789', true], [f('uint64'), '12345678901234567890', '12345678901234567891', false],
    [f('float32'), 0.1, 0.1, true], [f('float32'), 0.1, 0.10000001, false], [f('float64'), 0.1, 0.1, true], [f('ascii'), 'abc', 'abc', true],
    [f('bit', 'ABCD', 'coils'), 1, 0, false], [f('float32', 'ABCD', 'holding', 32, 2), 12.345, '12.35', true],
    [f('float32', 'ABCD', 'holding', 32, 2), 12.345, '12.36', false], [f('float32', 'CDAB', 'holding', 32), 1234567, '1.23457e+06', true]];
  for (const [format, written, read, same] of readBack) assert.equal(R.readsBackAs(format, written, read), same, `${format.type} ${written} ${read}`);
  // CSV: what is exported loads back; older lists and semicolon lists load too; nothing is cut.
  const format = f('float32', 'CDAB', 'input');
  const csv = R.buildCsv(format, [{ address: 8, value: 123.456, regs: [0xe979, 0x42f6] }, { address: 10, value: 'NaN', regs: [0, 0x7fc0] }]);
  const back = R.parseCsv(csv);
  const semicolons = R.parseCsv('\uFEFFAddress;Value\n10;"7"\n11;2,5\n');
  check([['csv', csv, 'address,table,register_size,type,order,value,raw_registers\r\n8,input,16,float32,CDAB,123.456,0xE979 0x42F6\r\n10,input,16,float32,CDAB,NaN,0x0000 0x7FC0\r\n'],
    ['back', [back.format, back.decimalMark, back.rows], [format, '.', [{ address: 8, value: '123.456' }, { address: 10, value: 'NaN' }]]],
    ['semicolons', [semicolons.typed, semicolons.decimalMark, semicolons.rows], [false, ',', [{ address: 10, value: '7' }, { address: 11, value: '2,5' }]]],
    // Lists of the earlier export name Vexo's older types: [type, register size, value size, format]
    ...[['int', 16, 16, f('int16')], ['int', 16, 32, f('int32', 'CDAB')], ['long', 16, 32, f('uint32')], ['float1234', 16, 32, f('float32', 'CDAB')],
      ['float4321', 32, 32, f('float32', 'ABCD', 'holding', 32)]].map(([type, regSize, valSize, expected]) =>
      [type, R.parseCsv(`address,type,register_size,value_size,value,raw_registers\r\n2,${type},${regSize},${valSize},1,0x0001\r\n`).format, expected]),
    // An unquoted decimal comma in a comma list would split the number.
    ...[['address,value\n', 'reg.csvEmpty'], ['a,b\n1,2\n', 'reg.csvNoColumns'], ['address,value\n70000,1\n', 'reg.csvBadRow'],
      ['address,value\n1,\n', 'reg.csvBadRow'], ['address,value\n1.5,1\n', 'reg.csvBadRow'], ['address,value\n10,2,5\n', 'reg.csvBadRow'],
      ['address,value\n' + Array.from({ length: 201 }, (_, i) => `${i},1`).join('\n'), 'reg.csvTooMany']].map(([file, error]) => [file.slice(0, 30), R.parseCsv(file).error, error])]);
});

const filesUnder = (dir, pattern) => fs.readdirSync(dir, { withFileTypes: true }).flatMap((e) =>
  e.isDirectory() ? filesUnder(path.join(dir, e.name), pattern) : pattern.test(e.name) ? [path.join(dir, e.name)] : []);

test('every language has the same keys and placeholders, none empty or copied; every key in use is translated', () => {
  const LANGS = ['en', 'es', 'de', 'pl'];
  const dict = Object.fromEntries(LANGS.map((l) => [l, {}]));
  // Each translation file runs against a stand-in of the one function it calls.
  for (const file of [path.join(WWW, 'js', 'i18n.js'), ...filesUnder(path.join(WWW, 'modules'), /^i18n\.js$/)]) {
    const add = (lang, entries) => {
      assert.ok(LANGS.includes(lang), `${file}: unknown language ${lang}`);
      for (const key of Object.keys(entries)) assert.ok(!(key in dict[lang]), `${key} defined twice for ${lang}`);
      Object.assign(dict[lang], entries);
    };
    vm.runInNewContext(fs.readFileSync(file, 'utf8'), { window: { Vexo: { i18n: { add } } } }, { filename: file });
  }
  const english = Object.keys(dict.en).sort();
  assert.ok(english.length > 200, `only ${english.length} English texts`);
  const placeholders = (t) => (t.match(/\{\w+\}/g) || []).sort().join();
  for (const lang of LANGS) {
    assert.deepEqual(Object.keys(dict[lang]).sort(), english, `keys of ${lang} differ from English`);
    for (const [key, text] of Object.entries(dict[lang])) assert.ok(text.trim() && placeholders(text) === placeholders(dict.en[key]), `${lang} ${key} is empty or has other placeholders`);
    if (lang !== 'en') assert.deepEqual(english.filter((k) => dict[lang][k] === dict.en[k] && /[a-z]{4,} [a-z]{4,}/.test(dict.en[k])), [], `${lang} copies English`);
  }
  const used = new Set();
  for (const html of filesUnder(WWW, /\.html$/).map((file) => fs.readFileSync(file, 'utf8'))) {
    for (const m of html.matchAll(/data-i18n="([^"]+)"/g)) used.add(m[1]);
    for (const m of html.matchAll(/data-i18n-attr="([^"]+)"/g)) m[1].split(';').forEach((pair) => used.add(pair.split(':')[1].trim()));
  }
  for (const js of filesUnder(WWW, /\.js$/).filter((name) => !name.endsWith('i18n.js')).map((file) => fs.readFileSync(file, 'utf8'))) {
    for (const m of js.matchAll(/\b(?:V\.t|translate|titleKey:|showStatus\(box, '\w+',)\(?\s*'([a-z]+\.[\w.]+)'(?!\s*\+)/g)) used.add(m[1]);
    for (const m of js.matchAll(/'((?:err|reg|conn|disc|id|upd|sup|about|shell|common|addr|data|pol|trf)\.[A-Za-z0-9]+)'(?!\s*\+)/g)) used.add(m[1]);
  }
  assert.ok(used.size > 150, `only ${used.size} keys found in use`);
  assert.deepEqual([...used].filter((k) => !(k in dict.en)), []);
});
