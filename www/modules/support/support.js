/* Support module: the e-mail form. Vexo reads the fields by position and cannot carry commas,
 * colons, quotes or braces inside a field, so they are refused before sending. */
(function () {
  'use strict';
  const V = window.Vexo;
  // In the order Vexo reads them.
  const FIELDS = ['#sup-name', '#sup-surname', '#sup-email', '#sup-company', '#sup-phone', '#sup-module', '#sup-message'];
  const KEYS = ['name', 'surname', 'email', 'company', 'phone', 'module', 'message'];
  const FORBIDDEN = /[,:"{}]/g;
  const REPLACEMENTS = { ',': ';', ':': ' -', '"': "'", '{': '(', '}': ')' };

  let root;
  let cameFrom = '';
  const $ = (sel) => V.$(root, sel);

  // The length Vexo counts: the text as it travels inside the JSON string (a line break is \n).
  function sentLength(text) {
    return JSON.stringify(text).length - 2;
  }

  function updateCounter(input) {
    const counter = input.parentElement.querySelector('.counter');
    if (!counter) return;
    const limit = Number(input.dataset.limit);
    const used = sentLength(input.value);
    counter.textContent = V.t('sup.counter', { used, limit });
    counter.classList.toggle('is-over', used > limit);
  }

  function fieldLabel(input) {
    return root.querySelector('label[for="' + input.id + '"]').textContent.replace('*', '').trim();
  }

  function validate() {
    const problems = [];
    let forbiddenFound = false;
    FIELDS.forEach((sel) => {
      const input = $(sel);
      const value = input.value;
      let bad = false;
      if (input.required && value.trim() === '') {
        problems.push(V.t('sup.required', { field: fieldLabel(input) }));
        bad = true;
      }
      if (sentLength(value) > Number(input.dataset.limit)) {
        problems.push(V.t('sup.tooLong', { field: fieldLabel(input), limit: input.dataset.limit }));
        bad = true;
      }
      const forbidden = Array.from(new Set(value.match(FORBIDDEN) || []));
      if (forbidden.length) {
        problems.push(V.t('sup.forbidden', { field: fieldLabel(input), chars: forbidden.join(' ') }));
        forbiddenFound = true;
        bad = true;
      }
      input.setAttribute('aria-invalid', bad ? 'true' : 'false');
    });
    const email = $('#sup-email').value.trim();
    if (email && !/^[^\s@]+@[^\s@]+\.[^\s@]+$/.test(email)) {
      problems.push(V.t('sup.badEmail'));
      $('#sup-email').setAttribute('aria-invalid', 'true');
    }
    $('#sup-fix').hidden = !forbiddenFound;
    return problems;
  }

  function replaceForbidden() {
    FIELDS.forEach((sel) => {
      const input = $(sel);
      if (input.tagName === 'SELECT') return;
      input.value = input.value.replace(FORBIDDEN, (c) => REPLACEMENTS[c]);
      updateCounter(input);
    });
    validate();
    V.clearStatus($('#sup-status'));
    $('#sup-send').focus();
  }

  function message() {
    const fields = {};
    FIELDS.forEach((sel, i) => (fields[KEYS[i]] = $(sel).value.trim()));
    return JSON.stringify(fields);
  }

  function describeReply(reply) {
    if (reply.status === 'ok!') return ['ok', V.t('sup.sent')];
    if (reply.status === 'time') {
      const left = Number(reply.timeleft) || 0;
      return ['error', V.t('sup.wait', { minutes: Math.floor(left / 60), seconds: left % 60 })];
    }
    if (reply.status === 'err!') return ['error', V.t('sup.toolFailed')];
    return ['error', V.t('err.unreadable')];
  }

  async function send() {
    const box = $('#sup-status');
    const problems = validate();
    if (problems.length) {
      V.showStatus(box, 'error', problems.join(' '));
      return;
    }
    await V.busy($('#sup-send'), async () => {
      V.showStatus(box, 'busy', V.t('sup.sending'));
      try {
        // Vexo percent-decodes this value once more before splitting it into fields.
        const reply = await V.api('sendEmail', { json: encodeURIComponent(message()) }, { timeoutMs: 45000, post: true });
        const [kind, text] = describeReply(reply);
        V.showStatus(box, kind, text, kind === 'ok' ? '' : JSON.stringify(reply));
        if (kind === 'ok') $('#sup-message').value = '';
        updateCounter($('#sup-message'));
      } catch (e) {
        V.showError(box, e);
      }
    });
  }

  function fillModules() {
    const select = $('#sup-module');
    const names = V.$$(document, '[role="tab"]').map((t) => t.dataset.module).filter((n) => n && n !== 'support');
    const keep = select.value || cameFrom;
    select.replaceChildren(...names.map((n) => V.el('option', { value: n, text: n })));
    if (names.includes(keep)) select.value = keep;
  }

  V.defineModule('support', {
    titleKey: 'sup.tab',
    init(panel) {
      root = panel;
      FIELDS.forEach((sel) => {
        const input = $(sel);
        input.addEventListener('input', () => updateCounter(input));
        updateCounter(input);
      });
      $('#sup-form').addEventListener('submit', (e) => {
        e.preventDefault();
        send();
      });
      $('#sup-fix').addEventListener('click', replaceForbidden);
      V.on('langchange', () => FIELDS.forEach((sel) => updateCounter($(sel))));
      document.addEventListener('click', (e) => {
        const tab = e.target.closest && e.target.closest('[role="tab"]');
        if (tab && tab.dataset.module === 'support') cameFrom = V.activeModule();
      }, true);
    },
    onShow() {
      fillModules();
    },
  });
})();
