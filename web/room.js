// The demo's voice room: join a room, see who is in it, who talks and who is
// muted, mute and leave, pick the microphone and the speaker, share a music
// player. Everything goes through the client's page commands (bridge.js); the
// room's members come from the "_nim_room_members" event.
(function () {
  'use strict';
  var $ = function (id) { return document.getElementById(id); };
  var state = {
    login: null,      // "user\npass" of the login that succeeded
    inRoom: false,
    room: '',
    muted: false,
    members: null,    // the last members event
    devicesListed: false,
    sharing: ''
  };

  // The self-test (selftest.js) drives the commands itself: the room only shows.
  var selftest = Bridge.query('selftest', '') === '1';

  function status(text) { $('status').textContent = text; }

  // --- joining and leaving ---------------------------------------------------------------------

  function join(user, pass, room) {
    var login = user + '\n' + pass;
    var ready = state.login === login ? Promise.resolve({ res: true }) : loginAs(user, pass);
    ready.then(function (answer) {
      if (!answer || !answer.res) {
        state.login = null;
        status('The voice server did not let ' + user + ' in.');
        return;
      }
      state.login = login;
      status('Joining ' + room + '…');
      // Speech is what a voice room carries (audio mode 0).
      Bridge.send('_nim_join_room', { room_id: room, high_rate: 'true', audio_mode: '0' });
    }, function () { status('The client did not answer the login.'); });
  }

  function loginAs(user, pass) {
    status('Logging in as ' + user + '…');
    var answer = Bridge.next('_nim_login', 8000);
    Bridge.send('_nim_login', { user: user, pass: pass });
    return answer;
  }

  Bridge.on('_nim_join_room', function (data) {
    if (!data || data.res !== 200) {
      var why = data && data.reason ? ': ' + data.reason : '';
      status('Could not join ' + (data && data.room_id || 'the room') + ' (' + (data ? data.res : 'no answer') + ')' + why);
      if (!state.inRoom) showRoom(false);
      return;
    }
    state.room = data.room_id;
    status(data.rejoin ? 'Back in the room after a reconnection.' : '');
    if (!state.inRoom && !selftest) startSound();
    showRoom(true);
  });

  function startSound() {
    Bridge.send('_nim_start_mic_device', { path: $('mic').value, test: 'false' });
    Bridge.send('_nim_start_audio_play_device', { path: $('speaker').value });
    if (!state.devicesListed) findDevices();
  }

  function leave() {
    Bridge.send('_nim_leave_room', {});
    Bridge.send('_nim_end_mic_device', { test: 'false' });
    Bridge.send('_nim_end_audio_play_device', {});
    $('mic-level').value = 0;
    showRoom(false);
    status('You left ' + state.room + '.');
  }

  function setMuted(muted) {
    state.muted = muted;
    Bridge.send('_nim_set_muted', { muted: muted ? 'true' : 'false' });
    render();
  }

  function showRoom(inRoom) {
    state.inRoom = inRoom;
    if (!inRoom) state.members = null;
    render();
  }

  // --- the members ------------------------------------------------------------------------------

  Bridge.on('_nim_room_members', function (data) {
    state.members = data;
    render();
  });

  function mark(text, kind) {
    var span = document.createElement('span');
    span.className = 'mark ' + kind;
    span.textContent = text;
    return span;
  }

  function renderMembers() {
    var list = $('members');
    list.innerHTML = '';
    var m = state.members;
    var members = m && m.channelId ? m.members || [] : [];
    members.forEach(function (member) {
      var li = document.createElement('li');
      if (member.talking) li.className = 'talking';
      var name = document.createElement('span');
      name.className = 'name';
      name.textContent = member.uid + (member.self ? ' (you)' : '');
      li.appendChild(name);
      if (member.talking) li.appendChild(mark('talking', 'talking'));
      if (member.muted) li.appendChild(mark('muted', 'muted'));
      if (member.deafened) li.appendChild(mark('deafened', 'deafened'));
      list.appendChild(li);
    });
    var count = m && m.channelId ? m.count : 0;
    $('count').textContent = !count ? '' : count === 1 ? '· only you' :
      '· ' + count + ' here' + (m.truncated ? ' (showing ' + members.length + ')' : '');
  }

  function render() {
    $('room-panel').hidden = !state.inRoom;
    $('join').textContent = state.inRoom ? 'Switch room' : 'Join';
    $('room-title').textContent = 'Room ' + state.room;
    $('mute').setAttribute('aria-pressed', String(state.muted));
    $('mute').textContent = state.muted ? 'Unmute' : 'Mute';
    renderMembers();
    observe();
  }

  // --- sound devices -----------------------------------------------------------------------------

  function findDevices() {
    state.devicesListed = true;
    Bridge.send('_nim_enum_device', {});
  }

  function fillSelect(select, devices) {
    var chosen = select.value;
    select.innerHTML = '';
    var fallback = document.createElement('option');
    fallback.value = '';
    fallback.textContent = 'default';
    select.appendChild(fallback);
    devices.forEach(function (d) {
      var option = document.createElement('option');
      option.value = d.path;
      option.textContent = d.name + (d['default'] ? ' (default)' : '');
      select.appendChild(option);
    });
    select.value = chosen;
    if (select.value !== chosen) select.value = '';
  }

  Bridge.on('_nim_enum_device', function (data) {
    var devices = (data && data.devices) || [];
    fillSelect($('mic'), devices.filter(function (d) { return d.type === 0; }));
    fillSelect($('speaker'), devices.filter(function (d) { return d.type === 2; }));
  });

  Bridge.on('_nim_audio_volumn', function (data) {
    if (data && data.self) $('mic-level').value = data.self.volumn || 0;
  });

  // --- music players -----------------------------------------------------------------------------

  Bridge.on('_nim_enum_player', function (data) {
    var list = $('players');
    list.innerHTML = '';
    var names = Object.keys(data || {});
    if (!names.length) {
      var none = document.createElement('li');
      none.className = 'note';
      none.textContent = 'No music player is running.';
      list.appendChild(none);
    }
    names.forEach(function (name) {
      var li = document.createElement('li');
      var label = document.createElement('span');
      label.textContent = name;
      label.title = data[name];
      var share = document.createElement('button');
      share.textContent = 'Share';
      share.setAttribute('aria-label', 'Share ' + name + ' with the room');
      share.addEventListener('click', function () {
        Bridge.send('_nim_start_audio_device', { path: data[name] });
        state.sharing = name;
        $('sharing').textContent = 'Sharing ' + name + ' with the room.';
        $('stop-sharing').hidden = false;
      });
      li.appendChild(label);
      li.appendChild(share);
      list.appendChild(li);
    });
  });

  function stopSharing() {
    Bridge.send('_nim_end_audio_device', {});
    $('sharing').textContent = state.sharing ? 'Stopped sharing ' + state.sharing + '.' : '';
    state.sharing = '';
    $('stop-sharing').hidden = true;
  }

  // --- what tests see ----------------------------------------------------------------------------

  // ?observe=1: after each change the page posts what it shows to /room-state
  // on its own host, with where its controls are, so that an end-to-end test
  // can click them and read the room as a user would.
  var observing = Bridge.query('observe', '') === '1';
  function observe() {
    if (!observing) return;
    var rect = function (id) {
      var r = $(id).getBoundingClientRect();
      return [Math.round(r.left), Math.round(r.top), Math.round(r.width), Math.round(r.height)];
    };
    var shown = Array.prototype.map.call(document.querySelectorAll('#members li'), function (li) {
      return {
        name: li.querySelector('.name').textContent,
        talking: !!li.querySelector('.mark.talking'),
        muted: !!li.querySelector('.mark.muted')
      };
    });
    var report = {
      inRoom: state.inRoom, room: state.inRoom ? $('room-title').textContent : '', status: $('status').textContent,
      focus: document.activeElement ? document.activeElement.id : '', typedRoom: $('room').value,
      muted: $('mute').getAttribute('aria-pressed') === 'true', members: shown,
      rects: { room: rect('room'), join: rect('join'), mute: rect('mute'), leave: rect('leave') }
    };
    var x = new XMLHttpRequest();
    x.open('POST', '/room-state');
    x.send(JSON.stringify(report));
  }

  // --- wiring ------------------------------------------------------------------------------------

  $('user').value = Bridge.query('user', 'demo-user');
  $('pass').value = Bridge.query('pass', '');
  $('room').value = Bridge.query('room', '1001');
  $('join-form').addEventListener('submit', function (ev) {
    ev.preventDefault();
    join($('user').value, $('pass').value, $('room').value);
  });
  $('leave').addEventListener('click', leave);
  $('mute').addEventListener('click', function () { setMuted(!state.muted); });
  $('mic').addEventListener('change', function () {
    if (state.inRoom) Bridge.send('_nim_start_mic_device', { path: $('mic').value, test: 'false' });
  });
  $('speaker').addEventListener('change', function () {
    if (state.inRoom) Bridge.send('_nim_start_audio_play_device', { path: $('speaker').value });
  });
  $('find-devices').addEventListener('click', findDevices);
  $('find-players').addEventListener('click', function () { Bridge.send('_nim_enum_player', {}); });
  $('stop-sharing').addEventListener('click', stopSharing);
  document.querySelectorAll('button[data-cmd]').forEach(function (b) {
    b.addEventListener('click', function () { Bridge.send(b.dataset.cmd, {}); });
  });

  if (observing) {
    // The window gets its size after the page's first layout: places change.
    window.addEventListener('resize', observe);
    window.addEventListener('load', observe);
    document.addEventListener('focusin', observe);
    $('room').addEventListener('input', observe);
  }
  if (!Bridge.available()) status('Open this page in the client: without its bridge nothing can be joined.');
  // The players need no sound device; the devices are listed once the user joins or asks.
  Bridge.send('_nim_enum_player', {});
  render();
})();
