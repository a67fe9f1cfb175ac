/* Broker module: whether Vexo's feed to an MQTT broker works, and what it has sent. */
(function () {
  'use strict';
  const V = window.Vexo;
  const REFRESH_MS = 2000;
  let root;
  let last = null;
  let shownState = '';
  let timer = null;
  const $ = (sel) => V.$(root, sel);

  function count(n) {
    return Number(n).toLocaleString(V.i18n.lang);
  }

  // The state in words; a problem also shows what Vexo said about it. Redrawn only when it
  // changes, so that a screen reader announces it once.
  function showState(box, s) {
    const state = [V.i18n.lang, s.connected, s.problem, s.lastError].join('|');
    if (state === shownState) return;
    shownState = state;
    if (s.connected) V.showStatus(box, 'ok', V.t('mqtt.connected', { broker: s.broker }));
    else if (s.problem) V.showStatus(box, 'error', V.t('mqtt.problem.' + s.problem), s.lastError);
    else V.showStatus(box, 'busy', V.t('mqtt.connecting', { broker: s.broker }));
  }

  function render(s) {
    last = s;
    const box = $('#mqtt-status');
    $('#mqtt-off').hidden = s.configured;
    $('#mqtt-facts').hidden = !s.configured;
    if (!s.configured) {
      V.clearStatus(box);
      return;
    }
    showState(box, s);
    $('#mqtt-retry-row').hidden = s.connected || !s.nextAttemptMs;
    $('#mqtt-retry').textContent = V.t('mqtt.retryIn', { seconds: Math.ceil(s.nextAttemptMs / 1000) });
    $('#mqtt-broker').textContent = s.broker + (s.tls ? ' (TLS)' : '');
    $('#mqtt-topics').textContent = s.topicPrefix + '/#';
    $('#mqtt-published').textContent = count(s.published);
    $('#mqtt-queued').textContent = count(s.queued);
    $('#mqtt-dropped').textContent = count(s.dropped);
    $('#mqtt-attempts').textContent = count(s.attempts);
    $('#mqtt-writes').textContent = V.t(s.writes ? 'mqtt.writesOn' : 'mqtt.writesOff');
  }

  async function refresh() {
    if (V.activeModule() !== 'broker') {
      clearInterval(timer);
      timer = null;
      return;
    }
    try {
      const s = await V.api('getBrokerStatus');
      render(s);
      // Without a broker nothing changes until Vexo starts again.
      if (!s.configured) clearInterval(timer);
    } catch (e) {
      shownState = '';
      V.showError($('#mqtt-status'), e);
    }
  }

  V.defineModule('broker', {
    titleKey: 'mqtt.tab',
    init(panel) {
      root = panel;
      V.on('langchange', () => last && render(last));
    },
    onShow() {
      refresh();
      if (!timer) timer = setInterval(refresh, REFRESH_MS);
    },
  });
})();
