'use strict';
// The dashboard's client script in a real browser, with the metrics answered by the test:
// formatting, the CPU history, the core tiles, the process filter, failures, the request URL
// and password, the polling rate and visibility.
const test = require('node:test');
const assert = require('node:assert/strict');
const { startServer, openBrowser } = require('./harness');
const { DASH, doc, stubMetrics, until, text, untilText } = require('./stub');

let server;
test.before(async () => { server = await startServer(); });
test.after(async () => { await server.close(); });

// Opens the dashboard with a stubbed metrics route and a paused page clock. `storage` items are set on the origin first.
async function dashboard(opts = {}) {
  const b = await openBrowser(opts.browser);
  const stub = await stubMetrics(b.page);
  if (opts.storage) {
    await b.page.goto(server.origin + '/');
    await b.page.evaluate((items) => { for (const [k, v] of Object.entries(items)) localStorage.setItem(k, v); }, opts.storage);
  }
  if (opts.init) await b.context.addInitScript(opts.init);
  // The page clock stands still: timers fire only when a test advances it.
  await b.page.clock.install({ time: new Date('2024-01-01T00:00:00Z') });
  await b.page.clock.pauseAt(new Date('2024-01-01T00:00:01Z'));
  if (opts.queue) stub.queue.push(...opts.queue);
  await b.page.goto(server.origin + '/plugin_ravlen' + (opts.query ? '?' + opts.query : ''));
  return { b, page: b.page, stub };
}

// Sends one more request at once (a click on the sort button that is on) and waits until
// the host `host` is shown, i.e. the answer was rendered.
async function next(page, answer, stub, host) {
  if (answer !== undefined) stub.queue.push(answer);
  await page.click('#segSort button.on');
  if (host) await untilText(page, '#pHost', host);
}

const cells = (page, col) => page.evaluate((c) =>
  [...document.querySelectorAll('#rows tr')].map((tr) => tr.children[c].textContent), col);

test('kb, dur and pctColor', async () => {
  const rss = [1023, 1024, 1536, 1048575, 1048576, 0, null];
  const pcts = [59.9, 60, 84.9, 85, 0, 100];
  const { b, page, stub } = await dashboard({
    queue: [doc({
      host: 'fmt',
      processes: rss.map((r, i) => ({ pid: i + 1, name: 'p' + i, cpu: 0, rss_kb: r, state: 'S' })),
      cores: pcts.map((p, i) => ({ core: i, pct: p })),
    })],
  });
  try {
    await untilText(page, '#pHost', 'fmt');
    assert.deepEqual(await cells(page, 3), ['1023 KiB', '1 MiB', '2 MiB', '1024 MiB', '1.0 GiB', '0 KiB', DASH]);
    const colours = await page.evaluate(() => [...document.querySelectorAll('#cores .fill')].map((f) => f.style.background));
    assert.deepEqual(colours, ['var(--ok)', 'var(--warn)', 'var(--warn)', 'var(--danger)', 'var(--ok)', 'var(--danger)']);

    const durations = [[0, '0m'], [59, '0m'], [60, '1m'], [3600, '1h 0m'], [3661, '1h 1m'], [86399, '23h 59m'],
      [86400, '1d 0h'], [90061, '1d 1h'], [null, DASH], [undefined, DASH]];
    for (const [i, [sec, want]] of durations.entries()) {
      await next(page, doc({ host: 'd' + i, uptime_sec: sec }), stub, 'd' + i);
      assert.equal(await text(page, '#kUp'), want, `dur(${sec})`);
    }
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('figures: a node without swap, load, per-core figures or cached memory', async () => {
  const windowsLike = doc({
    host: 'win', platform: 'windows', cpu_model: '', cpu_pct: 3.25, ncores: 0, cores: [],
    mem: { total_kb: 16777216, used_kb: 8912896, free_kb: 7864320, cached_kb: 0, pct: 53.1 },
    swap: { total_kb: 0, used_kb: 0, pct: 0 }, load: { available: false, load1: 0, load5: 0, load15: 0 },
    proc_count: 0, uptime_sec: 90061,
    processes: [{ pid: 4, name: 'System', cpu: 0, rss_kb: 140, state: 'R' }, { pid: 1234, name: 'svchost.exe', cpu: 0, rss_kb: 20480, state: 'R' }],
  });
  const { b, page, stub } = await dashboard({ queue: [windowsLike] });
  try {
    await untilText(page, '#pHost', 'win');
    const read = () => page.evaluate(() => {
      const t = (id) => document.getElementById(id).textContent;
      return {
        platform: t('pPlatform'), model: t('cpuModel'), cpu: t('kCpu'), cores: t('kCores'), mem: t('kMem'),
        swap: t('kSwap'), load: t('kLoad'), up: t('kUp'), procs: t('kProc'), memLbl: t('memLbl'),
        memDetail: t('memDetail'), swapLbl: t('swapLbl'), note: t('coreNote'),
        memFill: document.getElementById('memFill').style.width, swapFill: document.getElementById('swapFill').style.width,
        swapBg: document.getElementById('swapFill').style.background, tiles: document.querySelectorAll('#cores .core').length,
      };
    });
    assert.deepEqual(await read(), {
      platform: 'windows', model: DASH, cpu: '3.3%', cores: DASH, mem: '53%', swap: 'none', load: 'n/a', up: '1d 1h',
      procs: '0', memLbl: '8.5 GiB / 16.0 GiB', memDetail: 'free 7.5 GiB', swapLbl: 'no swap',
      note: 'Per-core detail is available on Linux and macOS nodes; this platform exposes an aggregate CPU figure only.',
      memFill: '53.1%', swapFill: '0%', swapBg: 'var(--warn)', tiles: 0,
    });
    assert.deepEqual(await cells(page, 2), ['0.0', '0.0']);

    await next(page, doc({
      host: 'lin', cpu_model: 'Test CPU', ncores: 8, mem: { cached_kb: 2048, pct: 130, free_kb: 1048576 },
      swap: { total_kb: 1048576, used_kb: 262144, pct: 25.5 }, load: { available: true, load1: 1.005 },
    }), stub, 'lin');
    const r = await read();
    assert.equal(r.cores, '8');
    assert.equal(r.swap, '26%');
    assert.equal(r.load, (1.005).toFixed(2));
    assert.equal(r.memDetail, 'free 1.0 GiB  \u00b7  cached 2 MiB');
    assert.equal(r.memFill, '100%', 'the gauge is clamped');
    assert.equal(r.mem, '130%', 'the figure is not');
    assert.equal(r.swapFill, '25.5%');
    assert.equal(r.swapLbl, '256 MiB / 1.0 GiB');
    assert.equal(r.note, '', 'core entries clear the note');
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('the CPU history line', async () => {
  const points = (page) => page.evaluate(() => document.getElementById('sparkLine').getAttribute('points'));
  const { b, page, stub } = await dashboard({ queue: [doc({ host: 's0', cpu_pct: 0 })] });
  try {
    await untilText(page, '#pHost', 's0');
    assert.equal(await points(page), '', 'one value draws no line');
    await next(page, doc({ host: 's1', cpu_pct: 50 }), stub, 's1');
    assert.equal(await points(page), '0.0,62.0 600.0,33.0');
    // A failure adds no point.
    await next(page, { ok: false }, stub);
    await untilText(page, '#pState', 'error');
    await next(page, doc({ host: 's2', cpu_pct: 150 }), stub, 's2');
    assert.equal(await text(page, '#kCpu'), '150.0%');
    assert.equal(await points(page), '0.0,62.0 300.0,33.0 600.0,4.0');
    for (let i = 3; i <= 61; i++) await next(page, doc({ host: 's' + i, cpu_pct: i }), stub, 's' + i);
    const p = (await points(page)).split(' ');
    assert.equal(p.length, 60, 'the two oldest values (0 and 50) dropped');
    assert.deepEqual([p[0], p[1], p[59]], ['0.0,4.0', '10.2,60.3', '600.0,' + (62 - 61 / 100 * 58).toFixed(1)]);
  } finally { await b.close(); }
  const second = await dashboard({ queue: [doc({ host: 'a', cpu_pct: 100 }), doc({ host: 'b', cpu_pct: 25 }), doc({ host: 'c', cpu_pct: 0 })] });
  try {
    await untilText(second.page, '#pHost', 'a');
    await next(second.page, undefined, second.stub, 'b');
    await next(second.page, undefined, second.stub, 'c');
    assert.equal(await points(second.page), '0.0,4.0 300.0,47.5 600.0,62.0');
  } finally { await second.b.close(); }
});

test('per-core tiles and the per-core note', async () => {
  const tiles = (page) => page.evaluate(() => [...document.querySelectorAll('#cores > div')].map((t) => ({
    cls: t.className, kids: [...t.children].map((c) => c.className),
    lbl: t.querySelector('.lbl').textContent, pc: t.querySelector('.pc').textContent,
    width: t.querySelector('.bar > .fill').style.width, bg: t.querySelector('.bar > .fill').style.background,
  })));
  const { b, page, stub } = await dashboard({ queue: [doc({ host: 'c1', cores: [{ core: 3, pct: 91.6 }, { core: 7, pct: 130 }] })] });
  try {
    await untilText(page, '#pHost', 'c1');
    assert.deepEqual(await tiles(page), [
      { cls: 'core', kids: ['lbl', 'bar', 'pc'], lbl: 'cpu 3', pc: '92%', width: '91.6%', bg: 'var(--danger)' },
      { cls: 'core', kids: ['lbl', 'bar', 'pc'], lbl: 'cpu 7', pc: '130%', width: '100%', bg: 'var(--danger)' },
    ]);
    await next(page, doc({ host: 'c2', cores: [] }), stub, 'c2');
    assert.deepEqual(await tiles(page), []);
    assert.match(await text(page, '#coreNote'), /^Per-core detail is available/);
    await next(page, doc({ host: 'c3', cores: undefined }), stub, 'c3');
    assert.match(await text(page, '#coreNote'), /^Per-core detail is available/);
    await next(page, doc({ host: 'c4', cores: [{ core: 0, pct: 1 }] }), stub, 'c4');
    assert.equal(await text(page, '#coreNote'), '');
    assert.equal((await tiles(page)).length, 1);
  } finally { await b.close(); }
});

test('the process table and its filter', async () => {
  const procs = [
    { pid: 1234, name: 'svchost.exe', cpu: 2.25, rss_kb: 2048, state: 'R' },
    { pid: 77, name: 'a12b', cpu: 0, rss_kb: 10, state: '' },
    { pid: 9, name: 'bash', cpu: 0, rss_kb: 10 },
    { pid: 5, name: '', cpu: 0, rss_kb: 10, state: 'S' },
    { pid: 6, name: '<img src=x onerror="window.injected=1">', cpu: 0, rss_kb: 10, state: 'S' },
  ];
  const { b, page, stub } = await dashboard({ queue: [{ hold: true }] });
  const pids = async () => (await cells(page, 0)).map(Number);
  const emptyShown = () => page.evaluate(() => !document.getElementById('empty').classList.contains('hide'));
  try {
    await until(() => stub.held.length === 1, 'the first request');
    await page.fill('#q', 'zzz');
    assert.deepEqual(await pids(), [], 'no document yet: the filter changes nothing');
    assert.equal(await emptyShown(), false);
    await page.fill('#q', '');
    await stub.release(doc({ host: 'p1', processes: procs }));
    await untilText(page, '#pHost', 'p1');

    const rows = await page.evaluate(() => [...document.querySelectorAll('#rows tr')].map((tr) =>
      [tr.className, ...[...tr.children].map((td) => td.className + ':' + td.textContent)]));
    assert.deepEqual(rows[0], ['', 'num:1234', 'nm:svchost.exe', 'num:2.3', 'num:2 MiB', 'hide-sm:R']);
    assert.deepEqual(rows[1].slice(5), ['hide-sm:' + DASH]);
    assert.deepEqual(rows[2].slice(5), ['hide-sm:' + DASH]);
    assert.deepEqual(rows[3].slice(2, 3), ['nm:' + DASH]);
    assert.equal(rows[4][2], 'nm:' + procs[4].name, 'a name is shown as text');
    assert.equal(await page.evaluate(() => document.querySelectorAll('#rows img').length + (window.injected ? 1 : 0)), 0);

    const before = stub.requests.length;
    for (const [filter, want] of [['SVC', [1234]], ['12', [1234, 77]], ['exe 12', [1234]], [' ', [1234, 77, 9, 5, 6]],
      ['BASH 9', [9]], ['9', [9]], ['nothing', []], ['', [1234, 77, 9, 5, 6]]]) {
      await page.fill('#q', filter);
      assert.deepEqual(await pids(), want, `filter '${filter}'`);
      assert.equal(await emptyShown(), want.length === 0, `empty line for '${filter}'`);
    }
    await page.fill('#q', 'bash');
    await next(page, doc({ host: 'p2', processes: procs }), stub, 'p2');
    assert.deepEqual(await pids(), [9], 'the filter stays in force across updates');
    assert.equal(stub.requests.length, before + 1, 'typing sends no request');
    await next(page, doc({ host: 'p3', processes: [] }), stub, 'p3');
    assert.equal(await emptyShown(), true);
    await page.fill('#q', '');
    assert.equal(await emptyShown(), true, 'an empty list shows the line without a filter too');
  } finally { await b.close(); }
});

test('failures: the message, the pill, and what stays on the page', async () => {
  const failures = [
    [{ status: 401, raw: '{"ok":false,"error":"invalid node password"}' }, /^sample failed$/],
    [{ status: 502, type: 'text/html', raw: '<!DOCTYPE html><p>Bad gateway</p>' }, /^request failed: SyntaxError: /],
    [doc({ ok: false, error: 'sample_failed', message: 'could not read local system counters on this node' }),
      /^could not read local system counters on this node$/],
    [{ ok: false, error: 'x', message: '' }, /^sample failed$/],
    [{ raw: 'null' }, /^sample failed$/],
    [{ raw: 'false' }, /^sample failed$/],
    [{ raw: '0' }, /^sample failed$/],
    [{ raw: '""' }, /^sample failed$/],
    [{ abort: true }, /^request failed: TypeError: /],
    [doc({ host: 'half', cpu_pct: 40, mem: undefined }), /^request failed: TypeError: /],
  ];
  const { b, page, stub } = await dashboard({ queue: [doc({ host: 'good', cpu_pct: 40 })] });
  try {
    await untilText(page, '#pHost', 'good');
    for (const [answer, message] of failures) {
      await page.evaluate(() => { document.getElementById('coreNote').textContent = 'marker'; });
      await next(page, answer, stub);
      await until(async () => (await text(page, '#coreNote')) !== 'marker', 'the failure message');
      assert.match(await text(page, '#coreNote'), message);
      assert.deepEqual(await page.evaluate(() => [document.getElementById('pState').textContent, document.getElementById('pState').className]),
        ['error', 'pill paused']);
      assert.equal(await text(page, '#kCpu'), '40.0%', 'the figures of the last document stay');
    }
    assert.equal(await text(page, '#pHost'), 'half', 'render stopped at the missing member, after the host');
    // The next good document refreshes the figures and gives the pill back its state.
    const pill = () => page.evaluate(() => [document.getElementById('pState').textContent, document.getElementById('pState').className]);
    await next(page, doc({ host: 'again', cpu_pct: 41 }), stub, 'again');
    assert.equal(await text(page, '#kCpu'), '41.0%');
    assert.equal(await text(page, '#coreNote'), '');
    assert.deepEqual(await pill(), ['live 2s', 'pill live']);
    // Paused, the same holds: error at once, then paused again.
    await page.click('#segRate button[data-ms="0"]');
    await next(page, { ok: false }, stub);
    await untilText(page, '#pState', 'error');
    await next(page, doc({ host: 'paused again' }), stub, 'paused again');
    assert.deepEqual(await pill(), ['paused', 'pill paused']);
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('a trigger that meets an outstanding request is dropped', async () => {
  const { b, page, stub } = await dashboard({ queue: [{ hold: true }] });
  try {
    await until(() => stub.held.length === 1, 'the first request');
    await page.click('#segSort button[data-sort="mem"]');
    await page.clock.runFor(2000);
    await stub.release(doc({ host: 'first' }));
    await untilText(page, '#pHost', 'first');
    assert.equal(stub.requests.length, 1, 'neither the click nor the tick sent a request');
    assert.equal(await page.evaluate(() => document.querySelector('#segSort .on').textContent), 'Memory');
    await page.clock.runFor(2000);
    await until(() => stub.requests.length === 2, 'the next tick');
    assert.equal(stub.requests[1].path, '/plugin_ravlen?action=metrics&sort=mem', 'the sort goes with the next poll');
  } finally { await b.close(); }
});

test('rate buttons, pause, sort and visibility', async () => {
  const { b, page, stub } = await dashboard();
  const pill = () => page.evaluate(() => [document.getElementById('pState').textContent, document.getElementById('pState').className]);
  const on = (seg) => page.evaluate((s) => [...document.querySelectorAll(`#${s} button.on`)].map((x) => x.textContent), seg);
  try {
    await untilText(page, '#pHost', 'r1');
    assert.deepEqual(await pill(), ['live 2s', 'pill live']);
    await page.clock.runFor(1999);
    await page.clock.runFor(1);
    await untilText(page, '#pHost', 'r2');

    await page.click('#segRate button[data-ms="0"]');
    assert.deepEqual(await pill(), ['paused', 'pill paused']);
    assert.deepEqual(await on('segRate'), ['Pause']);
    await page.clock.runFor(20000);
    await page.click('#segSort button[data-sort="mem"]');                            // paused: still one request
    await untilText(page, '#pHost', 'r3');
    assert.deepEqual(await on('segSort'), ['Memory']);
    await page.evaluate(() => document.dispatchEvent(new Event('visibilitychange')));
    await untilText(page, '#pHost', 'r4');

    await page.click('#segRate button[data-ms="5000"]');
    assert.deepEqual(await pill(), ['live 5s', 'pill live']);
    await untilText(page, '#pHost', 'r5');
    await page.clock.runFor(4999);
    await page.click('#segSort button[data-sort="cpu"]');        // marks the order of requests
    await untilText(page, '#pHost', 'r6');
    await page.clock.runFor(1);
    await untilText(page, '#pHost', 'r7');
    await page.clock.runFor(5000);
    await untilText(page, '#pHost', 'r8');

    assert.deepEqual(stub.requests.map((r) => r.path.replace('/plugin_ravlen?action=metrics&sort=', '')),
      ['cpu', 'cpu', 'mem', 'mem', 'mem', 'cpu', 'cpu', 'cpu']);
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('a click turns off every button in its segment, also one added after load', async () => {
  const { b, page } = await dashboard();
  const on = (seg) => page.evaluate((s) => [...document.querySelectorAll(`#${s} button.on`)].map((x) => x.textContent), seg);
  try {
    await untilText(page, '#pHost', 'r1');
    await page.evaluate(() => {
      for (const [seg, label] of [['segRate', '10s'], ['segSort', 'PID']]) {
        const extra = document.createElement('button');
        extra.type = 'button';
        extra.className = 'on';
        extra.textContent = label;
        document.getElementById(seg).appendChild(extra);
      }
    });
    await page.click('#segRate button[data-ms="5000"]');
    assert.deepEqual(await on('segRate'), ['5s']);
    await page.click('#segSort button[data-sort="mem"]');
    assert.deepEqual(await on('segSort'), ['Memory']);
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

const URL_CASES = [
  // page query, storage items, request path, X-Kiv-Password header
  ['', {}, '/plugin_ravlen?action=metrics&sort=cpu', undefined],
  ['plugin=42&node=web1', {}, '/plugins?plugin=42?action=metrics&sort=cpu&node=web1', undefined],
  ['plugin=a%2Fb&node=web%201&id=x%26y&pwd=p%20w', {},
    '/plugins?plugin=a/b?action=metrics&sort=cpu&node=web%201&id=x%26y&pwd=p%20w', 'p w'],
  ['node=web1&id=7', { kiv_pwd_web1: 's1', kiv_active_pwd: 's2' }, '/plugin_ravlen?action=metrics&sort=cpu&node=web1&id=7&pwd=s1', 's1'],
  ['node=web1', { kiv_active_pwd: 's2' }, '/plugin_ravlen?action=metrics&sort=cpu&node=web1&pwd=s2', 's2'],
  ['node=web1', { kiv_pwd_web1: '', kiv_active_pwd: 's2' }, '/plugin_ravlen?action=metrics&sort=cpu&node=web1&pwd=s2', 's2'],
  ['', { kiv_pwd_: 'never', kiv_active_pwd: 's2' }, '/plugin_ravlen?action=metrics&sort=cpu&pwd=s2', 's2'],
  ['node=web1&pwd=p', { kiv_pwd_web1: 's1', kiv_active_pwd: 's2' }, '/plugin_ravlen?action=metrics&sort=cpu&node=web1&pwd=p', 'p'],
  ['pwd=&node=', { kiv_active_pwd: 's2' }, '/plugin_ravlen?action=metrics&sort=cpu&pwd=s2', 's2'],
  ['plugin=&id=a+b', {}, '/plugin_ravlen?action=metrics&sort=cpu&id=a%20b', undefined],
];

test('the request URL on both routes, with the context and the password fallbacks', async () => {
  for (const [query, storage, path, header] of URL_CASES) {
    const { b, stub } = await dashboard({ query, storage });
    try {
      await until(() => stub.requests.length === 1, 'the first request');
      assert.equal(stub.requests[0].path, path, `path for '${query}'`);
      assert.equal(stub.requests[0].headers['x-kiv-password'], header, `header for '${query}'`);
    } finally { await b.close(); }
  }
});

test('storage refused: no password from storage, the theme kept, and the page polls', async () => {
  const { b, page, stub } = await dashboard({ query: 'node=web1&theme=light', browser: { blockStorage: true } });
  try {
    await untilText(page, '#pHost', 'r1');
    assert.equal(stub.requests[0].path, '/plugin_ravlen?action=metrics&sort=cpu&node=web1');
    assert.equal(stub.requests[0].headers['x-kiv-password'], undefined);
    assert.equal(await page.evaluate(() => document.documentElement.getAttribute('data-theme')), 'light');
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('a page loaded hidden sends nothing at load, then polls on the tick or when shown', async () => {
  const init = () => {
    window.__hidden = true;
    Object.defineProperty(Document.prototype, 'visibilityState', {
      configurable: true, get() { return window.__hidden ? 'hidden' : 'visible'; },
    });
  };
  const { b, page, stub } = await dashboard({ init });
  try {
    await page.waitForLoadState('load');
    // A request made now lands behind any the page sent while loading.
    await page.evaluate(() => fetch('/plugin_ravlen?action=metrics&marker=1'));
    await until(() => stub.requests.length >= 1, 'the marker');
    assert.equal(stub.requests[0].path, '/plugin_ravlen?action=metrics&marker=1');
    await page.clock.runFor(2000);
    await untilText(page, '#pHost', 'r2');
    await page.evaluate(() => { window.__hidden = false; document.dispatchEvent(new Event('visibilitychange')); });
    await untilText(page, '#pHost', 'r3');
    assert.equal(stub.requests.length, 3);
  } finally { await b.close(); }
});

test('the script defines no global names besides the theme bridge, and writes no markup', async () => {
  const { b, page } = await dashboard({ queue: [doc({ host: '<b>bold</b>', platform: '<i>x</i>' })] });
  try {
    await untilText(page, '#pHost', '<b>bold</b>');
    assert.equal(await page.evaluate(() => document.querySelectorAll('.pill b, .pill i').length), 0);
    const names = await page.evaluate(() => Object.getOwnPropertyNames(window));
    const blank = await b.context.newPage();
    await blank.goto(server.origin + '/');
    const base = new Set(await blank.evaluate(() => Object.getOwnPropertyNames(window)));
    assert.deepEqual(names.filter((n) => !base.has(n)).sort(), ['qzApplyTheme', 'qzTheme']);
  } finally { await b.close(); }
});
