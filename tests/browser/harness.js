'use strict';
// Shared pieces of the browser tests: a small HTTP server that runs the real plugin as a CGI
// program for every plugin request, and a fresh browser context per test.
const http = require('node:http');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { chromium } = require('playwright-core');

const BINARY = process.env.RAVLEN_BINARY;
const SCREENSHOTS = process.env.RAVLEN_SCREENSHOTS ||
  path.join(__dirname, '..', '..', 'build', 'test-output', 'screenshots');
const CHROMIUM_ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-background-networking'];

// A host page that frames `src` and keeps every message it receives, with the sender's frame.
const PARENT_PAGE = `<!DOCTYPE html><html><body><script>
window.received = [];
window.addEventListener('message', function (e) {
  window.received.push({ data: e.data, fromFrame: e.source === document.querySelector('iframe').contentWindow });
});
var f = document.createElement('iframe');
f.src = new URLSearchParams(location.search).get('src');
f.style.width = '900px'; f.style.height = '600px';
document.body.appendChild(f);
</script></body></html>`;

// Runs the plugin once as a CGI program; resolves to { status, headers, body }.
function runCgi(query, req, env) {
  return new Promise((resolve, reject) => {
    const cgiEnv = { PATH: process.env.PATH, QUERY_STRING: query, REQUEST_METHOD: 'GET', GATEWAY_INTERFACE: 'CGI/1.1' };
    if (req.headers['x-kiv-password'] !== undefined) cgiEnv.HTTP_X_KIV_PASSWORD = req.headers['x-kiv-password'];
    if (req.headers.authorization !== undefined) cgiEnv.HTTP_AUTHORIZATION = req.headers.authorization;
    for (const k of ['ASAN_OPTIONS', 'UBSAN_OPTIONS']) if (process.env[k]) cgiEnv[k] = process.env[k];
    Object.assign(cgiEnv, env);
    const child = spawn(BINARY, [], { env: cgiEnv, stdio: ['ignore', 'pipe', 'pipe'] });
    const out = [], err = [];
    child.stdout.on('data', (d) => out.push(d));
    child.stderr.on('data', (d) => err.push(d));
    child.on('error', reject);
    child.on('close', (code) => {
      const all = Buffer.concat(out);
      const cut = all.indexOf('\r\n\r\n');
      if (code !== 0 || cut < 0 || err.length) {
        reject(new Error(`plugin run failed (status ${code}): ${Buffer.concat(err).toString()}`));
        return;
      }
      let status = 200;
      const headers = {};
      for (const line of all.subarray(0, cut).toString('latin1').split('\r\n')) {
        const i = line.indexOf(':');
        const name = line.slice(0, i).trim(), value = line.slice(i + 1).trim();
        if (name.toLowerCase() === 'status') status = parseInt(value, 10);
        else headers[name] = value;
      }
      resolve({ status, headers, body: all.subarray(cut + 4) });
    });
  });
}

// Starts the server. `env` is added to every plugin run (for instance KIV_PASSWORD).
// Direct route: /plugin_ravlen?query. Hub route: /plugins?plugin=ID..., whose whole query
// string is handed on, as a hub that passes the request through unchanged would.
async function startServer({ env = {} } = {}) {
  const requests = [];
  const server = http.createServer(async (req, res) => {
    const raw = req.url;
    const q = raw.indexOf('?');
    const pathname = q < 0 ? raw : raw.slice(0, q);
    const query = q < 0 ? '' : raw.slice(q + 1);
    requests.push({ url: raw, headers: req.headers });
    try {
      if (pathname === '/plugin_ravlen' || pathname === '/plugins') {
        const r = await runCgi(query, req, env);
        res.writeHead(r.status, r.headers);
        res.end(r.body);
      } else if (pathname === '/parent.html') {
        res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
        res.end(PARENT_PAGE);
      } else if (pathname === '/') {
        res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
        res.end('<!DOCTYPE html><title>start</title><p>start page');
      } else {
        res.writeHead(404, { 'Content-Type': 'text/plain' });
        res.end('not found');
      }
    } catch (e) {
      res.writeHead(500, { 'Content-Type': 'text/plain' });
      res.end(String(e));
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const origin = `http://127.0.0.1:${server.address().port}`;
  return {
    origin,
    requests,
    close: () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); }),
  };
}

// One Chromium per test file, shut down when the file's tests end; each test gets its own
// context, which starts with empty storage like a fresh profile.
let shared = null;
require('node:test').after(async () => { if (shared) await (await shared).close(); });

function sharedBrowser() {
  if (!shared) shared = chromium.launch({ executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS });
  return shared;
}

// A page in a fresh context. `blockStorage` refuses the page its storage through a profile's
// own setting (site data blocked), as a user can; that needs a browser of its own.
async function openBrowser({ viewport = { width: 1100, height: 900 }, colorScheme = 'dark', blockStorage = false, javaScriptEnabled = true } = {}) {
  let context;
  let dir = null;
  if (blockStorage) {
    dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ravlen-chromium-'));
    fs.mkdirSync(path.join(dir, 'Default'));
    fs.writeFileSync(path.join(dir, 'Default', 'Preferences'),
      JSON.stringify({ profile: { default_content_setting_values: { cookies: 2 } } }));
    context = await chromium.launchPersistentContext(dir, {
      executablePath: '/usr/bin/chromium', headless: true, args: CHROMIUM_ARGS, viewport, colorScheme, javaScriptEnabled,
    });
  } else {
    context = await (await sharedBrowser()).newContext({ viewport, colorScheme, javaScriptEnabled });
  }
  const page = context.pages()[0] || await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(e));
  return {
    context, page, errors,
    close: async () => { await context.close(); if (dir) fs.rmSync(dir, { recursive: true, force: true }); },
  };
}

async function screenshot(page, name) {
  fs.mkdirSync(SCREENSHOTS, { recursive: true });
  await page.screenshot({ path: path.join(SCREENSHOTS, name + '.png'), fullPage: true });
}

module.exports = { BINARY, startServer, openBrowser, screenshot, runCgi };
