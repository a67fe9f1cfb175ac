/* The device address typed for Modbus TCP: an IPv4 address, an IPv6 address or a host name,
 * which Vexo looks up once when it connects. The library would read "010" in an IPv4 address as
 * octal 8, so such an address is sent in its plain form. Pure, shared with the unit tests. */
(function (exports) {
  'use strict';

  const IPV4 = /^\d{1,3}(\.\d{1,3}){3}$/;
  const IPV6 = /^[0-9A-Fa-f:.]*:[0-9A-Fa-f:.]*$/;
  const LABEL = /^(?!-)[A-Za-z0-9-]{1,63}(?<!-)$/;

  function isHostName(text) {
    const name = text.endsWith('.') ? text.slice(0, -1) : text;
    // All-numeric dotted text is a mistyped IPv4 address, not a name.
    return name.length > 0 && name.length <= 253 && /[A-Za-z]/.test(name) && name.split('.').every((label) => LABEL.test(label));
  }

  /* Returns { address } in the form to send, or { problem } with a text key. */
  function parseDeviceAddress(text) {
    const typed = String(text).trim();
    if (IPV4.test(typed)) {
      const parts = typed.split('.').map(Number);
      return parts.every((n) => n <= 255) ? { address: parts.join('.') } : { problem: 'conn.badIp' };
    }
    const unbracketed = typed.replace(/^\[(.*)\]$/, '$1');
    if (IPV6.test(unbracketed) && (unbracketed.match(/::/g) || []).length <= 1 && unbracketed.split(':').length <= 8) {
      return { address: unbracketed.toLowerCase() };
    }
    if (isHostName(typed)) return { address: typed };
    return { problem: 'conn.badIp' };
  }

  exports.parseDeviceAddress = parseDeviceAddress;
})(typeof module !== 'undefined' && module.exports ? module.exports : (window.Vexo.connectionAddress = {}));
