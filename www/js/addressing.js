/* Addresses of coils, inputs and registers as people write them, and the 0-based protocol
 * address that travels. Three notations: the protocol address itself ('zero'), numbers from
 * 1 ('one'), and Modicon numbers whose first digit names the table ('modicon': 0xxxx coils,
 * 1xxxx discrete inputs, 3xxxx input registers, 4xxxx holding registers; five digits up to
 * x9999, six digits up to x65536). One rule serves both directions, so what the page shows
 * is what it accepts. Pure, shared with the unit tests. */
(function (exports) {
  'use strict';

  const NOTATIONS = ['zero', 'one', 'modicon'];
  const LAST_ADDRESS = 65535;
  const PREFIX = { coils: '0', discrete: '1', input: '3', holding: '4' };
  const TABLE_OF_PREFIX = { 0: 'coils', 1: 'discrete', 3: 'input', 4: 'holding' };

  // The first number of a notation: what protocol address 0 is called.
  function offset(notation) {
    return notation === 'zero' ? 0 : 1;
  }

  /* The text shown for a protocol address. Modicon numbers keep five digits while they can
   * and take six above x9999. */
  function formatAddress(address, notation, table) {
    if (notation !== 'modicon') return String(address + offset(notation));
    const number = address + 1;
    return PREFIX[table] + String(number).padStart(number <= 9999 ? 4 : 5, '0');
  }

  // What an address field accepts, for the hint beside it and for problems.
  function addressRange(notation, table) {
    if (notation !== 'modicon') return { first: formatAddress(0, notation, table), last: formatAddress(LAST_ADDRESS, notation, table) };
    return { first: formatAddress(0, notation, table), last5: formatAddress(9998, notation, table), first6: PREFIX[table] + '00001', last: formatAddress(LAST_ADDRESS, notation, table) };
  }

  function badAddress(text, notation, table) {
    return { problem: 'addr.bad', params: Object.assign({ text }, addressRange(notation, table)) };
  }

  // A Modicon number: its first digit names the table; fewer than five digits are a coil
  // number whose leading zeros were left out.
  function fromModicon(digits, table) {
    if (digits.length > 6) return null;
    const padded = digits.padStart(5, '0');
    const named = TABLE_OF_PREFIX[padded[0]];
    const number = Number(padded.slice(1));
    const last = padded.length === 5 ? 9999 : LAST_ADDRESS + 1;
    if (!named || number < 1 || number > last) return null;
    if (named !== table) return { problem: 'addr.otherTable', params: { text: digits, table: named } };
    return { address: number - 1 };
  }

  /* The protocol address of an address typed in a notation for a table: { address } or
   * { problem, params }. Hexadecimal (0x10, any letter case) writes the number of the
   * 0-based or 1-based notation; Modicon numbers are decimal by their nature. */
  function parseAddress(text, notation, table) {
    const typed = String(text).trim();
    const hex = /^0x([0-9a-f]{1,5})$/i.exec(typed);
    if (notation === 'modicon') {
      const result = /^\d+$/.test(typed) ? fromModicon(typed, table) : null;
      return result || badAddress(typed, notation, table);
    }
    if (!hex && !/^\d{1,6}$/.test(typed)) return badAddress(typed, notation, table);
    const address = (hex ? parseInt(hex[1], 16) : Number(typed)) - offset(notation);
    return address >= 0 && address <= LAST_ADDRESS ? { address } : badAddress(typed, notation, table);
  }

  /* An address field's text when the notation changes: rewritten when it reads as an address
   * in the old one, left as typed otherwise, for the user to mend. */
  function renotate(text, from, to, table) {
    const typed = parseAddress(text, from, table);
    return typed.problem ? text : formatAddress(typed.address, to, table);
  }

  /* The table a function code works on, for addresses shown beside a transaction; null for
   * functions without one. */
  function tableOfFunction(fc) {
    return { 1: 'coils', 5: 'coils', 15: 'coils', 2: 'discrete', 3: 'holding', 6: 'holding', 16: 'holding', 4: 'input' }[fc] || null;
  }

  Object.assign(exports, { NOTATIONS, LAST_ADDRESS, formatAddress, parseAddress, renotate, addressRange, tableOfFunction });
})(typeof module !== 'undefined' && module.exports ? module.exports : (window.Vexo.addressing = {}));
