/* Registers module: read a block in any format with the raw registers of the same read beside
 * the values, poll with a live chart, write values or a loaded list exactly at their addresses,
 * export CSV or a PDF report. */
(function () {
  'use strict';
  const V = window.Vexo;
  let R; // the shared value helpers, taken at init: scripts load in any order
  const MIN_INTERVAL_MS = 200;
  const MAX_CHART_SERIES = 8;
  const PLAN_VALUES_SHOWN = 8;

  let root;
  let chart;
  let polling = false;
  let poll = { reads: 0, failed: 0, interval: 0, lastFailed: false };
  // What the table shows: { format, start, rows: [{address, value, raw}], source: 'device'|'file', time }
  let shown = null;
  // A loaded list waiting to be written: { name, rows, decimalMark, format (null: the form's) }
  let list = null;
  const charted = new Set();

  const $ = (sel) => V.$(root, sel);

  /* ---------- the format fields ---------- */

  function formFormat() {
    return R.normalizeFormat({
      type: $('#reg-type').value,
      regSize: $('#reg-regsize').value,
      valSize: $('#reg-valsize').value,
      floatPrec: $('#reg-prec').value,
    });
  }

  /* Keeps the value size and decimals fields to what is right for the type and register size,
   * and says how the values lie in the registers. */
  function syncFormatFields() {
    const f = formFormat();
    const valSize = $('#reg-valsize');
    valSize.value = String(f.valSize);
    valSize.disabled = f.valSizeLocked || polling;
    $('#reg-valsize-hint').textContent = V.t(R.layoutKey(f));
    const decimals = R.decimalsApply(f);
    $('#reg-prec').disabled = !decimals || polling;
    $('#reg-prec-hint').textContent = R.isFloatType(f.type) && !decimals ? V.t('reg.precSignificant') : '';
    updatePlan();
  }

  function setFormFormat(format) {
    $('#reg-type').value = format.type;
    $('#reg-regsize').value = String(format.regSize);
    $('#reg-valsize').value = String(format.valSize);
    syncFormatFields();
  }

  function formatText(f) {
    return V.t('reg.type.' + f.type) + ', ' + V.t('reg.regSize' + f.regSize) + ', ' + V.t('reg.bits' + f.valSize);
  }

  // Problems are keys, or { key, params } whose params name a {position} or an {address}.
  function problemsText(problems) {
    return problems.map((p) => {
      if (typeof p === 'string') return V.t(p);
      const params = Object.assign({}, p.params);
      if (params.position !== undefined) params.where = V.t('reg.valueNo', { position: params.position });
      else if (params.address !== undefined) params.where = V.t('reg.addressNo', { address: params.address });
      return V.t(p.key, params);
    }).join(' ');
  }

  // Reads the range and format from the form; null (with the problems shown) when invalid.
  function readRequest() {
    const format = formFormat();
    const start = V.readInt($('#reg-addr'), 0, 65535);
    const count = V.readInt($('#reg-count'), 1, R.MAX_VALUES);
    const problems = R.checkRange(format, start === null ? -1 : start, count === null ? -1 : count);
    if (R.decimalsApply(format) && V.readInt($('#reg-prec'), 0, 20) === null) problems.push('reg.badPrec');
    if (problems.length) {
      V.showStatus($('#reg-status'), 'error', problemsText(problems));
      return null;
    }
    return { format, start, count };
  }

  /* ---------- reading ---------- */

  async function readValues(format, start, count, withRaw) {
    const params = Object.assign({ regAddr: start, valuesCnt: count }, R.engineFormat(format));
    if (withRaw) params.raw = 1;
    const text = await V.api('readRegisters', params, { raw: true });
    const reply = R.parseReadReply(text);
    if (!reply || reply.values.length !== count) throw new V.ApiError(V.t('reg.badReply'), text);
    return reply;
  }

  // One read: the values and the registers they were decoded from, from one transaction.
  async function readBlock(request) {
    const reply = await readValues(request.format, request.start, request.count, true);
    const raw = R.rawWordsOf(request.format, request.count, reply.raw) || [];
    return reply.values.map((value, i) => ({ address: R.addressOf(request.format, request.start, i), value, raw: raw[i] || [] }));
  }

  async function readOnce(request) {
    const box = $('#reg-status');
    if (!polling) V.showStatus(box, 'busy', V.t('reg.reading'));
    try {
      const rows = await readBlock(request);
      showRows({ format: request.format, start: request.start, rows, source: 'device', time: new Date() });
      feedChart(rows);
      if (!polling) V.showStatus(box, 'ok', V.t('reg.readDone', { count: rows.length, time: V.formatTime(shown.time) }));
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

  function showRows(data) {
    const sameLayout = shown && shown.source === data.source && shown.rows.length === data.rows.length && shown.start === data.start &&
      shown.format.type === data.format.type && shown.format.regSize === data.format.regSize && shown.format.valSize === data.format.valSize;
    shown = data;
    if (!sameLayout) {
      charted.clear();
      if (data.source === 'device') data.rows.slice(0, 1).forEach((r) => charted.add(rowKey(r)));
      buildTable();
      updateChartSeries();
      chart.clear();
    } else {
      updateTableValues();
    }
    captionText();
  }

  function rawHex(row) {
    return (row.raw || []).map(R.hex16).join(' ');
  }

  function buildTable() {
    const body = $('#reg-body');
    body.replaceChildren();
    shown.rows.forEach((row) => {
      const box = V.el('input', { type: 'checkbox', 'data-key': rowKey(row) });
      box.checked = charted.has(rowKey(row));
      box.disabled = shown.source !== 'device';
      box.setAttribute('aria-label', V.t('reg.chartThis', { address: row.address }));
      box.addEventListener('change', () => toggleChart(box));
      body.append(V.el('tr', { className: shown.source === 'file' ? 'is-loaded' : '' }, [
        V.el('th', { scope: 'row', className: 'num', text: String(row.address) }),
        V.el('td', { className: 'num' }, [V.el('span', { className: 'value' })]),
        V.el('td', { className: 'raw raw-hex' }),
        V.el('td', { className: 'raw' }),
        V.el('td', {}, [box]),
      ]));
      markRow(body.lastElementChild, row);
    });
  }

  function updateTableValues() {
    V.$$(root, '#reg-body tr').forEach((tr, i) => markRow(tr, shown.rows[i]));
  }

  function markRow(tr, row) {
    tr.querySelector('.value').textContent = shown.source === 'file' ? row.value : R.displayValue(row.value, V.i18n.lang);
    const raws = tr.querySelectorAll('td.raw');
    raws[0].textContent = rawHex(row);
    raws[1].textContent = (row.raw || []).join(' ');
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
    chart.setSeries(rows.map((r) => ({ key: rowKey(r), label: V.t('reg.seriesLabel', { address: r.address }) })));
  }

  function feedChart(rows) {
    const values = {};
    rows.forEach((r) => (values[rowKey(r)] = R.valueToNumber(r.value)));
    chart.push(Date.now(), values);
    const summary = chart.latest().map((s) => s.label + ': ' + (s.value === null ? '—' : R.formatNumber(s.value, V.i18n.lang))).join(', ');
    $('#reg-chart-summary').textContent = summary;
    $('#reg-chart').dataset.samples = String(chart.samples);
  }

  /* ---------- polling ---------- */

  let wakePoller = null;

  function pollInfoText() {
    if (polling) return V.t('reg.pollInfo', poll);
    return poll.reads || poll.failed ? V.t('reg.pollStopped', poll) : '';
  }

  // While polling, the read fields show what is polled and cannot change it.
  function setPolling(on) {
    polling = on;
    const button = $('#reg-poll');
    button.setAttribute('aria-pressed', on ? 'true' : 'false');
    button.textContent = V.t(on ? 'reg.stopPoll' : 'reg.startPoll');
    $('#reg-read').disabled = on;
    $('#reg-interval').disabled = on;
    $('#reg-read-fields').disabled = on;
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
    poll = { reads: 0, failed: 0, interval, lastFailed: false };
    V.showStatus($('#reg-status'), 'info', V.t('reg.polling'));
    setPolling(true);
    pollLoop(request);
  }

  /* ---------- writing ---------- */

  // The writes the form asks for: { format, runs, problems }.
  function writePlan() {
    const format = list && list.format ? list.format : formFormat();
    if (list) {
      const listed = R.listEntries(list.rows, list.decimalMark, format);
      const plan = R.planWrites(format, listed.entries);
      return { format, runs: plan.runs, problems: listed.problems.concat(plan.problems) };
    }
    const parsed = R.parseWriteValues($('#reg-wvalues').value, format, V.i18n.lang);
    const start = V.readInt($('#reg-waddr'), 0, 65535);
    const problems = parsed.problems.slice(0, 4);
    if (start === null) problems.unshift('reg.badAddress');
    else if (parsed.values.length) problems.push(...R.checkRange(format, start, parsed.values.length).filter((k) => k !== 'reg.badCount'));
    const entries = parsed.values.map((value, i) => ({ address: R.addressOf(format, start || 0, i), value }));
    return { format, runs: problems.length ? [] : R.planWrites(format, entries).runs, problems };
  }

  function addresses(run) {
    return run.start === run.end ? String(run.start) : run.start + '–' + run.end;
  }

  function runText(run) {
    const values = run.values.slice(0, PLAN_VALUES_SHOWN).map((v) => R.formatNumber(v, V.i18n.lang));
    if (run.values.length > PLAN_VALUES_SHOWN) values.push('…');
    return addresses(run) + ': ' + values.join('; ');
  }

  // Shows, before anything is sent, which registers a Write would change.
  function updatePlan() {
    const box = $('#reg-wplan');
    const manual = !list;
    $('#reg-wvalues').setAttribute('aria-invalid', 'false');
    if (manual && $('#reg-wvalues').value.trim() === '') {
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
      V.el('ul', {}, plan.runs.map((run) => V.el('li', { className: 'mono', text: runText(run) }))));
  }

  // Reads the written registers again, away from the table and the poll. Returns the texts
  // of the registers that do not hold what was written.
  async function readBack(format, runs) {
    const differences = [];
    for (const run of runs) {
      const reply = await readValues(format, run.start, run.values.length, false);
      reply.values.forEach((text, i) => {
        if (!R.readsBackAs(format, run.values[i], text)) {
          differences.push(V.t('reg.readBackDiffers', {
            address: R.addressOf(format, run.start, i),
            read: R.displayValue(text, V.i18n.lang),
            written: R.formatNumber(run.values[i], V.i18n.lang),
          }));
        }
      });
    }
    return differences;
  }

  async function writeRun(format, run) {
    return V.api('writeRegisters', Object.assign({
      regAddr: run.start,
      valuesCnt: run.values.length,
      // Vexo percent-decodes this value once more before reading the array.
      regVals: encodeURIComponent(JSON.stringify(run.values)),
    }, R.engineFormat(format)));
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
      let reply;
      try {
        for (const run of plan.runs) {
          reply = await writeRun(plan.format, run);
          done.push(run);
        }
      } catch (e) {
        const rest = plan.runs.slice(done.length).map(addresses).join(', ');
        const written = done.length ? V.t('reg.partlyWritten', { done: done.map(addresses).join(', ') }) + ' ' : '';
        V.showStatus(box, 'error', written + V.t('reg.notWritten', { rest }) + ' ' + e.message, e.raw);
        return;
      }
      let text = V.t('reg.written', { count, where: plan.runs.map(addresses).join(', ') });
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
      V.showStatus(box, kind, text, reply.ok);
    });
  }

  function useList(loaded) {
    list = loaded;
    $('#reg-wmanual').hidden = !!list;
    $('#reg-wlist').hidden = !list;
    if (list) $('#reg-wlist-name').textContent = V.t('reg.listFrom', { name: list.name, count: list.rows.length });
    updatePlan();
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
    const value = (r) => (shown.source === 'file' ? r.value : R.displayValue(r.value, V.i18n.lang));
    const rows = shown.rows.map((r) => '<tr><td>' + r.address + '</td><td align="right">' + escapeHtml(value(r)) +
      '</td><td>' + escapeHtml(rawHex(r)) + '</td></tr>').join('');
    const facts = [
      [V.t('reg.pdfDevice'), V.state.connected ? V.state.targetText() : V.t('shell.notConnected')],
      [V.t('reg.pdfTime'), V.formatDateTime(shown.time || new Date())],
      [V.t('reg.type'), V.t('reg.type.' + f.type)],
      [V.t('reg.regSize'), V.t('reg.regSize' + f.regSize)],
      [V.t('reg.valSize'), V.t('reg.bits' + f.valSize)],
    ].map(([k, v]) => '<tr><td><b>' + escapeHtml(k) + '</b></td><td>' + escapeHtml(v) + '</td></tr>').join('');
    return '<html><body style="font-family: sans-serif">' +
      '<table width="100%" cellspacing="0" cellpadding="56"><tr><td>' +
      '<h1 style="color:#0f2a47">' + escapeHtml(V.t('reg.pdfTitle')) + '</h1>' +
      '<table cellpadding="3">' + facts + '</table><br>' +
      '<table border="1" cellspacing="0" cellpadding="4" width="100%"><thead><tr style="background:#e8f0fb">' +
      '<th>' + escapeHtml(V.t('reg.colAddress')) + '</th><th>' + escapeHtml(V.t('reg.colValue')) + '</th><th>' +
      escapeHtml(V.t('reg.colRawHex')) + '</th></tr></thead><tbody>' + rows + '</tbody></table>' +
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
      const rows = parsed.rows.map((r) => ({ address: r.address, value: r.value, raw: [] }));
      showRows({ format, start: rows[0].address, rows, source: 'file', fileName: file.name, time: new Date() });
      V.showStatus(box, 'ok', V.t('reg.loaded', { count: parsed.rows.length, name: file.name }));
    } catch (e) {
      V.showError(box, e);
    }
  }

  V.defineModule('registers', {
    titleKey: 'reg.tab',
    init(panel) {
      root = panel;
      R = V.registerValues;
      chart = new V.LineChart($('#reg-chart'));
      chart.emptyText = V.t('reg.chartEmpty');
      chart.decimalMark = R.decimalMark(V.i18n.lang);
      chart.draw();
      ['#reg-type', '#reg-regsize', '#reg-valsize'].forEach((s) => $(s).addEventListener('change', syncFormatFields));
      ['#reg-waddr', '#reg-wvalues'].forEach((s) => $(s).addEventListener('input', updatePlan));
      $('#reg-wvalues-hint').textContent = V.t('reg.valuesHint');
      syncFormatFields();
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
      V.on('langchange', () => {
        chart.emptyText = V.t('reg.chartEmpty');
        chart.decimalMark = R.decimalMark(V.i18n.lang);
        $('#reg-wvalues-hint').textContent = V.t('reg.valuesHint');
        setPolling(polling);
        if (list) useList(list);
        captionText();
        if (shown) updateTableValues();
        updateChartSeries();
      });
      V.on('connection', (s) => {
        if (!s.connected) stopPolling();
      });
    },
    onShow() {
      chart.draw();
    },
  });
})();
