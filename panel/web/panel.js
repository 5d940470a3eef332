// The console's live panel, served by the application on its WebSocket port (docs/websocket-api.md).
// It draws the state from "get_all" once the application has read all of it, keeps it current from the
// notifications, and sends the same commands any client would. The page never shows a change before the
// console reports it: a click sends a command, the notification lights the key.
'use strict';

(() => {
  const modules = ['mod1', 'mod2', 'mod3', 'mod4', 'mod5', 'mod6', 'mod7', 'mod8'];
  const ctrlKeys = [...'12345678'].map(n => 'a' + n).concat([...'12345678'].map(n => 'b' + n));
  const meterRows = [
    ['pgm_left', 'PGM L'], ['pgm_right', 'PGM R'],
    ['phones_left', 'Phones L'], ['phones_right', 'Phones R'],
    ['crm_left', 'CRM L'], ['crm_right', 'CRM R'],
  ];
  const meterMin = -50;
  const meterMax = 13.75;
  const meteringIntervalMs = 50;
  const peakHoldMs = 1500;
  const peakFallDbPerS = 20;
  const firstRetryMs = 500;
  const lastRetryMs = 5000;
  // The server sends its password challenge as soon as the connection opens; nothing is sent before it could
  // have arrived, so a panel never earns "authentication required" refusals for its address.
  const helloGraceMs = 300;
  const errorShownMs = 10000;
  const notConnected = 'Device USB not connected!';

  const params = new URLSearchParams(location.search);
  // ?ws=host:port points a page opened from its file at an application (development, tests). The page the
  // application serves connects to its own host: its content security policy allows no other.
  const address = params.get('ws') || location.host || '127.0.0.1:19552';
  const socketUrl = `${location.protocol === 'https:' ? 'wss' : 'ws'}://${address}/`;

  const $ = id => document.getElementById(id);
  function el(tag, props = {}, ...children) {
    const e = document.createElement(tag);
    for (const [key, value] of Object.entries(props)) {
      if (key === 'dataset') Object.assign(e.dataset, value);
      else if (key === 'role') e.setAttribute(key, value);
      else if (key.startsWith('aria')) e.setAttribute('aria-' + key.slice(4).toLowerCase(), value);
      else e[key] = value;
    }
    e.append(...children);
    return e;
  }
  const hidden = text => el('span', { className: 'sr', textContent: text });
  const words = key => key.replace(/_/g, ' ');
  const number = mod => mod.slice(3);

  const { challengeAnswer, sha256Base64 } = window.korvelAuth;

  // ---- The console's state: the snapshot's keys, kept current by the notifications.
  let state = {};
  // Blink settings per LED, also while it is steady: a blinking notification names only what changed.
  let blink = {};
  let linkUp = false;
  let complete = false;

  // ---- The connection.
  let socket = null;
  let retryMs = firstRetryMs;
  let helloTimer = 0;
  let challenge = null;
  let password = null;
  let nextId = 1;
  const pending = new Map();

  function send(msg, data, errorSlot) {
    if (!socket || socket.readyState !== WebSocket.OPEN) return false;
    const id = nextId++;
    const message = data === undefined ? { msg, id } : { msg, data, id };
    socket.send(JSON.stringify(message));
    if (errorSlot) errorSlot.textContent = '';
    const timer = setTimeout(() => pending.delete(id), errorShownMs);
    pending.set(id, { slot: errorSlot, timer });
    return true;
  }

  function showError(slot, text) {
    slot.textContent = text;
    clearTimeout(slot.clearTimer);
    slot.clearTimer = setTimeout(() => { slot.textContent = ''; }, errorShownMs);
  }

  function connect() {
    const ws = new WebSocket(socketUrl);
    socket = ws;
    challenge = null;
    ws.addEventListener('open', () => {
      $('connection').hidden = true;
      setLink('Connected, waiting for the console…', 'waiting');
      helloTimer = setTimeout(startSession, helloGraceMs);
    });
    ws.addEventListener('message', event => {
      if (socket === ws) receive(JSON.parse(event.data));
    });
    ws.addEventListener('close', event => {
      if (socket !== ws) return;
      clearTimeout(helloTimer);
      socket = null;
      linkUp = complete = false;
      resetMeters();
      render();
      // The server says why only when it refuses the connection (a password, a message too big).
      const why = event.reason && (event.code === 1008 || event.code === 1009) ? ` (${event.reason})` : '';
      // The third wrong answer closes the connection: ask again rather than repeat it to the next challenge.
      if (event.code === 1008 && event.reason === 'authentication failed') {
        password = null;
        askPassword('Wrong password. Try again.');
      }
      // Written only when it changes (setText), so a screen reader is not told again at every attempt.
      setText($('connection'), `Disconnected${why} — reconnecting…`);
      $('connection').hidden = false;
      setLink('Not connected to Korvel Control', 'offline');
      setTimeout(connect, retryMs);
      retryMs = Math.min(retryMs * 2, lastRetryMs);
    });
  }

  // Asks for the meters at this page's rate and for the state once the application has read all of it: a
  // snapshot taken earlier leaves keys out. All of it is refused while the console is unplugged and asked
  // again when it is plugged in.
  function startSession() {
    send('subscribe', ['metering']);
    send('set_metering_interval', meteringIntervalMs);
    send('get_state_complete');
  }

  async function answerChallenge() {
    if (!challenge || password === null) return;
    const { salt, challenge: token } = challenge;
    const answer = await challengeAnswer(password, salt, token);
    if (socket && challenge && challenge.challenge === token)
      socket.send(JSON.stringify({ msg: 'authenticate', data: answer }));
  }

  function askPassword(text) {
    $('login').hidden = false;
    if (text !== undefined) $('login-error').textContent = text;
    $('password').focus();
  }

  $('login').addEventListener('submit', event => {
    event.preventDefault();
    password = $('password').value;
    $('login-error').textContent = '';
    answerChallenge();
  });

  function setLink(text, kind) {
    setText($('link'), text);
    set($('link'), 'data-state', kind);
  }

  function linkChanged() {
    if (!socket) return;
    if (!linkUp) setLink('Console not connected (USB)', 'down');
    else if (!complete) setLink('Console connected, reading its state…', 'reading');
    else setLink('Console connected', 'up');
    $('panel').dataset.live = String(linkUp && complete);
  }

  const handlers = {
    hello(data) {
      clearTimeout(helloTimer);
      challenge = data;
      if (password === null) askPassword();
      else answerChallenge();
    },
    authenticated() {
      challenge = null;
      $('login').hidden = true;
      $('password').value = '';
      startSession();
    },
    state_complete(done) {
      linkUp = true;
      linkChanged();
      if (done) send('get_all');
    },
    on_state_complete() {
      linkUp = true;
      send('get_all');
    },
    all(data) {
      state = data;
      blink = {};
      rememberBlinking(data);
      linkUp = complete = true;
      retryMs = firstRetryMs;
      linkChanged();
      render();
      renderConfig();
    },
    states(data) {
      Object.assign(state, data);
      rememberBlinking(data);
      render();
    },
    on_device_status(data) {
      linkUp = data === 'connected';
      complete = false;
      if (linkUp) startSession();
      else resetMeters();
      linkChanged();
      render();
    },
    on_metering: showLevels,
    on_ctrl_led(data) {
      state.ctrl_led = state.ctrl_led || {};
      let incomplete = false;
      for (const [key, led] of Object.entries(data)) {
        if (typeof led === 'string') { state.ctrl_led[key] = led; continue; }
        const merged = Object.assign({}, blink[key], led);
        if (!('color_on' in merged && 'color_off' in merged && 'blink_speed' in merged)) incomplete = true;
        else state.ctrl_led[key] = blink[key] = merged;
      }
      // The LED blinks with settings this page never saw: the snapshot has them.
      if (incomplete) send('get_states');
      render();
    },
    on_comm(data) { studioRemote(data, 'comm'); },
    on_cough(data) { studioRemote(data, 'cough'); },
    error(text, id) {
      const request = pending.get(id);
      pending.delete(id);
      if (text === notConnected) {
        linkUp = complete = false;
        linkChanged();
        render();
        // The link status says so; a control whose command it refused says so too.
        if (!request || !request.slot) return;
      }
      if (text === 'authentication failed') { password = null; askPassword('Wrong password. Try again.'); return; }
      if (text === 'authentication required') return;
      showError((request && request.slot) || $('error'), text);
    },
  };

  function rememberBlinking(snapshot) {
    for (const [key, led] of Object.entries(snapshot.ctrl_led || {}))
      if (typeof led === 'object') blink[key] = led;
  }

  function studioRemote(data, field) {
    state.studio_remote = state.studio_remote || {};
    for (const [mod, on] of Object.entries(data))
      state.studio_remote[mod] = Object.assign({}, state.studio_remote[mod], { [field]: on });
    render();
  }

  // Every other "on_X" notification changes the snapshot key X (configuration: "config_X"): a keyed change
  // replaces its members, a keyed or flat object only the fields it names.
  function applyChange(msg, data) {
    const key = msg.slice(3);
    const old = state[key];
    if (data !== null && typeof data === 'object' && old !== null && typeof old === 'object') {
      const merged = Object.assign({}, old);
      for (const [member, value] of Object.entries(data))
        merged[member] = value !== null && typeof value === 'object' && typeof old[member] === 'object'
          ? Object.assign({}, old[member], value) : value;
      state[key] = merged;
    } else {
      state[key] = data;
    }
    if (key.startsWith('config_')) renderConfig();
    render();
  }

  function receive(message) {
    const handler = handlers[message.msg];
    if (handler) handler(message.data, message.id);
    else if (message.msg.startsWith('on_')) applyChange(message.msg, message.data);
  }

  // ---- Controls. A toggle shows one state and sends the command for the other: the user's intent, whatever
  // another client did meanwhile.
  const toggles = [];
  function toggle(label, ariaLabel, isOn, command, errorSlot, className) {
    const button = el('button',
      { type: 'button', className: `toggle ${className || ''}`, textContent: label, ariaLabel, ariaPressed: 'false' });
    button.addEventListener('click', () => {
      const [msg, data] = command(!isOn());
      send(msg, data, errorSlot);
    });
    toggles.push({ button, isOn });
    return button;
  }

  // Whether a snapshot key (or one member of it) is set.
  const flagOf = (key, member) => () => !!(member ? (state[key] || {})[member] : state[key]);
  const onOff = on => (on ? 'on' : 'off');

  const lamps = [
    ['on_air', 'on_air1', 'On air 1'], ['on_air', 'on_air2', 'On air 2'], ['mic_on', null, 'MIC ON'],
    ['crm_mute', null, 'CRM mute'], ['phone_ringing', null, 'Phone'], ['voip_connect', null, 'VoIP'],
    ['silence_detection', null, 'Silence'],
  ].map(([key, member, label]) => {
    const item = el('li', { className: 'lamp', dataset: { lamp: member || key, on: 'false' } }, label, hidden(''));
    $('lamps').append(item);
    return { item, isOn: flagOf(key, member) };
  });

  // Label, spoken label, snapshot key and member, command.
  const studioError = el('p', { className: 'error', role: 'alert' });
  $('studio-keys').append(...[
    ['Cue Aux', 'Cue Aux', 'cue', 'aux', 'set_cue'],
    ['Cue Non-stop', 'Cue Non-stop', 'cue', 'non_stop', 'set_cue'],
    ['Cue Air', 'Cue Air', 'cue', 'air', 'set_cue'],
    ['Non-stop', 'Non-stop', 'non_stop', null, 'set_non_stop'],
    ['Auto-cue CRM', 'Auto-cue control room', 'auto_cue', 'crm', 'set_auto_cue'],
    ['Auto-cue Ann.', 'Auto-cue announcer', 'auto_cue', 'announcer', 'set_auto_cue'],
  ].map(([label, spoken, key, member, msg]) => {
    const button = toggle(label, spoken, flagOf(key, member),
      on => [msg, member ? { [member]: onOff(on) } : onOff(on)], studioError, key === 'cue' ? 'cue' : '');
    button.id = member ? `${key}-${member}` : key;
    return button;
  }), studioError);

  const moduleViews = modules.map(mod => {
    const n = number(mod);
    const error = el('p', { className: 'error', role: 'alert', id: `error-${mod}` });
    const source = el('span', { className: 'source', id: `source-${mod}` });
    const on = toggle('ON', `Module ${n} ON`, flagOf('on', mod), v => ['set_on', { [mod]: onOff(v) }], error, 'on');
    on.id = `on-${mod}`;
    const cue = toggle('CUE', `Module ${n} cue`, flagOf('cue', mod), v => ['set_cue', { [mod]: onOff(v) }], error, 'cue');
    cue.id = `cue-${mod}`;
    const flag = label => el('li', { className: 'flag', dataset: { on: 'false' } }, label, hidden(''));
    const fader = flag('Fader');
    const start = el('li', { className: 'flag config-flag', textContent: 'Fader start', hidden: true });
    const reserve = el('li', { className: 'flag config-flag', textContent: 'Reserve', hidden: true });
    const card = el('article',
      { className: 'module', id: `module-${mod}`, ariaLabel: `Module ${n}`, dataset: { active: 'false' } },
      el('h3', {}, el('span', { className: 'number' }, n), source),
      on, cue, el('ul', { className: 'flags' }, fader, start, reserve), error);
    $('modules').append(card);
    return { mod, card, on, cue, source, fader, start, reserve };
  });

  const ledViews = ctrlKeys.map(key => {
    const description = hidden('');
    const item = el('li', { className: 'led', id: `led-${key}`, dataset: { color: 'off', blink: 'none', down: 'false' } },
      key.toUpperCase(), description);
    $('ctrl-keys').append(item);
    return { key, item, description };
  });

  // ---- Drawing. Attributes are written only when they change, so a notification costs a few comparisons.
  function set(node, name, value) {
    if (node.getAttribute(name) !== value) node.setAttribute(name, value);
  }
  function setText(node, text) {
    if (node.textContent !== text) node.textContent = text;
  }
  function setFlag(node, on) {
    set(node, 'data-on', String(on));
    setText(node.lastChild, on ? ': on' : ': off');
  }
  // The colour an ON or cue key lights as the console's colour table says.
  function keyColour(table, mod, on, fader) {
    const colours = (state[table] || {})[mod];
    if (!colours) return on ? 'green' : 'off';
    return on ? (fader && colours.color_on_and_fader ? colours.color_on_and_fader : colours.color_on) : colours.color_off;
  }

  function render() {
    const live = linkUp && complete && !!socket;
    for (const { button, isOn } of toggles) {
      set(button, 'aria-pressed', String(isOn()));
      button.disabled = !live;
    }
    for (const { item, isOn } of lamps) setFlag(item, isOn());
    for (const view of moduleViews) {
      const { mod } = view;
      const on = !!(state.on || {})[mod];
      const fader = !!(state.fader || {})[mod];
      set(view.on, 'data-led', keyColour('config_on', mod, on, fader));
      set(view.cue, 'data-led', keyColour('config_cue', mod, !!(state.cue || {})[mod], false));
      set(view.card, 'data-active', String(!!(state.module_active || {})[mod]));
      const source = ((state.source_select || {})[mod] || '').toUpperCase();
      setText(view.source, source);
      setFlag(view.fader, fader);
      // Fader start and reserve are configuration: shown only where set.
      view.start.hidden = !(state.config_auto_on || {})[mod];
      view.reserve.hidden = !(state.config_fader_reserve || {})[mod];
    }
    for (const view of ledViews) {
      const led = (state.ctrl_led || {})[view.key] || 'off';
      const down = !!(state.ctrl_key || {})[view.key];
      const blinking = typeof led === 'object';
      set(view.item, 'data-color', blinking ? led.color_on : led);
      set(view.item, 'data-color-off', blinking ? led.color_off : led);
      set(view.item, 'data-blink', blinking ? led.blink_speed : 'none');
      set(view.item, 'data-down', String(down));
      const text = (blinking ? `: blinking ${led.color_on} and ${led.color_off}, ${led.blink_speed}` : `: ${led}`)
        + (down ? ', held' : '');
      setText(view.description, text);
    }
    setText($('firmware'), state.firmware && live ? `Firmware ${state.firmware}` : '');
    setText($('address'), address);
  }

  // ---- Configuration, read-only: one table per kind of setting.
  function cell(value) {
    if (typeof value === 'boolean') return value ? 'yes' : 'no';
    return value === undefined ? '' : String(value);
  }
  function table(caption, columns, rows) {
    return el('table', {},
      el('caption', { textContent: caption }),
      el('thead', {}, el('tr', {}, ...columns.map(c => el('th', { scope: 'col', textContent: c })))),
      el('tbody', {}, ...rows.map(([head, ...cells]) =>
        el('tr', {}, el('th', { scope: 'row', textContent: head }),
          ...cells.map(c => el('td', { textContent: cell(c) }))))));
  }
  function renderConfig() {
    const keys = Object.keys(state).filter(key => key.startsWith('config_')).sort();
    if (!keys.length) return;
    const isObject = v => v !== null && typeof v === 'object';
    const flagKeys = keys.filter(key => isObject(state[key]) && Object.values(state[key]).every(v => typeof v === 'boolean')
      && Object.keys(state[key]).every(m => m.startsWith('mod')));
    const tables = [];
    if (flagKeys.length)
      tables.push(table('Per module', ['Module', ...flagKeys.map(key => words(key.slice(7)))],
        modules.map(mod => [number(mod), ...flagKeys.map(key => state[key][mod])])));
    const single = [];
    for (const key of keys) {
      const value = state[key];
      if (flagKeys.includes(key)) continue;
      if (!isObject(value)) { single.push([words(key.slice(7)), value]); continue; }
      const members = Object.keys(value);
      if (members.every(m => isObject(value[m]))) {
        const fields = [...new Set(members.flatMap(m => Object.keys(value[m])))];
        tables.push(table(words(key.slice(7)), ['', ...fields.map(words)],
          members.map(m => [m, ...fields.map(f => value[m][f])])));
      } else {
        tables.push(table(words(key.slice(7)), ['', 'value'], members.map(m => [words(m), value[m]])));
      }
    }
    if (single.length) tables.unshift(table('Console', ['Setting', 'value'], single));
    $('config-body').replaceChildren(...tables);
  }

  // ---- Meters with peak hold: the peak stays for peakHoldMs, then falls until it meets the level.
  const meterViews = meterRows.map(([key, label]) => {
    const fill = el('div', { className: 'fill' });
    const peak = el('div', { className: 'peak' });
    const value = el('span', { className: 'value', textContent: '−50.0' });
    const meter = el('div', { className: 'meter', id: `meter-${key}`, role: 'meter', ariaLabel: label,
      ariaValuemin: String(meterMin), ariaValuemax: String(meterMax), ariaValuenow: String(meterMin),
      dataset: { peak: String(meterMin) } },
      el('span', { className: 'label', textContent: label }), el('div', { className: 'bar' }, fill, peak), value);
    $('meters').append(meter);
    return { key, meter, fill, peak, value, level: meterMin, held: meterMin, heldAt: 0 };
  });
  let fallTimer = 0;
  const fraction = db => Math.max(0, Math.min(1, (db - meterMin) / (meterMax - meterMin)));
  const peakNow = (m, now) => {
    const age = now - m.heldAt;
    return age <= peakHoldMs ? m.held : Math.max(m.level, m.held - peakFallDbPerS * (age - peakHoldMs) / 1000);
  };

  function drawMeters() {
    fallTimer = 0;
    const now = performance.now();
    let falling = false;
    for (const m of meterViews) {
      const peak = peakNow(m, now);
      if (peak > m.level) falling = true;
      m.fill.style.transform = `scaleX(${1 - fraction(m.level)})`;
      m.peak.style.left = `${fraction(peak) * 100}%`;
      set(m.meter, 'aria-valuenow', String(m.level));
      set(m.meter, 'aria-valuetext', `${m.level.toFixed(1)} dB, peak ${peak.toFixed(1)} dB`);
      m.meter.dataset.peak = String(peak);
      setText(m.value, m.level.toFixed(1).replace('-', '−'));
    }
    if (falling) fallTimer = setTimeout(drawMeters, meteringIntervalMs);
  }

  function showLevels(levels) {
    const now = performance.now();
    for (const m of meterViews) {
      const level = levels[m.key];
      if (typeof level !== 'number') continue;
      m.level = level;
      if (level >= peakNow(m, now)) { m.held = level; m.heldAt = now; }
    }
    clearTimeout(fallTimer);
    drawMeters();
  }

  function resetMeters() {
    for (const m of meterViews) { m.level = m.held = meterMin; m.heldAt = 0; }
    clearTimeout(fallTimer);
    drawMeters();
  }

  // For tests and the curious: the two ways this page computes a password answer.
  window.korvelPanel = { challengeAnswer, sha256Base64 };

  render();
  drawMeters();
  connect();
})();
