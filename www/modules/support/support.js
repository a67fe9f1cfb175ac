/* Support module: the e-mail form. Vexo reads the fields by position and cannot carry commas,
 * colons, quotes or braces inside a field, so they are refused before sending; the page says so,
 * and whether this Vexo can send mail at all, before anything is typed. */
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

  /* Checks the fields; while typing (typing true) an empty required field is not yet a
   * problem. Marks the fields and offers the fix for refused characters. */
  function validate(typing) {
    const problems = [];
    let forbiddenFound = false;
    FIELDS.forEach((sel) => {
      const input = $(sel);
      const value = input.value;
      const before = problems.length;
      if (!typing && input.required && value.trim() === '') problems.push(V.t('sup.required', { field: fieldLabel(input) }));
      if (sentLength(value) > Number(input.dataset.limit)) {
        problems.push(V.t('sup.tooLong', { field: fieldLabel(input), limit: input.dataset.limit }));
      }
      const forbidden = Array.from(new Set(value.match(FORBIDDEN) || []));
      if (forbidden.length) {
        problems.push(V.t('sup.forbidden', { field: fieldLabel(input), chars: forbidden.join(' ') }));
        forbiddenFound = true;
      }
      input.setAttribute('aria-invalid', problems.length > before ? 'true' : 'false');
    });
    const email = $('#sup-email').value.trim();
    if (email && !typing && !/^[^\s@]+@[^\s@]+\.[^\s@]+$/.test(email)) {
      problems.push(V.t('sup.badEmail'));
      $('#sup-email').setAttribute('aria-invalid', 'true');
    }
    $('#sup-fix').hidden = !forbiddenFound;
    return problems;
  }

  // Whether this Vexo says it can send mail, shown above the form.
  function showMailState() {
    const box = $('#sup-mailstate');
    const info = V.generalInfo;
    if (!info) {
      box.hidden = true;
      return;
    }
    const can = Number(info.canSendMailReport) === 1;
    V.showStatus(box, can ? 'info' : 'error', V.t(can ? 'sup.canSend' : 'sup.cannotSend'));
    box.setAttribute('role', 'note');
  }

  function replaceForbidden() {
    FIELDS.forEach((sel) => {
      const input = $(sel);
      if (input.tagName === 'SELECT') return;
      input.value = input.value.replace(FORBIDDEN, (c) => REPLACEMENTS[c]);
      updateCounter(input);
    });
    validate(true);
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
        // Vexo percent-decodes this value once more before splitting it into fields, so a
        // percent sign of the text is sent encoded. A form body keeps the text out of its log.
        const reply = await V.api('sendEmail', { json: message().replace(/%/g, '%25') }, { timeoutMs: 45000, post: true });
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
        input.addEventListener('input', () => {
          updateCounter(input);
          validate(true);
        });
        updateCounter(input);
      });
      $('#sup-form').addEventListener('submit', (e) => {
        e.preventDefault();
        send();
      });
      $('#sup-fix').addEventListener('click', replaceForbidden);
      V.on('langchange', () => {
        FIELDS.forEach((sel) => updateCounter($(sel)));
        showMailState();
      });
      V.on('generalinfo', showMailState);
      showMailState();
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
