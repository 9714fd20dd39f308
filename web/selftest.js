// Test hooks of the demo front-end, used by the end-to-end tests and the
// benchmarks through its address:
//   ?selftest=1  runs the main page commands in order and posts what came
//                back to the serving host's /selftest; options: user, pass
//                (or passfrom), room and levels (how many speaking-level
//                replies to wait for after joining);
//   ?painted=1   posts to /painted once the first frame has been painted.
(function () {
  'use strict';
  var query = Bridge.query;

  function post(path, body) {
    var x = new XMLHttpRequest();
    x.open('POST', path);
    if (body) x.setRequestHeader('Content-Type', 'application/json');
    x.send(body || '');
  }

  function selftest() {
    var result = { bridge: Bridge.available() };
    var levels = parseInt(query('levels', '0'), 10) || 0;
    var step = function (command, params, cbfn) {
      var p = Bridge.next(cbfn, 10000);
      Bridge.send(command, params);
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
    // A login answers within 5 s (one that comes before the voice module has
    // started waits for it); a shorter wait would queue logins behind each
    // other on a busy machine and delay the join behind them.
    var login = function (pass, triesLeft) {
      var p = Bridge.next('_nim_login', 6000);
      Bridge.send('_nim_login', { user: query('user', 'selftest'), pass: pass });
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
          return Bridge.next('_nim_audio_volumn', 20000).then(function (data) {
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
      .then(function () { post('/selftest', JSON.stringify(result)); });
  }

  if (query('selftest', '') === '1') setTimeout(selftest, 0);
  if (query('painted', '') === '1') {
    requestAnimationFrame(function () { requestAnimationFrame(function () { post('/painted'); }); });
  }
  document.title = Bridge.available() ? 'Rawen demo front-end' : 'Rawen demo front-end (no bridge)';
})();
