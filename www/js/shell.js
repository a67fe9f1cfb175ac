/* The shell page: asks Vexo which interface modules are installed, loads their pages, styles
 * and scripts, and shows them as tabs under a header with the version, the connection state
 * and the language choice. */
(function () {
  'use strict';

  const V = window.Vexo;
  const PREFERRED_ORDER = ['connection', 'registers', 'polling', 'traffic', 'identify', 'updates', 'support', 'about'];
  const tabs = [];

  function moduleOrder(a, b) {
    const ia = PREFERRED_ORDER.indexOf(a);
    const ib = PREFERRED_ORDER.indexOf(b);
    if (ia !== ib) return (ia < 0 ? 99 : ia) - (ib < 0 ? 99 : ib);
    return a.localeCompare(b);
  }

  function loadScript(src) {
    return new Promise((resolve, reject) => {
      const script = document.createElement('script');
      script.src = src;
      script.onload = resolve;
      script.onerror = () => reject(new Error(src));
      document.head.appendChild(script);
    });
  }

  function loadStyle(href) {
    document.head.appendChild(V.el('link', { rel: 'stylesheet', href }));
  }

  async function fetchFragment(url) {
    const response = await fetch(url);
    if (!response.ok) throw new Error(url + ': ' + response.status);
    return response.text();
  }

  function moduleTitle(name) {
    const def = V.moduleDefinition(name);
    return def && def.titleKey ? V.t(def.titleKey) : name;
  }

  /* ---------- tabs ---------- */

  function selectTab(index, focus) {
    tabs.forEach((tab, i) => {
      const selected = i === index;
      tab.button.setAttribute('aria-selected', selected ? 'true' : 'false');
      tab.button.tabIndex = selected ? 0 : -1;
      tab.panel.hidden = !selected;
    });
    const tab = tabs[index];
    if (focus) tab.button.focus();
    document.body.dataset.activeModule = tab.name;
    history.replaceState(null, '', '#' + tab.name);
    const def = V.moduleDefinition(tab.name);
    if (def && def.onShow) def.onShow(tab.panel);
  }

  function onTabKey(event) {
    const index = tabs.findIndex((t) => t.button === event.currentTarget);
    let next = null;
    if (event.key === 'ArrowRight') next = (index + 1) % tabs.length;
    else if (event.key === 'ArrowLeft') next = (index - 1 + tabs.length) % tabs.length;
    else if (event.key === 'Home') next = 0;
    else if (event.key === 'End') next = tabs.length - 1;
    if (next !== null) {
      event.preventDefault();
      selectTab(next, true);
    }
  }

  function addTab(name, panel) {
    const button = V.el('button', {
      type: 'button',
      role: 'tab',
      id: 'tab-' + name,
      'aria-controls': panel.id,
      'aria-selected': 'false',
      tabindex: '-1',
      'data-module': name,
    });
    button.textContent = moduleTitle(name);
    button.addEventListener('click', () => selectTab(tabs.findIndex((t) => t.name === name), false));
    button.addEventListener('keydown', onTabKey);
    panel.setAttribute('role', 'tabpanel');
    panel.setAttribute('aria-labelledby', button.id);
    panel.tabIndex = 0;
    document.getElementById('tablist').appendChild(button);
    tabs.push({ name, button, panel });
  }

  // Switches to a module from anywhere (e.g. "Connect first" links).
  V.showModule = function showModule(name) {
    const index = tabs.findIndex((t) => t.name === name);
    if (index >= 0) selectTab(index, true);
  };
  V.activeModule = () => document.body.dataset.activeModule || '';

  /* ---------- loading ---------- */

  // After a module update the browser must not use its cached copies of the old files.
  function cacheSuffix() {
    let token = null;
    try {
      token = window.sessionStorage.getItem('vexo.modulesVersion');
    } catch (e) {
      token = null;
    }
    return token ? '?v=' + encodeURIComponent(token) : '';
  }

  async function loadModule(name, files, panel) {
    const url = (file) => 'modules/' + name + '/' + file + cacheSuffix();
    for (const file of (files.html || []).slice().sort()) {
      panel.insertAdjacentHTML('beforeend', await fetchFragment(url(file)));
    }
    (files.css || []).slice().sort().forEach((file) => loadStyle(url(file)));
    // Scripts only register themselves; init runs after all are in, so their order is free.
    for (const file of (files.js || []).slice().sort()) await loadScript(url(file));
  }

  function showShellError(text, raw) {
    const box = document.getElementById('shell-status');
    V.showStatus(box, 'error', text, raw);
  }

  async function loadModules() {
    const box = document.getElementById('shell-status');
    V.showStatus(box, 'busy', V.t('shell.loading'));
    let list;
    try {
      list = await V.api('getListOfInstalledModules');
    } catch (e) {
      showShellError(V.t('shell.listFailed') + ' ' + e.message, e.raw);
      return;
    }
    const names = Object.keys(list || {}).filter((n) => n !== 'modules' && list[n] && typeof list[n] === 'object');
    names.sort(moduleOrder);
    if (names.length === 0) {
      showShellError(V.t('shell.noModules'));
      return;
    }
    const main = document.getElementById('modules');
    const failed = [];
    for (const name of names) {
      const panel = V.el('section', { id: 'module-' + name, className: 'module', hidden: 'hidden' });
      main.appendChild(panel);
      try {
        await loadModule(name, list[name], panel);
      } catch (e) {
        failed.push(name);
        panel.append(V.el('p', { className: 'status status-error', text: V.t('shell.moduleFailed', { name }) }));
      }
      addTab(name, panel);
    }
    V.i18n.apply(document);
    for (const tab of tabs) {
      const def = V.moduleDefinition(tab.name);
      tab.button.textContent = moduleTitle(tab.name);
      if (def && def.init) {
        try {
          def.init(tab.panel);
        } catch (e) {
          failed.push(tab.name);
          tab.panel.prepend(V.el('p', { className: 'status status-error', text: V.t('shell.moduleFailed', { name: tab.name }) }));
        }
      }
    }
    if (failed.length === 0) V.clearStatus(box);
    else showShellError(V.t('shell.someFailed', { names: failed.join(', ') }));
    const wanted = tabs.findIndex((t) => '#' + t.name === location.hash);
    selectTab(wanted >= 0 ? wanted : 0, false);
  }

  /* ---------- header ---------- */

  function renderConnection() {
    const badge = document.getElementById('conn-badge');
    const text = document.getElementById('conn-text');
    const s = V.state;
    const silent = s.connected && !s.answering;
    badge.classList.toggle('is-connected', s.connected && s.answering && s.reachable);
    badge.classList.toggle('is-silent', silent || !s.reachable);
    if (!s.reachable) text.textContent = V.t('shell.vexoUnreachable');
    else if (silent) text.textContent = V.t('shell.notAnswering', { target: s.targetText(), time: V.formatTime(s.silentSince) });
    else if (s.connected) text.textContent = V.t('shell.connectedTo', { target: s.targetText() });
    else text.textContent = V.t('shell.notConnected');
  }

  function setupLanguageSelect() {
    const select = document.getElementById('lang-select');
    select.value = V.i18n.lang;
    select.addEventListener('change', () => V.i18n.set(select.value));
  }

  async function loadGeneralInfo() {
    try {
      const info = await V.api('getGeneralInfo');
      V.generalInfo = info;
      document.getElementById('app-version').textContent = 'v' + info.ver;
      V.emit('generalinfo', info);
    } catch (e) {
      document.getElementById('app-version').textContent = '';
    }
  }

  // Links and the browser's back and forward buttons change the hash.
  window.addEventListener('hashchange', () => {
    const index = tabs.findIndex((t) => '#' + t.name === location.hash);
    if (index >= 0 && tabs[index].panel.hidden) selectTab(index, false);
  });

  V.on('connection', renderConnection);
  V.on('langchange', () => {
    renderConnection();
    tabs.forEach((t) => (t.button.textContent = moduleTitle(t.name)));
  });

  document.addEventListener('DOMContentLoaded', async () => {
    V.i18n.init();
    V.i18n.apply(document);
    setupLanguageSelect();
    renderConnection();
    loadGeneralInfo();
    await loadModules();
    document.body.dataset.ready = 'true';
  });
})();
