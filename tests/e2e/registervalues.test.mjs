// The registers page's value helpers, without a browser: formats, reply parsing, raw words,
// checks before writing, and the CSV round trip.
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const SOURCE_DIR = process.env.VEXO_SOURCE_DIR || path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');

const require = createRequire(import.meta.url);
const R = require(path.join(SOURCE_DIR, 'www', 'modules', 'registers', 'values.js'));

test('formats: floats, longs and 32-bit registers force 32-bit values', () => {
  assert.deepEqual(R.normalizeFormat({ type: 'int', regSize: '16', valSize: '16', floatPrec: '2' }),
    { type: 'int', regSize: 16, valSize: 16, floatPrec: 2, valSizeLocked: false });
  assert.equal(R.normalizeFormat({ type: 'float1234', regSize: 16, valSize: 16 }).valSize, 32);
  assert.equal(R.normalizeFormat({ type: 'long', regSize: 16, valSize: 16 }).valSize, 32);
  assert.equal(R.normalizeFormat({ type: 'uint', regSize: 32, valSize: 16 }).valSize, 32);
  assert.equal(R.normalizeFormat({ type: 'bogus', regSize: 7 }).type, 'int');
  assert.equal(R.normalizeFormat({ type: 'int', floatPrec: 99 }).floatPrec, 20);

  const pair = R.normalizeFormat({ type: 'float4321', regSize: 16 });
  assert.equal(R.registersPerValue(pair), 2);
  assert.equal(R.addressOf(pair, 10, 3), 16);
  assert.equal(R.registersPerValue(R.normalizeFormat({ type: 'uint', regSize: 32 })), 1);

  assert.deepEqual(R.checkRange(pair, 0, 200), []);
  assert.deepEqual(R.checkRange(pair, 65534, 1), []);
  assert.deepEqual(R.checkRange(pair, 65535, 1), ['reg.pastEnd']);
  assert.deepEqual(R.checkRange(pair, -1, 0), ['reg.badAddress', 'reg.badCount']);
  assert.deepEqual(R.checkRange(pair, 0, 201), ['reg.badCount']);
});

test('value lists: bare arrays with nan and infinities, anything else refused', () => {
  assert.deepEqual(R.parseValueList('[1234,-1,12.50]'), ['1234', '-1', '12.50']);
  assert.deepEqual(R.parseValueList('[nan,inf,-inf,1e+08,1.5e-07]'), ['nan', 'inf', '-inf', '1e+08', '1.5e-07']);
  assert.deepEqual(R.parseValueList('[]'), []);
  assert.equal(R.parseValueList('{"error":"Not connected"}'), null);
  assert.equal(R.parseValueList('[1,,2]'), null);
  assert.equal(R.parseValueList('[1,"a"]'), null);
  assert.equal(R.parseValueList(''), null);
  assert.equal(R.valueToNumber('-inf'), -Infinity);
  assert.ok(Number.isNaN(R.valueToNumber('nan')));
  assert.equal(R.valueToNumber('12.50'), 12.5);
});

test('raw words follow the register order of each format', () => {
  const f = (type, regSize, valSize) => R.normalizeFormat({ type, regSize, valSize });
  assert.deepEqual(R.rawWords(f('int', 16, 16), ['65535', '1234']), [[0xffff], [1234]]);
  // Two 16-bit registers read unsigned low half first: 0x4148 in the first register.
  assert.deepEqual(R.rawWords(f('float4321', 16, 32), ['16712']), [[0x4148, 0]]);
  assert.deepEqual(R.rawWords(f('uint', 16, 32), ['4294901761']), [[1, 0xffff]]);
  // A 32-bit register is shown high word first.
  assert.deepEqual(R.rawWords(f('uint', 32, 32), ['123456789']), [[0x075b, 0xcd15]]);
  assert.equal(R.hex16(0x4d2), '0x04D2');
});

test('raw words decode to the value Vexo printed, so two reads that disagree are noticed', () => {
  const f = (type, regSize, valSize, floatPrec = 2) => R.normalizeFormat({ type, regSize, valSize, floatPrec });
  assert.equal(R.decodeWords(f('int', 16, 16), [0xffff]), -1);
  assert.equal(R.decodeWords(f('uint', 16, 16), [0xffff]), 65535);
  assert.equal(R.decodeWords(f('float4321', 16, 32), [0x4148, 0]), 12.5);
  assert.equal(R.decodeWords(f('float1234', 16, 32), [0, 0x4148]), 12.5);
  assert.equal(R.decodeWords(f('float4321', 32, 32), [0x4148, 0]), 12.5);
  assert.equal(R.decodeWords(f('float1234', 32, 32), [0, 0x4148]), 12.5);
  assert.equal(R.decodeWords(f('long', 16, 32), [1, 0]), 65536);
  assert.equal(R.decodeWords(f('long', 32, 32), [1, 0]), null);
  assert.equal(R.decodeWords(f('int', 16, 32), [0xfffe, 0xffff]), -2);
  assert.equal(R.decodeWords(f('uint', 32, 32), [0x075b, 0xcd15]), 123456789);
  assert.equal(R.decodeWords(f('int', 32, 32), [0xffff, 0xffff]), -1);

  assert.equal(R.agreesWithRaw(f('int', 16, 16), '-1', [0xffff]), true);
  assert.equal(R.agreesWithRaw(f('int', 16, 16), '781', [798]), false);
  assert.equal(R.agreesWithRaw(f('float1234', 16, 32, 2), '12.50', [0, 0x4148]), true);
  assert.equal(R.agreesWithRaw(f('float1234', 16, 32, 0), '13', [0, 0x4148]), true);
  assert.equal(R.agreesWithRaw(f('float4321', 16, 32), '12.6', [0x4148, 0]), false);
  // 0.1 as a float printed with 6 significant digits.
  assert.equal(R.agreesWithRaw(f('float4321', 16, 32), '0.1', [0x3dcc, 0xcccd]), true);
  assert.equal(R.agreesWithRaw(f('float4321', 16, 32), 'nan', [0x7fc0, 0]), true);
  assert.equal(R.agreesWithRaw(f('float4321', 16, 32), '-inf', [0xff80, 0]), true);
  assert.equal(R.agreesWithRaw(f('float4321', 16, 32), 'inf', [0xff80, 0]), false);
  assert.equal(R.agreesWithRaw(f('int', 16, 16), '5', []), null);
});

test('values to write are checked against the type before anything is sent', () => {
  const f = (type, regSize, valSize) => R.normalizeFormat({ type, regSize, valSize });
  assert.deepEqual(R.parseWriteValues('1, 2;3  4', f('int', 16, 16)), { values: [1, 2, 3, 4], problems: [] });
  const keys = (text, format) => R.parseWriteValues(text, format).problems.map((p) => p.key);
  assert.deepEqual(keys('-32768 32767', f('int', 16, 16)), []);
  assert.deepEqual(keys('-32769', f('int', 16, 16)), ['reg.outOfRange']);
  assert.deepEqual(keys('65535 0', f('uint', 16, 16)), []);
  assert.deepEqual(keys('-1', f('uint', 16, 16)), ['reg.outOfRange']);
  assert.deepEqual(keys('4294967295', f('uint', 16, 32)), []);
  assert.deepEqual(keys('2147483648', f('int', 16, 32)), ['reg.outOfRange']);
  assert.deepEqual(keys('2.5', f('int', 16, 16)), ['reg.notInteger']);
  assert.deepEqual(keys('12.5 -1e3 .5', f('float1234', 16, 32)), []);
  assert.deepEqual(keys('1e39', f('float4321', 32, 32)), ['reg.floatRange']);
  assert.deepEqual(keys('0x10 abc', f('int', 16, 16)), ['reg.notANumber', 'reg.notANumber']);
  assert.deepEqual(keys('', f('int', 16, 16)), ['reg.noValues']);
  assert.deepEqual(keys('1', f('long', 16, 32)), ['reg.longNotWritable']);
  assert.deepEqual(keys(Array(201).fill('1').join(','), f('int', 16, 16)), ['reg.tooManyValues']);
  const problem = R.parseWriteValues('1 x', f('int', 16, 16)).problems[0];
  assert.deepEqual(problem.params, { position: 2, value: 'x' });
});

test('CSV: what is exported loads back with its format, foreign lists need address and value', () => {
  const format = R.normalizeFormat({ type: 'float4321', regSize: 16, valSize: 32 });
  const csv = R.buildCsv(format, [{ address: 2, value: '12.5', raw: [0x4148, 0] }, { address: 4, value: 'nan', raw: [0xffff, 0x7fff] }]);
  assert.equal(csv, 'address,type,register_size,value_size,value,raw_registers\r\n' +
    '2,float4321,16,32,12.5,0x4148 0x0000\r\n4,float4321,16,32,nan,0xFFFF 0x7FFF\r\n');
  const back = R.parseCsv(csv);
  assert.equal(back.format.type, 'float4321');
  assert.equal(back.format.valSize, 32);
  assert.deepEqual(back.rows, [{ address: 2, value: '12.5' }, { address: 4, value: 'nan' }]);

  const foreign = R.parseCsv('\uFEFFAddress;Value\n10;"7"\n11;8\n');
  assert.equal(foreign.format.type, 'int');
  assert.deepEqual(foreign.rows, [{ address: 10, value: '7' }, { address: 11, value: '8' }]);

  assert.equal(R.parseCsv('address,value\n').error, 'reg.csvEmpty');
  assert.equal(R.parseCsv('a,b\n1,2\n').error, 'reg.csvNoColumns');
  assert.equal(R.parseCsv('address,value\n70000,1\n').error, 'reg.csvBadRow');
  assert.equal(R.parseCsv('address,value\n1,\n').error, 'reg.csvBadRow');
  const many = 'address,value\n' + Array.from({ length: 201 }, (_, i) => `${i},1`).join('\n');
  assert.equal(R.parseCsv(many).error, 'reg.csvTooMany');
});
