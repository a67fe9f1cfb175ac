/* Register formats, value parsing and checking, and the CSV form of a register list.
 * Pure functions without the DOM, shared by the registers page and its unit tests. */
(function (exports) {
  'use strict';

  const TYPES = ['int', 'uint', 'long', 'float1234', 'float4321'];
  const WRITABLE_TYPES = ['int', 'uint', 'float1234', 'float4321'];
  const MAX_VALUES = 200;
  const LAST_ADDRESS = 65535;

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

  /* Checks a read or write range; returns a list of problem keys (empty when fine). */
  function checkRange(format, start, count) {
    const problems = [];
    if (!Number.isInteger(start) || start < 0 || start > LAST_ADDRESS) problems.push('reg.badAddress');
    if (!Number.isInteger(count) || count < 1 || count > MAX_VALUES) problems.push('reg.badCount');
    if (problems.length === 0 && addressOf(format, start, count) - 1 > LAST_ADDRESS) problems.push('reg.pastEnd');
    return problems;
  }

  /* The readRegisters reply is a bare array whose floats may be nan, inf or -inf, which JSON
   * does not allow. Returns the values as texts exactly as Vexo formatted them, or null. */
  function parseValueList(text) {
    const trimmed = String(text).trim();
    if (!trimmed.startsWith('[') || !trimmed.endsWith(']')) return null;
    const inner = trimmed.slice(1, -1).trim();
    if (inner === '') return [];
    const items = inner.split(',').map((s) => s.trim());
    const ok = items.every((s) => /^(-?\d+(\.\d+)?([eE][+-]?\d+)?|nan|-?nan|inf|-inf)$/.test(s));
    return ok ? items : null;
  }

  function valueToNumber(text) {
    if (text === 'inf') return Infinity;
    if (text === '-inf') return -Infinity;
    const n = Number(text);
    return Number.isNaN(n) ? NaN : n;
  }

  /* Raw 16-bit words of each value, in register order, from an unsigned read of the same
   * format (one number per value: 16-bit word, low-first 32-bit pair, or 32-bit register). */
  function rawWords(format, unsignedValues) {
    return unsignedValues.map((text) => {
      const n = Number(text);
      if (format.valSize === 16) return [n & 0xffff];
      const low = n % 65536;
      const high = Math.floor(n / 65536) & 0xffff;
      // Two 16-bit registers arrive low half first; a 32-bit register is shown high word first.
      return format.regSize === 16 ? [low, high] : [high, low];
    });
  }

  function float32FromBits(bits) {
    const view = new DataView(new ArrayBuffer(4));
    view.setUint32(0, bits >>> 0);
    return view.getFloat32(0);
  }

  /* The value Vexo should have decoded from these raw words (as rawWords gives them), or null
   * where the format does not map words to values one by one. */
  function decodeWords(format, words) {
    if (format.valSize === 16) {
      if (format.regSize === 32) return null;
      return format.type === 'int' ? (words[0] >= 32768 ? words[0] - 65536 : words[0]) : words[0];
    }
    let highFirst, lowFirst;
    if (format.regSize === 16) {
      highFirst = words[0] * 65536 + words[1];
      lowFirst = words[1] * 65536 + words[0];
    } else {
      highFirst = words[0] * 65536 + words[1]; // the 32-bit register as it is
      lowFirst = words[1] * 65536 + words[0]; // its halves exchanged
    }
    switch (format.type) {
      case 'float4321':
        return float32FromBits(highFirst);
      case 'float1234':
        return float32FromBits(lowFirst);
      case 'long':
        return format.regSize === 16 ? highFirst : null;
      case 'int': {
        const u = format.regSize === 16 ? lowFirst : highFirst;
        return u >= 2147483648 ? u - 4294967296 : u;
      }
      default:
        return format.regSize === 16 ? lowFirst : highFirst;
    }
  }

  /* Whether a value as Vexo printed it agrees with its raw words: true, false, or null when it
   * cannot be told. The two come from two reads, so a changing register can make them differ. */
  function agreesWithRaw(format, text, words) {
    if (!words || words.length === 0) return null;
    const expected = decodeWords(format, words);
    if (expected === null) return null;
    const shown = valueToNumber(text);
    if (Number.isNaN(expected) || Number.isNaN(shown)) return Number.isNaN(expected) && Number.isNaN(shown);
    if (!isFloatType(format.type)) return shown === expected;
    if (!Number.isFinite(expected) || !Number.isFinite(shown)) return shown === expected;
    const tolerance = Math.max(0.5 * Math.pow(10, -format.floatPrec), Math.abs(expected) * 1e-5) + 1e-12;
    return Math.abs(shown - expected) <= tolerance;
  }

  function integerLimits(format) {
    if (format.type === 'uint') return format.valSize === 32 ? [0, 4294967295] : [0, 65535];
    return format.valSize === 32 ? [-2147483648, 2147483647] : [-32768, 32767];
  }

  /* Splits and checks the values a user typed for writing.
   * Returns { values: [numbers], problems: [{key, params}] }. */
  function parseWriteValues(text, format) {
    const problems = [];
    const tokens = String(text).split(/[\s,;]+/).filter((s) => s !== '');
    if (!WRITABLE_TYPES.includes(format.type)) problems.push({ key: 'reg.longNotWritable' });
    if (tokens.length === 0) problems.push({ key: 'reg.noValues' });
    if (tokens.length > MAX_VALUES) problems.push({ key: 'reg.tooManyValues', params: { max: MAX_VALUES } });
    const values = [];
    tokens.forEach((token, i) => {
      const position = i + 1;
      if (!/^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(token)) {
        problems.push({ key: 'reg.notANumber', params: { position, value: token } });
        return;
      }
      const n = Number(token);
      if (isFloatType(format.type)) {
        if (!Number.isFinite(n) || Math.abs(n) > 3.4028234663852886e38) {
          problems.push({ key: 'reg.floatRange', params: { position, value: token } });
        }
      } else if (!Number.isInteger(n)) {
        problems.push({ key: 'reg.notInteger', params: { position, value: token } });
      } else {
        const [min, max] = integerLimits(format);
        if (n < min || n > max) problems.push({ key: 'reg.outOfRange', params: { position, value: token, min, max } });
      }
      values.push(n);
    });
    return { values, problems };
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

  // rows: [{ address, value, raw: [words] }]
  function buildCsv(format, rows) {
    const lines = [CSV_HEADER.join(',')];
    rows.forEach((row) => {
      const raw = (row.raw || []).map(hex16).join(' ');
      lines.push([row.address, format.type, format.regSize, format.valSize, row.value, raw].map(csvField).join(','));
    });
    return lines.join('\r\n') + '\r\n';
  }

  function splitCsvLine(line) {
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
      else if (c === ',' || c === ';') {
        fields.push(field.trim());
        field = '';
      } else field += c;
    }
    fields.push(field.trim());
    return fields;
  }

  /* Reads a register list back. Accepts the exported form, or any CSV with at least the
   * columns address and value. Returns { format, rows } or { error: key }. */
  function parseCsv(text) {
    const lines = String(text).replace(/^\uFEFF/, '').split(/\r\n|\n|\r/).filter((l) => l.trim() !== '');
    if (lines.length < 2) return { error: 'reg.csvEmpty' };
    const header = splitCsvLine(lines[0]).map((h) => h.toLowerCase());
    const col = (name) => header.indexOf(name);
    if (col('address') < 0 || col('value') < 0) return { error: 'reg.csvNoColumns' };
    const rows = [];
    for (const line of lines.slice(1)) {
      const f = splitCsvLine(line);
      const address = Number(f[col('address')]);
      const value = f[col('value')];
      if (!Number.isInteger(address) || address < 0 || address > LAST_ADDRESS || value === undefined || value === '') {
        return { error: 'reg.csvBadRow', line };
      }
      rows.push({ address, value });
    }
    if (rows.length > MAX_VALUES) return { error: 'reg.csvTooMany' };
    const first = splitCsvLine(lines[1]);
    const format = normalizeFormat({
      type: col('type') >= 0 ? first[col('type')] : 'int',
      regSize: col('register_size') >= 0 ? first[col('register_size')] : 16,
      valSize: col('value_size') >= 0 ? first[col('value_size')] : 16,
      floatPrec: 2,
    });
    return { format, rows };
  }

  exports.TYPES = TYPES;
  exports.MAX_VALUES = MAX_VALUES;
  exports.isFloatType = isFloatType;
  exports.normalizeFormat = normalizeFormat;
  exports.registersPerValue = registersPerValue;
  exports.addressOf = addressOf;
  exports.checkRange = checkRange;
  exports.parseValueList = parseValueList;
  exports.valueToNumber = valueToNumber;
  exports.rawWords = rawWords;
  exports.decodeWords = decodeWords;
  exports.agreesWithRaw = agreesWithRaw;
  exports.parseWriteValues = parseWriteValues;
  exports.buildCsv = buildCsv;
  exports.parseCsv = parseCsv;
  exports.hex16 = hex16;
})(typeof module !== 'undefined' && module.exports ? module.exports : (window.Vexo.registerValues = {}));
