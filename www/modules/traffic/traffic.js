/* Traffic module: the transactions Vexo made on the wire, newest first, with the frames in
 * hexadecimal and the device's response time, and the counters of requests, answers and
 * failures. Everything comes from Vexo's own record, not from the browser's timing. */
(function () {
  'use strict';
  const V = window.Vexo;
  const KEPT = 500;
  const REFRESH_MS = 1000;
  const FUNCTION_NAMES = [1, 2, 3, 4, 5, 6, 15, 16, 17];
  const COUNTERS = ['requests', 'answers', 'timeouts', 'exceptions', 'crcErrors'];

  let root;
  let items = []; // oldest first, as Vexo lists them
  let lastSeq = null; // the newest transaction shown
  let paused = false;
  let counters = null; // the last counters shown
  let refreshNow = null;
  const $ = (sel) => V.$(root, sel);

  function msText(ms) {
    return V.t('trf.ms', { ms: V.valueTypes.formatNumber(Number(ms).toFixed(2), V.i18n.lang) });
  }

  function functionText(fc) {
    const code = String(fc).padStart(2, '0');
    return FUNCTION_NAMES.includes(fc) ? code + ' ' + V.t('trf.fc' + fc) : code;
  }

  function addressText(item) {
    const table = V.addressing.tableOfFunction(item.fc);
    return table ? V.addressing.formatAddress(item.addr, V.notation.get(), table) : '—';
  }

  function rowOf(item) {
    return V.el('tr', { className: item.error ? 'is-error' : '', 'data-seq': String(item.seq) }, [
      V.el('td', { className: 'mono', text: V.timeOfDay(item.time) }),
      V.el('td', { text: functionText(item.fc) }),
      V.el('td', { className: 'num', text: addressText(item) }),
      V.el('td', { className: 'num', text: String(item.count) }),
      V.el('td', { className: 'frame', text: item.req }),
      V.el('td', { className: 'frame', text: item.resp }),
      V.el('td', { className: 'num', text: item.resp || !item.error ? msText(item.ms) : '—' }),
      V.el('td', { className: 'error', text: item.error }),
    ]);
  }

  function caption() {
    $('#trf-caption').textContent = items.length ? V.t('trf.caption', { count: items.length }) : V.t('trf.empty');
  }

  function renderAll() {
    $('#trf-body').replaceChildren(...items.slice().reverse().map(rowOf));
    caption();
  }

  // Adds the transactions not shown yet; at most the last 500 stay.
  function addItems(list) {
    const fresh = list.filter((item) => lastSeq === null || item.seq > lastSeq);
    if (!fresh.length) return;
    lastSeq = fresh[fresh.length - 1].seq;
    items = items.concat(fresh).slice(-KEPT);
    const body = $('#trf-body');
    body.prepend(...fresh.slice(-KEPT).reverse().map(rowOf));
    while (body.children.length > KEPT) body.lastElementChild.remove();
    caption();
  }

  function showCounters(latest) {
    counters = latest;
    COUNTERS.forEach((name) => ($('#trf-' + name).textContent = String(counters[name])));
    $('#trf-lastMs').textContent = msText(counters.lastMs);
    $('#trf-avgMs').textContent = msText(counters.avgMs);
  }

  async function refresh() {
    try {
      showCounters(await V.api('getCounters'));
      if (!paused) {
        const reply = await V.api('getTraffic', lastSeq === null ? {} : { since: lastSeq });
        // A Vexo started anew counts from 1 again.
        if (lastSeq !== null && reply.next <= lastSeq) {
          items = [];
          lastSeq = null;
          renderAll();
        }
        addItems(reply.items || []);
      }
      if ($('#trf-status').classList.contains('status-error')) V.clearStatus($('#trf-status'));
    } catch (e) {
      V.showError($('#trf-status'), e);
    }
  }

  async function resetCounters() {
    const box = $('#trf-status');
    await V.busy($('#trf-reset'), async () => {
      try {
        const reply = await V.api('resetCounters');
        V.showStatus(box, 'ok', V.t('trf.resetDone'), reply.ok);
        showCounters(await V.api('getCounters'));
      } catch (e) {
        V.showError(box, e);
      }
    });
  }

  function togglePause() {
    paused = !paused;
    $('#trf-pause').setAttribute('aria-pressed', paused ? 'true' : 'false');
    $('#trf-pause').textContent = V.t(paused ? 'trf.resume' : 'trf.pause');
    if (!paused) refreshNow();
  }

  V.defineModule('traffic', {
    titleKey: 'trf.tab',
    init(panel) {
      root = panel;
      refreshNow = V.whileShown('traffic', REFRESH_MS, refresh);
      $('#trf-reset').addEventListener('click', resetCounters);
      $('#trf-pause').addEventListener('click', togglePause);
      const retranslate = () => {
        $('#trf-pause').textContent = V.t(paused ? 'trf.resume' : 'trf.pause');
        if (counters) showCounters(counters);
        renderAll();
      };
      V.on('langchange', retranslate);
      V.on('notationchange', renderAll);
    },
    onShow() {
      refreshNow();
    },
  });
})();
