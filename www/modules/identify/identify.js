/* Identify module: the slave's report of slave id, with its description and raw bytes. */
(function () {
  'use strict';
  const V = window.Vexo;
  let root;
  let last = null;
  const $ = (sel) => V.$(root, sel);

  function runIndicator(bytes) {
    if (bytes.length < 2) return '—';
    const b = bytes[1];
    if (b === 0xff) return V.t('id.on') + ' (0xFF)';
    if (b === 0x00) return V.t('id.off') + ' (0x00)';
    return hex8(b);
  }

  function hex8(b) {
    return '0x' + b.toString(16).toUpperCase().padStart(2, '0');
  }

  function printable(b) {
    return b >= 32 && b < 127 ? String.fromCharCode(b) : '·';
  }

  function render(reply) {
    last = reply;
    const bytes = Array.isArray(reply.descArray) ? reply.descArray : [];
    $('#id-id').textContent = String(reply.id);
    $('#id-runind').textContent = runIndicator(bytes);
    $('#id-desc').textContent = reply.desc === '' ? V.t('id.noDesc') : reply.desc;
    $('#id-len').textContent = V.t('id.bytesCount', { count: bytes.length });
    const body = $('#id-bytes tbody');
    body.replaceChildren();
    bytes.forEach((b, i) => body.append(V.el('tr', {}, [
      V.el('th', { scope: 'row', className: 'num', text: String(i) }),
      V.el('td', { className: 'num', text: String(b) }),
      V.el('td', { className: 'mono', text: hex8(b) }),
      V.el('td', { className: 'mono', text: i < 2 ? '' : printable(b) }), // bytes 0 and 1 are no text
    ])));
    $('#id-result').hidden = false;
  }

  async function identify() {
    const box = $('#id-status');
    await V.busy($('#id-run'), async () => {
      const started = Date.now();
      V.showStatus(box, 'busy', V.t('id.asking'));
      const ticker = setInterval(() => {
        V.showStatus(box, 'busy', V.t('id.waiting', { seconds: Math.round((Date.now() - started) / 1000) }));
      }, 1000);
      try {
        const reply = await V.api('identifySlave');
        if (typeof reply.id !== 'number') throw new V.ApiError(V.t('err.unreadable'), JSON.stringify(reply));
        render(reply);
        V.showStatus(box, 'ok', V.t('id.done'));
      } catch (e) {
        V.showError(box, e);
      } finally {
        clearInterval(ticker);
      }
    });
  }

  V.defineModule('identify', {
    titleKey: 'id.tab',
    init(panel) {
      root = panel;
      $('#id-run').addEventListener('click', identify);
      V.on('langchange', () => last && render(last));
    },
  });
})();
