'use strict';
// Answers the page's metrics requests from the test instead of the plugin, and logs them.
const DASH = '\u2014';

// A metrics document as the plugin writes it; `over` replaces top-level members, and the
// members of `mem`, `swap` and `load` one by one.
function doc(over = {}) {
  const d = {
    ok: true, action: 'metrics', plugin: 'plugin_ravlen', version: '1.0.1', platform: 'linux',
    host: 'web1', cpu_model: 'Test CPU @ 2.0GHz', utc: '2024-01-01T00:00:00Z', cpu_pct: 12.5, ncores: 2,
    cores: [{ core: 0, pct: 10 }, { core: 1, pct: 15 }],
    mem: { total_kb: 8388608, used_kb: 4194304, free_kb: 4194304, cached_kb: 1024, pct: 50 },
    swap: { total_kb: 2097152, used_kb: 524288, pct: 25 },
    uptime_sec: 3600, load: { available: true, load1: 0.5, load5: 0.4, load15: 0.3 },
    proc_count: 2, top: 2, sort: 'cpu',
    processes: [{ pid: 1, name: 'init', cpu: 0.5, rss_kb: 2048, state: 'S' },
      { pid: 42, name: 'bash', cpu: 1.25, rss_kb: 4096, state: 'R' }],
  };
  for (const [k, v] of Object.entries(over)) {
    if (v && typeof v === 'object' && !Array.isArray(v) && d[k] && typeof d[k] === 'object') d[k] = { ...d[k], ...v };
    else if (v === undefined) delete d[k];
    else d[k] = v;
  }
  return d;
}

// Installs the stub on `page`. Answers come from `queue` in order; an empty queue answers with
// doc({host: 'r' + n}) for the n-th request (from 1). An answer is a document, or
// { raw, status, type } for a body of our own, { abort: true }, or { hold: true } (kept
// unanswered until release()).
async function stubMetrics(page) {
  const s = {
    requests: [], queue: [], held: [],
    release(answer) { const r = s.held.shift(); return fulfil(r.route, answer === undefined ? doc({ host: 'r' + r.n }) : answer); },
  };
  await page.route((url) => url.search.includes('action=metrics'), async (route) => {
    const req = route.request();
    const u = new URL(req.url());
    s.requests.push({ path: u.pathname + u.search, headers: await req.allHeaders() });
    const n = s.requests.length;
    const answer = s.queue.length ? s.queue.shift() : doc({ host: 'r' + n });
    if (answer && answer.hold) { s.held.push({ route, n }); return; }
    await fulfil(route, answer);
  });
  return s;
}

function fulfil(route, a) {
  if (a && a.abort) return route.abort();
  if (a && a.raw !== undefined) {
    return route.fulfill({ status: a.status || 200, contentType: a.type || 'application/json', body: a.raw });
  }
  return route.fulfill({ status: 200, contentType: 'application/json', body: JSON.stringify(a) });
}

// Waits (on the test's side, so that a page clock cannot stall it) until fn() yields true.
async function until(fn, what = 'condition', ms = 15000) {
  const end = Date.now() + ms;
  let last;
  for (;;) {
    last = await fn();
    if (last === true) return;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what} (last: ${JSON.stringify(last)})`);
    await new Promise((r) => setTimeout(r, 20));
  }
}

const text = (page, sel) => page.evaluate((s) => document.querySelector(s).textContent, sel);
const untilText = (page, sel, want) =>
  until(async () => (await text(page, sel)) === want || (await text(page, sel)), `${sel} to read ${want}`);

module.exports = { DASH, doc, stubMetrics, until, text, untilText };
