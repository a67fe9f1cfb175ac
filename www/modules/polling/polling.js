/* Read definitions module: the reads Vexo polls by itself, each in a panel of its own with
 * its table of latest values; adding, changing and deleting them, starting and stopping the
 * polling, and the value log they write. The page only shows what Vexo polled: it asks for
 * the latest results at a modest rate. */
(function () {
  'use strict';
  const V = window.Vexo;
  const RESULTS_MS = 1000;
  const LOG_EVERY = 5; // result refreshes per log size refresh
  const NAME_MAX = 40;
  const INTERVAL_MIN = 100;
  const INTERVAL_MAX = 86400000;

  let root;
  let T;
  let definitions = [];
  let pollingOn = false;
  let editing = null; // the definition in the form; { } for a new one
  const latest = new Map(); // id -> the latest result shown
  let refreshes = 0;
  let logInfo = null; // the last size of the value log shown
  let refreshNow = null;
  const $ = (sel) => V.$(root, sel);

  /* ---------- texts ---------- */

  function formatAddress(address, table) {
    return V.addressing.formatAddress(address, V.notation.get(), table);
  }

  function registersOf(def) {
    if (T.isBitTable(def.table) || def.type === 'ascii') return def.count;
    return def.count * T.registersOf(def.type);
  }

  function summary(def) {
    const last = def.addr + registersOf(def) - 1;
    const range = last === def.addr ? formatAddress(def.addr, def.table) : formatAddress(def.addr, def.table) + '–' + formatAddress(last, def.table);
    const parts = [V.t('data.table.' + def.table) + ' ' + range];
    if (!T.isBitTable(def.table)) parts.push(V.t('data.type.' + def.type) + ' ' + def.order);
    parts.push(V.t('pol.every', { ms: def.intervalMs }), V.t('pol.slaveNo', { slave: def.slave }));
    if (def.log) parts.push(V.t('pol.logged'));
    if (!def.enabled) parts.push(V.t('pol.off'));
    return parts.join(' · ');
  }

  function sizeText(bytes) {
    const units = [['MiB', 1048576], ['KiB', 1024]];
    const unit = units.find(([, size]) => bytes >= size);
    const text = unit ? (bytes / unit[1]).toFixed(1) + ' ' + unit[0] : bytes + ' B';
    return T.formatNumber(text, V.i18n.lang);
  }

  /* ---------- the definitions ---------- */

  function cardOf(def) {
    const titleId = 'pol-def-' + def.id;
    const edit = V.el('button', { type: 'button', className: 'btn secondary small', text: V.t('pol.edit'), 'aria-describedby': titleId });
    const remove = V.el('button', { type: 'button', className: 'btn danger small', text: V.t('pol.delete'), 'aria-describedby': titleId });
    edit.addEventListener('click', () => openForm(def));
    remove.addEventListener('click', () => deleteDefinition(def));
    // The table's scrolling region carries the name; a named section would repeat it.
    return V.el('section', { className: 'card pol-def', 'data-id': String(def.id) }, [
      V.el('div', { className: 'card-head' }, [
        V.el('h3', { id: titleId, text: def.name }),
        V.el('div', { className: 'actions' }, [edit, remove]),
      ]),
      V.el('p', { className: 'pol-summary', text: summary(def) }),
      V.el('p', { className: 'pol-result', text: V.t('pol.notYet') }),
      V.el('div', { className: 'table-wrap', tabindex: '0', role: 'region', 'aria-labelledby': titleId }, [
        V.el('table', { className: 'data' }, [
          V.el('thead', {}, [V.el('tr', {}, [
            V.el('th', { scope: 'col', text: V.t('data.colAddress') }),
            V.el('th', { scope: 'col', text: V.t('data.colValue') }),
            V.el('th', { scope: 'col', text: V.t('data.colRawHex') }),
          ])]),
          V.el('tbody'),
        ]),
      ]),
    ]);
  }

  function renderDefinitions() {
    $('#pol-list').replaceChildren(...definitions.map(cardOf));
    definitions.forEach((def) => latest.has(def.id) && showResult(def, latest.get(def.id)));
    showState();
  }

  function showState() {
    const button = $('#pol-toggle');
    button.setAttribute('aria-pressed', pollingOn ? 'true' : 'false');
    button.textContent = V.t(pollingOn ? 'pol.stop' : 'pol.start');
    let state = 'pol.none';
    if (definitions.length) state = pollingOn ? 'pol.polling' : 'pol.stopped';
    $('#pol-state').textContent = V.t(state, { count: definitions.filter((d) => d.enabled).length });
  }

  function showResult(def, result) {
    const card = root.querySelector('.pol-def[data-id="' + def.id + '"]');
    if (!card) return;
    const line = card.querySelector('.pol-result');
    const body = card.querySelector('tbody');
    const rows = result.error ? null : T.replyRows(def.table, def.type, def.addr, def.count, result);
    line.classList.toggle('is-error', !rows);
    body.classList.toggle('is-stale', !rows);
    if (!rows) {
      const why = result.error ? V.explainError(result.error) : V.t('data.badReply');
      line.textContent = V.t('pol.failed', { time: V.timeOfDay(result.time), error: why });
      return;
    }
    const ms = T.formatNumber(Number(result.ms).toFixed(2), V.i18n.lang);
    line.textContent = V.t('pol.readAt', { time: V.timeOfDay(result.time), ms });
    if (body.children.length !== rows.length) {
      body.replaceChildren(...rows.map(() => V.el('tr', {}, [
        V.el('th', { scope: 'row', className: 'num' }), V.el('td', { className: 'num' }, [V.el('span', { className: 'value' })]), V.el('td', { className: 'raw' }),
      ])));
    }
    const bits = T.isBitTable(def.table);
    rows.forEach((row, i) => {
      const tr = body.children[i];
      tr.querySelector('th').textContent = formatAddress(row.address, def.table);
      tr.querySelector('.value').textContent = T.displayValue(row.value, bits ? 'bit' : def.type, V.i18n.lang);
      tr.querySelector('.raw').textContent = bits ? String(row.value) : T.wordsHex(row.regs);
    });
  }

  async function loadDefinitions() {
    const reply = await V.api('getDefinitions');
    definitions = reply.definitions || [];
    pollingOn = reply.polling === true;
    latest.clear();
    renderDefinitions();
  }

  async function refresh() {
    try {
      if (refreshes++ % LOG_EVERY === 0) await showLogInfo();
      const reply = await V.api('getResults');
      pollingOn = reply.polling === true;
      showState();
      (reply.results || []).forEach((result) => {
        const def = definitions.find((d) => d.id === result.id);
        // A read that sent nothing has seq 0: its time tells it apart.
        const shown = latest.get(result.id);
        if (!def || (shown && shown.seq === result.seq && shown.time === result.time)) return;
        latest.set(result.id, result);
        showResult(def, result);
      });
    } catch (e) {
      V.showError($('#pol-status'), e);
    }
  }

  async function setPolling() {
    const box = $('#pol-status');
    await V.busy($('#pol-toggle'), async () => {
      try {
        const reply = await V.api('setPolling', { on: pollingOn ? 0 : 1 });
        pollingOn = !pollingOn;
        showState();
        V.showStatus(box, 'ok', V.t(pollingOn ? 'pol.started' : 'pol.stoppedNow'), reply.ok);
      } catch (e) {
        V.showError(box, e);
      }
    });
  }

  async function deleteDefinition(def) {
    if (!window.confirm(V.t('pol.confirmDelete', { name: def.name }))) return;
    const box = $('#pol-status');
    try {
      const reply = await V.api('deleteDefinition', { id: def.id });
      if (editing && editing.id === def.id) closeForm();
      await loadDefinitions();
      V.showStatus(box, 'ok', V.t('pol.deleted', { name: def.name }), reply.ok);
    } catch (e) {
      V.showError(box, e);
    }
  }

  /* ---------- the form ---------- */

  // Offers what the chosen table takes and says what the fields accept.
  function syncForm() {
    const table = $('#pol-table').value;
    const bits = T.isBitTable(table);
    V.fillOptions($('#pol-type'), T.TYPE_NAMES.map((t) => [t, V.t('data.type.' + t)]), $('#pol-type').value || 'int16');
    V.fillOptions($('#pol-order'), T.ORDERS.map((o) => [o, o + ' — ' + V.t('data.orderName.' + o)]), $('#pol-order').value || 'ABCD');
    $('#pol-type').disabled = bits;
    $('#pol-order').disabled = bits;
    const range = V.addressing.addressRange(V.notation.get(), table);
    $('#pol-addr-hint').textContent = V.t(range.last5 ? 'addr.rangeModicon' : 'addr.range', range);
    const max = T.requestLimit(table, $('#pol-type').value, false);
    $('#pol-count-hint').textContent = V.t(!bits && $('#pol-type').value === 'ascii' ? 'data.countHintText' : 'data.countHint', { max });
  }

  function openForm(def) {
    editing = def || {};
    const d = Object.assign({ name: '', table: 'holding', slave: V.state.target ? V.state.target.slave : 1, addr: 0, count: 10,
      type: 'int16', order: 'ABCD', intervalMs: 1000, enabled: true, log: false }, def);
    formTitle();
    $('#pol-name').value = d.name;
    $('#pol-table').value = d.table;
    $('#pol-type').value = d.type;
    $('#pol-order').value = d.order;
    syncForm();
    $('#pol-type').value = d.type;
    $('#pol-order').value = d.order;
    $('#pol-slave').value = String(d.slave);
    $('#pol-addr').value = formatAddress(d.addr, d.table);
    $('#pol-count').value = String(d.count);
    $('#pol-interval').value = String(d.intervalMs);
    $('#pol-enabled').checked = d.enabled;
    $('#pol-log').checked = d.log;
    V.clearStatus($('#pol-form-status'));
    $('#pol-form').hidden = false;
    $('#pol-form').scrollIntoView({ block: 'nearest' });
    $('#pol-name').focus();
  }

  function closeForm() {
    editing = null;
    $('#pol-form').hidden = true;
  }

  // The form as the parameters of saveDefinition; null (with the problems shown) when invalid.
  function formParams() {
    const table = $('#pol-table').value;
    const bits = T.isBitTable(table);
    const type = $('#pol-type').value;
    const problems = [];
    const name = $('#pol-name').value.trim();
    $('#pol-name').setAttribute('aria-invalid', name && name.length <= NAME_MAX ? 'false' : 'true');
    if (!name || name.length > NAME_MAX) problems.push(V.t('pol.badName', { max: NAME_MAX }));
    const slave = V.readInt($('#pol-slave'), 0, 247);
    if (slave === null) problems.push(V.t('pol.badSlave'));
    const at = V.addressing.parseAddress($('#pol-addr').value, V.notation.get(), table);
    $('#pol-addr').setAttribute('aria-invalid', at.problem ? 'true' : 'false');
    if (at.problem) {
      const params = Object.assign({}, at.params, { table: at.params.table && V.t('data.table.' + at.params.table) });
      problems.push(V.t(at.problem, Object.assign(params, { range: V.t(params.last5 ? 'addr.rangeModicon' : 'addr.range', params) })));
    }
    const max = T.requestLimit(table, type, false);
    const count = V.readInt($('#pol-count'), 1, max);
    if (count === null) problems.push(V.t('data.badCount', { max }));
    const params = { name, table, slave, addr: at.address, count };
    if (!at.problem && count !== null && at.address + registersOf(Object.assign({ type }, params)) - 1 > V.addressing.LAST_ADDRESS) problems.push(V.t('data.pastEnd'));
    const interval = V.readInt($('#pol-interval'), INTERVAL_MIN, INTERVAL_MAX);
    if (interval === null) problems.push(V.t('pol.badInterval'));
    if (problems.length) {
      V.showStatus($('#pol-form-status'), 'error', problems.join(' '));
      return null;
    }
    if (!bits) Object.assign(params, { type, order: $('#pol-order').value });
    Object.assign(params, { intervalMs: interval, enabled: $('#pol-enabled').checked ? 1 : 0, log: $('#pol-log').checked ? 1 : 0 });
    if (editing.id !== undefined) params.id = editing.id;
    return params;
  }

  async function save() {
    const params = formParams();
    if (!params) return;
    await V.busy($('#pol-save'), async () => {
      try {
        const reply = await V.api('saveDefinition', params, { post: true });
        closeForm();
        await loadDefinitions();
        V.showStatus($('#pol-status'), 'ok', V.t('pol.saved', { name: params.name }), reply.ok);
        refreshNow();
      } catch (e) {
        V.showError($('#pol-form-status'), e);
      }
    });
  }

  /* ---------- the value log ---------- */

  async function showLogInfo() {
    logInfo = await V.api('getLogInfo');
    showLogSize();
  }

  function showLogSize() {
    if (!logInfo) return;
    $('#pol-log-size').textContent = V.t('pol.logSize', { size: sizeText(logInfo.bytes), max: sizeText(logInfo.maxBytes) });
    $('#pol-log-size').dataset.bytes = String(logInfo.bytes);
  }

  function formTitle() {
    $('#pol-form-title').textContent = editing && editing.id !== undefined ? V.t('pol.editTitle', { name: editing.name }) : V.t('pol.newTitle');
  }

  async function clearLog() {
    if (!window.confirm(V.t('pol.confirmClear'))) return;
    const box = $('#pol-log-status');
    await V.busy($('#pol-clear'), async () => {
      try {
        const reply = await V.api('clearLog');
        await showLogInfo();
        V.showStatus(box, 'ok', V.t('pol.logCleared'), reply.ok);
      } catch (e) {
        V.showError(box, e);
      }
    });
  }

  async function load() {
    try {
      await loadDefinitions();
      await refresh();
    } catch (e) {
      V.showError($('#pol-status'), e);
    }
  }

  V.defineModule('polling', {
    titleKey: 'pol.tab',
    init(panel) {
      root = panel;
      T = V.valueTypes;
      refreshNow = V.whileShown('polling', RESULTS_MS, refresh);
      $('#pol-toggle').addEventListener('click', setPolling);
      $('#pol-add').addEventListener('click', () => openForm(null));
      $('#pol-cancel').addEventListener('click', closeForm);
      ['#pol-table', '#pol-type'].forEach((s) => $(s).addEventListener('change', syncForm));
      $('#pol-form').addEventListener('submit', (e) => {
        e.preventDefault();
        save();
      });
      $('#pol-clear').addEventListener('click', clearLog);
      syncForm();
      const rerender = () => {
        syncForm();
        formTitle();
        showLogSize();
        renderDefinitions();
      };
      V.on('langchange', rerender);
      V.on('notationchange', ({ from, to }) => {
        // The address typed so far, in the new notation.
        $('#pol-addr').value = V.addressing.renotate($('#pol-addr').value, from, to, $('#pol-table').value);
        rerender();
      });
    },
    onShow() {
      load();
    },
  });
})();
