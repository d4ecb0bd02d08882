#include "tools/remote/ServePage.h"

namespace remote {

// The token, when there is one, comes with the page's own URL and goes with
// every request the page makes.
const char* const kServePage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Camcorder remote</title>
<style>
body { font-family: sans-serif; margin: 12px; background: #202428; color: #e8e8e8; }
h1 { font-size: 18px; margin: 0 0 8px 0; }
#live { display: block; width: 320px; height: 240px; background: #000; border: 1px solid #555; }
#status { margin: 8px 0; font-size: 14px; line-height: 1.5; }
#status span { color: #9fd3ff; }
#keys { display: grid; grid-template-columns: repeat(3, 104px); gap: 6px; margin: 8px 0; }
#keys button { font-size: 14px; padding: 10px 0; background: #3a4048; color: #fff;
               border: 1px solid #666; border-radius: 4px; }
#keys button:active { background: #56606c; }
#answer { font-size: 13px; color: #c8c8c8; min-height: 1.2em; }
</style>
</head>
<body>
<h1>Camcorder remote</h1>
<img id="live" alt="live view">
<div id="status">
mode: <span id="mode">?</span>, <span id="state">?</span><br>
power: <span id="power">?</span>, battery: <span id="battery">?</span><br>
GPS: <span id="gps">?</span>; last fix: <span id="fix">?</span>
</div>
<div id="keys"></div>
<div id="answer"></div>
<script>
"use strict";
const token = new URLSearchParams(location.search).get("token");
const q = token ? "?token=" + encodeURIComponent(token) : "";
const keys = ["record", "pause", "zoom-t", "zoom-w", "rewind", "play", "forward", "index",
              "snapshot"];
const pad = document.getElementById("keys");
for (const key of keys) {
  const b = document.createElement("button");
  b.textContent = key;
  b.onclick = () => {
    document.getElementById("answer").textContent = key + "\u2026";
    fetch("/press/" + key + q, {method: "POST"})
      .then(r => r.json())
      .then(a => {
        document.getElementById("answer").textContent =
          a.answered ? key + ": answered, status " + a.status
                     : key + ": " + (a.refused || "no answer");
      })
      .catch(e => { document.getElementById("answer").textContent = key + ": " + e; });
  };
  pad.appendChild(b);
}
function show(id, text) { document.getElementById(id).textContent = text; }
function poll() {
  fetch("/status.json" + q).then(r => r.json()).then(s => {
    show("mode", s.mode);
    show("state", s.state);
    show("power", s.mains_power ? "mains" : "battery");
    show("battery", s.battery_attached ? "level " + s.battery_level + " of 5" : "none");
    show("gps", s.gps);
    show("fix", s.last_fix ? s.last_fix.latitude.toFixed(5) + ", " +
         s.last_fix.longitude.toFixed(5) + " (" + Math.round(s.last_fix.age_s) + " s ago, " +
         s.last_fix.source + ")" : "none");
  }).catch(() => show("state", "not reachable"));
}
poll();
setInterval(poll, 1000);
document.getElementById("live").src = "/live.mjpeg" + q;
</script>
</body>
</html>
)PAGE";

}  // namespace remote
