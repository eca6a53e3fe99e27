'use strict';
// The dashboard against the real plugin: every request, the page and each metrics poll, runs
// the program as a CGI program. Where the program cannot sample this machine, the page must
// show the plugin's sample-failed message instead of figures.
const test = require('node:test');
const assert = require('node:assert/strict');
const os = require('node:os');
const { startServer, openBrowser, screenshot } = require('./harness');
const { until, text } = require('./stub');

let server;
let metrics;   // the plugin's own answer to a metrics request, read once
test.before(async () => {
  server = await startServer();
  metrics = await (await fetch(server.origin + '/plugin_ravlen?action=metrics')).json();
});
test.after(async () => { await server.close(); });

const metricsRequests = () => server.requests.filter((r) => r.url.includes('action=metrics')).map((r) => r.url);

test('the live page shows this machine, or the sample-failed message', async () => {
  const b = await openBrowser();
  try {
    await b.page.goto(server.origin + '/plugin_ravlen');
    if (metrics.ok) {
      await until(async () => (await text(b.page, '#pHost')) === os.hostname(), 'the host name');
      const v = await b.page.evaluate(() => ({
        cpu: document.getElementById('kCpu').textContent, mem: document.getElementById('kMem').textContent,
        memLbl: document.getElementById('memLbl').textContent, platform: document.getElementById('pPlatform').textContent,
        rows: document.querySelectorAll('#rows tr').length, tiles: document.querySelectorAll('#cores .core').length,
      }));
      assert.match(v.cpu, /^\d+\.\d%$/);
      assert.match(v.mem, /^\d+%$/);
      assert.match(v.memLbl, / \/ /);
      assert.ok(v.rows > 0, 'process rows');
      if (process.platform === 'linux') assert.ok(v.tiles > 0, 'per-core tiles');
      assert.equal(v.platform, metrics.platform);
    } else {
      await until(async () => (await text(b.page, '#pState')) === 'error', 'the error pill');
      assert.equal(await text(b.page, '#coreNote'), metrics.message || 'sample failed');
      assert.equal(await text(b.page, '#pHost'), '\u2014');
    }
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('live requests: Memory re-requests with sort=mem, Pause stops, 5s polls every 5 s', async () => {
  const b = await openBrowser();
  try {
    await b.page.clock.install({ time: new Date('2024-01-01T00:00:00Z') });
    await b.page.clock.pauseAt(new Date('2024-01-01T00:00:01Z'));
    server.requests.length = 0;
    await b.page.goto(server.origin + '/plugin_ravlen?node=here');
    // Every answer rewrites coreNote (the failure message, the per-core note or nothing), so a
    // marker put there first shows when the n-th request has been answered and drawn.
    const step = async (action, n) => {
      await b.page.evaluate(() => { document.getElementById('coreNote').textContent = 'marker'; });
      await action();
      await until(() => metricsRequests().length === n, `${n} requests`);
      await until(async () => (await text(b.page, '#coreNote')) !== 'marker', `answer ${n}`);
    };
    await until(() => metricsRequests().length === 1, 'the first request');
    await until(async () => (await text(b.page, '#pHost')) !== '\u2014' || (await text(b.page, '#pState')) === 'error',
      'the first answer');
    await step(() => b.page.click('#segSort button[data-sort="mem"]'), 2);
    assert.match(metricsRequests()[1], /^\/plugin_ravlen\?action=metrics&sort=mem&node=here$/);

    await b.page.click('#segRate button[data-ms="0"]');
    await b.page.clock.runFor(30000);
    await step(() => b.page.click('#segRate button[data-ms="5000"]'), 3);   // polls at once
    assert.equal(await text(b.page, '#pState'), metrics.ok ? 'live 5s' : 'error');
    await b.page.clock.runFor(4999);
    await step(() => b.page.click('#segSort button[data-sort="cpu"]'), 4);  // marks the order
    await step(() => b.page.clock.runFor(1), 5);
    await step(() => b.page.clock.runFor(5000), 6);
    assert.deepEqual(metricsRequests().map((u) => u.match(/sort=(\w+)/)[1]), ['cpu', 'mem', 'mem', 'cpu', 'cpu', 'cpu']);
  } finally { await b.close(); }
});

test('screenshots of the live dashboard in both themes and at 640 px', async () => {
  for (const [name, width, theme] of [['live-dark', 1100, 'dark'], ['live-light', 1100, 'light'],
    ['live-dark-640', 640, 'dark'], ['live-light-640', 640, 'light']]) {
    const b = await openBrowser({ viewport: { width, height: 900 } });
    try {
      await b.page.goto(server.origin + '/plugin_ravlen?theme=' + theme);
      if (metrics.ok) await until(async () => (await text(b.page, '#pHost')) !== '\u2014', 'figures');
      else await until(async () => (await text(b.page, '#pState')) === 'error', 'the error pill');
      await screenshot(b.page, name);
    } finally { await b.close(); }
  }
});
