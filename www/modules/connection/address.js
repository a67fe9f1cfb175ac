/* The device address typed for Modbus TCP. Vexo's Modbus library connects to IPv4 addresses
 * only (it looks up no host names) and would read "010" as octal 8, so the address is checked
 * and sent in its plain form. Pure, shared with the unit tests. */
(function (exports) {
  'use strict';

  /* Returns { address } with the plain dotted form, or { problem } with a text key. */
  function parseDeviceAddress(text) {
    const typed = String(text).trim();
    if (/^\d{1,3}(\.\d{1,3}){3}$/.test(typed)) {
      const parts = typed.split('.').map(Number);
      if (parts.every((n) => n <= 255)) return { address: parts.join('.') };
    }
    if (/^[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)*\.?$/.test(typed) && /[A-Za-z]/.test(typed)) return { problem: 'conn.hostName' };
    return { problem: 'conn.badIp' };
  }

  exports.parseDeviceAddress = parseDeviceAddress;
})(typeof module !== 'undefined' && module.exports ? module.exports : (window.Vexo.connectionAddress = {}));
