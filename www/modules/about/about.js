/* About module: the program's version and general information. */
(function () {
  'use strict';
  const V = window.Vexo;
  // Only the switches of features this interface has a screen for.
  const FLAGS = ['canUpdate', 'canSendMailReport'];
  const LANG_NAMES = { en: 'English', es: 'Español', de: 'Deutsch', pl: 'Polski' };

  let root;
  let info = null;
  const $ = (sel) => V.$(root, sel);

  // The notice arrives as a small HTML fragment; only its text, line breaks and images are kept.
  function safeCopy(html) {
    const doc = new DOMParser().parseFromString(String(html), 'text/html');
    const out = document.createDocumentFragment();
    const walk = (node) => node.childNodes.forEach((child) => {
      if (child.nodeType === Node.TEXT_NODE) out.append(child.textContent);
      else if (child.nodeName === 'BR') out.append(document.createElement('br'));
      else if (child.nodeName === 'IMG' && /^[\w./-]+$/.test(child.getAttribute('src') || '')) {
        out.append(V.el('img', { src: child.getAttribute('src'), alt: 'Vexo', className: 'about-logo', style: 'max-width:150px;margin-top:5px' }));
      } else walk(child);
    });
    walk(doc.body);
    return out;
  }

  function render() {
    if (!info) return;
    $('#about-ver').textContent = info.ver;
    const flags = $('#about-flags');
    flags.replaceChildren(...FLAGS.filter((f) => f in info).map((f) => {
      const on = Number(info[f]) === 1;
      return V.el('li', { className: on ? 'yes' : 'no', text: V.t('about.' + f) + ': ' + V.t(on ? 'about.on' : 'about.off') });
    }));
    // The languages the interface can be switched to; Vexo's own list names more.
    $('#about-langs').textContent = V.i18n.languages.map((l) => LANG_NAMES[l]).join(', ');
    $('#about-copy').replaceChildren(safeCopy(info.copy || ''));
    $('#about-facts').hidden = false;
  }

  async function load() {
    const box = $('#about-status');
    try {
      info = V.generalInfo || (await V.api('getGeneralInfo'));
      render();
      V.clearStatus(box);
    } catch (e) {
      V.showError(box, e);
    }
  }

  V.defineModule('about', {
    titleKey: 'about.tab',
    init(panel) {
      root = panel;
      V.on('generalinfo', (i) => {
        info = i;
        render();
      });
      V.on('langchange', render);
    },
    onShow() {
      load();
    },
  });
})();
