(function () {
  'use strict';

  // ---- context, read once ------------------------------------------------------------------
  var params = new URLSearchParams(location.search);
  var HUB = params.get('plugin') || '';
  var node = params.get('node') || '';
  var sid = params.get('id') || '';
  var pwd = params.get('pwd') || '';

  // A storage item, or null when it is missing or the browser refuses the page its storage.
  function stored(key) {
    try { return localStorage.getItem(key); } catch (e) { return null; }
  }
  if (!pwd && node) pwd = stored('kiv_pwd_' + node) || '';
  if (!pwd) pwd = stored('kiv_active_pwd') || '';

  // Unreadable storage leaves the theme the bootstrap chose from the query or the preference.
  try {
    document.documentElement.setAttribute('data-theme', localStorage.getItem('kiv_theme') || 'dark');
  } catch (e) { /* keep the current theme */ }

  // ---- loop and rendering state ------------------------------------------------------------
  var RATE = 2000;
  var TIMER = null;
  var BUSY = false;
  var HISTORY = [];
  var HIST_MAX = 60;
  var SORT = 'cpu';
  var DATA = null;
  var DASH = '\u2014';

  // ---- small helpers -----------------------------------------------------------------------
  function $(id) { return document.getElementById(id); }

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = String(text);
    return e;
  }

  function txt(id, v) {
    var e = $(id);
    if (!e) return;
    e.textContent = (v === undefined || v === null || v === '') ? DASH : String(v);
  }

  function clamp(v) { return Math.max(0, Math.min(100, v)); }

  // ---- formatters --------------------------------------------------------------------------
  function kb(v) {
    if (!v && v !== 0) return DASH;
    if (v >= 1048576) return (v / 1048576).toFixed(1) + ' GiB';
    if (v >= 1024) return (v / 1024).toFixed(0) + ' MiB';
    return v + ' KiB';
  }

  function dur(sec) {
    if (!sec && sec !== 0) return DASH;
    var days = Math.floor(sec / 86400);
    var hours = Math.floor((sec % 86400) / 3600);
    var minutes = Math.floor((sec % 3600) / 60);
    if (days > 0) return days + 'd ' + hours + 'h';
    if (hours > 0) return hours + 'h ' + minutes + 'm';
    return minutes + 'm';
  }

  function pctColor(p) {
    if (p >= 85) return 'var(--danger)';
    if (p >= 60) return 'var(--warn)';
    return 'var(--ok)';
  }

  // ---- rendering ---------------------------------------------------------------------------
  function renderSpark(v) {
    HISTORY.push(clamp(v));
    if (HISTORY.length > HIST_MAX) HISTORY.shift();
    var n = HISTORY.length;
    if (n < 2) return;
    var points = [];
    for (var i = 0; i < n; i++) {
      points.push((i / (n - 1) * 600).toFixed(1) + ',' + (62 - HISTORY[i] / 100 * 58).toFixed(1));
    }
    $('sparkLine').setAttribute('points', points.join(' '));
  }

  function renderCores(d) {
    var box = $('cores');
    box.innerHTML = '';
    if (!d.cores || !d.cores.length) {
      txt('coreNote', 'Per-core detail is available on Linux and macOS nodes; ' +
        'this platform exposes an aggregate CPU figure only.');
      return;
    }
    $('coreNote').textContent = '';
    d.cores.forEach(function (c) {
      var tile = el('div', 'core');
      tile.appendChild(el('div', 'lbl', 'cpu ' + c.core));
      var bar = el('div', 'bar');
      var fill = el('div', 'fill');
      fill.style.width = clamp(c.pct) + '%';
      fill.style.background = pctColor(c.pct);
      bar.appendChild(fill);
      tile.appendChild(bar);
      tile.appendChild(el('div', 'pc', c.pct.toFixed(0) + '%'));
      box.appendChild(tile);
    });
  }

  function renderProcs() {
    if (!DATA) return;
    var filter = $('q').value.toLowerCase();
    var body = $('rows');
    body.innerHTML = '';
    var shown = 0;
    DATA.processes.forEach(function (p) {
      var haystack = (p.name + ' ' + p.pid).toLowerCase();
      if (filter && haystack.indexOf(filter) < 0) return;
      var tr = document.createElement('tr');
      tr.appendChild(el('td', 'num', p.pid));
      tr.appendChild(el('td', 'nm', p.name || DASH));
      tr.appendChild(el('td', 'num', p.cpu.toFixed(1)));
      tr.appendChild(el('td', 'num', kb(p.rss_kb)));
      tr.appendChild(el('td', 'hide-sm', p.state || DASH));
      body.appendChild(tr);
      shown++;
    });
    if (shown > 0) $('empty').classList.add('hide');
    else $('empty').classList.remove('hide');
  }

  function render(d) {
    DATA = d;
    txt('pHost', d.host);
    txt('pPlatform', d.platform);
    txt('cpuModel', d.cpu_model);
    txt('kCpu', d.cpu_pct.toFixed(1) + '%');
    txt('kCores', d.ncores || DASH);
    txt('kMem', d.mem.pct.toFixed(0) + '%');
    var hasSwap = d.swap.total_kb > 0;
    txt('kSwap', hasSwap ? d.swap.pct.toFixed(0) + '%' : 'none');
    txt('kLoad', d.load.available ? d.load.load1.toFixed(2) : 'n/a');
    txt('kUp', dur(d.uptime_sec));
    txt('kProc', d.proc_count);
    $('memFill').style.width = clamp(d.mem.pct) + '%';
    txt('memLbl', kb(d.mem.used_kb) + ' / ' + kb(d.mem.total_kb));
    var detail = 'free ' + kb(d.mem.free_kb);
    if (d.mem.cached_kb > 0) detail += '  \u00b7  cached ' + kb(d.mem.cached_kb);
    txt('memDetail', detail);
    $('swapFill').style.width = hasSwap ? clamp(d.swap.pct) + '%' : '0%';
    txt('swapLbl', hasSwap ? kb(d.swap.used_kb) + ' / ' + kb(d.swap.total_kb) : 'no swap');
    renderSpark(d.cpu_pct);
    renderCores(d);
    renderProcs();
  }

  // ---- data loop ---------------------------------------------------------------------------
  // The hub id goes in as the page got it; the hub route keeps the second "?" on purpose.
  function base() { return HUB ? '/plugins?plugin=' + HUB : '/plugin_ravlen'; }

  function withCtx(url) {
    url += '?action=metrics&sort=' + encodeURIComponent(SORT);
    if (node) url += '&node=' + encodeURIComponent(node);
    if (sid) url += '&id=' + encodeURIComponent(sid);
    if (pwd) url += '&pwd=' + encodeURIComponent(pwd);
    return url;
  }

  function hdr() { return pwd ? { 'X-Kiv-Password': pwd } : {}; }

  function fail(msg) {
    var pill = $('pState');
    pill.textContent = 'error';
    pill.className = 'pill paused';
    txt('coreNote', msg);
  }

  function poll() {
    if (BUSY) return;
    BUSY = true;
    function done() { BUSY = false; }
    fetch(withCtx(base()), { headers: hdr(), cache: 'no-store' })
      .then(function (r) { return r.json(); })
      .then(function (d) {
        if (!d || d.ok === false) {
          fail(d && d.message ? d.message : 'sample failed');
          return;
        }
        render(d);
        showState();  // a document that renders ends an error shown by the pill
      })
      .catch(function (e) { fail('request failed: ' + e); })
      .then(done, done);
  }

  // The pill shows the loop's state: live at the current rate, or paused.
  function showState() {
    var pill = $('pState');
    if (RATE > 0) {
      pill.textContent = 'live ' + (RATE / 1000) + 's';
      pill.className = 'pill live';
    } else {
      pill.textContent = 'paused';
      pill.className = 'pill paused';
    }
  }

  function schedule() {
    if (TIMER !== null) {
      clearInterval(TIMER);
      TIMER = null;
    }
    if (RATE > 0) TIMER = setInterval(poll, RATE);
    showState();
  }

  // A segmented control: a click marks its button as the one that is on, then runs `pick`.
  // The buttons to turn off are looked up at the click, so one added later is turned off too.
  function segment(segId, pick) {
    function buttons() { return $(segId).querySelectorAll('button'); }
    Array.prototype.forEach.call(buttons(), function (b) {
      b.addEventListener('click', function () {
        Array.prototype.forEach.call(buttons(), function (other) { other.classList.remove('on'); });
        b.classList.add('on');
        pick(b);
      });
    });
  }

  // ---- start-up ----------------------------------------------------------------------------
  segment('segRate', function (b) {
    RATE = parseInt(b.getAttribute('data-ms'), 10) || 0;
    schedule();
    if (RATE > 0) poll();
  });
  segment('segSort', function (b) {
    SORT = b.getAttribute('data-sort') || 'cpu';
    poll();
  });
  $('q').addEventListener('input', renderProcs);

  if (document.visibilityState === 'visible') poll();
  document.addEventListener('visibilitychange', function () {
    if (document.visibilityState === 'visible') poll();
  });
  schedule();
})();
