/* The value types of the register tables and the bytes behind them: how many registers a
 * value takes, where its bytes lie for each byte order, values shown in decimal (with the
 * decimal mark of the interface language), hexadecimal or binary, and values typed for
 * writing, checked against their type before anything is sent. 64-bit integers stay exact
 * decimal strings: they never pass through a JavaScript number. Pure, shared with the unit
 * tests. */
(function (exports) {
  'use strict';

  // kind: 'int', 'float' or 'text'; bytes of one value.
  const TYPES = {
    int16: { kind: 'int', bytes: 2, signed: true },
    uint16: { kind: 'int', bytes: 2, signed: false },
    int32: { kind: 'int', bytes: 4, signed: true },
    uint32: { kind: 'int', bytes: 4, signed: false },
    float32: { kind: 'float', bytes: 4 },
    int64: { kind: 'int', bytes: 8, signed: true },
    uint64: { kind: 'int', bytes: 8, signed: false },
    float64: { kind: 'float', bytes: 8 },
    ascii: { kind: 'text', bytes: 2 },
  };
  const TYPE_NAMES = Object.keys(TYPES);
  const ORDERS = ['ABCD', 'CDAB', 'BADC', 'DCBA'];
  const COMMA_LANGUAGES = ['de', 'es', 'pl'];

  // Registers per value; an ascii text counts its registers itself.
  function registersOf(type) {
    return TYPES[type] ? TYPES[type].bytes / 2 : 1;
  }

  // Whether a type holds one register, where only the byte swap of an order matters.
  function isOneRegister(type) {
    return registersOf(type) === 1;
  }

  /* The registers of one value in the order of its bytes, most significant first, from the
   * registers as they travel, and back: word order reversed for CDAB and DCBA, the bytes of
   * each register exchanged for BADC and DCBA. Both steps undo themselves. */
  function reorder(words, order) {
    const list = order === 'CDAB' || order === 'DCBA' ? words.slice().reverse() : words.slice();
    return order === 'BADC' || order === 'DCBA' ? list.map((w) => ((w & 0xff) << 8) | ((w >> 8) & 0xff)) : list;
  }

  function valueBytes(words, order) {
    return reorder(words, order).flatMap((w) => [(w >> 8) & 0xff, w & 0xff]);
  }

  // A value's bytes as one hexadecimal number, most significant first: 0x41480000.
  function valueHex(words, order) {
    return '0x' + valueBytes(words, order).map((b) => b.toString(16).toUpperCase().padStart(2, '0')).join('');
  }

  // Registers as they travel, in hexadecimal: 0x4148 0x0000.
  function wordsHex(words) {
    return words.map((w) => '0x' + w.toString(16).toUpperCase().padStart(4, '0')).join(' ');
  }

  // A value's bits, most significant first, in groups of eight.
  function valueBinary(words, order) {
    return valueBytes(words, order).map((b) => b.toString(2).padStart(8, '0')).join(' ');
  }

  /* ---------- replies ---------- */

  function isBitTable(table) {
    return table === 'coils' || table === 'discrete';
  }

  // One request carries at most 2000 bits or 125 registers read, 1968 bits or 123 written.
  const LIMITS = { read: { bits: 2000, registers: 125 }, write: { bits: 1968, registers: 123 } };

  /* The most values one request may carry: bits, values, or for ascii registers. */
  function requestLimit(table, type, write) {
    const limits = LIMITS[write ? 'write' : 'read'];
    return isBitTable(table) ? limits.bits : Math.floor(limits.registers / registersOf(type));
  }

  /* The rows of a read of count values from start, as readTable and the polled results
   * give them: [{ address, value, regs }], each value with the registers (or the bit) it was
   * decoded from; an ascii text is one row. Null when the reply does not hold what was
   * asked for. */
  function replyRows(table, type, start, count, reply) {
    const values = reply.values;
    const regs = reply.regs;
    if (!Array.isArray(values) || !Array.isArray(regs) || !regs.every((r) => Number.isInteger(r) && r >= 0 && r <= 0xffff)) return null;
    if (!isBitTable(table) && type === 'ascii') {
      if (values.length !== 1 || typeof values[0] !== 'string' || regs.length !== count) return null;
      return [{ address: start, value: values[0], regs }];
    }
    const per = isBitTable(table) ? 1 : registersOf(type);
    if (values.length !== count || regs.length !== count * per) return null;
    return values.map((value, i) => ({ address: start + i * per, value, regs: regs.slice(i * per, (i + 1) * per) }));
  }

  /* ---------- numbers in the interface language ---------- */

  function decimalMark(lang) {
    return COMMA_LANGUAGES.includes(lang) ? ',' : '.';
  }

  // A number for reading: the decimal mark of the language, never a thousands separator.
  function formatNumber(value, lang) {
    return String(value).replace('.', decimalMark(lang));
  }

  /* A value Vexo decoded, for reading: numbers with the language's decimal mark, NaN and
   * the infinities as people read them, texts and 64-bit digits as they are. */
  function displayValue(value, type, lang) {
    if (type === 'ascii') return String(value);
    if (value === 'NaN') return 'NaN';
    if (value === 'Infinity') return '+∞';
    if (value === '-Infinity') return '−∞';
    return formatNumber(value, lang);
  }

  // A value as a number for a chart; 64-bit integers only approximately.
  function valueToNumber(value) {
    if (value === 'Infinity') return Infinity;
    if (value === '-Infinity') return -Infinity;
    return typeof value === 'number' ? value : Number(value);
  }

  /* ---------- values typed for writing ---------- */

  /* One decimal number written with the mark given: digits, at most one mark, an optional
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

  function integerLimits(type) {
    const bits = BigInt(TYPES[type].bytes * 8);
    return TYPES[type].signed ? [-(1n << (bits - 1n)), (1n << (bits - 1n)) - 1n] : [0n, (1n << bits) - 1n];
  }

  // An integer value as it travels to Vexo: a number, or a decimal string for 64 bits.
  function integerValue(big, type) {
    return TYPES[type].bytes === 8 ? big.toString() : Number(big);
  }

  /* A value given by its bits (0x41480000, 0b1010): the number of the type with exactly
   * these bits, as the hexadecimal and binary display show it. */
  function fromBits(bits, type) {
    const t = TYPES[type];
    const width = BigInt(t.bytes * 8);
    if (bits >= 1n << width) return null;
    if (t.kind === 'int') return integerValue(t.signed && bits >= 1n << (width - 1n) ? bits - (1n << width) : bits, type);
    const view = new DataView(new ArrayBuffer(8));
    if (t.bytes === 4) {
      view.setUint32(0, Number(bits));
      return view.getFloat32(0);
    }
    view.setBigUint64(0, bits);
    return view.getFloat64(0);
  }

  /* Reads one value for writing; where names it in the problems ({position} or {address}).
   * Returns { value } (a number, or a decimal string for 64-bit integers) or { problem }. */
  function parseValue(token, type, mark, where) {
    const params = Object.assign({ value: token }, where);
    const problem = (key, more) => ({ problem: { key, params: Object.assign(params, more) } });
    const t = TYPES[type];
    const coded = /^0x([0-9a-f]+)$/i.exec(token) || /^0b([01]+)$/i.exec(token);
    if (coded) {
      const value = fromBits(BigInt((token[1].toLowerCase() === 'x' ? '0x' : '0b') + coded[1]), type);
      if (value === null) return problem('reg.tooManyBits', { bits: t.bytes * 8 });
      if (typeof value === 'number' && !Number.isFinite(value)) return problem('reg.bitsNotFinite');
      return { value };
    }
    if (t.kind === 'int' && /^[+-]?\d+$/.test(token)) {
      const big = BigInt(token);
      const [min, max] = integerLimits(type);
      if (big < min || big > max) return problem('reg.outOfRange', { min: String(min), max: String(max) });
      return { value: integerValue(big, type) };
    }
    const value = parseNumber(token, mark);
    if (value === null) {
      const other = mark === ',' ? '.' : ',';
      if (parseNumber(token, other) !== null) return problem('reg.wrongMark', { mark, example: '12' + mark + '5' });
      return problem('reg.notANumber');
    }
    if (t.kind === 'int') {
      // An exponent form such as 1e3; 64-bit values must be written out digit by digit.
      if (!Number.isInteger(value)) return problem('reg.notInteger');
      if (Number.isSafeInteger(value)) return parseValue(String(value), type, mark, where);
      const [min, max] = integerLimits(type);
      const fits = value >= Number(min) && value <= Number(max);
      return fits ? problem('reg.digitsNeeded') : problem('reg.outOfRange', { min: String(min), max: String(max) });
    }
    const stored = t.bytes === 4 ? Math.fround(value) : value;
    if (!Number.isFinite(stored)) return problem('reg.floatRange', { bits: t.bytes * 8 });
    if (stored === 0 && value !== 0) return problem('reg.floatTiny', { bits: t.bytes * 8 });
    return { value };
  }

  // A bit for a coil: 0 or 1.
  function parseBit(token, where) {
    if (token === '0' || token === '1') return { value: Number(token) };
    return { problem: { key: 'reg.notABit', params: Object.assign({ value: token }, where) } };
  }

  /* A text for registers: characters up to U+00FF, one byte each, two to a register. */
  function parseText(text, maxRegisters) {
    if (text === '') return { problem: { key: 'reg.noValues' } };
    const bad = Array.from(text).find((c) => c.codePointAt(0) > 0xff);
    if (bad) return { problem: { key: 'reg.notLatin1', params: { value: bad } } };
    if (Math.ceil(text.length / 2) > maxRegisters) return { problem: { key: 'reg.textTooLong', params: { max: maxRegisters * 2 } } };
    return { value: text };
  }

  /* Whether a value read back is the value written: integers and texts exactly, floats at
   * the precision of their type. */
  function sameValue(type, written, read) {
    if (type === 'ascii') return written === read;
    if (type === 'bit' || TYPES[type].kind === 'int') {
      return /^-?\d+$/.test(String(read)) && BigInt(String(written)) === BigInt(String(read));
    }
    const value = valueToNumber(read);
    return TYPES[type].bytes === 4 ? Math.fround(value) === Math.fround(written) : value === written;
  }

  Object.assign(exports, {
    TYPES, TYPE_NAMES, ORDERS, registersOf, isOneRegister, reorder, valueBytes, valueHex, valueBinary, wordsHex,
    isBitTable, requestLimit, replyRows,
    decimalMark, formatNumber, displayValue, valueToNumber, parseNumber, splitValues, parseValue,
    parseBit, parseText, sameValue,
  });
})(typeof module !== 'undefined' && module.exports ? module.exports : (window.Vexo.valueTypes = {}));
