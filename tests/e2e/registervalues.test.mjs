// The interface's pure helpers, without a browser: register formats, read replies, numbers in
// the interface language, write plans, read-back checks, the CSV round trip, device addresses.
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const SOURCE_DIR = process.env.VEXO_SOURCE_DIR || path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');

const require = createRequire(import.meta.url);
const R = require(path.join(SOURCE_DIR, 'www', 'modules', 'registers', 'values.js'));
const A = require(path.join(SOURCE_DIR, 'www', 'modules', 'connection', 'address.js'));
const f = (type, regSize = 16, valSize = 16, floatPrec = 2) => R.normalizeFormat({ type, regSize, valSize, floatPrec });

test('formats: what Vexo is asked for, how values lie, and where decimals apply', () => {
  assert.deepEqual(R.normalizeFormat({ type: 'int', regSize: '16', valSize: '16', floatPrec: '2' }),
    { type: 'int', regSize: 16, valSize: 16, floatPrec: 2, valSizeLocked: false });
  assert.equal(R.normalizeFormat({ type: 'bogus', regSize: 7 }).type, 'int');
  assert.equal(R.normalizeFormat({ type: 'int', floatPrec: 99 }).floatPrec, 20);
  // [format, engine parameters, layout text, decimals apply]
  const table = [
    [f('int'), { regType: 'int', regSize: 16, valSize: 16 }, 'reg.layout16', false],
    [f('uint', 16, 32), { regType: 'uint', regSize: 16, valSize: 32 }, 'reg.layoutLowFirst', false],
    [f('long'), { regType: 'long', regSize: 16, valSize: 32 }, 'reg.layoutHighFirst', false],
    [f('long', 32), { regType: 'uint', regSize: 32, valSize: 32 }, 'reg.layout32', false],
    [f('float1234', 16, 16, 3), { regType: 'float1234', regSize: 16, valSize: 32, floatPrec: 3 }, 'reg.layoutLowFirst', true],
    [f('float4321'), { regType: 'float4321', regSize: 16, valSize: 32 }, 'reg.layoutHighFirst', false],
    [f('float1234', 32), { regType: 'float1234', regSize: 32, valSize: 32 }, 'reg.layout32Swapped', false],
    [f('float4321', 32, 32, 0), { regType: 'float4321', regSize: 32, valSize: 32, floatPrec: 0 }, 'reg.layout32', true],
  ];
  for (const [format, engine, layout, decimals] of table) {
    const name = `${format.type}/${format.regSize}/${format.valSize}`;
    assert.deepEqual(R.engineFormat(format), engine, name);
    assert.equal(R.layoutKey(format), layout, name);
    assert.equal(R.decimalsApply(format), decimals, name);
  }
  const pair = f('float4321');
  assert.equal(R.addressOf(pair, 10, 3), 16);
  assert.deepEqual(R.checkRange(pair, 65534, 1), []);
  assert.deepEqual(R.checkRange(pair, 65535, 1), ['reg.pastEnd']);
  assert.deepEqual(R.checkRange(pair, -1, 0), ['reg.badAddress', 'reg.badCount']);
  assert.deepEqual(R.checkRange(pair, 0, 201), ['reg.badCount']);
});

test('read replies: values as Vexo printed them beside the registers of the same read', () => {
  assert.deepEqual(R.parseReadReply('{"values":[12.5,nan],"raw":[16712,0,32704,0]}'),
    { values: ['12.5', 'nan'], raw: [16712, 0, 32704, 0] });
  assert.deepEqual(R.parseReadReply('[1234,-1]'), { values: ['1234', '-1'], raw: null });
  assert.deepEqual(R.parseValueList('[nan,inf,-inf,1e+08,1.5e-07]'), ['nan', 'inf', '-inf', '1e+08', '1.5e-07']);
  for (const bad of ['{"error":"Not connected"}', '[1,,2]', '[1,"a"]', '', '{"values":[1],"raw":[-1]}']) {
    assert.equal(R.parseReadReply(bad), null, bad);
  }
  assert.deepEqual(R.rawWordsOf(f('int'), 2, [65535, 1234]), [[0xffff], [1234]]);
  assert.deepEqual(R.rawWordsOf(f('float4321'), 1, [0x4148, 0]), [[0x4148, 0]]);
  // A 32-bit register is shown high word first.
  assert.deepEqual(R.rawWordsOf(f('uint', 32), 1, [123456789]), [[0x075b, 0xcd15]]);
  assert.equal(R.rawWordsOf(f('float4321'), 2, [1, 2, 3]), null);
  assert.equal(R.rawWordsOf(f('int'), 1, null), null);
  assert.equal(R.valueToNumber('-inf'), -Infinity);
  assert.equal(R.hex16(0x4d2), '0x04D2');
});

test('numbers follow the interface language, and no part of a number is dropped', () => {
  // [text, language, values, problem keys]
  const table = [
    ['12.5 -1e3 .5', 'en', [12.5, -1000, 0.5], []],
    ['1, 2;3  4', 'en', [1, 2, 3, 4], []],
    ['12,5', 'en', [12, 5], []],
    ['12,5; -0,25 1e3', 'de', [12.5, -0.25, 1000], []],
    ['12,5', 'pl', [12.5], []],
    ['12,5', 'es', [12.5], []],
    ['12.5', 'de', [], ['reg.wrongMark']],
    ['1.234,5', 'de', [], ['reg.notANumber']],
    ['1,2,3', 'de', [], ['reg.notANumber']],
    ['12,', 'de', [12], []],
    ['0x10 abc', 'en', [], ['reg.notANumber', 'reg.notANumber']],
    ['', 'en', [], ['reg.noValues']],
  ];
  for (const [text, lang, values, keys] of table) {
    const parsed = R.parseWriteValues(text, f('float4321'), lang);
    assert.deepEqual(parsed.values, values, `${lang} ${text}`);
    assert.deepEqual(parsed.problems.map((p) => p.key), keys, `${lang} ${text}`);
  }
  assert.deepEqual(R.parseWriteValues('12.5', f('float1234'), 'pl').problems[0].params,
    { position: 1, value: '12.5', mark: ',', example: '12,5' });
  assert.equal(R.formatNumber(-0.25, 'de'), '-0,25');
  assert.deepEqual(['12.50', 'nan', '-nan', 'inf', '-inf', '1.5e-07'].map((t) => R.displayValue(t, 'pl')),
    ['12,50', 'NaN', 'NaN', '+∞', '−∞', '1,5e-07']);
  assert.equal(R.displayValue('12.50', 'en'), '12.50');
});

test('values to write are checked against the type at its limits', () => {
  // [text, format, problem keys]
  const table = [
    ['-32768 32767', f('int'), []],
    ['-32769', f('int'), ['reg.outOfRange']],
    ['32768', f('int'), ['reg.outOfRange']],
    ['65535 0', f('uint'), []],
    ['-1', f('uint'), ['reg.outOfRange']],
    ['4294967295', f('uint', 16, 32), []],
    ['4294967296', f('long'), ['reg.outOfRange']],
    ['4294967295 0', f('long', 32), []],
    ['2147483647 -2147483648', f('int', 32), []],
    ['2147483648', f('int', 16, 32), ['reg.outOfRange']],
    ['2.5', f('int'), ['reg.notInteger']],
    ['3.4e38', f('float1234'), []],
    ['1e39', f('float4321', 32), ['reg.floatRange']],
  ];
  for (const [text, format, keys] of table) {
    assert.deepEqual(R.parseWriteValues(text, format, 'en').problems.map((p) => p.key), keys, `${format.type} ${text}`);
  }
  assert.deepEqual(R.parseWriteValues(Array(201).fill('1').join(','), f('int'), 'en').problems.map((p) => p.key), ['reg.tooManyValues']);
});

test('a list is written at its own addresses: one request per run of consecutive registers', () => {
  const plan = (format, pairs) => R.planWrites(format, pairs.map(([address, value]) => ({ address, value })));
  assert.deepEqual(plan(f('int'), [[300, 11], [305, 22], [301, 33]]), {
    runs: [{ start: 300, end: 301, values: [11, 33] }, { start: 305, end: 305, values: [22] }], problems: [],
  });
  // Two registers per value: 10 and 12 are consecutive, 14 after a gap of two is not.
  assert.deepEqual(plan(f('float4321'), [[10, 1], [12, 2], [16, 3]]).runs.map((r) => [r.start, r.end]), [[10, 13], [16, 17]]);
  assert.deepEqual(plan(f('int'), [[65535, 1]]).problems, []);
  assert.deepEqual(plan(f('float4321'), [[65535, 1]]).problems.map((p) => p.key), ['reg.listPastEnd']);
  assert.deepEqual(plan(f('int'), [[7, 1], [7, 2]]).problems, [{ key: 'reg.listOverlap', params: { address: 7 } }]);
  assert.deepEqual(plan(f('float1234'), [[10, 1], [11, 2]]).problems.map((p) => p.key), ['reg.listOverlap']);

  const listed = R.listEntries([{ address: 5, value: '2,5' }, { address: 6, value: '2.5' }, { address: 7, value: 'nan' }], ',', f('float4321'));
  assert.deepEqual(listed.entries, [{ address: 5, value: 2.5 }]);
  assert.deepEqual(listed.problems.map((p) => [p.key, p.params.address]), [['reg.wrongMark', 6], ['reg.notANumber', 7]]);
});

test('a value read back is compared at the precision Vexo prints', () => {
  // [format, written, printed, same]
  const table = [
    [f('int'), -12, '-12', true],
    [f('int'), -12, '-11', false],
    [f('float1234', 16, 32, 2), 12.345, '12.35', true],
    [f('float1234', 16, 32, 2), 12.345, '12.36', false],
    [f('float4321'), 0.1, '0.1', true],
    [f('float4321'), 12.54, '12.5', false],
    [f('float4321'), 1234567, '1.23457e+06', true],
    [f('float4321', 32, 32, 0), 2.5, '2', true],
    [f('float1234', 32), 0, '0', true],
  ];
  for (const [format, written, printed, same] of table) {
    assert.equal(R.readsBackAs(format, written, printed), same, `${format.type} ${written} ${printed}`);
  }
});

test('CSV: what is exported loads back; semicolon lists read decimal commas; nothing is cut', () => {
  const format = f('float4321', 16, 32);
  const csv = R.buildCsv(format, [{ address: 2, value: '12.5', raw: [0x4148, 0] }, { address: 4, value: 'nan', raw: [0xffff, 0x7fff] }]);
  assert.equal(csv, 'address,type,register_size,value_size,value,raw_registers\r\n' +
    '2,float4321,16,32,12.5,0x4148 0x0000\r\n4,float4321,16,32,nan,0xFFFF 0x7FFF\r\n');
  const back = R.parseCsv(csv);
  assert.equal(back.format.type, 'float4321');
  assert.equal(back.decimalMark, '.');
  assert.deepEqual(back.rows, [{ address: 2, value: '12.5' }, { address: 4, value: 'nan' }]);

  const semicolons = R.parseCsv('\uFEFFAddress;Value\n10;"7"\n11;2,5\n');
  assert.equal(semicolons.format.type, 'int');
  assert.equal(semicolons.decimalMark, ',');
  assert.deepEqual(semicolons.rows, [{ address: 10, value: '7' }, { address: 11, value: '2,5' }]);

  // [file, error]
  const table = [
    ['address,value\n', 'reg.csvEmpty'],
    ['a,b\n1,2\n', 'reg.csvNoColumns'],
    ['address,value\n70000,1\n', 'reg.csvBadRow'],
    ['address,value\n1,\n', 'reg.csvBadRow'],
    ['address,value\n1.5,1\n', 'reg.csvBadRow'],
    // An unquoted decimal comma in a comma list would split the number.
    ['address,value\n10,2,5\n', 'reg.csvBadRow'],
    ['address,value\n' + Array.from({ length: 201 }, (_, i) => `${i},1`).join('\n'), 'reg.csvTooMany'],
  ];
  for (const [file, error] of table) assert.equal(R.parseCsv(file).error, error, file);
});

test('device addresses: plain IPv4 only, since the Modbus library looks up no names', () => {
  // [typed, result]
  const table = [
    [' 127.0.0.1 ', { address: '127.0.0.1' }],
    ['255.255.255.255', { address: '255.255.255.255' }],
    // Leading zeros would be read as octal by the library: 010 is 8.
    ['192.168.001.010', { address: '192.168.1.10' }],
    ['999.1.1.1', { problem: 'conn.badIp' }],
    ['256.0.0.1', { problem: 'conn.badIp' }],
    ['1.2.3', { problem: 'conn.badIp' }],
    ['127.1', { problem: 'conn.badIp' }],
    ['::1', { problem: 'conn.badIp' }],
    ['', { problem: 'conn.badIp' }],
    ['plc-7.example', { problem: 'conn.hostName' }],
    ['localhost', { problem: 'conn.hostName' }],
  ];
  for (const [typed, result] of table) assert.deepEqual(A.parseDeviceAddress(typed), result, typed);
});
