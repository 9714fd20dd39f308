// The demo front-end: every page command of the client, the three injected
// objects, and a live log of the replies that arrive through JsHandleCallBack.
(function () {
  'use strict';
  var state = { replies: [], handlers: {} };

  function $(sel) { return document.querySelector(sel); }

  function log(text) {
    var li = document.createElement('li');
    li.textContent = new Date().toISOString().substr(11, 12) + '  ' + text;
    var list = $('#log');
    list.appendChild(li);
    list.scrollTop = list.scrollHeight;  // scrolls the log only, never the page
  }

  function hasBridge() {
    return typeof KXVantorAsyn !== 'undefined' && KXVantorAsyn.VantorCommunicateAsyn;
  }

  // Sends one page command with its name=value pairs joined by '&'.
  function send(command, params) {
    var text = Object.keys(params || {}).map(function (k) { return k + '=' + params[k]; }).join('&');
    log('-> ' + command + (text ? ' ' + text : ''));
    if (!hasBridge()) { log('   (no client bridge: open this page in the client)'); return; }
    KXVantorAsyn.VantorCommunicateAsyn(command, text);
  }

  function fill(table, rows) {
    var body = table.tBodies[0];
    body.innerHTML = '';
    rows.forEach(function (r) {
      var tr = body.insertRow();
      tr.insertCell().textContent = r[0];
      tr.insertCell().textContent = r[1];
    });
  }

  var views = {
    _get_client_info: function (data) {
      fill($('#client-info'), Object.keys(data || {}).map(function (k) { return [k, data[k]]; }));
    },
    _nim_enum_player: function (data) {
      var rows = Object.keys(data || {}).map(function (k) { return [k, data[k]]; });
      fill($('#players'), rows.length ? rows : [['(none running)', '']]);
    },
    _nim_login: function (data) { log('   login ' + (data && data.res ? 'succeeded' : 'failed')); },
    _nim_join_room: function (data) {
      if (!data || data.res !== 200) {
        $('#room').textContent = 'join failed' + (data && data.reason ? ': ' + data.reason : '');
        showMembers([]);
        return;
      }
      $('#room').textContent = 'in room ' + data.room_id + ' (channel ' + data.channelId + ') as ' + data.account;
      showMembers((data.members || []).map(function (m) { return { uid: m.uid, volumn: 0 }; }));
    },
    _nim_enum_device: function (data) {
      var ul = $('#devices');
      ul.innerHTML = '';
      (Array.isArray(data) ? data : (data && data.devices) || []).forEach(function (d) {
        var li = document.createElement('li');
        li.textContent = typeof d === 'string' ? d : JSON.stringify(d);
        ul.appendChild(li);
      });
    },
    _nim_audio_volumn: function (data) {
      var v = data && (data.volume !== undefined ? data.volume : data.volumn);
      if (typeof v === 'number') $('#volume').value = v;
      if (data && data.self) $('#self-level').value = data.self.volumn || 0;
      if (data && data.members) showMembers(data.members);
    }
  };

  // The room's members with a meter each: who is there and who speaks.
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
      name.textContent = m.uid + (m.speaking ? ' (speaking)' : '');
      var meter = document.createElement('meter');
      meter.min = 0;
      meter.max = 100;
      meter.value = m.volumn || 0;
      li.appendChild(name);
      li.appendChild(meter);
      ul.appendChild(li);
    });
  }

  // Every native reply arrives here: {"result":{"cbfn":NAME,"data":VALUE}}.
  window.JsHandleCallBack = function (text) {
    var reply;
    try { reply = JSON.parse(text); } catch (e) { log('<- unparsable reply: ' + text); return; }
    var cbfn = reply && reply.result && reply.result.cbfn;
    var data = reply && reply.result ? reply.result.data : undefined;
    state.replies.push(reply);
    if (cbfn !== '_nim_audio_volumn') log('<- ' + String(text).trim());
    if (views[cbfn]) views[cbfn](data);
    (state.handlers[cbfn] || []).splice(0).forEach(function (f) { f(data); });
  };

  function waitFor(cbfn, timeoutMs) {
    return new Promise(function (resolve, reject) {
      (state.handlers[cbfn] = state.handlers[cbfn] || []).push(resolve);
      setTimeout(function () { reject(new Error('no ' + cbfn + ' reply')); }, timeoutMs);
    });
  }

  document.querySelectorAll('button[data-cmd]').forEach(function (b) {
    b.addEventListener('click', function () { send(b.dataset.cmd, {}); });
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
      send(f.dataset.cmd, params);
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

  // ?selftest=1: runs the main page commands in order and posts what came back
  // to the serving host's /selftest, so that end-to-end tests can read it.
  // Options of the self-test from the address: user, pass (or passfrom), room and levels (how
  // many speaking-level replies to wait for after joining).
  function query(name, fallback) {
    var m = new RegExp('[?&]' + name + '=([^&]*)').exec(location.search);
    return m ? decodeURIComponent(m[1]) : fallback;
  }

  function selftest() {
    var result = { bridge: !!hasBridge() };
    var levels = parseInt(query('levels', '0'), 10) || 0;
    var step = function (command, params, cbfn) {
      var p = waitFor(cbfn, 10000);
      send(command, params);
      return p.then(function (data) { result[cbfn] = data; });
    };
    // The password from the address, or with passfrom=PATH from the serving
    // host, so that it appears in no address (tests look for it in dumps).
    var password = function () {
      var from = query('passfrom', '');
      if (!from) return Promise.resolve(query('pass', 'pw'));
      return new Promise(function (resolve, reject) {
        var x = new XMLHttpRequest();
        x.open('GET', from);
        x.onload = function () { resolve(x.responseText); };
        x.onerror = function () { reject(new Error('no password from ' + from)); };
        x.send();
      });
    };
    // The voice module starts half a second after the client: log in until it
    // answers. A login answers within 5 s; a shorter wait would queue logins
    // behind each other on a busy machine and delay the join behind them.
    var login = function (pass, triesLeft) {
      var p = waitFor('_nim_login', 6000);
      send('_nim_login', { user: query('user', 'selftest'), pass: pass });
      return p.then(function (data) { result._nim_login = data; }, function (e) {
        if (triesLeft <= 1) throw e;
        return login(pass, triesLeft - 1);
      });
    };
    password()
      .then(function (pass) { return login(pass, 4); })
      .then(function () {
        return step('_nim_join_room', { room_id: query('room', '7'), rtmp_url: 'rtmp://127.0.0.1/live' },
                    '_nim_join_room');
      })
      .then(function () {
        result.levels = [];
        var next = function () {
          if (result.levels.length >= levels) return;
          return waitFor('_nim_audio_volumn', 20000).then(function (data) {
            result.levels.push(data);
            return next();
          });
        };
        return next();
      })
      .then(function () { return step('_nim_enum_device', {}, '_nim_enum_device'); })
      .then(function () { return step('_nim_enum_player', {}, '_nim_enum_player'); })
      .then(function () { return step('_get_client_info', {}, '_get_client_info'); })
      .catch(function (e) { result.error = String(e); })
      .then(function () {
        var xhr = new XMLHttpRequest();
        xhr.open('POST', '/selftest');
        xhr.setRequestHeader('Content-Type', 'application/json');
        xhr.send(JSON.stringify(result));
      });
  }

  if (/[?&]selftest=1(&|$)/.test(location.search)) setTimeout(selftest, 0);
  // ?painted=1: tells the serving host when the first frame has been painted (benchmarks).
  if (/[?&]painted=1(&|$)/.test(location.search)) {
    requestAnimationFrame(function () {
      requestAnimationFrame(function () {
        var xhr = new XMLHttpRequest();
        xhr.open('POST', '/painted');
        xhr.send('');
      });
    });
  }
  document.title = hasBridge() ? 'Rawen demo front-end' : 'Rawen demo front-end (no bridge)';
})();
