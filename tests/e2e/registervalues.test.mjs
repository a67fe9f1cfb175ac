// The interface's pure helpers, without a browser: addresses in every notation, value types
// and their bytes, register formats, read replies, numbers in the interface language, write
// plans, read-back checks, the CSV round trip, device addresses.
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

const SOURCE_DIR = process.env.VEXO_SOURCE_DIR || path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');

const require = createRequire(import.meta.url);
const R = require(path.join(SOURCE_DIR, 'www', 'modules', 'registers', 'values.js'));
const T = require(path.join(SOURCE_DIR, 'www', 'js', 'valuetypes.js'));
const Addr = require(path.join(SOURCE_DIR, 'www', 'js', 'addressing.js'));
const A = require(path.join(SOURCE_DIR, 'www', 'modules', 'connection', 'address.js'));
const f = (type, order = 'ABCD', table = 'holding', regSize = 16, floatPrec = 2) => R.normalizeFormat({ table, regSize, type, order, floatPrec });

test('addresses: typed and shown in each notation by one rule, refused at the edges', () => {
  // [typed, notation, table, protocol address or problem (and the table it names)]
  const table = [
    ['0', 'zero', 'holding', 0],
    ['65535', 'zero', 'coils', 65535],
    ['65536', 'zero', 'holding', 'addr.bad'],
    ['0x10', 'zero', 'holding', 16],
    ['0XfF', 'zero', 'input', 255],
    ['0x10000', 'zero', 'holding', 'addr.bad'],
    ['0', 'one', 'holding', 'addr.bad'],
    ['1', 'one', 'holding', 0],
    ['65536', 'one', 'discrete', 65535],
    ['0x10', 'one', 'holding', 15],
    ['40001', 'modicon', 'holding', 0],
    ['49999', 'modicon', 'holding', 9998],
    ['400001', 'modicon', 'holding', 0],
    ['465536', 'modicon', 'holding', 65535],
    ['465537', 'modicon', 'holding', 'addr.bad'],
    ['40000', 'modicon', 'holding', 'addr.bad'],
    ['30001', 'modicon', 'holding', 'addr.otherTable', 'input'],
    ['1', 'modicon', 'holding', 'addr.otherTable', 'coils'],
    ['17', 'modicon', 'coils', 16],
    ['10001', 'modicon', 'discrete', 0],
    ['365536', 'modicon', 'input', 65535],
    ['065536', 'modicon', 'coils', 65535],
    ['20001', 'modicon', 'holding', 'addr.bad'],
    ['0x10', 'modicon', 'holding', 'addr.bad'],
    ['4000001', 'modicon', 'holding', 'addr.bad'],
    ['', 'zero', 'holding', 'addr.bad'],
    ['-1', 'zero', 'holding', 'addr.bad'],
    ['1.5', 'one', 'holding', 'addr.bad'],
    ['12a', 'zero', 'holding', 'addr.bad'],
    ['0x', 'zero', 'holding', 'addr.bad'],
  ];
  for (const [typed, notation, tbl, expected, named] of table) {
    const result = Addr.parseAddress(typed, notation, tbl);
    const name = `${notation} ${tbl} "${typed}"`;
    if (typeof expected === 'number') {
      assert.deepEqual(result, { address: expected }, name);
      // What is accepted is shown back in the same notation, and reads as the same address.
      assert.deepEqual(Addr.parseAddress(Addr.formatAddress(expected, notation, tbl), notation, tbl), result, name);
    } else {
      assert.equal(result.problem, expected, name);
      if (named) assert.equal(result.params.table, named, name);
    }
  }
  assert.deepEqual([0, 9998, 9999, 65535].map((a) => Addr.formatAddress(a, 'modicon', 'holding')), ['40001', '49999', '410000', '465536']);
  assert.equal(Addr.formatAddress(0, 'modicon', 'coils'), '00001');
  assert.deepEqual(Addr.addressRange('modicon', 'input'), { first: '30001', last5: '39999', first6: '300001', last: '365536' });
  assert.deepEqual(Addr.addressRange('one', 'coils'), { first: '1', last: '65536' });
  assert.deepEqual([1, 2, 3, 4, 5, 6, 15, 16, 17].map(Addr.tableOfFunction),
    ['coils', 'discrete', 'holding', 'input', 'coils', 'holding', 'coils', 'holding', null]);
});

test('value bytes: each byte order puts the registers back in the order of the value', () => {
  // float32 123.456 is 0x42F6E979; [order, registers as they travel]
  const table = [['ABCD', [0x42f6, 0xe979]], ['CDAB', [0xe979, 0x42f6]], ['BADC', [0xf642, 0x79e9]], ['DCBA', [0x79e9, 0xf642]]];
  for (const [order, words] of table) {
    assert.equal(T.valueHex(words, order), '0x42F6E979', order);
    assert.deepEqual(T.reorder(T.reorder(words, order), order), words, order);
  }
  assert.equal(T.valueHex([0x0102, 0x0304, 0x0506, 0x0708], 'CDAB'), '0x0708050603040102');
  assert.equal(T.valueHex([0x0102, 0x0304, 0x0506, 0x0708], 'DCBA'), '0x0807060504030201');
  assert.equal(T.valueBinary([0x04d2], 'BADC'), '11010010 00000100');
});

test('values to write are checked against their type at its limits, in decimal, hex and binary', () => {
  // [typed, type, value sent or problem key]
  const table = [
    ['-32768', 'int16', -32768],
    ['32768', 'int16', 'reg.outOfRange'],
    ['0xFFFF', 'int16', -1],
    ['0x10000', 'int16', 'reg.tooManyBits'],
    ['0b101', 'uint16', 5],
    ['-1', 'uint16', 'reg.outOfRange'],
    ['4294967295', 'uint32', 4294967295],
    ['2147483648', 'int32', 'reg.outOfRange'],
    ['1e3', 'int32', 1000],
    ['2.5', 'int16', 'reg.notInteger'],
    ['-9223372036854775808', 'int64', '-9223372036854775808'],
    ['9223372036854775808', 'int64', 'reg.outOfRange'],
    ['18446744073709551615', 'uint64', '18446744073709551615'],
    ['0xFFFFFFFFFFFFFFFF', 'int64', '-1'],
    ['1.2345678901234567e18', 'int64', 'reg.digitsNeeded'],
    ['1e30', 'uint64', 'reg.outOfRange'],
    ['3.4e38', 'float32', 3.4e38],
    ['1e39', 'float32', 'reg.floatRange'],
    ['1e-50', 'float32', 'reg.floatTiny'],
    ['1e39', 'float64', 1e39],
    ['0x41480000', 'float32', 12.5],
    ['0x7FC00000', 'float32', 'reg.bitsNotFinite'],
    ['0x400921FB54442D18', 'float64', 3.141592653589793],
    ['abc', 'float64', 'reg.notANumber'],
  ];
  for (const [typed, type, expected] of table) {
    const read = T.parseValue(typed, type, '.', { position: 1 });
    if (typeof expected === 'string' && expected.startsWith('reg.')) assert.equal(read.problem && read.problem.key, expected, `${type} ${typed}`);
    else assert.deepEqual(read, { value: expected }, `${type} ${typed}`);
  }
  // [format, text, values, problem keys]
  const texts = [
    [f('bit', 'ABCD', 'coils'), '1 0 1', [1, 0, 1], []],
    [f('bit', 'ABCD', 'coils'), '2', [], ['reg.notABit']],
    [f('ascii'), 'Vexo devsim', ['Vexo devsim'], []],
    [f('ascii'), 'Zürich €', [], ['reg.notLatin1']],
    [f('ascii'), 'x'.repeat(247), [], ['reg.textTooLong']],
    [f('int16'), Array(124).fill('1').join(' '), Array(124).fill(1), ['reg.tooManyValues']],
  ];
  for (const [format, text, values, keys] of texts) {
    const parsed = R.parseWriteValues(text, format, 'en');
    assert.deepEqual(parsed.values.slice(0, values.length), values, text.slice(0, 20));
    assert.deepEqual(parsed.problems.map((p) => p.key), keys, text.slice(0, 20));
  }
});

test('formats: the tables, types and orders offered, their limits, and the older functions for 32-bit registers', () => {
  assert.deepEqual(R.normalizeFormat({ table: 'bogus', type: 'x', order: 'y' }), f('int16'));
  assert.deepEqual(R.normalizeFormat({ table: 'coils', type: 'float32', order: 'DCBA' }), { table: 'coils', regSize: 16, type: 'bit', order: 'ABCD', floatPrec: 2 });
  assert.equal(R.normalizeFormat({ table: 'input', regSize: 32, type: 'int16' }).regSize, 16);
  assert.equal(f('uint16', 'DCBA').order, 'BADC');
  assert.deepEqual(R.ordersFor(f('float64')), ['ABCD', 'CDAB', 'BADC', 'DCBA']);
  assert.deepEqual(R.ordersFor(f('float32', 'CDAB', 'holding', 32)), ['ABCD', 'CDAB']);
  assert.deepEqual(R.typesFor('holding', 32), ['int32', 'uint32', 'float32']);
  // [format, read limit, write limit, readTable/writeTable parameters]
  const table = [
    [f('bit', 'ABCD', 'coils'), 2000, 1968, { table: 'coils' }],
    [f('int16', 'BADC', 'input'), 125, 123, { table: 'input', type: 'int16', order: 'BADC' }],
    [f('float32', 'CDAB'), 62, 61, { table: 'holding', type: 'float32', order: 'CDAB' }],
    [f('uint64'), 31, 30, { table: 'holding', type: 'uint64', order: 'ABCD' }],
  ];
  for (const [format, read, write, params] of table) {
    assert.equal(R.maxValues(format, false), read, format.type);
    assert.equal(R.maxValues(format, true), write, format.type);
    assert.deepEqual(R.tableParams(format), params, format.type);
  }
  assert.deepEqual(R.checkRange(f('float64'), 65532, 1), []);
  assert.deepEqual(R.checkRange(f('float64'), 65533, 1), ['data.pastEnd']);
  assert.deepEqual(R.checkRange(f('int16'), 0, 126), [{ key: 'data.badCount', params: { max: 125 } }]);
  assert.equal(R.isWritable(f('int16', 'ABCD', 'input')), false);
  // 32-bit registers: [format, older parameters]
  const older = [
    [f('int32', 'ABCD', 'holding', 32), { regType: 'int', regSize: 32, valSize: 32 }],
    [f('float32', 'ABCD', 'holding', 32, 3), { regType: 'float4321', regSize: 32, valSize: 32, floatPrec: 3 }],
    [f('float32', 'CDAB', 'holding', 32), { regType: 'float1234', regSize: 32, valSize: 32 }],
  ];
  for (const [format, params] of older) assert.deepEqual(R.engineFormat(format), params, format.order);
});

test('read replies: rows with the registers of the same read, in decimal, hex and binary', () => {
  const rows = R.rowsOf(f('float32', 'CDAB', 'input'), 10, 1, { fc: 4, regs: [0xe979, 0x42f6], values: [123.456], ms: 0.8 });
  assert.deepEqual(rows, [{ address: 10, value: 123.456, regs: [0xe979, 0x42f6] }]);
  assert.deepEqual(['dec', 'hex', 'bin'].map((v) => R.shownValue(rows[0], f('float32', 'CDAB'), v, 'de')),
    ['123,456', '0x42F6E979', '01000010 11110110 11101001 01111001']);
  assert.equal(R.rowsOf(f('ascii', 'BADC', 'input'), 46, 6, { regs: [0x6556, 0x6f78, 0x6420, 0x7665, 0x6973, 0x006d], values: ['Vexo devsim'] })[0].value, 'Vexo devsim');
  assert.deepEqual(R.rowsOf(f('bit', 'ABCD', 'coils'), 0, 2, { regs: [1, 0], values: [1, 0] }).map((r) => R.rawHex(r, f('bit', 'ABCD', 'coils'))), ['1', '0']);
  for (const bad of [{ regs: [1], values: [1, 2] }, { regs: [1, 2], values: [1] }, { regs: [70000], values: [1] }, { error: 'x' }]) {
    assert.equal(R.rowsOf(f('int16'), 0, 1, bad), null, JSON.stringify(bad));
  }
  // The older functions: floats may be nan or inf, which JSON does not allow.
  assert.deepEqual(R.parseReadReply('{"values":[12.50,nan,-inf],"raw":[1095237632,0,1]}'),
    { values: ['12.50', 'NaN', '-Infinity'], raw: [1095237632, 0, 1] });
  assert.equal(R.parseReadReply('[1234]'), null);
  const wide = R.rowsOf(f('uint32', 'ABCD', 'holding', 32), 5000, 1, { values: ['123456789'], raw: [123456789] });
  assert.equal(R.shownValue(wide[0], f('uint32', 'ABCD', 'holding', 32), 'hex', 'en'), '0x075BCD15');
  assert.deepEqual(['12.50', 'NaN', 'Infinity', '-Infinity', '-12345678901234567890'].map((v) => T.displayValue(v, 'float64', 'pl')),
    ['12,50', 'NaN', '+∞', '−∞', '-12345678901234567890']);
  assert.equal(T.displayValue('NaN', 'ascii', 'en'), 'NaN');
});

test('numbers follow the interface language, and no part of a number is dropped', () => {
  // [text, language, values, problem keys]
  const table = [
    ['12.5 -1e3 .5', 'en', [12.5, -1000, 0.5], []],
    ['1, 2;3  4', 'en', [1, 2, 3, 4], []],
    ['12,5; -0,25 1e3', 'de', [12.5, -0.25, 1000], []],
    ['12,5', 'pl', [12.5], []],
    ['12.5', 'de', [], ['reg.wrongMark']],
    ['1.234,5', 'de', [], ['reg.notANumber']],
    ['0x41480000 abc', 'es', [12.5], ['reg.notANumber']],
    ['', 'en', [], ['reg.noValues']],
  ];
  for (const [text, lang, values, keys] of table) {
    const parsed = R.parseWriteValues(text, f('float32'), lang);
    assert.deepEqual(parsed.values, values, `${lang} ${text}`);
    assert.deepEqual(parsed.problems.map((p) => p.key), keys, `${lang} ${text}`);
  }
  assert.deepEqual(R.parseWriteValues('12.5', f('float32', 'CDAB'), 'pl').problems[0].params,
    { position: 1, value: '12.5', mark: ',', example: '12,5' });
  assert.equal(T.formatNumber(-0.25, 'de'), '-0,25');
});

test('a list is written at its own addresses: one request per run of consecutive registers', () => {
  const plan = (format, pairs) => R.planWrites(format, pairs.map(([address, value]) => ({ address, value })));
  assert.deepEqual(plan(f('int16'), [[300, 11], [305, 22], [301, 33]]), {
    runs: [{ start: 300, end: 301, values: [11, 33] }, { start: 305, end: 305, values: [22] }], problems: [],
  });
  // Two registers per value: 10 and 12 are consecutive, 16 after a gap is not.
  assert.deepEqual(plan(f('float32'), [[10, 1], [12, 2], [16, 3]]).runs.map((r) => [r.start, r.end]), [[10, 13], [16, 17]]);
  assert.deepEqual(plan(f('ascii'), [[40, 'Vexo'], [42, 'x']]).runs.map((r) => [r.start, r.end]), [[40, 41], [42, 42]]);
  assert.deepEqual(plan(f('int16'), [[65535, 1]]).problems, []);
  assert.deepEqual(plan(f('float64'), [[65533, 1]]).problems.map((p) => p.key), ['reg.listPastEnd']);
  assert.deepEqual(plan(f('int16'), [[7, 1], [7, 2]]).problems, [{ key: 'reg.listOverlap', params: { address: 7 } }]);

  const listed = R.listEntries([{ address: 5, value: '2,5' }, { address: 6, value: '2.5' }, { address: 7, value: 'nan' }], ',', f('float32'));
  assert.deepEqual(listed.entries, [{ address: 5, value: 2.5 }]);
  assert.deepEqual(listed.problems.map((p) => [p.key, p.params.address]), [['reg.wrongMark', 6], ['reg.notANumber', 7]]);
});

test('a value read back is compared at the precision of its type, or as the older functions print it', () => {
  // [format, written, read, same]
  const table = [
    [f('int16'), -12, -12, true],
    [f('int16'), -12, -11, false],
    [f('int64'), '-1234567890123456789', '-1234567890123456789', true],
    [f('uint64'), '12345678901234567890', '12345678901234567891', false],
    [f('float32'), 0.1, 0.1, true],
    [f('float32'), 0.1, 0.10000001, false],
    [f('float64'), 0.1, 0.1, true],
    [f('ascii'), 'abc', 'abc', true],
    [f('bit', 'ABCD', 'coils'), 1, 0, false],
    [f('float32', 'ABCD', 'holding', 32, 2), 12.345, '12.35', true],
    [f('float32', 'ABCD', 'holding', 32, 2), 12.345, '12.36', false],
    [f('float32', 'CDAB', 'holding', 32), 1234567, '1.23457e+06', true],
  ];
  for (const [format, written, read, same] of table) {
    assert.equal(R.readsBackAs(format, written, read), same, `${format.type} ${written} ${read}`);
  }
});

test('CSV: what is exported loads back; older lists and semicolon lists load too; nothing is cut', () => {
  const format = f('float32', 'CDAB', 'input');
  const csv = R.buildCsv(format, [{ address: 8, value: 123.456, regs: [0xe979, 0x42f6] }, { address: 10, value: 'NaN', regs: [0, 0x7fc0] }]);
  assert.equal(csv, 'address,table,register_size,type,order,value,raw_registers\r\n' +
    '8,input,16,float32,CDAB,123.456,0xE979 0x42F6\r\n10,input,16,float32,CDAB,NaN,0x0000 0x7FC0\r\n');
  const back = R.parseCsv(csv);
  assert.deepEqual(back.format, format);
  assert.equal(back.decimalMark, '.');
  assert.deepEqual(back.rows, [{ address: 8, value: '123.456' }, { address: 10, value: 'NaN' }]);

  // Lists of the earlier export name Vexo's older types: [type, register size, value size, format]
  const older = [
    ['int', 16, 16, f('int16')],
    ['int', 16, 32, f('int32', 'CDAB')],
    ['long', 16, 32, f('uint32')],
    ['float1234', 16, 32, f('float32', 'CDAB')],
    ['float4321', 32, 32, f('float32', 'ABCD', 'holding', 32)],
  ];
  for (const [type, regSize, valSize, expected] of older) {
    const list = `address,type,register_size,value_size,value,raw_registers\r\n2,${type},${regSize},${valSize},1,0x0001\r\n`;
    assert.deepEqual(R.parseCsv(list).format, expected, `${type}/${regSize}/${valSize}`);
  }

  const semicolons = R.parseCsv('\uFEFFAddress;Value\n10;"7"\n11;2,5\n');
  assert.equal(semicolons.typed, false);
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

test('device addresses: IPv4 in its plain form, IPv6 and host names', () => {
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
    ['', { problem: 'conn.badIp' }],
    ['::1', { address: '::1' }],
    ['[FD00::10]', { address: 'fd00::10' }],
    ['1::2::3', { problem: 'conn.badIp' }],
    ['plc-7.example', { address: 'plc-7.example' }],
    ['localhost', { address: 'localhost' }],
    ['-plc.example', { problem: 'conn.badIp' }],
    ['plc_7', { problem: 'conn.badIp' }],
    ['a'.repeat(64) + '.example', { problem: 'conn.badIp' }],
  ];
  for (const [typed, result] of table) assert.deepEqual(A.parseDeviceAddress(typed), result, typed);
});
