// The page's side of the client's bridge, shared by the demo's pages: page
// commands go out through KXVantorAsyn.VantorCommunicateAsyn with name=value
// pairs joined by '&'; every native reply comes back through the global
// JsHandleCallBack as {"result":{"cbfn":NAME,"data":VALUE}}.
var Bridge = (function () {
  'use strict';
  var listeners = {};  // cbfn -> functions(data)
  var watchers = [];   // functions(kind, name, detail) for every message both ways
  var waiting = {};    // cbfn -> one-shot functions(data)

  function available() {
    return typeof KXVantorAsyn !== 'undefined' && !!KXVantorAsyn.VantorCommunicateAsyn;
  }

  function tell(kind, name, detail) {
    watchers.forEach(function (w) { w(kind, name, detail); });
  }

  // Values go as they are (the client takes them verbatim), so a value must
  // not hold '&'. Returns false without a bridge (the page opened elsewhere).
  function send(command, params) {
    var text = Object.keys(params || {}).map(function (k) { return k + '=' + params[k]; }).join('&');
    tell('sent', command, text);
    if (!available()) return false;
    KXVantorAsyn.VantorCommunicateAsyn(command, text);
    return true;
  }

  function on(cbfn, fn) { (listeners[cbfn] = listeners[cbfn] || []).push(fn); }

  // The next reply named cbfn, or a rejection after timeoutMs.
  function next(cbfn, timeoutMs) {
    return new Promise(function (resolve, reject) {
      (waiting[cbfn] = waiting[cbfn] || []).push(resolve);
      setTimeout(function () { reject(new Error('no ' + cbfn + ' reply')); }, timeoutMs);
    });
  }

  window.JsHandleCallBack = function (text) {
    var reply;
    try { reply = JSON.parse(text); } catch (e) { tell('unparsable', '', String(text)); return; }
    var result = reply && reply.result;
    var cbfn = result && result.cbfn;
    var data = result ? result.data : undefined;
    tell('received', cbfn, String(text).trim());
    (listeners[cbfn] || []).forEach(function (fn) { fn(data); });
    (waiting[cbfn] || []).splice(0).forEach(function (fn) { fn(data); });
  };

  // A parameter of the page's own address.
  function query(name, fallback) {
    var m = new RegExp('[?&]' + name + '=([^&]*)').exec(location.search);
    return m ? decodeURIComponent(m[1]) : fallback;
  }

  return { available: available, send: send, on: on, next: next, query: query,
           watch: function (fn) { watchers.push(fn); } };
})();
