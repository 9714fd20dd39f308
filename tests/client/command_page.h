// "/cmd.html": a page that runs the page commands named in its "cmd" parameter
// (comma separated) once it has loaded, then posts their names to "/ran". A
// dark band across its top gives screenshots something to find.
#pragma once

#include "tests/support/http_server.h"

namespace qmtest {

inline void ServeCommandPage(HttpServer& server) {
    server.RoutePage("/cmd.html", R"(<!doctype html><html><head><title>cmd</title><style>
body{margin:0;background:#fff}#band{height:60px;background:#345}</style></head><body><div id="band"></div>
<script>
var cmds = (new URLSearchParams(location.search).get('cmd') || '').split(',').filter(Boolean);
setTimeout(function () {
  cmds.forEach(function (c) { KXVantorAsyn.VantorCommunicateAsyn(c, ''); });
  var x = new XMLHttpRequest(); x.open('POST', '/ran'); x.send(cmds.join(','));
}, 300);
</script></body></html>)");
    server.Route("/ran", [](const HttpRequest&) { return HttpResponse(); });
}

}  // namespace qmtest
