/* Vexo browser interface: the shared core every module builds on.
 * - Vexo.api(): one AJAX call, reply classified into ok / data / error with a plain-words text
 * - Vexo.i18n / Vexo.t(): translations, applied to [data-i18n] elements
 * - Vexo.state: the connection state shown in the header, with change events
 * - small DOM helpers for status messages and busy buttons
 */
(function () {
  'use strict';

  const Vexo = (window.Vexo = window.Vexo || {});

  /* ---------- translations ---------- */

  const LANGS = ['en', 'es', 'de', 'pl'];
  const dictionaries = { en: {}, es: {}, de: {}, pl: {} };
  let current = 'en';
  const events = new EventTarget();

  function pickStartLanguage() {
    const saved = safeStorageGet('vexo.lang');
    if (saved && LANGS.includes(saved)) return saved;
    const nav = (navigator.language || 'en').slice(0, 2).toLowerCase();
    return LANGS.includes(nav) ? nav : 'en';
  }

  function safeStorageGet(key) {
    try {
      return window.localStorage.getItem(key);
    } catch (e) {
      return null;
    }
  }

  function safeStorageSet(key, value) {
    try {
      window.localStorage.setItem(key, value);
    } catch (e) {
      /* private mode: the choice lasts for this page only */
    }
  }

  function translate(key, params) {
    let text = dictionaries[current][key];
    if (text === undefined) text = dictionaries.en[key];
    if (text === undefined) return key;
    if (params) {
      text = text.replace(/\{(\w+)\}/g, (m, name) => (name in params ? String(params[name]) : m));
    }
    return text;
  }

  // data-i18n="key" sets the text; data-i18n-attr="placeholder:key;title:key" sets attributes.
  function applyTranslations(root) {
    const scope = root || document;
    scope.querySelectorAll('[data-i18n]').forEach((el) => {
      el.textContent = translate(el.dataset.i18n);
    });
    scope.querySelectorAll('[data-i18n-attr]').forEach((el) => {
      el.dataset.i18nAttr.split(';').forEach((pair) => {
        const [attr, key] = pair.split(':').map((s) => s.trim());
        if (attr && key) el.setAttribute(attr, translate(key));
      });
    });
  }

  Vexo.i18n = {
    languages: LANGS,
    add(lang, dict) {
      if (!dictionaries[lang]) dictionaries[lang] = {};
      Object.assign(dictionaries[lang], dict);
    },
    get lang() {
      return current;
    },
    set(lang) {
      if (!LANGS.includes(lang)) return;
      current = lang;
      safeStorageSet('vexo.lang', lang);
      document.documentElement.lang = lang;
      applyTranslations(document);
      events.dispatchEvent(new CustomEvent('langchange', { detail: lang }));
    },
    apply: applyTranslations,
    init() {
      current = pickStartLanguage();
      document.documentElement.lang = current;
    },
  };
  Vexo.t = translate;

  // Times and dates as people of the interface language write them.
  const LOCALES = { en: 'en-GB', es: 'es-ES', de: 'de-DE', pl: 'pl-PL' };
  function locale() {
    const nav = navigator.language || '';
    return current === 'en' && nav.startsWith('en') ? nav : LOCALES[current];
  }
  Vexo.formatTime = (date) => date.toLocaleTimeString(locale());
  Vexo.formatDateTime = (date) => date.toLocaleString(locale());

  Vexo.on = (name, handler) => events.addEventListener(name, (e) => handler(e.detail));
  Vexo.emit = (name, detail) => events.dispatchEvent(new CustomEvent(name, { detail }));

  /* ---------- the AJAX API ---------- */

  // Error texts Vexo sends, with the key of their plain-words explanation.
  const KNOWN_ERRORS = {
    'Not connected': 'err.notConnected',
    'Input parameters error!': 'err.inputParams',
    'Too many registers': 'err.tooMany',
    'I/O error: did not receive any data from slave.': 'err.timeout',
    'Unable to connect with TCP socket.': 'err.socket',
    'Number of registers returned does not match!': 'err.countMismatch',
    'Invalid port!': 'err.invalidPort',
    'Selected serial port not found.': 'err.portNotFound',
    'Baud rate error!': 'err.baud',
    'Could not connect to serial port!': 'err.serialOpen',
    'Could not connect to Modbus TCP!': 'err.tcpConnect',
    'Invalid registers size!': 'err.regSize',
    'Invalid value size!': 'err.valSize',
    'Invalid float precision!': 'err.floatPrec',
    'Invalid one value size!': 'err.oneValSize',
    'Registers values error!': 'err.regVals',
    'Parameter error!': 'err.param',
    'Unable to write to disk!': 'err.disk',
    'Unable to connect with server!': 'err.updateServer',
    'Reply error!': 'err.reply',
    'err2!': 'err.fieldTooLong',
    'Unknown table!': 'err.unknownTable',
    'Unknown value type!': 'err.unknownType',
    'Unknown byte order!': 'err.unknownOrder',
    'Invalid name!': 'err.definitionName',
    'Invalid interval!': 'err.definitionInterval',
    'Too many definitions!': 'err.tooManyDefinitions',
    'Unknown definition!': 'err.unknownDefinition',
    'Definitions not stored!': 'err.definitionsNotStored',
  };

  class ApiError extends Error {
    constructor(plain, raw) {
      super(plain);
      this.raw = raw;
    }
  }
  Vexo.ApiError = ApiError;

  // Turns an error text from Vexo into a sentence a user understands.
  function explainError(text, extra) {
    if (KNOWN_ERRORS[text]) return translate(KNOWN_ERRORS[text], extra);
    const protocol = /^Protocol error! ?(.*)$/.exec(text);
    if (protocol) return translate('err.protocol', { detail: protocol[1] || '?' });
    const range = /^Value out of range: (.*)$/.exec(text);
    if (range) return translate('err.valueRange', { value: range[1] });
    return translate('err.other', { detail: text });
  }
  Vexo.explainError = explainError;

  function buildQuery(func, params) {
    const query = new URLSearchParams();
    query.set('func', func);
    Object.entries(params || {}).forEach(([name, value]) => {
      if (value !== undefined && value !== null) query.set(name, String(value));
    });
    return query.toString();
  }


  async function fetchText(url, options, timeoutMs) {
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), timeoutMs);
    try {
      const response = await fetch(url, Object.assign({ cache: 'no-store', signal: controller.signal }, options));
      const text = await response.text();
      Vexo.state.setReachable(true);
      if (!response.ok) throw new ApiError(translate('err.http', { status: response.status }), text);
      return text;
    } catch (e) {
      if (e instanceof ApiError) throw e;
      if (e.name === 'AbortError') throw new ApiError(translate('err.noReplyInTime'), '');
      Vexo.state.setReachable(false);
      throw new ApiError(translate('err.network'), String(e.message || e));
    } finally {
      clearTimeout(timer);
    }
  }

  // An {"error": ...} reply as an ApiError in plain words, or null for any other value.
  function replyError(value, text) {
    if (!value || typeof value !== 'object' || Array.isArray(value) || typeof value.error !== 'string') return null;
    if (value.error === 'Not connected') Vexo.state.setDisconnected();
    const detail = value.errorNo !== undefined ? { code: value.errorNo } : undefined;
    let message = explainError(value.error, detail);
    if (detail) message += ' ' + translate('err.networkCode', detail);
    return new ApiError(message, text);
  }

  /* Whether the device answered, from the reply of a function that talks to it: no answer
   * and an unreachable device say it is silent; values and the device's own error answers say
   * it is there; anything else (a refused request, a busy lock) says nothing about it. */
  const DEVICE_FUNCTIONS = ['readRegisters', 'writeRegisters', 'identifySlave', 'readTable', 'writeTable'];
  const DEVICE_SILENT = ['I/O error: did not receive any data from slave.', 'Unable to connect with TCP socket.'];
  function noteDevice(func, errorText) {
    if (!DEVICE_FUNCTIONS.includes(func)) return;
    if (errorText === null || /^Protocol error!|^Number of registers returned/.test(errorText)) Vexo.state.setAnswering(true);
    else if (DEVICE_SILENT.includes(errorText)) Vexo.state.setAnswering(false);
  }

  /* Calls one AJAX function. Resolves with the parsed JSON value, or with the reply text when
   * opts.raw (for the replies that are not JSON); rejects with an ApiError in plain words.
   * An empty body means the function is unknown or the device lock stayed busy for 10 s.
   * opts.post sends the parameters in a form body: longer than a query string may be, and kept
   * out of Vexo's log, which records the request line and multipart fields. */
  Vexo.api = async function api(func, params, opts) {
    const options = opts || {};
    const timeout = options.timeoutMs || 40000;
    const query = buildQuery(func, params);
    const text = options.post
      ? await fetchText('ajax.html', { method: 'POST', body: new URLSearchParams(query) }, timeout)
      : await fetchText('ajax.html?' + query, {}, timeout);
    if (text === '' && !options.allowEmpty) throw new ApiError(translate('err.empty'), '');
    let value;
    try {
      value = JSON.parse(text);
    } catch (e) {
      if (!options.raw) throw new ApiError(translate('err.unreadable'), text);
      noteDevice(func, null);
      return text;
    }
    const error = replyError(value, text);
    noteDevice(func, error ? value.error : null);
    if (error) throw error;
    return options.raw ? text : value;
  };

  // POSTs a file's content to the save endpoint and hands the reply to the browser as a download.
  Vexo.saveFile = async function saveFile(filename, content) {
    const form = new FormData();
    form.append('filename', filename);
    form.append('fileContent', content);
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), 60000);
    let blob;
    try {
      const response = await fetch('saveFile.html', { method: 'POST', body: form, signal: controller.signal });
      if (!response.ok) throw new ApiError(translate('err.saveFailed', { status: response.status }), '');
      blob = await response.blob();
    } catch (e) {
      if (e instanceof ApiError) throw e;
      throw new ApiError(translate('err.network'), String(e.message || e));
    } finally {
      clearTimeout(timer);
    }
    const link = document.createElement('a');
    link.href = URL.createObjectURL(blob);
    link.download = filename;
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(link.href), 10000);
    return blob.size;
  };

  // Uploads a file to the load endpoint, which echoes its content back.
  Vexo.loadFile = async function loadFile(file) {
    const form = new FormData();
    form.append('uploadedfile', file, file.name);
    return fetchText('loadFile.html', { method: 'POST', body: form }, 60000);
  };

  /* ---------- connection state ---------- */

  Vexo.state = {
    connected: false,
    type: '', // 'tcp' or 'serial'
    target: null, // what the user connected to: { ip, port, slave } or { port, slave }
    answering: true, // false from the first request the device left unanswered to its next answer
    silentSince: null,
    reachable: true, // false while Vexo itself cannot be reached
    setConnected(type, target) {
      Object.assign(this, { connected: true, type, target, answering: true, silentSince: null });
      Vexo.emit('connection', this);
    },
    setDisconnected() {
      if (!this.connected && this.target === null) return;
      Object.assign(this, { connected: false, target: null, answering: true, silentSince: null });
      Vexo.emit('connection', this);
    },
    setAnswering(answering) {
      if (answering === this.answering) return;
      Object.assign(this, { answering, silentSince: answering ? null : new Date() });
      Vexo.emit('connection', this);
    },
    setReachable(reachable) {
      if (reachable === this.reachable) return;
      this.reachable = reachable;
      Vexo.emit('connection', this);
    },
    // The target in the current language.
    targetText() {
      if (!this.target) return this.type === 'tcp' ? 'Modbus TCP' : 'Modbus RTU';
      return translate(this.type === 'tcp' ? 'shell.targetTcp' : 'shell.targetSerial', this.target);
    },
  };

  /* ---------- address notation ---------- */

  // How addresses are shown and typed on every page: 'zero', 'one' or 'modicon'.
  const NOTATIONS = ['zero', 'one', 'modicon'];
  let notation = null;
  Vexo.notation = {
    get() {
      if (notation === null) {
        const saved = safeStorageGet('vexo.notation');
        notation = NOTATIONS.includes(saved) ? saved : 'zero';
      }
      return notation;
    },
    // Listeners get { from, to }: what was typed in the old notation can be rewritten.
    set(chosen) {
      const from = this.get();
      if (!NOTATIONS.includes(chosen) || chosen === from) return;
      notation = chosen;
      safeStorageSet('vexo.notation', chosen);
      Vexo.emit('notationchange', { from, to: chosen });
    },
  };

  /* ---------- modules ---------- */

  const definitions = {};
  Vexo.defineModule = function defineModule(name, definition) {
    definitions[name] = definition;
  };
  Vexo.moduleDefinition = (name) => definitions[name];

  /* ---------- DOM helpers ---------- */

  Vexo.$ = (root, selector) => root.querySelector(selector);
  Vexo.$$ = (root, selector) => Array.from(root.querySelectorAll(selector));

  Vexo.el = function el(tag, attrs, children) {
    const node = document.createElement(tag);
    Object.entries(attrs || {}).forEach(([name, value]) => {
      if (name === 'text') node.textContent = value;
      else if (name === 'className') node.className = value;
      else if (value !== false && value !== undefined && value !== null) node.setAttribute(name, value);
    });
    (children || []).forEach((child) => node.append(child));
    return node;
  };

  /* Shows a message in a status box: kind is 'info', 'ok', 'error' or 'busy'.
   * Errors carry the raw reply underneath so nothing Vexo said is hidden. */
  Vexo.showStatus = function showStatus(box, kind, text, raw) {
    box.hidden = false;
    box.className = 'status status-' + kind;
    box.setAttribute('role', kind === 'error' ? 'alert' : 'status');
    box.replaceChildren();
    if (kind === 'busy') box.append(Vexo.el('span', { className: 'spinner', 'aria-hidden': 'true' }));
    box.append(Vexo.el('span', { className: 'status-text', text }));
    if (raw) {
      box.append(Vexo.el('span', { className: 'status-raw', text: translate('common.vexoSaid', { raw }) }));
    }
  };

  Vexo.showError = function showError(box, error) {
    Vexo.showStatus(box, 'error', error.message, error.raw);
    if (error.raw === '{"error":"Not connected"}' && Vexo.showModule) {
      const go = Vexo.el('button', { type: 'button', className: 'btn secondary small', text: translate('common.connectFirst') });
      go.addEventListener('click', () => Vexo.showModule('connection'));
      box.insertBefore(go, box.querySelector('.status-raw'));
    }
  };

  Vexo.clearStatus = function clearStatus(box) {
    box.hidden = true;
    box.replaceChildren();
  };

  // Disables a button while work runs, so a slow device cannot be asked twice.
  Vexo.busy = async function busy(button, work) {
    button.disabled = true;
    button.setAttribute('aria-busy', 'true');
    try {
      return await work();
    } finally {
      button.disabled = false;
      button.removeAttribute('aria-busy');
    }
  };

  Vexo.sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

  /* Runs task every ms while the named module is the one shown and the page is visible; a
   * run never overlaps the one before. Returns a function that runs it at once. */
  Vexo.whileShown = function whileShown(moduleName, ms, task) {
    let running = false;
    const run = async () => {
      if (running || document.hidden || Vexo.activeModule() !== moduleName) return;
      running = true;
      try {
        await task();
      } finally {
        running = false;
      }
    };
    setInterval(run, ms);
    return run;
  };

  // Reads an integer field; returns null (and marks the field) when it is not in [min, max].
  Vexo.readInt = function readInt(input, min, max) {
    const text = input.value.trim();
    const ok = /^-?\d+$/.test(text) && Number(text) >= min && Number(text) <= max;
    input.setAttribute('aria-invalid', ok ? 'false' : 'true');
    return ok ? Number(text) : null;
  };

  // Fills a select with [value, label] entries, keeping the selection where it is offered.
  Vexo.fillOptions = function fillOptions(select, entries, selected) {
    select.replaceChildren(...entries.map(([value, label]) => Vexo.el('option', { value, text: label })));
    select.value = entries.some(([value]) => value === selected) ? selected : entries[0][0];
  };

  // The time of day with its milliseconds from an ISO 8601 time, as the device's host wrote it.
  Vexo.timeOfDay = function timeOfDay(iso) {
    const m = /T(\d\d:\d\d:\d\d(\.\d+)?)/.exec(String(iso));
    return m ? m[1] : String(iso);
  };

  Vexo.hex16 = (n) => '0x' + (n & 0xffff).toString(16).toUpperCase().padStart(4, '0');

  Vexo.timestamp = function timestamp(date) {
    const d = date || new Date();
    const p = (n) => String(n).padStart(2, '0');
    return d.getFullYear() + p(d.getMonth() + 1) + p(d.getDate()) + '-' + p(d.getHours()) + p(d.getMinutes()) + p(d.getSeconds());
  };
})();
