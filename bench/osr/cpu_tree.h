// The off-screen benchmarks' shared pieces: CPU time of the process tree and
// the animated page.
#pragma once

#include "bench/process_tree.h"

namespace qmbench {

inline double TreeCpuMs(int root) { return qmbench::MeasureTree(root).CpuMs(); }

// The animated page: a 1280 x 720 canvas repainted whole on every frame.
inline const char* CanvasPage() {
    return R"(<!doctype html><html><body style="margin:0;overflow:hidden;background:#000">
<canvas id="c" width="1280" height="720"></canvas>
<script>
var c = document.getElementById('c').getContext('2d'), n = 0;
function frame() {
  n++;
  c.fillStyle = 'hsl(' + (n * 7 % 360) + ',70%,45%)';
  c.fillRect(0, 0, 1280, 720);
  c.fillStyle = '#fff';
  for (var i = 0; i < 40; i++) c.fillRect((n * 9 + i * 31) % 1280, (i * 18 + n * 3) % 720, 24, 24);
  requestAnimationFrame(frame);
}
requestAnimationFrame(frame);
</script></body></html>)";
}

}  // namespace qmbench
