/* Updates module: installed modules, update check, installing and following an update. */
(function () {
  'use strict';
  const V = window.Vexo;
  const STATUS_POLL_MS = 500;
  const UPDATE_LIMIT_MS = 10 * 60 * 1000;
  const META_KEYS = ['ok', 'status', 'ver', 'version', 'message'];

  let root;
  let installed = [];
  const $ = (sel) => V.$(root, sel);

  async function loadInstalled() {
    const box = $('#upd-installed-status');
    try {
      const list = await V.api('getListOfInstalledModules');
      installed = Object.keys(list).filter((n) => list[n] && typeof list[n] === 'object' && n !== 'modules').sort();
      const body = $('#upd-installed');
      body.replaceChildren();
      installed.forEach((name) => {
        const files = ['html', 'css', 'js'].map((ext) => (list[name][ext] || []).length + ' ' + ext).join(', ');
        body.append(V.el('tr', {}, [V.el('td', { text: name }), V.el('td', { className: 'muted', text: files })]));
      });
      if (installed.length === 0) body.append(V.el('tr', {}, [V.el('td', { colspan: '2', className: 'empty', text: V.t('upd.none') })]));
      V.clearStatus(box);
    } catch (e) {
      V.showError(box, e);
    }
  }

  /* The update server's answer is passed through unchanged. Understood forms: an array of module
   * names, an object with such an array (or object) under "modules" or "updates", or an object
   * whose members are the module names. Returns the names, or null for any other answer. */
  function modulesFromAnswer(text) {
    if (text.trim() === '') return []; // an empty answer (such as 204 No Content) offers nothing
    let value;
    try {
      value = JSON.parse(text);
    } catch (e) {
      return null;
    }
    const names = (list) => list.filter((n) => typeof n === 'string' && n !== '');
    if (Array.isArray(value)) return names(value);
    if (!value || typeof value !== 'object') return null;
    for (const key of ['modules', 'updates']) {
      if (Array.isArray(value[key])) return names(value[key]);
      if (value[key] && typeof value[key] === 'object') return Object.keys(value[key]);
    }
    return Object.keys(value).filter((k) => !META_KEYS.includes(k));
  }

  function showChoice(modules) {
    const list = $('#upd-list');
    list.replaceChildren();
    modules.forEach((name) => {
      const box = V.el('input', { type: 'checkbox', value: name });
      box.checked = true;
      list.append(V.el('label', { className: 'check' }, [box, V.el('span', { text: name })]));
    });
    $('#upd-choice').hidden = modules.length === 0;
  }

  function checkRequest() {
    return JSON.stringify({ ver: V.generalInfo ? V.generalInfo.ver : '', modules: installed });
  }

  async function withTicker(box, key, work) {
    const started = Date.now();
    const tick = () => V.showStatus(box, 'busy', V.t(key, { seconds: Math.round((Date.now() - started) / 1000) }));
    tick();
    const timer = setInterval(tick, 1000);
    try {
      return await work();
    } finally {
      clearInterval(timer);
    }
  }

  async function check() {
    const box = $('#upd-status');
    $('#upd-choice').hidden = true;
    await V.busy($('#upd-check'), async () => {
      try {
        // Vexo hands this value to the update server as a form field without encoding it again.
        const text = await withTicker(box, 'upd.checking', () =>
          V.api('check4Updates', { json: encodeURIComponent(checkRequest()) }, { raw: true, allowEmpty: true, timeoutMs: 30000 }));
        const modules = modulesFromAnswer(text);
        if (modules === null) {
          V.showStatus(box, 'error', V.t('upd.unknownAnswer'), text);
        } else if (modules.length === 0) {
          V.showStatus(box, 'ok', V.t('upd.upToDate'));
        } else {
          V.showStatus(box, 'info', V.t('upd.found', { count: modules.length }));
          showChoice(modules);
        }
      } catch (e) {
        V.showError(box, e);
        await nameServer(box, e);
      }
    });
  }

  // A server that could not be reached is named, so the user sees which address was tried.
  async function nameServer(box, error) {
    if (!/Unable to connect with server!|Reply error!/.test(error.raw || '')) return;
    try {
      const { server } = await V.api('getUpdateServer');
      if (server) V.showStatus(box, 'error', error.message + ' ' + V.t('upd.triedAddress', { address: server }), error.raw);
    } catch (e) {
      // The first error says what matters; the address is a help, not a second failure.
    }
  }

  async function followUpdate(box) {
    const started = Date.now();
    $('#upd-progress-wrap').hidden = false;
    try {
      while (Date.now() - started < UPDATE_LIMIT_MS) {
        await V.sleep(STATUS_POLL_MS);
        const status = await V.api('getUpdateStatus');
        if (status.ok === 'In progress') {
          V.showStatus(box, 'busy', V.t('upd.running', { seconds: Math.round((Date.now() - started) / 1000) }));
          continue;
        }
        if (typeof status.ok === 'string') {
          V.showStatus(box, 'ok', V.t('upd.completed'), status.ok);
          $('#upd-reload-wrap').hidden = false;
          loadInstalled();
          return;
        }
        V.showStatus(box, 'error', V.t('upd.noOutcome'), JSON.stringify(status));
        return;
      }
      V.showStatus(box, 'error', V.t('upd.tooLong'));
    } catch (e) {
      V.showStatus(box, 'error', V.t('upd.failed') + ' ' + e.message, e.raw);
    } finally {
      $('#upd-progress-wrap').hidden = true;
    }
  }

  async function start() {
    const box = $('#upd-status');
    const chosen = V.$$(root, '#upd-list input:checked').map((b) => b.value);
    if (chosen.length === 0) {
      V.showStatus(box, 'error', V.t('upd.chooseOne'));
      return;
    }
    await V.busy($('#upd-start'), async () => {
      await V.busy($('#upd-check'), async () => {
        try {
          V.showStatus(box, 'busy', V.t('upd.starting'));
          // Vexo percent-decodes the list once more before reading it.
          await V.api('startUpdating', { modulesList: encodeURIComponent(JSON.stringify(chosen)) });
          $('#upd-choice').hidden = true;
          await followUpdate(box);
        } catch (e) {
          V.showError(box, e);
        }
      });
    });
  }

  V.defineModule('updates', {
    titleKey: 'upd.tab',
    init(panel) {
      root = panel;
      $('#upd-check').addEventListener('click', check);
      $('#upd-start').addEventListener('click', start);
      $('#upd-refresh').addEventListener('click', loadInstalled);
      $('#upd-reload').addEventListener('click', () => {
        try {
          window.sessionStorage.setItem('vexo.modulesVersion', String(Date.now()));
        } catch (e) {
          /* without storage the browser may show the old files until its cache expires */
        }
        location.reload();
      });
      loadInstalled();
    },
  });
  V.updatesAnswerModules = modulesFromAnswer;
})();
