/* Registers module: read a block in any format with the raw registers beside the values, poll
 * with a live chart, write with checks, export CSV or a PDF report, load a saved list. */
(function () {
  'use strict';
  const V = window.Vexo;
  let R; // the shared value helpers, taken at init: scripts load in any order
  const MIN_INTERVAL_MS = 200;
  const MAX_CHART_SERIES = 8;

  let root;
  let chart;
  let polling = false;
  let pollCount = 0;
  // What the table shows: { format, start, rows: [{address, value, raw}], source: 'device'|'file', time }
  let shown = null;
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

  // Keeps the value size and decimals fields consistent with the type and register size.
  function syncFormatFields() {
    const f = formFormat();
    const valSize = $('#reg-valsize');
    valSize.value = String(f.valSize);
    valSize.disabled = f.valSizeLocked;
    $('#reg-valsize-hint').textContent = f.valSizeLocked ? V.t('reg.valSizeLocked') : '';
    $('#reg-prec').disabled = !R.isFloatType(f.type);
  }

  function setFormFormat(format) {
    $('#reg-type').value = format.type;
    $('#reg-regsize').value = String(format.regSize);
    $('#reg-valsize').value = String(format.valSize);
    syncFormatFields();
  }

  function problemsText(keys) {
    return keys.map((k) => (typeof k === 'string' ? V.t(k) : V.t(k.key, k.params))).join(' ');
  }

  // Reads the range and format from the form; null (with the problems shown) when invalid.
  function readRequest() {
    const format = formFormat();
    const start = V.readInt($('#reg-addr'), 0, 65535);
    const count = V.readInt($('#reg-count'), 1, R.MAX_VALUES);
    const problems = R.checkRange(format, start === null ? -1 : start, count === null ? -1 : count);
    if (R.isFloatType(format.type) && V.readInt($('#reg-prec'), 0, 20) === null) problems.push('reg.badPrec');
    if (problems.length) {
      V.showStatus($('#reg-status'), 'error', problemsText(problems));
      return null;
    }
    return { format, start, count };
  }

  function apiFormat(format) {
    return { regType: format.type, regSize: format.regSize, valSize: format.valSize };
  }

  /* ---------- reading ---------- */

  async function readValues(request, type) {
    const params = Object.assign({ regAddr: request.start, valuesCnt: request.count }, apiFormat(request.format));
    params.regType = type;
    if (R.isFloatType(type)) params.floatPrec = request.format.floatPrec;
    const text = await V.api('readRegisters', params, { raw: true });
    const values = R.parseValueList(text);
    if (!values || values.length !== request.count) throw new V.ApiError(V.t('reg.badReply'), text);
    return values;
  }

  /* Reads the decoded values, then the same registers unsigned for the raw words. A register
   * that changed between the two reads is read once more, and marked if it changed again. */
  async function readBlock(request) {
    let rows = [];
    for (let attempt = 0; attempt < 2; attempt++) {
      const values = await readValues(request, request.format.type);
      const raw = R.rawWords(request.format, await readValues(request, 'uint'));
      rows = values.map((value, i) => ({ address: R.addressOf(request.format, request.start, i), value, raw: raw[i] }));
      rows.forEach((row) => (row.changed = R.agreesWithRaw(request.format, row.value, row.raw) === false));
      if (!rows.some((row) => row.changed)) break;
    }
    return rows;
  }

  async function readOnce() {
    const request = readRequest();
    if (!request) return false;
    const box = $('#reg-status');
    if (!polling) V.showStatus(box, 'busy', V.t('reg.reading'));
    try {
      const rows = await readBlock(request);
      showRows({ format: request.format, start: request.start, rows, source: 'device', time: new Date() });
      feedChart(rows);
      if (!polling) V.showStatus(box, 'ok', V.t('reg.readDone', { count: rows.length, time: shown.time.toLocaleTimeString() }));
      return true;
    } catch (e) {
      V.showError(box, e);
      if (shown && shown.source === 'device') {
        shown.stale = true;
        captionText();
      }
      return e.raw !== '{"error":"Not connected"}';
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

  function rawDec(row) {
    return (row.raw || []).join(' ');
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
        V.el('td', { className: 'num' }, [V.el('span', { className: 'value', text: row.value })]),
        V.el('td', { className: 'raw raw-hex', text: rawHex(row) }),
        V.el('td', { className: 'raw', text: rawDec(row) }),
        V.el('td', {}, [box]),
      ]));
      markRow(body.lastElementChild, row);
    });
  }

  function updateTableValues() {
    V.$$(root, '#reg-body tr').forEach((tr, i) => markRow(tr, shown.rows[i]));
  }

  function markRow(tr, row) {
    tr.querySelector('.value').textContent = row.value;
    const raws = tr.querySelectorAll('td.raw');
    raws[0].textContent = rawHex(row);
    raws[1].textContent = rawDec(row);
    tr.classList.toggle('is-changed', !!row.changed);
    if (row.changed) raws[0].title = V.t('reg.changedBetween');
    else raws[0].removeAttribute('title');
  }

  function captionText() {
    const caption = $('#reg-caption');
    if (!shown) {
      caption.textContent = V.t('reg.noData');
      return;
    }
    const f = shown.format;
    const what = V.t('reg.type.' + f.type) + ', ' + V.t('reg.regSize' + f.regSize) + ', ' + V.t('reg.bits' + f.valSize);
    let key = 'reg.captionDevice';
    if (shown.source === 'file') key = 'reg.captionFile';
    else if (shown.stale) key = 'reg.captionStale';
    caption.textContent = V.t(key, { name: shown.fileName, time: shown.time.toLocaleTimeString(), what });
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
    const summary = chart.latest().map((s) => s.label + ': ' + (s.value === null ? '—' : s.value)).join(', ');
    $('#reg-chart-summary').textContent = summary;
    $('#reg-chart').dataset.samples = String(chart.samples);
  }

  /* ---------- polling ---------- */

  let wakePoller = null;

  function setPolling(on) {
    polling = on;
    const button = $('#reg-poll');
    button.setAttribute('aria-pressed', on ? 'true' : 'false');
    button.textContent = V.t(on ? 'reg.stopPoll' : 'reg.startPoll');
    $('#reg-read').disabled = on;
    $('#reg-interval').disabled = on;
    if (!on) $('#reg-poll-info').textContent = pollCount ? V.t('reg.pollStopped', { count: pollCount }) : '';
  }

  async function pollLoop(interval) {
    while (polling) {
      const started = performance.now();
      const goOn = await readOnce();
      if (!goOn) break;
      pollCount++;
      $('#reg-poll-info').textContent = V.t('reg.pollInfo', { count: pollCount, interval });
      const wait = interval - (performance.now() - started);
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
    if (!readRequest()) return;
    pollCount = 0;
    V.showStatus($('#reg-status'), 'info', V.t('reg.polling'));
    setPolling(true);
    pollLoop(interval);
  }

  /* ---------- writing ---------- */

  async function write() {
    const box = $('#reg-write-status');
    const format = formFormat();
    const parsed = R.parseWriteValues($('#reg-wvalues').value, format);
    const start = V.readInt($('#reg-waddr'), 0, 65535);
    const problems = parsed.problems.slice(0, 4);
    if (start === null) problems.unshift('reg.badAddress');
    else if (parsed.values.length) problems.push(...R.checkRange(format, start, parsed.values.length).filter((k) => k !== 'reg.badCount'));
    $('#reg-wvalues').setAttribute('aria-invalid', parsed.problems.length ? 'true' : 'false');
    if (problems.length) {
      V.showStatus(box, 'error', problemsText(problems));
      return;
    }
    await V.busy($('#reg-write'), async () => {
      V.showStatus(box, 'busy', V.t('reg.writing', { count: parsed.values.length }));
      try {
        const params = Object.assign({
          regAddr: start,
          valuesCnt: parsed.values.length,
          // Vexo percent-decodes this value once more before reading the array.
          regVals: encodeURIComponent(JSON.stringify(parsed.values)),
        }, apiFormat(format));
        const reply = await V.api('writeRegisters', params);
        V.showStatus(box, 'ok', V.t('reg.written', { count: parsed.values.length, address: start }), reply.ok);
        if ($('#reg-readback').checked) {
          $('#reg-addr').value = start;
          $('#reg-count').value = parsed.values.length;
          await readOnce();
        }
      } catch (e) {
        V.showError(box, e);
      }
    });
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

  function reportHtml() {
    const f = shown.format;
    const rows = shown.rows.map((r) => '<tr><td>' + r.address + '</td><td align="right">' + escapeHtml(r.value) +
      '</td><td>' + escapeHtml(rawHex(r)) + '</td></tr>').join('');
    const facts = [
      [V.t('reg.pdfDevice'), V.state.connected ? V.state.target : V.t('shell.notConnected')],
      [V.t('reg.pdfTime'), (shown.time || new Date()).toLocaleString()],
      [V.t('reg.type'), V.t('reg.type.' + f.type)],
      [V.t('reg.regSize'), V.t('reg.regSize' + f.regSize)],
      [V.t('reg.valSize'), V.t('reg.bits' + f.valSize)],
    ].map(([k, v]) => '<tr><td><b>' + escapeHtml(k) + '</b></td><td>' + escapeHtml(v) + '</td></tr>').join('');
    return '<html><body style="font-family: sans-serif">' +
      '<h1 style="color:#0f2a47">' + escapeHtml(V.t('reg.pdfTitle')) + '</h1>' +
      '<table cellpadding="3">' + facts + '</table><br>' +
      '<table border="1" cellspacing="0" cellpadding="4" width="100%"><thead><tr style="background:#e8f0fb">' +
      '<th>' + escapeHtml(V.t('reg.colAddress')) + '</th><th>' + escapeHtml(V.t('reg.colValue')) + '</th><th>' +
      escapeHtml(V.t('reg.colRawHex')) + '</th></tr></thead><tbody>' + rows + '</tbody></table>' +
      '<p style="color:#5b6578">Vexo ' + escapeHtml(V.generalInfo ? V.generalInfo.ver : '') + '</p></body></html>';
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
      setFormFormat(parsed.format);
      const start = parsed.rows[0].address;
      $('#reg-addr').value = start;
      $('#reg-count').value = parsed.rows.length;
      $('#reg-waddr').value = start;
      $('#reg-wvalues').value = parsed.rows.map((r) => r.value).join(', ');
      showRows({ format: parsed.format, start, rows: parsed.rows.map((r) => ({ address: r.address, value: r.value, raw: [] })), source: 'file', fileName: file.name, time: new Date() });
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
      chart.draw();
      ['#reg-type', '#reg-regsize'].forEach((s) => $(s).addEventListener('change', syncFormatFields));
      syncFormatFields();
      $('#reg-form').addEventListener('submit', (e) => {
        e.preventDefault();
        V.busy($('#reg-read'), readOnce);
      });
      $('#reg-poll').addEventListener('click', togglePolling);
      $('#reg-write-form').addEventListener('submit', (e) => {
        e.preventDefault();
        write();
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
        syncFormatFields();
        setPolling(polling);
        captionText();
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
