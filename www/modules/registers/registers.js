/* Registers module: read any of the four data tables in any value type and byte order, with
 * the registers of the same read beside the values (shown in decimal, hexadecimal or binary),
 * poll with a live chart, write values or a loaded list exactly at their addresses, export
 * CSV or a PDF report. Addresses are shown and typed in the notation the user picks. */
(function () {
  'use strict';
  const V = window.Vexo;
  // The shared helpers, taken at init: scripts load in any order.
  let R;
  let T;
  const MIN_INTERVAL_MS = 200;
  const MAX_CHART_SERIES = 8;
  const PLAN_VALUES_SHOWN = 8;
  const ORDER_LETTERS = {
    1: { ABCD: 'AB', BADC: 'BA' },
    2: { ABCD: 'ABCD', CDAB: 'CDAB', BADC: 'BADC', DCBA: 'DCBA' },
    4: { ABCD: 'ABCDEFGH', CDAB: 'GHEFCDAB', BADC: 'BADCFEHG', DCBA: 'HGFEDCBA' },
  };

  let root;
  let chart;
  let polling = false;
  let poll = { reads: 0, failed: 0, interval: 0, lastFailed: false, timed: 0, sumMs: 0, lastMs: 0 };
  // What the table shows: { format, start, rows: [{address, value, regs}], source: 'device'|'file', time, fc, ms }
  let shown = null;
  // A loaded list waiting to be written: { name, rows, decimalMark, format (null: the form's) }
  let list = null;
  const charted = new Set();

  const $ = (sel) => V.$(root, sel);

  /* ---------- addresses ---------- */

  function formatAddress(address, table) {
    return V.addressing.formatAddress(address, V.notation.get(), table);
  }

  function spanText(first, last, table) {
    return first === last ? formatAddress(first, table) : formatAddress(first, table) + '–' + formatAddress(last, table);
  }

  // The protocol address in an address field, marking the field; { address } or { problem, params }.
  function fieldAddress(input, table) {
    const result = V.addressing.parseAddress(input.value, V.notation.get(), table);
    input.setAttribute('aria-invalid', result.problem ? 'true' : 'false');
    return result;
  }

  // Rewrites an address field in another notation, when it held a good address.
  function renotate(input, table, from) {
    input.value = V.addressing.renotate(input.value, from, V.notation.get(), table);
  }

  /* ---------- the format fields ---------- */

  function formFormat() {
    const choice = $('#reg-table').value;
    return R.normalizeFormat({
      table: choice === 'holding32' ? 'holding' : choice,
      regSize: choice === 'holding32' ? 32 : 16,
      type: $('#reg-type').value,
      order: $('#reg-order').value,
      floatPrec: $('#reg-prec').value,
    });
  }

  function orderLabel(format, order) {
    if (format.type === 'bit') return '—';
    if (format.type === 'ascii') return V.t('data.orderText.' + order);
    if (R.isLegacy(format)) return V.t('reg.order32.' + order);
    return ORDER_LETTERS[T.registersOf(format.type)][order] + ' — ' + V.t('data.orderName.' + order);
  }

  /* Offers the types and byte orders of the chosen table, keeps the other fields to what
   * applies, and says what the address and count fields take. */
  function syncFormatFields() {
    const chosen = formFormat();
    V.fillOptions($('#reg-type'), R.typesFor(chosen.table, chosen.regSize).map((t) => [t, V.t('data.type.' + t)]), chosen.type);
    const f = formFormat();
    V.fillOptions($('#reg-order'), R.ordersFor(f).map((o) => [o, orderLabel(f, o)]), f.order);
    $('#reg-type').disabled = f.type === 'bit' || polling;
    $('#reg-order').disabled = R.ordersFor(f).length < 2 || polling;
    $('#reg-view').disabled = f.type === 'bit' || f.type === 'ascii';
    $('#reg-prec-field').hidden = !(R.isLegacy(f) && f.type === 'float32');
    $('#reg-prec').disabled = !R.decimalsApply(f) || polling;
    $('#reg-prec-hint').textContent = R.decimalsApply(f) ? '' : V.t('reg.precSignificant');
    $('#reg-addr-hint').textContent = addressHint(f.table);
    const max = R.maxValues(f, false);
    $('#reg-count-hint').textContent = V.t(f.type === 'ascii' ? 'data.countHintText' : 'data.countHint', { max });
    syncWriteFields(list && list.format ? list.format : f);
    updatePlan();
  }

  function addressHint(table) {
    const notation = V.notation.get();
    const range = rangeText(V.addressing.addressRange(notation, table));
    return notation === 'modicon' ? range : V.t('addr.hintHex', { range });
  }

  function rangeText(range) {
    return V.t(range.last5 ? 'addr.rangeModicon' : 'addr.range', range);
  }

  function syncWriteFields(format) {
    const writable = R.isWritable(format);
    $('#reg-wreadonly').hidden = writable;
    $('#reg-wreadonly').textContent = writable ? '' : V.t('reg.readOnly', { table: V.t('data.table.' + format.table) });
    ['#reg-waddr', '#reg-wvalues', '#reg-write', '#reg-readback', '#reg-wmultiple'].forEach((s) => ($(s).disabled = !writable));
    const multiple = format.table === 'coils' ? 15 : 16;
    $('#reg-wmultiple').closest('label').hidden = R.isLegacy(format) || format.type === 'ascii' || !writable;
    $('#reg-wmultiple-text').textContent = V.t('reg.wMultiple', { fc: multiple });
    let hint = 'reg.valuesHint';
    if (format.type === 'bit') hint = 'reg.valuesHintBits';
    else if (format.type === 'ascii') hint = 'reg.valuesHintText';
    $('#reg-wvalues-hint').textContent = V.t(hint);
  }

  function setFormFormat(format) {
    $('#reg-table').value = R.isLegacy(format) ? 'holding32' : format.table;
    syncFormatFields();
    $('#reg-type').value = format.type;
    syncFormatFields();
    $('#reg-order').value = format.order;
    syncFormatFields();
  }

  function formatText(f) {
    const table = V.t('data.table.' + f.table) + (R.isLegacy(f) ? ' (' + V.t('reg.regSize32') + ')' : '');
    if (f.type === 'bit') return table;
    return table + ', ' + V.t('data.type.' + f.type) + ', ' + orderLabel(f, f.order);
  }

  // Problems are keys, or { key, params } whose params may name a {position}, an {address},
  // a {table} or the range of an address field.
  function problemsText(problems) {
    return problems.map((p) => {
      if (typeof p === 'string') return V.t(p);
      const params = Object.assign({}, p.params);
      if (params.position !== undefined) params.where = V.t('reg.valueNo', { position: params.position });
      else if (params.address !== undefined) params.where = V.t('reg.addressNo', { address: formatAddress(params.address, formFormat().table) });
      if (params.table) params.table = V.t('data.table.' + params.table);
      if (params.first) params.range = rangeText(params);
      return V.t(p.key, params);
    }).join(' ');
  }

  // Reads the range and format from the form; null (with the problems shown) when invalid.
  function readRequest() {
    const format = formFormat();
    const at = fieldAddress($('#reg-addr'), format.table);
    const count = V.readInt($('#reg-count'), 1, R.maxValues(format, false));
    const problems = at.problem ? [{ key: at.problem, params: at.params }] : [];
    problems.push(...R.checkRange(format, at.problem ? 0 : at.address, count === null ? -1 : count));
    if (R.decimalsApply(format) && V.readInt($('#reg-prec'), 0, 20) === null) problems.push('reg.badPrec');
    if (problems.length) {
      V.showStatus($('#reg-status'), 'error', problemsText(problems));
      return null;
    }
    return { format, start: at.address, count };
  }

  /* ---------- reading ---------- */

  /* One read in one transaction: the rows with the registers their values were decoded
   * from, the function code used and Vexo's measure of the device's response time. */
  async function readBlock(format, start, count) {
    if (R.isLegacy(format)) {
      const params = Object.assign({ regAddr: start, valuesCnt: count, raw: 1 }, R.engineFormat(format));
      const text = await V.api('readRegisters', params, { raw: true });
      const reply = R.parseReadReply(text);
      const rows = reply && R.rowsOf(format, start, count, reply);
      if (!rows) throw new V.ApiError(V.t('data.badReply'), text);
      return { rows, fc: 3 };
    }
    const reply = await V.api('readTable', Object.assign({ addr: start, count }, R.tableParams(format)));
    const rows = R.rowsOf(format, start, count, reply);
    if (!rows) throw new V.ApiError(V.t('data.badReply'), JSON.stringify(reply));
    return { rows, fc: reply.fc, ms: reply.ms };
  }

  function fcText(fc) {
    return String(fc).padStart(2, '0');
  }

  function msText(ms) {
    return T.formatNumber(Number(ms).toFixed(2), V.i18n.lang);
  }

  async function readOnce(request) {
    const box = $('#reg-status');
    if (!polling) V.showStatus(box, 'busy', V.t('reg.reading'));
    try {
      const block = await readBlock(request.format, request.start, request.count);
      showRows({ format: request.format, start: request.start, rows: block.rows, source: 'device', time: new Date(), fc: block.fc, ms: block.ms });
      feedChart(block.rows);
      if (block.ms !== undefined) notePollTime(block.ms);
      const done = V.t('reg.readDone', { count: block.rows.length, time: V.formatTime(shown.time), fc: fcText(block.fc) });
      const timed = block.ms === undefined ? '' : ' ' + V.t('reg.answerIn', { ms: msText(block.ms) });
      if (!polling) V.showStatus(box, 'ok', done + timed);
      else if (poll.lastFailed) V.showStatus(box, 'ok', V.t('reg.answersAgain', { time: V.formatTime(shown.time) }));
      return true;
    } catch (e) {
      V.showError(box, e);
      if (shown && shown.source === 'device') {
        shown.stale = true;
        captionText();
      }
      return false;
    }
  }

  /* ---------- table ---------- */

  function rowKey(row) {
    return String(row.address);
  }

  function sameFormat(a, b) {
    return a.table === b.table && a.regSize === b.regSize && a.type === b.type && a.order === b.order;
  }

  function showRows(data) {
    const sameLayout = shown && shown.source === data.source && shown.rows.length === data.rows.length && shown.start === data.start &&
      sameFormat(shown.format, data.format);
    shown = data;
    if (!sameLayout) {
      charted.clear();
      if (data.source === 'device' && data.format.type !== 'ascii') data.rows.slice(0, 1).forEach((r) => charted.add(rowKey(r)));
      buildTable();
      updateChartSeries();
      chart.clear();
    } else {
      updateTableValues();
    }
    captionText();
  }

  function buildTable() {
    const body = $('#reg-body');
    body.replaceChildren();
    shown.rows.forEach((row) => {
      const box = V.el('input', { type: 'checkbox', 'data-key': rowKey(row) });
      box.checked = charted.has(rowKey(row));
      box.disabled = shown.source !== 'device' || shown.format.type === 'ascii';
      box.addEventListener('change', () => toggleChart(box));
      body.append(V.el('tr', { className: shown.source === 'file' ? 'is-loaded' : '', 'data-address': String(row.address) }, [
        V.el('th', { scope: 'row', className: 'num' }),
        V.el('td', { className: 'num' }, [V.el('span', { className: 'value' })]),
        V.el('td', { className: 'raw raw-hex' }),
        V.el('td', { className: 'raw' }),
        V.el('td', {}, [box]),
      ]));
    });
    updateTableValues();
  }

  function rowAddressText(row) {
    const f = shown.format;
    const last = f.type === 'ascii' ? row.address + row.regs.length - 1 : row.address + R.registersPerValue(f) - 1;
    return f.type === 'ascii' ? spanText(row.address, last, f.table) : formatAddress(row.address, f.table);
  }

  function updateTableValues() {
    const view = $('#reg-view').value;
    V.$$(root, '#reg-body tr').forEach((tr, i) => {
      const row = shown.rows[i];
      const th = tr.querySelector('th');
      th.textContent = rowAddressText(row);
      tr.querySelector('input').setAttribute('aria-label', V.t('reg.chartThis', { address: th.textContent }));
      tr.querySelector('.value').textContent = shown.source === 'file' ? row.value : R.shownValue(row, shown.format, view, V.i18n.lang);
      const raws = tr.querySelectorAll('td.raw');
      raws[0].textContent = shown.source === 'file' ? '' : R.rawHex(row, shown.format);
      raws[1].textContent = row.regs.join(' ');
    });
  }

  function captionText() {
    const caption = $('#reg-caption');
    if (!shown) {
      caption.textContent = V.t('reg.noData');
      return;
    }
    let key = 'reg.captionDevice';
    if (shown.source === 'file') key = 'reg.captionFile';
    else if (shown.stale) key = 'reg.captionStale';
    caption.textContent = V.t(key, { name: shown.fileName, time: V.formatTime(shown.time), what: formatText(shown.format) });
  }

  /* ---------- chart ---------- */

  function toggleChart(box) {
    if (box.checked && charted.size >= MAX_CHART_SERIES) {
      box.checked = false;
      V.showStatus($('#reg-status'), 'info', V.t('reg.chartLimit', { max: MAX_CHART_SERIES }));
      return;
    }
    if (box.checked) charted.add(box.dataset.key);
    else charted.delete(box.dataset.key);
    updateChartSeries();
  }

  function updateChartSeries() {
    const rows = shown ? shown.rows.filter((r) => charted.has(rowKey(r))) : [];
    chart.setSeries(rows.map((r) => ({ key: rowKey(r), label: V.t('reg.seriesLabel', { address: formatAddress(r.address, shown.format.table) }) })));
  }

  function feedChart(rows) {
    const values = {};
    rows.forEach((r) => (values[rowKey(r)] = T.valueToNumber(r.value)));
    chart.push(Date.now(), values);
    const summary = chart.latest().map((s) => s.label + ': ' + (s.value === null ? '—' : T.formatNumber(s.value, V.i18n.lang))).join(', ');
    $('#reg-chart-summary').textContent = summary;
    $('#reg-chart').dataset.samples = String(chart.samples);
  }

  function showPaused() {
    const button = $('#reg-chart-pause');
    button.setAttribute('aria-pressed', chart.paused ? 'true' : 'false');
    button.textContent = V.t(chart.paused ? 'reg.chartResume' : 'reg.chartPause');
  }

  function pauseChart() {
    chart.setPaused(!chart.paused);
    showPaused();
  }

  async function saveChart() {
    const blob = await chart.toPng();
    const link = V.el('a', { href: URL.createObjectURL(blob), download: 'vexo-chart-' + V.timestamp() + '.png' });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
  }

  /* ---------- polling ---------- */

  let wakePoller = null;

  function notePollTime(ms) {
    poll.timed++;
    poll.sumMs += ms;
    poll.lastMs = ms;
  }

  function pollInfoText() {
    const times = poll.timed ? ' · ' + V.t('reg.pollTimes', { last: msText(poll.lastMs), avg: msText(poll.sumMs / poll.timed) }) : '';
    if (polling) return V.t('reg.pollInfo', poll) + times;
    return poll.reads || poll.failed ? V.t('reg.pollStopped', poll) + times : '';
  }

  // While polling, the read fields show what is polled and cannot change it.
  function setPolling(on) {
    polling = on;
    const button = $('#reg-poll');
    button.setAttribute('aria-pressed', on ? 'true' : 'false');
    button.textContent = V.t(on ? 'reg.stopPoll' : 'reg.startPoll');
    $('#reg-read').disabled = on;
    ['#reg-interval', '#reg-table', '#reg-addr', '#reg-count'].forEach((s) => ($(s).disabled = on));
    syncFormatFields();
    $('#reg-poll-info').textContent = pollInfoText();
  }

  async function pollLoop(request) {
    while (polling) {
      const started = performance.now();
      const ok = await readOnce(request);
      if (ok) poll.reads++;
      else poll.failed++;
      poll.lastFailed = !ok;
      $('#reg-poll-info').textContent = pollInfoText();
      if (!V.state.connected) break;
      const wait = poll.interval - (performance.now() - started);
      if (wait > 0 && polling) await new Promise((resolve) => {
        wakePoller = resolve;
        setTimeout(resolve, wait);
      });
    }
    wakePoller = null;
    setPolling(false);
    $('#reg-poll').disabled = false;
  }

  // Stopping lets the read under way finish first, so Read cannot overlap it.
  function stopPolling() {
    if (!polling) return;
    polling = false;
    $('#reg-poll').disabled = true;
    if (wakePoller) wakePoller();
  }

  function togglePolling() {
    if (polling) {
      stopPolling();
      return;
    }
    const interval = V.readInt($('#reg-interval'), MIN_INTERVAL_MS, 3600000);
    if (interval === null) {
      V.showStatus($('#reg-status'), 'error', V.t('reg.badInterval', { min: MIN_INTERVAL_MS }));
      return;
    }
    const request = readRequest();
    if (!request) return;
    poll = { reads: 0, failed: 0, interval, lastFailed: false, timed: 0, sumMs: 0, lastMs: 0 };
    V.showStatus($('#reg-status'), 'info', V.t('reg.polling'));
    setPolling(true);
    pollLoop(request);
  }

  /* ---------- writing ---------- */

  // The writes the form asks for: { format, runs, problems }.
  function writePlan() {
    const format = list && list.format ? list.format : formFormat();
    if (!R.isWritable(format)) return { format, runs: [], problems: [{ key: 'reg.readOnly', params: { table: format.table } }] };
    if (list) {
      const listed = R.listEntries(list.rows, list.decimalMark, format);
      const plan = R.planWrites(format, listed.entries);
      return { format, runs: plan.runs, problems: listed.problems.concat(plan.problems) };
    }
    const parsed = R.parseWriteValues($('#reg-wvalues').value, format, V.i18n.lang);
    const at = fieldAddress($('#reg-waddr'), format.table);
    const problems = parsed.problems.slice(0, 4);
    if (at.problem) problems.unshift({ key: at.problem, params: at.params });
    const entries = parsed.values.map((value, i) => ({ address: R.addressOf(format, at.address || 0, i), value }));
    const plan = R.planWrites(format, entries);
    problems.push(...plan.problems.slice(0, 1));
    return { format, runs: problems.length ? [] : plan.runs, problems };
  }

  function runSpan(run, format) {
    return spanText(run.start, run.end, format.table);
  }

  function valueText(value, format) {
    return format.type === 'ascii' ? '"' + value + '"' : T.formatNumber(value, V.i18n.lang);
  }

  function runText(run, format) {
    const values = run.values.slice(0, PLAN_VALUES_SHOWN).map((v) => valueText(v, format));
    if (run.values.length > PLAN_VALUES_SHOWN) values.push('…');
    return runSpan(run, format) + ': ' + values.join('; ');
  }

  // Shows, before anything is sent, which registers a Write would change.
  function updatePlan() {
    const box = $('#reg-wplan');
    const manual = !list;
    $('#reg-wvalues').setAttribute('aria-invalid', 'false');
    if (manual && $('#reg-wvalues').value === '') {
      box.replaceChildren();
      return;
    }
    const plan = writePlan();
    if (plan.problems.length) {
      if (manual) $('#reg-wvalues').setAttribute('aria-invalid', 'true');
      box.replaceChildren(V.el('p', { className: 'reg-plan-problem', text: problemsText(plan.problems) }));
      return;
    }
    const count = plan.runs.reduce((n, r) => n + r.values.length, 0);
    box.replaceChildren(
      V.el('p', { text: V.t('reg.planHead', { count, requests: plan.runs.length, what: formatText(plan.format) }) }),
      V.el('ul', {}, plan.runs.map((run) => V.el('li', { className: 'mono', text: runText(run, plan.format) }))));
  }

  // Reads the written registers again, away from the table and the poll. Returns the texts
  // of the addresses that do not hold what was written.
  async function readBack(format, runs) {
    const differences = [];
    for (const run of runs) {
      const count = format.type === 'ascii' ? run.end - run.start + 1 : run.values.length;
      const { rows } = await readBlock(format, run.start, count);
      rows.forEach((row, i) => {
        if (!R.readsBackAs(format, run.values[i], row.value)) {
          differences.push(V.t('reg.readBackDiffers', {
            address: formatAddress(row.address, format.table),
            read: valueText(T.displayValue(row.value, format.type, V.i18n.lang), format),
            written: valueText(run.values[i], format),
          }));
        }
      });
    }
    return differences;
  }

  // Sends one run; resolves with the function code used and Vexo's reply.
  async function writeRun(format, run) {
    if (R.isLegacy(format)) {
      const reply = await V.api('writeRegisters', Object.assign({
        regAddr: run.start,
        valuesCnt: run.values.length,
        // Vexo percent-decodes this value once more before reading the array.
        regVals: encodeURIComponent(JSON.stringify(run.values)),
      }, R.engineFormat(format)));
      return { fc: 16, reply };
    }
    const params = Object.assign({ addr: run.start, values: JSON.stringify(run.values) }, R.tableParams(format));
    if ($('#reg-wmultiple').checked && format.type !== 'ascii') params.fc = format.table === 'coils' ? 15 : 16;
    const reply = await V.api('writeTable', params, { post: true });
    return { fc: reply.fc, reply };
  }

  async function write() {
    const box = $('#reg-write-status');
    const plan = writePlan();
    updatePlan();
    if (plan.problems.length) {
      V.showStatus(box, 'error', problemsText(plan.problems));
      return;
    }
    await V.busy($('#reg-write'), async () => {
      const count = plan.runs.reduce((n, r) => n + r.values.length, 0);
      V.showStatus(box, 'busy', V.t('reg.writing', { count }));
      const done = [];
      const functions = new Set();
      let sent;
      try {
        for (const run of plan.runs) {
          sent = await writeRun(plan.format, run);
          functions.add(fcText(sent.fc));
          done.push(run);
        }
      } catch (e) {
        const spans = (runs) => runs.map((r) => runSpan(r, plan.format)).join(', ');
        const written = done.length ? V.t('reg.partlyWritten', { done: spans(done) }) + ' ' : '';
        V.showStatus(box, 'error', written + V.t('reg.notWritten', { rest: spans(plan.runs.slice(done.length)) }) + ' ' + e.message, e.raw);
        return;
      }
      const where = plan.runs.map((r) => runSpan(r, plan.format)).join(', ');
      let text = V.t('reg.written', { count, where, fc: Array.from(functions).join(', ') });
      let kind = 'ok';
      if ($('#reg-readback').checked) {
        try {
          const differences = await readBack(plan.format, plan.runs);
          text += ' ' + (differences.length ? differences.join(' ') : V.t('reg.readBackSame'));
          if (differences.length) kind = 'error';
        } catch (e) {
          text += ' ' + V.t('reg.readBackFailed') + ' ' + e.message;
          kind = 'error';
        }
      }
      V.showStatus(box, kind, text, sent.reply.ok);
    });
  }

  function useList(loaded) {
    list = loaded;
    $('#reg-wmanual').hidden = !!list;
    $('#reg-wlist').hidden = !list;
    if (list) $('#reg-wlist-name').textContent = V.t('reg.listFrom', { name: list.name, count: list.rows.length });
    syncFormatFields();
  }

  /* ---------- files ---------- */

  function requireRows(box) {
    if (shown && shown.rows.length) return true;
    V.showStatus(box, 'error', V.t('reg.nothingToExport'));
    return false;
  }

  // Hands the shown values to the save endpoint, which returns them as a download.
  async function exportAs(button, prefix, extension, busyKey, content) {
    const box = $('#reg-file-status');
    if (!requireRows(box)) return;
    const name = prefix + V.timestamp(shown.time) + extension;
    await V.busy(button, async () => {
      V.showStatus(box, 'busy', V.t(busyKey));
      try {
        const size = await V.saveFile(name, content());
        if (size === 0) throw new V.ApiError(V.t('reg.fileEmpty'), '');
        V.showStatus(box, 'ok', V.t('reg.savedAs', { name }));
      } catch (e) {
        V.showError(box, e);
      }
    });
  }

  function escapeHtml(text) {
    return String(text).replace(/[&<>"]/g, (c) => ({ '&': '&amp;', '<': '&lt;', '>': '&gt;', '"': '&quot;' }[c]));
  }

  /* The report as HTML for Vexo's PDF renderer. The page has almost no margins of its own, so
   * the report brings them: an outer table whose cell padding keeps the text off the edges. */
  function reportHtml() {
    const f = shown.format;
    const view = $('#reg-view').value;
    const value = (r) => (shown.source === 'file' ? r.value : R.shownValue(r, f, view, V.i18n.lang));
    const rows = shown.rows.map((r) => '<tr><td>' + escapeHtml(rowAddressText(r)) + '</td><td align="right">' + escapeHtml(value(r)) +
      '</td><td>' + escapeHtml(R.rawHex(r, f)) + '</td></tr>').join('');
    const facts = [
      [V.t('reg.pdfDevice'), V.state.connected ? V.state.targetText() : V.t('shell.notConnected')],
      [V.t('reg.pdfTime'), V.formatDateTime(shown.time || new Date())],
      [V.t('reg.pdfFormat'), formatText(f)],
    ].map(([k, v]) => '<tr><td><b>' + escapeHtml(k) + '</b></td><td>' + escapeHtml(v) + '</td></tr>').join('');
    return '<html><body style="font-family: sans-serif">' +
      '<table width="100%" cellspacing="0" cellpadding="56"><tr><td>' +
      '<h1 style="color:#0f2a47">' + escapeHtml(V.t('reg.pdfTitle')) + '</h1>' +
      '<table cellpadding="3">' + facts + '</table><br>' +
      '<table border="1" cellspacing="0" cellpadding="4" width="100%"><thead><tr style="background:#e8f0fb">' +
      '<th>' + escapeHtml(V.t('data.colAddress')) + '</th><th>' + escapeHtml(V.t('data.colValue')) + '</th><th>' +
      escapeHtml(V.t('data.colRawHex')) + '</th></tr></thead><tbody>' + rows + '</tbody></table>' +
      '<p style="color:#5b6578">Vexo ' + escapeHtml(V.generalInfo ? V.generalInfo.ver : '') + '</p>' +
      '</td></tr></table></body></html>';
  }

  async function loadList(file) {
    const box = $('#reg-file-status');
    V.showStatus(box, 'busy', V.t('reg.loading', { name: file.name }));
    try {
      const parsed = R.parseCsv(await V.loadFile(file));
      if (parsed.error) {
        V.showStatus(box, 'error', V.t(parsed.error), parsed.line);
        return;
      }
      // The read fields stay as they are while they show what is polled.
      if (!polling && parsed.typed) setFormFormat(parsed.format);
      const format = parsed.typed ? parsed.format : formFormat();
      useList({ name: file.name, rows: parsed.rows, decimalMark: parsed.decimalMark, format: parsed.typed ? parsed.format : null });
      const rows = parsed.rows.map((r) => ({ address: r.address, value: r.value, regs: [] }));
      showRows({ format, start: rows[0].address, rows, source: 'file', fileName: file.name, time: new Date() });
      V.showStatus(box, 'ok', V.t('reg.loaded', { count: parsed.rows.length, name: file.name }));
    } catch (e) {
      V.showError(box, e);
    }
  }

  function changeNotation() {
    const from = V.notation.get();
    const format = formFormat();
    V.notation.set($('#reg-notation').value);
    renotate($('#reg-addr'), format.table, from);
    renotate($('#reg-waddr'), (list && list.format ? list.format : format).table, from);
  }

  function refreshTexts() {
    chart.emptyText = V.t('reg.chartEmpty');
    chart.decimalMark = T.decimalMark(V.i18n.lang);
    $('#reg-notation').value = V.notation.get();
    setPolling(polling);
    showPaused();
    if (list) $('#reg-wlist-name').textContent = V.t('reg.listFrom', { name: list.name, count: list.rows.length });
    captionText();
    if (shown) updateTableValues();
    updateChartSeries();
  }

  V.defineModule('registers', {
    titleKey: 'reg.tab',
    init(panel) {
      root = panel;
      R = V.registerValues;
      T = V.valueTypes;
      chart = new V.LineChart($('#reg-chart'));
      chart.onZoom = (range) => ($('#reg-chart-unzoom').disabled = !range);
      $('#reg-notation').value = V.notation.get();
      ['#reg-table', '#reg-type', '#reg-order'].forEach((s) => $(s).addEventListener('change', syncFormatFields));
      ['#reg-waddr', '#reg-wvalues'].forEach((s) => $(s).addEventListener('input', updatePlan));
      $('#reg-view').addEventListener('change', () => shown && updateTableValues());
      $('#reg-notation').addEventListener('change', changeNotation);
      refreshTexts();
      $('#reg-form').addEventListener('submit', (e) => {
        e.preventDefault();
        const request = readRequest();
        if (request) V.busy($('#reg-read'), () => readOnce(request));
      });
      $('#reg-poll').addEventListener('click', togglePolling);
      $('#reg-write-form').addEventListener('submit', (e) => {
        e.preventDefault();
        write();
      });
      $('#reg-wlist-drop').addEventListener('click', () => {
        useList(null);
        $('#reg-wvalues').focus();
      });
      $('#reg-csv').addEventListener('click', () =>
        exportAs($('#reg-csv'), 'vexo-registers-', '.csv', 'reg.saving', () => R.buildCsv(shown.format, shown.rows)));
      $('#reg-pdf').addEventListener('click', () => exportAs($('#reg-pdf'), 'vexo-report-', '.pdf', 'reg.makingPdf', reportHtml));
      $('#reg-load').addEventListener('click', () => $('#reg-file').click());
      $('#reg-file').addEventListener('change', () => {
        const file = $('#reg-file').files[0];
        if (file) loadList(file);
        $('#reg-file').value = '';
      });
      $('#reg-chart-pause').addEventListener('click', pauseChart);
      $('#reg-chart-unzoom').addEventListener('click', () => chart.setZoom(null));
      $('#reg-chart-png').addEventListener('click', saveChart);
      V.on('langchange', refreshTexts);
      V.on('notationchange', refreshTexts);
      V.on('connection', (s) => {
        if (!s.connected) stopPolling();
      });
    },
    onShow() {
      chart.draw(true);
    },
  });
})();
