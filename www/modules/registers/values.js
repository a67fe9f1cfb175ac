/* What the registers page reads and writes: the table, value type and byte order of a read,
 * its limits, the rows of a reply, write plans, read-back checks and the CSV form of a list.
 * The four data tables go through readTable and writeTable; holding registers of 32 bits
 * (one register per value) only Vexo's older register functions read and write, so their
 * formats map onto those. Pure functions without the DOM, shared by the page and its unit
 * tests. */
(function (exports, T) {
  'use strict';

  const TABLES = ['coils', 'discrete', 'input', 'holding'];
  const LAST_ADDRESS = 65535;
  const TYPES_32BIT_REGISTERS = ['int32', 'uint32', 'float32'];
  // Vexo's older register functions move at most this many values at once.
  const MAX_LEGACY_VALUES = 200;

  const isBitTable = T.isBitTable;

  function typesFor(table, regSize) {
    if (isBitTable(table)) return ['bit'];
    return regSize === 32 ? TYPES_32BIT_REGISTERS : T.TYPE_NAMES;
  }

  /* The byte orders that differ for a type: one register has only its two bytes to swap, a
   * 32-bit register Vexo reads as it is or with its halves exchanged. */
  function ordersFor(format) {
    if (format.type === 'bit') return ['ABCD'];
    if (format.regSize === 32) return format.type === 'float32' ? ['ABCD', 'CDAB'] : ['ABCD'];
    return T.isOneRegister(format.type) ? ['ABCD', 'BADC'] : T.ORDERS;
  }

  function normalizeFormat(format) {
    const table = TABLES.includes(format.table) ? format.table : 'holding';
    const regSize = table === 'holding' && Number(format.regSize) === 32 ? 32 : 16;
    const types = typesFor(table, regSize);
    const type = types.includes(format.type) ? format.type : types[0];
    const prec = Number.isInteger(Number(format.floatPrec)) ? Number(format.floatPrec) : 2;
    const normalized = { table, regSize, type, order: 'ABCD', floatPrec: Math.min(20, Math.max(0, prec)) };
    const orders = ordersFor(normalized);
    // One register: CDAB reads as ABCD and DCBA as BADC.
    const order = T.isOneRegister(type) && format.order === 'DCBA' ? 'BADC' : format.order;
    normalized.order = orders.includes(order) ? order : 'ABCD';
    return normalized;
  }

  function isLegacy(format) {
    return format.regSize === 32;
  }

  function isWritable(format) {
    return format.table === 'coils' || format.table === 'holding';
  }

  // Registers (or bits) per value; an ascii read counts registers.
  function registersPerValue(format) {
    return isBitTable(format.table) || isLegacy(format) ? 1 : T.registersOf(format.type);
  }

  function addressOf(format, start, index) {
    return start + index * registersPerValue(format);
  }

  // The most values one read or one write request may carry.
  function maxValues(format, write) {
    return isLegacy(format) ? MAX_LEGACY_VALUES : T.requestLimit(format.table, format.type, write);
  }

  /* Checks a read range; returns problems, as keys or { key, params }. */
  function checkRange(format, start, count) {
    const max = maxValues(format, false);
    if (!Number.isInteger(count) || count < 1 || count > max) return [{ key: 'data.badCount', params: { max } }];
    if (addressOf(format, start, count) - 1 > LAST_ADDRESS) return ['data.pastEnd'];
    return [];
  }

  // The parameters of readTable and writeTable for this format.
  function tableParams(format) {
    return isBitTable(format.table) ? { table: format.table } : { table: format.table, type: format.type, order: format.order };
  }

  /* ---------- holding registers of 32 bits, through the older functions ---------- */

  /* Vexo prints a float of one of the two layouts with a fixed number of decimals and the
   * other with 6 significant digits, whatever the decimals say. */
  function decimalsApply(format) {
    return isLegacy(format) && format.type === 'float32' && format.order === 'ABCD';
  }

  function engineFormat(format) {
    const names = { int32: 'int', uint32: 'uint', float32: format.order === 'CDAB' ? 'float1234' : 'float4321' };
    const params = { regType: names[format.type], regSize: 32, valSize: 32 };
    if (decimalsApply(format)) params.floatPrec = format.floatPrec;
    return params;
  }

  /* The reply of a read with raw=1: {"values":[...],"raw":[...]}, floats possibly nan or inf,
   * which JSON does not allow. Returns { values, raw } with the values as Vexo printed them
   * (NaN and the infinities spelled as readTable does), or null. */
  function parseReadReply(text) {
    const both = /^\{"values":\[([^\]]*)\],"raw":\[([\d,]*)\]\}$/.exec(String(text).trim());
    if (!both) return null;
    const items = both[1] === '' ? [] : both[1].split(',');
    if (!items.every((s) => /^(-?\d+(\.\d+)?([eE][+-]?\d+)?|-?nan|inf|-inf)$/.test(s))) return null;
    const spelled = { nan: 'NaN', '-nan': 'NaN', inf: 'Infinity', '-inf': '-Infinity' };
    return { values: items.map((s) => spelled[s] || s), raw: both[2] === '' ? [] : both[2].split(',').map(Number) };
  }

  /* ---------- rows of a read ---------- */

  /* The rows a read shows: [{ address, value, regs }], each value with the registers it was
   * decoded from (bits: the bit; a 32-bit register: its two halves, high first). Null when
   * the reply does not hold what was asked for. */
  function rowsOf(format, start, count, reply) {
    const values = reply.values;
    if (isLegacy(format)) {
      if (!Array.isArray(values) || values.length !== count || !Array.isArray(reply.raw) || reply.raw.length !== count) return null;
      return values.map((value, i) => ({ address: start + i, value, regs: [Math.floor(reply.raw[i] / 65536), reply.raw[i] % 65536] }));
    }
    return T.replyRows(format.table, format.type, start, count, reply);
  }

  // A value as the page shows it: decimal, 'hex' or 'bin' from the registers of the read.
  function shownValue(row, format, view, lang) {
    const numeric = format.type !== 'bit' && format.type !== 'ascii';
    if (numeric && view === 'hex') return T.valueHex(row.regs, format.order);
    if (numeric && view === 'bin') return T.valueBinary(row.regs, format.order);
    return T.displayValue(row.value, format.type, lang);
  }

  // The registers behind a row in hexadecimal; a bit as it is.
  function rawHex(row, format) {
    return format.type === 'bit' ? row.regs.join(' ') : T.wordsHex(row.regs);
  }

  /* ---------- writing ---------- */

  /* Splits and checks the values a user typed for writing, by the rules of the interface
   * language; an ascii text is one value. Returns { values, problems: [{ key, params }] }. */
  function parseWriteValues(text, format, lang) {
    if (format.type === 'ascii') {
      const read = T.parseText(String(text), maxValues(format, true));
      return read.problem ? { values: [], problems: [read.problem] } : { values: [read.value], problems: [] };
    }
    const problems = [];
    const tokens = T.splitValues(text, lang);
    const max = maxValues(format, true);
    if (tokens.length === 0) problems.push({ key: 'reg.noValues' });
    if (tokens.length > max) problems.push({ key: 'reg.tooManyValues', params: { max } });
    const values = [];
    tokens.forEach((token, i) => {
      const read = readValue(token, T.decimalMark(lang), format, { position: i + 1 });
      if (read.problem) problems.push(read.problem);
      else values.push(read.value);
    });
    return { values, problems };
  }

  function readValue(token, mark, format, where) {
    return format.type === 'bit' ? T.parseBit(token, where) : T.parseValue(token, format.type, mark, where);
  }

  // Registers one written value takes: a text two characters to a register.
  function registersOfValue(format, value) {
    return format.type === 'ascii' ? Math.ceil(value.length / 2) : registersPerValue(format);
  }

  /* The writes that put each value at its own address: one request per run of consecutive
   * registers, in address order. entries: [{ address, value }]. Two values on one register,
   * or a value past the last address, are problems: such a list is not written at all.
   * Returns { runs: [{ start, end, values }], problems }. */
  function planWrites(format, entries) {
    const runs = [];
    const problems = [];
    let next = -1; // the register after the previous value
    entries.slice().sort((a, b) => a.address - b.address).forEach((entry) => {
      const end = entry.address + registersOfValue(format, entry.value) - 1;
      if (end > LAST_ADDRESS) problems.push({ key: 'reg.listPastEnd', params: { address: entry.address } });
      else if (entry.address < next) problems.push({ key: 'reg.listOverlap', params: { address: entry.address } });
      const run = runs[runs.length - 1];
      if (run && entry.address === next && format.type !== 'ascii') {
        run.values.push(entry.value);
        run.end = end;
      } else {
        runs.push({ start: entry.address, end, values: [entry.value] });
      }
      next = end + 1;
    });
    return { runs, problems };
  }

  /* A loaded list's values for writing: each value text is read with the list's decimal mark
   * and checked against the format. Returns { entries, problems }. */
  function listEntries(rows, mark, format) {
    if (format.type === 'ascii') return { entries: [], problems: [{ key: 'reg.listText' }] };
    const entries = [];
    const problems = [];
    rows.forEach((row) => {
      const read = readValue(row.value, mark, format, { address: row.address });
      if (read.problem) problems.push(read.problem);
      else entries.push({ address: row.address, value: read.value });
    });
    return { entries, problems };
  }

  /* Whether a value read back is the value written. The older functions print some floats
   * with a fixed number of decimals and others with 6 significant digits. */
  function readsBackAs(format, written, read) {
    if (!isLegacy(format) || format.type !== 'float32') return T.sameValue(format.type, written, read);
    const shown = T.valueToNumber(read);
    const expected = Math.fround(written);
    if (expected === 0) return shown === 0;
    const digits = decimalsApply(format) ? format.floatPrec : 5 - Math.floor(Math.log10(Math.abs(expected)));
    return Math.abs(shown - expected) <= 0.5 * Math.pow(10, -digits) * (1 + 1e-9);
  }

  /* ---------- CSV ---------- */

  const CSV_HEADER = ['address', 'table', 'register_size', 'type', 'order', 'value', 'raw_registers'];

  function csvField(value) {
    const text = String(value);
    return /[",\r\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
  }

  // rows: [{ address, value, regs }]; values as Vexo sent them (a decimal point).
  function buildCsv(format, rows) {
    const lines = [CSV_HEADER.join(',')];
    rows.forEach((row) => {
      const fields = [row.address, format.table, format.regSize, format.type, format.order, row.value, rawHex(row, format)];
      lines.push(fields.map(csvField).join(','));
    });
    return lines.join('\r\n') + '\r\n';
  }

  /* A list saved by an earlier version names its format by Vexo's older type names. */
  function legacyFormat(type, regSize, valSize) {
    const wide = Number(regSize) === 32;
    const lowWordFirst = wide ? 'ABCD' : 'CDAB';
    const formats = {
      int: Number(valSize) === 32 || wide ? ['int32', lowWordFirst] : ['int16', 'ABCD'],
      uint: Number(valSize) === 32 || wide ? ['uint32', lowWordFirst] : ['uint16', 'ABCD'],
      long: ['uint32', 'ABCD'],
      float1234: ['float32', 'CDAB'],
      float4321: ['float32', 'ABCD'],
    };
    const [name, order] = formats[type] || formats.int;
    return { table: 'holding', regSize: wide ? 32 : 16, type: name, order };
  }

  function splitCsvLine(line, delimiter) {
    const fields = [];
    let field = '';
    let quoted = false;
    for (let i = 0; i < line.length; i++) {
      const c = line[i];
      if (quoted) {
        if (c === '"' && line[i + 1] === '"') {
          field += '"';
          i++;
        } else if (c === '"') quoted = false;
        else field += c;
      } else if (c === '"') quoted = true;
      else if (c === delimiter) {
        fields.push(field.trim());
        field = '';
      } else field += c;
    }
    fields.push(field.trim());
    return fields;
  }

  /* Reads a list back: Vexo's own export (this one's or an earlier version's), or any list
   * with at least the columns address and value. Columns are separated by commas, or by
   * semicolons when the first line holds one; then, as spreadsheets write such files, the
   * decimal mark is the comma. Addresses are protocol addresses.
   * Returns { format, typed, rows: [{ address, value }], decimalMark } or { error, line };
   * typed tells whether the list names its format. */
  function parseCsv(text) {
    const lines = String(text).replace(/^\uFEFF/, '').split(/\r\n|\n|\r/).filter((l) => l.trim() !== '');
    if (lines.length < 2) return { error: 'reg.csvEmpty' };
    const delimiter = lines[0].includes(';') ? ';' : ',';
    const header = splitCsvLine(lines[0], delimiter).map((h) => h.toLowerCase());
    const col = (name) => header.indexOf(name);
    if (col('address') < 0 || col('value') < 0) return { error: 'reg.csvNoColumns' };
    const rows = [];
    for (const line of lines.slice(1)) {
      const f = splitCsvLine(line, delimiter);
      const address = Number(f[col('address')]);
      const value = f[col('value')];
      if (f.length !== header.length || !/^\d+$/.test(f[col('address')]) || address > LAST_ADDRESS || !value) {
        return { error: 'reg.csvBadRow', line };
      }
      rows.push({ address, value });
    }
    if (rows.length > MAX_LEGACY_VALUES) return { error: 'reg.csvTooMany' };
    const first = splitCsvLine(lines[1], delimiter);
    const field = (name, fallback) => (col(name) >= 0 ? first[col(name)] : fallback);
    const typed = col('type') >= 0;
    const named = col('table') >= 0
      ? { table: field('table'), regSize: field('register_size', 16), type: field('type'), order: field('order', 'ABCD') }
      : legacyFormat(field('type', 'int'), field('register_size', 16), field('value_size', 16));
    const format = normalizeFormat(Object.assign(named, { floatPrec: 2 }));
    return { format, typed, rows, decimalMark: delimiter === ';' ? ',' : '.' };
  }

  Object.assign(exports, {
    TABLES, LAST_ADDRESS, isBitTable, typesFor, ordersFor, normalizeFormat, isLegacy, isWritable,
    registersPerValue, addressOf, maxValues, checkRange, tableParams, decimalsApply, engineFormat,
    parseReadReply, rowsOf, shownValue, rawHex, parseWriteValues, planWrites, listEntries,
    readsBackAs, buildCsv, parseCsv,
  });
})(
  typeof module !== 'undefined' && module.exports ? module.exports : (window.Vexo.registerValues = {}),
  typeof module !== 'undefined' && module.exports ? require('../../js/valuetypes.js') : window.Vexo.valueTypes,
);
