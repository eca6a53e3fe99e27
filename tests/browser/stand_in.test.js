'use strict';
// The live dashboard as an operator opens it: served by the Kiv stand-in (lighttpd running the
// real plugin as CGI), standalone on the direct route and framed by the host page through the
// hub route.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { BINARY, openBrowser, screenshot } = require('./harness');
const { until, text } = require('./stub');

const REPO = path.resolve(__dirname, '..', '..');
const PASSWORD = 'p@ss &+word';
let standIn;

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
  });
}

// Runs host/run.sh on a free port, with `password` as the node password when given.
async function startStandIn(password) {
  const port = await freePort();
  const state = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-stand-in-'));
  const env = { ...process.env };
  delete env.KIV_PASSWORD;
  if (password !== undefined) env.KIV_PASSWORD = password;
  const proc = spawn(path.join(REPO, 'host', 'run.sh'), [BINARY, state, String(port)], { env, stdio: 'ignore', detached: true });
  const origin = `http://127.0.0.1:${port}`;
  const s = {
    origin,
    stop: () => { try { process.kill(-proc.pid, 'SIGTERM'); } catch (e) { /* already gone */ } fs.rmSync(state, { recursive: true, force: true }); },
  };
  process.on('exit', s.stop);
  await until(async () => { try { return (await fetch(origin + '/')).ok; } catch (e) { return false; } }, 'the stand-in');
  return s;
}

test.before(async () => { standIn = await startStandIn(); });
test.after(() => standIn.stop());

// Path and query of every request the page (and its frames) makes from now on.
function requestedPaths(page) {
  const urls = [];
  page.on('request', (r) => { const u = new URL(r.url()); urls.push(u.pathname + u.search); });
  return urls;
}

async function liveFigures(frame) {
  await until(async () => (await text(frame, '#pHost')) === os.hostname(), 'the host name');
  return frame.evaluate(() => ({
    cpu: document.getElementById('kCpu').textContent,
    mem: document.getElementById('kMem').textContent,
    procs: document.getElementById('kProc').textContent,
    rows: document.querySelectorAll('#rows tr').length,
    tiles: document.querySelectorAll('#cores .core').length,
    pill: document.getElementById('pState').textContent,
  }));
}

test('standalone on the direct route: this machine, live', async () => {
  const b = await openBrowser();
  try {
    const urls = requestedPaths(b.page);
    await b.page.goto(standIn.origin + '/plugin_ravlen');
    const v = await liveFigures(b.page);
    assert.match(v.cpu, /^\d+\.\d%$/);
    assert.match(v.mem, /^\d+%$/);
    assert.match(v.procs, /^[1-9]\d*$/);
    assert.ok(v.rows > 0, 'process rows');
    assert.ok(v.tiles >= 1, 'per-core tiles');
    assert.equal(v.pill, 'live 2s');
    assert.ok(urls.includes('/plugin_ravlen?action=metrics&sort=cpu'), urls.join(' '));
    await screenshot(b.page, 'stand-in-direct');
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('framed by the host page through the hub route, with the host theme', async () => {
  const b = await openBrowser();
  try {
    const urls = requestedPaths(b.page);
    await b.page.goto(standIn.origin + '/');
    const frame = await (await b.page.waitForSelector('#frame')).contentFrame();
    await liveFigures(frame);
    assert.ok(urls.some((u) => u.startsWith('/plugins?plugin=42?action=metrics&sort=cpu&node=local&id=session-1')),
      urls.join(' '));
    assert.equal(await frame.evaluate(() => document.documentElement.classList.contains('embedded')), true);
    assert.equal(await frame.$('a[href="/"]'), null, 'no back link when framed');

    const theme = () => frame.evaluate(() => document.documentElement.getAttribute('data-theme'));
    const before = await theme();
    await b.page.click('#theme');
    await until(async () => (await theme()) !== before, 'the theme reaching the frame');
    await screenshot(b.page, 'stand-in-host-page');
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('a password-protected node: the host page passes the password in the framed page\'s URL', async () => {
  const guarded = await startStandIn(PASSWORD);
  const b = await openBrowser();
  try {
    const urls = requestedPaths(b.page);
    const refused = '{"ok":false,"error":"invalid node password"}';
    const body = (f) => f.evaluate(() => document.body.innerText.trim());
    const framed = (pwd) => '/plugins?plugin=42&embed=1&node=local&id=session-1' + (pwd ? '&pwd=' + encodeURIComponent(pwd) : '');
    const usePassword = async (frame, pwd) => {
      await b.page.fill('#pwd', pwd);
      await b.page.click('#save');
      await frame.waitForURL((u) => u.pathname + u.search === framed(pwd));
    };

    // Nothing stored: the page itself is refused.
    await b.page.goto(guarded.origin + '/');
    const frame = await (await b.page.waitForSelector('#frame')).contentFrame();
    await frame.waitForURL((u) => u.pathname + u.search === framed(''));
    assert.equal(await body(frame), refused);

    await usePassword(frame, 'wrong');
    assert.equal(await body(frame), refused);

    await usePassword(frame, PASSWORD);
    const v = await liveFigures(frame);
    assert.equal(v.pill, 'live 2s');
    assert.match(v.cpu, /^\d+\.\d%$/);
    const carried = '/plugins?plugin=42?action=metrics&sort=cpu&node=local&id=session-1&pwd=' + encodeURIComponent(PASSWORD);
    assert.ok(urls.includes(carried), urls.join(' '));
    await screenshot(b.page, 'stand-in-host-page-password');

    // A later visit finds the stored password, and the standalone link carries it too.
    await b.page.reload();
    await liveFigures(await (await b.page.waitForSelector('#frame')).contentFrame());
    await b.page.click('#standalone');
    await liveFigures(b.page);
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); guarded.stop(); }
});
