/* Register formats, numbers in the interface language, write plans, read replies, and the CSV
 * form of a register list. Pure functions without the DOM, shared by the registers page and
 * its unit tests. */
(function (exports) {
  'use strict';

  const TYPES = ['int', 'uint', 'long', 'float1234', 'float4321'];
  const MAX_VALUES = 200;
  const LAST_ADDRESS = 65535;
  const FLOAT_MAX = 3.4028234663852886e38;
  // Interface languages that write decimals with a comma.
  const COMMA_LANGUAGES = ['de', 'es', 'pl'];

  function isFloatType(type) {
    return type === 'float1234' || type === 'float4321';
  }

  // Floats, longs and 32-bit registers always carry 32-bit values.
  function normalizeFormat(format) {
    const type = TYPES.includes(format.type) ? format.type : 'int';
    const regSize = Number(format.regSize) === 32 ? 32 : 16;
    const forced32 = type === 'long' || isFloatType(type) || regSize === 32;
    const valSize = forced32 ? 32 : Number(format.valSize) === 32 ? 32 : 16;
    const prec = Number.isInteger(Number(format.floatPrec)) ? Number(format.floatPrec) : 2;
    return { type, regSize, valSize, floatPrec: Math.min(20, Math.max(0, prec)), valSizeLocked: forced32 };
  }

  function registersPerValue(format) {
    return format.regSize === 16 && format.valSize === 32 ? 2 : 1;
  }

  function addressOf(format, start, index) {
    return start + index * registersPerValue(format);
  }

  /* Vexo prints two of the four float layouts with a fixed number of decimals and the other
   * two with 6 significant digits, whatever the decimals say. */
  function decimalsApply(format) {
    return (format.type === 'float1234' && format.regSize === 16) || (format.type === 'float4321' && format.regSize === 32);
  }

  /* The parameters that make Vexo decode or encode this format right. Its "long" joins two
   * 16-bit registers high word first; on a 32-bit register that value is the register as it
   * is, which Vexo calls "uint". */
  function engineFormat(format) {
    const params = {
      regType: format.type === 'long' && format.regSize === 32 ? 'uint' : format.type,
      regSize: format.regSize,
      valSize: format.valSize,
    };
    if (decimalsApply(format)) params.floatPrec = format.floatPrec;
    return params;
  }

  // The key of the text that says how one value lies in the registers.
  function layoutKey(format) {
    if (format.regSize === 32) return format.type === 'float1234' ? 'reg.layout32Swapped' : 'reg.layout32';
    if (format.valSize === 16) return 'reg.layout16';
    return format.type === 'long' || format.type === 'float4321' ? 'reg.layoutHighFirst' : 'reg.layoutLowFirst';
  }

  /* Checks a read or write range; returns a list of problem keys (empty when fine). */
  function checkRange(format, start, count) {
    const problems = [];
    if (!Number.isInteger(start) || start < 0 || start > LAST_ADDRESS) problems.push('reg.badAddress');
    if (!Number.isInteger(count) || count < 1 || count > MAX_VALUES) problems.push('reg.badCount');
    if (problems.length === 0 && addressOf(format, start, count) - 1 > LAST_ADDRESS) problems.push('reg.pastEnd');
    return problems;
  }

  /* ---------- read replies ---------- */

  /* A bare array as readRegisters sends it; floats may be nan, inf or -inf, which JSON does
   * not allow. Returns the values as texts exactly as Vexo formatted them, or null. */
  function parseValueList(text) {
    const trimmed = String(text).trim();
    if (!trimmed.startsWith('[') || !trimmed.endsWith(']')) return null;
    const inner = trimmed.slice(1, -1).trim();
    if (inner === '') return [];
    const items = inner.split(',').map((s) => s.trim());
    const ok = items.every((s) => /^(-?\d+(\.\d+)?([eE][+-]?\d+)?|-?nan|inf|-inf)$/.test(s));
    return ok ? items : null;
  }

  /* The reply of a read with raw=1: {"values":[...],"raw":[...]} with the registers of the
   * same transaction. Returns { values, raw } or null; a bare array (a Vexo without raw=1)
   * gives raw null. */
  function parseReadReply(text) {
    const trimmed = String(text).trim();
    const both = /^\{"values":(\[[^\]]*\]),"raw":\[([\d,]*)\]\}$/.exec(trimmed);
    const values = parseValueList(both ? both[1] : trimmed);
    if (!values) return null;
    return { values, raw: both ? (both[2] === '' ? [] : both[2].split(',').map(Number)) : null };
  }

  /* The raw 16-bit words of each of count values, from the registers of the read: one or two
   * 16-bit registers, or a 32-bit register shown high word first. Null when the number of
   * registers does not fit the format. */
  function rawWordsOf(format, count, raw) {
    const per = format.regSize === 32 ? 1 : registersPerValue(format);
    if (!raw || raw.length !== count * per) return null;
    return Array.from({ length: count }, (_, i) =>
      format.regSize === 32 ? [Math.floor(raw[i] / 65536), raw[i] % 65536] : raw.slice(i * per, i * per + per));
  }

  function valueToNumber(text) {
    if (text === 'inf') return Infinity;
    if (text === '-inf') return -Infinity;
    return Number(text);
  }

  /* ---------- numbers in the interface language ---------- */

  function decimalMark(lang) {
    return COMMA_LANGUAGES.includes(lang) ? ',' : '.';
  }

  // A number for reading: the decimal mark of the language, never a thousands separator.
  function formatNumber(value, lang) {
    return String(value).replace('.', decimalMark(lang));
  }

  /* A value as Vexo printed it, for reading in the interface language; NaN and the infinities
   * are spelled as people read them. */
  function displayValue(text, lang) {
    if (/^-?nan$/.test(text)) return 'NaN';
    if (text === 'inf') return '+∞';
    if (text === '-inf') return '−∞';
    return text.replace('.', decimalMark(lang));
  }

  /* One number written with the decimal mark given: digits, at most one mark, an optional
   * exponent. Thousands separators are never accepted: "1.234" could not be told from a
   * decimal. Returns the number or null. */
  function parseNumber(token, mark) {
    const m = mark === ',' ? ',' : '\\.';
    const pattern = new RegExp('^[+-]?(\\d+(' + m + '\\d*)?|' + m + '\\d+)([eE][+-]?\\d+)?$');
    return pattern.test(token) ? Number(token.replace(',', '.')) : null;
  }

  /* Typed values: where the comma is the decimal mark, values are separated by semicolons or
   * blanks, otherwise by commas, semicolons or blanks. */
  function splitValues(text, lang) {
    const separators = decimalMark(lang) === ',' ? /[\s;]+/ : /[\s,;]+/;
    return String(text).split(separators).filter((s) => s !== '');
  }

  function integerLimits(format) {
    if (format.type === 'uint' || format.type === 'long') return format.valSize === 32 ? [0, 4294967295] : [0, 65535];
    return format.valSize === 32 ? [-2147483648, 2147483647] : [-32768, 32767];
  }

  /* Reads one value for writing; where names it in the problems ({position} or {address}).
   * Returns { value } or { problem }. */
  function readValue(token, mark, format, where) {
    const params = Object.assign({ value: token }, where);
    const value = parseNumber(token, mark);
    if (value === null) {
      const other = mark === ',' ? '.' : ',';
      if (parseNumber(token, other) !== null) {
        return { problem: { key: 'reg.wrongMark', params: Object.assign(params, { mark, example: '12' + mark + '5' }) } };
      }
      return { problem: { key: 'reg.notANumber', params } };
    }
    if (isFloatType(format.type)) {
      if (!Number.isFinite(value) || Math.abs(value) > FLOAT_MAX) return { problem: { key: 'reg.floatRange', params } };
    } else if (!Number.isInteger(value)) {
      return { problem: { key: 'reg.notInteger', params } };
    } else {
      const [min, max] = integerLimits(format);
      if (value < min || value > max) return { problem: { key: 'reg.outOfRange', params: Object.assign(params, { min, max }) } };
    }
    return { value };
  }

  /* Splits and checks the values a user typed for writing, by the rules of the interface
   * language. Returns { values: [numbers], problems: [{key, params}] }. */
  function parseWriteValues(text, format, lang) {
    const problems = [];
    const tokens = splitValues(text, lang);
    if (tokens.length === 0) problems.push({ key: 'reg.noValues' });
    if (tokens.length > MAX_VALUES) problems.push({ key: 'reg.tooManyValues', params: { max: MAX_VALUES } });
    const values = [];
    tokens.forEach((token, i) => {
      const read = readValue(token, decimalMark(lang), format, { position: i + 1 });
      if (read.problem) problems.push(read.problem);
      else values.push(read.value);
    });
    return { values, problems };
  }

  /* ---------- write plans ---------- */

  /* The writes that put each value at its own address: one request per run of consecutive
   * registers, in address order. entries: [{ address, value }]. Two values on one register,
   * or a value past the last address, are problems: such a list is not written at all.
   * Returns { runs: [{ start, end, values }], problems }. */
  function planWrites(format, entries) {
    const per = registersPerValue(format);
    const runs = [];
    const problems = [];
    let next = -1; // the register after the previous value
    entries.slice().sort((a, b) => a.address - b.address).forEach((entry) => {
      const end = entry.address + per - 1;
      if (end > LAST_ADDRESS) problems.push({ key: 'reg.listPastEnd', params: { address: entry.address } });
      else if (entry.address < next) problems.push({ key: 'reg.listOverlap', params: { address: entry.address } });
      const run = runs[runs.length - 1];
      if (run && entry.address === next) {
        run.values.push(entry.value);
        run.end = end;
      } else {
        runs.push({ start: entry.address, end, values: [entry.value] });
      }
      next = entry.address + per;
    });
    return { runs, problems };
  }

  /* A loaded list's values for writing: each value text is read with the list's decimal mark
   * and checked against the format. Returns { entries, problems }. */
  function listEntries(rows, mark, format) {
    const entries = [];
    const problems = [];
    rows.forEach((row) => {
      const read = readValue(row.value, mark, format, { address: row.address });
      if (read.problem) problems.push(read.problem);
      else entries.push({ address: row.address, value: read.value });
    });
    return { entries, problems };
  }

  /* Whether a value read back, as Vexo printed it, is the value written: integers exactly,
   * floats at 32-bit precision and to the digits Vexo prints. */
  function readsBackAs(format, written, text) {
    const shown = valueToNumber(text);
    if (!isFloatType(format.type)) return shown === written;
    const expected = Math.fround(written);
    if (expected === 0) return shown === 0;
    const digits = decimalsApply(format) ? format.floatPrec : 5 - Math.floor(Math.log10(Math.abs(expected)));
    return Math.abs(shown - expected) <= 0.5 * Math.pow(10, -digits) * (1 + 1e-9);
  }

  /* ---------- CSV ---------- */

  const CSV_HEADER = ['address', 'type', 'register_size', 'value_size', 'value', 'raw_registers'];

  function csvField(value) {
    const text = String(value);
    return /[",\r\n]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
  }

  function hex16(n) {
    return '0x' + (n & 0xffff).toString(16).toUpperCase().padStart(4, '0');
  }

  // rows: [{ address, value, raw: [words] }]; values as Vexo printed them (a decimal point).
  function buildCsv(format, rows) {
    const lines = [CSV_HEADER.join(',')];
    rows.forEach((row) => {
      const raw = (row.raw || []).map(hex16).join(' ');
      lines.push([row.address, format.type, format.regSize, format.valSize, row.value, raw].map(csvField).join(','));
    });
    return lines.join('\r\n') + '\r\n';
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

  /* Reads a register list back: Vexo's own export, or any list with at least the columns
   * address and value. Columns are separated by commas, or by semicolons when the first line
   * holds one; then, as spreadsheets write such files, the decimal mark is the comma.
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
    if (rows.length > MAX_VALUES) return { error: 'reg.csvTooMany' };
    const first = splitCsvLine(lines[1], delimiter);
    const format = normalizeFormat({
      type: col('type') >= 0 ? first[col('type')] : 'int',
      regSize: col('register_size') >= 0 ? first[col('register_size')] : 16,
      valSize: col('value_size') >= 0 ? first[col('value_size')] : 16,
      floatPrec: 2,
    });
    return { format, typed: col('type') >= 0, rows, decimalMark: delimiter === ';' ? ',' : '.' };
  }

  Object.assign(exports, {
    TYPES, MAX_VALUES, isFloatType, normalizeFormat, registersPerValue, addressOf, decimalsApply,
    engineFormat, layoutKey, checkRange, parseValueList, parseReadReply, rawWordsOf, valueToNumber,
    decimalMark, formatNumber, displayValue, parseNumber, parseWriteValues, planWrites, listEntries,
    readsBackAs, buildCsv, parseCsv, hex16,
  });
})(typeof module !== 'undefined' && module.exports ? module.exports : (window.Vexo.registerValues = {}));
