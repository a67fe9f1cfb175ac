/* Connection module: serial or TCP connection with the stored settings pre-filled, disconnect,
 * and discovery of network devices. */
(function () {
  'use strict';
  const V = window.Vexo;
  const SEARCH_WAIT_MS = 1500;

  let root;
  const $ = (sel) => V.$(root, sel);

  function connType() {
    return $('input[name="connType"]:checked').value;
  }

  function showType() {
    const tcp = connType() === 'tcp';
    $('#conn-tcp').hidden = !tcp;
    $('#conn-serial').hidden = tcp;
  }

  function fillSelect(select, entries, selected) {
    select.replaceChildren();
    entries.forEach(([value, label]) => select.append(V.el('option', { value, text: label })));
    if (selected !== undefined && entries.some(([value]) => value === String(selected))) select.value = String(selected);
  }

  // Stored time-outs count 10 ms steps on serial lines and milliseconds over TCP.
  function storedTimeoutMs(settings) {
    const n = Number(settings.timeout);
    const ms = settings.connectionType === 'serial' ? n * 10 : n;
    return Number.isFinite(ms) && ms >= 10 && ms <= 60000 ? ms : 1000;
  }

  function applyPortSettings(reply) {
    const ports = Object.values(reply.ports || {});
    const portEntries = ports.map((p) => [p.portName, p.friendName && p.friendName !== p.portName ? p.portName + ' — ' + p.friendName : p.portName]);
    const settings = reply.userSettings || {};
    const com = $('#conn-com');
    if (portEntries.length === 0) {
      fillSelect(com, [['', V.t('conn.noPorts')]]);
      com.disabled = true;
    } else {
      com.disabled = false;
      fillSelect(com, portEntries, settings.port);
    }
    fillSelect($('#conn-baud'), Object.entries(reply.baudRate || {}), settings.baudRate);
    fillSelect($('#conn-mode'), Object.entries(reply.mode || {}), settings.mode);
    if (settings.tcpIp) $('#conn-ip').value = settings.tcpIp;
    if (settings.tcpPort !== undefined) $('#conn-port').value = settings.tcpPort;
    if (settings.slaveID !== undefined) $('#conn-slave').value = settings.slaveID;
    $('#conn-timeout').value = storedTimeoutMs(settings);
    const type = settings.connectionType === 'serial' ? 'serial' : 'tcp';
    $('input[name="connType"][value="' + type + '"]').checked = true;
    showType();
    if (settings.isConnected === true) {
      V.state.setConnected(type, type === 'tcp' ? tcpTarget(settings.tcpIp, settings.tcpPort, settings.slaveID) : serialTarget(settings.port, settings.slaveID));
    } else {
      V.state.setDisconnected();
    }
  }

  async function loadPortSettings() {
    const box = $('#conn-status');
    V.showStatus(box, 'busy', V.t('conn.loadingSettings'));
    try {
      applyPortSettings(await V.api('getPortSettings'));
      V.clearStatus(box);
    } catch (e) {
      V.showError(box, e);
    }
  }

  function tcpTarget(ip, port, slave) {
    return { ip, port, slave };
  }

  function serialTarget(port, slave) {
    return { port, slave };
  }

  // Collects and checks the form; returns the request parameters or null with the problems shown.
  function readForm() {
    const problems = [];
    const tcp = connType() === 'tcp';
    const slave = V.readInt($('#conn-slave'), tcp ? 0 : 1, tcp ? 255 : 247);
    if (slave === null) problems.push(V.t(tcp ? 'conn.badSlaveTcp' : 'conn.badSlave'));
    const timeoutMs = V.readInt($('#conn-timeout'), 10, 60000);
    if (timeoutMs === null) problems.push(V.t('conn.badTimeout'));
    let params;
    if (tcp) {
      const ipInput = $('#conn-ip');
      const checked = V.connectionAddress.parseDeviceAddress(ipInput.value);
      ipInput.setAttribute('aria-invalid', checked.problem ? 'true' : 'false');
      if (checked.problem) problems.push(V.t(checked.problem, { value: ipInput.value.trim() }));
      else ipInput.value = checked.address;
      const ip = checked.address;
      const port = V.readInt($('#conn-port'), 1, 65535);
      if (port === null) problems.push(V.t('conn.badPort'));
      params = { connType: 'tcp', ipAddres_tcp: ip, port_tcp: port, slaveID: slave, timeout: timeoutMs };
    } else {
      const port = $('#conn-com').value;
      if (!port) problems.push(V.t('conn.noPortChosen'));
      params = {
        connType: 'serial',
        portSelect: port,
        slaveID: slave,
        baudRate: $('#conn-baud').value,
        mode: $('#conn-mode').value,
        timeout: Math.max(1, Math.round(timeoutMs / 10)),
      };
    }
    if (problems.length) {
      V.showStatus($('#conn-status'), 'error', problems.join(' '));
      return null;
    }
    return params;
  }

  async function connect() {
    const params = readForm();
    if (!params) return;
    const box = $('#conn-status');
    await V.busy($('#conn-connect'), async () => {
      V.showStatus(box, 'busy', V.t('conn.connecting'));
      try {
        const reply = await V.api('connect', params);
        const target = params.connType === 'tcp'
          ? tcpTarget(params.ipAddres_tcp, params.port_tcp, params.slaveID)
          : serialTarget(params.portSelect, params.slaveID);
        V.state.setConnected(params.connType, target);
        V.showStatus(box, 'ok', V.t('conn.connected', { target: V.state.targetText() }), reply.ok);
      } catch (e) {
        V.state.setDisconnected();
        if (e.raw === '{"error":"Could not connect to Modbus TCP!"}') {
          V.showStatus(box, 'error', V.t('conn.tcpFailed', { ip: params.ipAddres_tcp, port: params.port_tcp }), e.raw);
        } else {
          V.showError(box, e);
        }
      }
    });
  }

  async function disconnect() {
    const box = $('#conn-status');
    await V.busy($('#conn-disconnect'), async () => {
      V.showStatus(box, 'busy', V.t('conn.disconnecting'));
      try {
        const reply = await V.api('disconnect');
        V.state.setDisconnected();
        V.showStatus(box, 'ok', V.t('conn.disconnected'), reply.ok);
      } catch (e) {
        V.showError(box, e);
      }
    });
  }

  /* ---------- discovery ---------- */

  async function animateWait(progress, ms) {
    progress.hidden = false;
    const start = performance.now();
    for (;;) {
      const done = Math.min(1, (performance.now() - start) / ms);
      progress.value = Math.round(done * 100);
      if (done >= 1) break;
      await V.sleep(100);
    }
  }

  function renderDevices(devices) {
    const body = $('#disc-body');
    body.replaceChildren();
    devices.forEach((d) => {
      const button = V.el('button', { type: 'button', className: 'btn small', text: V.t('disc.connect') });
      button.setAttribute('aria-label', V.t('disc.connectTo', { name: d.name, ip: d.ip }));
      button.addEventListener('click', () => connectToDevice(d));
      body.append(V.el('tr', {}, [
        V.el('td', {}, [V.el('span', { text: d.name }), V.el('span', { className: 'disc-mac mono', text: d.mac })]),
        V.el('td', { className: 'mono', text: d.ip + ':' + d.port }),
        V.el('td', { className: 'num', text: d.modbusid }),
        V.el('td', {}, [button]),
      ]));
    });
    $('#disc-results').hidden = devices.length === 0;
  }

  function connectToDevice(device) {
    $('input[name="connType"][value="tcp"]').checked = true;
    showType();
    $('#conn-ip').value = device.ip;
    $('#conn-port').value = device.port;
    $('#conn-slave').value = device.modbusid;
    $('#conn-connect').focus();
    connect();
  }

  async function search() {
    const box = $('#disc-status');
    const progress = $('#disc-progress');
    await V.busy($('#disc-search'), async () => {
      V.showStatus(box, 'busy', V.t('disc.searching'));
      progress.value = 0;
      progress.hidden = false;
      try {
        const started = await V.api('startSearchingDevices', {}, { raw: true });
        if (started !== 'ok') throw new V.ApiError(V.t('disc.notStarted'), started);
        await animateWait(progress, SEARCH_WAIT_MS);
        const devices = await V.api('getSearchedDevices');
        if (!Array.isArray(devices)) throw new V.ApiError(V.t('err.unreadable'), JSON.stringify(devices));
        renderDevices(devices);
        if (devices.length === 0) V.showStatus(box, 'info', V.t('disc.none'));
        else V.showStatus(box, 'ok', V.t('disc.found', { count: devices.length }));
      } catch (e) {
        V.showError(box, e);
      } finally {
        progress.hidden = true;
      }
    });
  }

  V.defineModule('connection', {
    titleKey: 'conn.tab',
    init(panel) {
      root = panel;
      V.$$(root, 'input[name="connType"]').forEach((r) => r.addEventListener('change', showType));
      $('#conn-form').addEventListener('submit', (e) => {
        e.preventDefault();
        connect();
      });
      $('#conn-disconnect').addEventListener('click', disconnect);
      $('#conn-refresh').addEventListener('click', loadPortSettings);
      $('#disc-search').addEventListener('click', search);
      loadPortSettings();
    },
  });
})();
