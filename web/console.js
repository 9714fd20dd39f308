// The developers' console of the demo front-end: every page command of the
// client as a button or a form, the three injected objects, and a live log of
// what went out and of every reply that came back through JsHandleCallBack.
(function () {
  'use strict';
  function $(sel) { return document.querySelector(sel); }

  function log(text) {
    var li = document.createElement('li');
    li.textContent = new Date().toISOString().substr(11, 12) + '  ' + text;
    var list = $('#log');
    list.appendChild(li);
    list.scrollTop = list.scrollHeight;  // scrolls the log only, never the page
  }

  Bridge.watch(function (kind, name, detail) {
    if (kind === 'sent') {
      log('-> ' + name + (detail ? ' ' + detail : ''));
      if (!Bridge.available()) log('   (no client bridge: open this page in the client)');
    } else if (kind === 'unparsable') {
      log('<- unparsable reply: ' + detail);
    } else if (name !== '_nim_audio_volumn') {
      log('<- ' + detail);
    }
  });

  function fill(table, rows) {
    var body = table.tBodies[0];
    body.innerHTML = '';
    rows.forEach(function (r) {
      var tr = body.insertRow();
      tr.insertCell().textContent = r[0];
      tr.insertCell().textContent = r[1];
    });
  }

  // The room's members with a meter each (from levels) or their marks (from members events).
  function showMembers(members) {
    var ul = $('#members');
    ul.innerHTML = '';
    if (!members.length) {
      var none = document.createElement('li');
      none.textContent = '(nobody else in the room)';
      ul.appendChild(none);
    }
    members.forEach(function (m) {
      var li = document.createElement('li');
      var name = document.createElement('span');
      var marks = [m.speaking || m.talking ? 'speaking' : '', m.muted ? 'muted' : '', m.self ? 'you' : '']
        .filter(Boolean).join(', ');
      name.textContent = m.uid + (marks ? ' (' + marks + ')' : '');
      var meter = document.createElement('meter');
      meter.min = 0;
      meter.max = 100;
      meter.value = m.volumn || 0;
      li.appendChild(name);
      li.appendChild(meter);
      ul.appendChild(li);
    });
  }

  Bridge.on('_get_client_info', function (data) {
    fill($('#client-info'), Object.keys(data || {}).map(function (k) { return [k, data[k]]; }));
  });
  Bridge.on('_nim_enum_player', function (data) {
    var rows = Object.keys(data || {}).map(function (k) { return [k, data[k]]; });
    fill($('#players'), rows.length ? rows : [['(none running)', '']]);
  });
  Bridge.on('_nim_login', function (data) { log('   login ' + (data && data.res ? 'succeeded' : 'failed')); });
  Bridge.on('_nim_join_room', function (data) {
    if (!data || data.res !== 200) {
      $('#room').textContent = 'join failed' + (data && data.reason ? ': ' + data.reason : '');
      showMembers([]);
      return;
    }
    $('#room').textContent = 'in room ' + data.room_id + ' (channel ' + data.channelId + ') as ' + data.account;
    showMembers((data.members || []).map(function (m) { return { uid: m.uid, volumn: 0 }; }));
  });
  Bridge.on('_nim_room_members', function (data) { showMembers((data && data.members) || []); });
  Bridge.on('_nim_enum_device', function (data) {
    var ul = $('#devices');
    ul.innerHTML = '';
    (Array.isArray(data) ? data : (data && data.devices) || []).forEach(function (d) {
      var li = document.createElement('li');
      li.textContent = typeof d === 'string' ? d : JSON.stringify(d);
      ul.appendChild(li);
    });
  });
  Bridge.on('_nim_audio_volumn', function (data) {
    var v = data && (data.volume !== undefined ? data.volume : data.volumn);
    if (typeof v === 'number') $('#volume').value = v;
    if (data && data.self) $('#self-level').value = data.self.volumn || 0;
  });

  document.querySelectorAll('button[data-cmd]').forEach(function (b) {
    b.addEventListener('click', function () { Bridge.send(b.dataset.cmd, {}); });
  });
  document.querySelectorAll('form[data-cmd]').forEach(function (f) {
    f.addEventListener('submit', function (ev) {
      ev.preventDefault();
      var params = {};
      Array.prototype.forEach.call(f.elements, function (el) {
        if (!el.name) return;
        if (el.type === 'checkbox') params[el.name] = el.checked ? 'true' : 'false';
        else params[el.name] = el.value;
      });
      Bridge.send(f.dataset.cmd, params);
    });
  });

  $('#sync-call').addEventListener('click', function () {
    var r = typeof KXVantorSyn !== 'undefined' ? KXVantorSyn.VantorCommunicateSync('_ping', '{}') : 'no bridge';
    $('#objects').textContent = 'VantorCommunicateSync returned ' + String(r);
  });
  $('#post-task').addEventListener('click', function () {
    if (typeof KXWebApp === 'undefined') { $('#objects').textContent = 'no bridge'; return; }
    KXWebApp.PostCPPTask('_demo', '{}', function () { $('#objects').textContent = 'PostCPPTask callback ran'; });
  });
  $('#send-task').addEventListener('click', function () {
    var r = typeof KXWebApp !== 'undefined' ? KXWebApp.SendCPPTask('_demo', '{}') : 'no bridge';
    $('#objects').textContent = 'SendCPPTask returned ' + String(r);
  });
  $('#clear').addEventListener('click', function () { $('#log').innerHTML = ''; });
  document.title = Bridge.available() ? 'Rawen developer console' : 'Rawen developer console (no bridge)';
})();
