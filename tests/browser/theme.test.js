'use strict';
// The page's theme system and layout in a real browser: theme choice at load, embed mode,
// the bridge offered to host pages, the palette in force and the narrow-screen rules.
const test = require('node:test');
const assert = require('node:assert/strict');
const { startServer, openBrowser, screenshot } = require('./harness');
const { doc, stubMetrics, untilText } = require('./stub');

const DARK_BG = 'rgb(0, 0, 0)';
const LIGHT_BG = 'rgb(245, 245, 247)';

let server;
test.before(async () => { server = await startServer(); });
test.after(async () => { await server.close(); });

// Opens the page with `query`; `stored` (if given) is put under "kiv_theme" first.
async function openPage(b, query, stored) {
  if (stored !== undefined) {
    await b.page.goto(server.origin + '/');
    await b.page.evaluate((v) => localStorage.setItem('kiv_theme', v), stored);
  }
  await b.page.goto(server.origin + '/plugin_ravlen' + (query ? '?' + query : ''));
}

function state(page) {
  return page.evaluate(() => {
    let stored;
    try { stored = localStorage.getItem('kiv_theme'); } catch (e) { stored = 'blocked'; }
    return {
      theme: document.documentElement.getAttribute('data-theme'),
      stored,
      bg: getComputedStyle(document.body).backgroundColor,
      scheme: getComputedStyle(document.documentElement).colorScheme,
      embedded: document.documentElement.classList.contains('embedded'),
      topBars: document.querySelectorAll('div.top').length,
    };
  });
}

const THEME_CASES = [
  // query, stored theme, browser preference, theme shown
  ['theme=darker', undefined, 'light', 'dark'],
  ['theme=darkest', 'light', 'light', 'dark'],
  ['theme=light', 'dark', 'dark', 'light'],
  ['a=1&theme=light', undefined, 'dark', 'light'],
  ['theme=Light', 'dark', 'light', 'dark'],
  ['theme=Light', undefined, 'light', 'light'],
  ['xtheme=light', undefined, 'dark', 'dark'],
  ['theme=%6cight', undefined, 'dark', 'dark'],
  ['', 'light', 'dark', 'light'],
  ['', 'dark', 'light', 'dark'],
  ['', 'sepia', 'light', 'light'],
  ['', 'sepia', 'dark', 'dark'],
  ['', undefined, 'light', 'light'],
  ['', undefined, 'dark', 'dark'],
];

for (const [query, stored, scheme, want] of THEME_CASES) {
  test(`theme: query '${query}', stored ${stored}, prefers ${scheme} -> ${want}`, async () => {
    const b = await openBrowser({ colorScheme: scheme });
    try {
      await openPage(b, query, stored);
      const s = await state(b.page);
      assert.equal(s.theme, want);
      assert.equal(s.stored, want, 'the chosen theme is remembered');
      assert.equal(s.bg, want === 'light' ? LIGHT_BG : DARK_BG);
      assert.equal(s.scheme, want);
      assert.deepEqual(b.errors, []);
    } finally { await b.close(); }
  });
}

test('a theme from the query is remembered for a later load without it', async () => {
  const b = await openBrowser({ colorScheme: 'dark' });
  try {
    await openPage(b, 'theme=light');
    await openPage(b, '');
    assert.equal((await state(b.page)).theme, 'light');
  } finally { await b.close(); }
});

test('without matchMedia the theme is dark', async () => {
  const b = await openBrowser({ colorScheme: 'light' });
  try {
    await b.context.addInitScript(() => { delete window.matchMedia; delete Window.prototype.matchMedia; });
    await openPage(b, '');
    const s = await state(b.page);
    assert.equal(s.theme, 'dark');
    assert.equal(s.bg, DARK_BG);
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('the palette follows data-theme, and the preference when data-theme is not dark', async () => {
  const b = await openBrowser({ colorScheme: 'light' });
  try {
    await openPage(b, 'theme=dark');
    assert.equal((await state(b.page)).bg, DARK_BG, 'data-theme dark wins over a light preference');
    await b.page.evaluate(() => document.documentElement.removeAttribute('data-theme'));
    assert.equal((await state(b.page)).bg, LIGHT_BG, 'no data-theme: the preference decides');
    await b.page.evaluate(() => document.documentElement.setAttribute('data-theme', 'blue'));
    assert.equal((await state(b.page)).bg, LIGHT_BG);
    await b.page.emulateMedia({ colorScheme: 'dark' });
    assert.equal((await state(b.page)).bg, DARK_BG);
  } finally { await b.close(); }
});

test('storage refused: no error, the theme follows the query or the preference on every load', async () => {
  const b = await openBrowser({ colorScheme: 'light', blockStorage: true });
  try {
    await openPage(b, 'theme=dark');
    let s = await state(b.page);
    assert.equal(s.stored, 'blocked', 'the profile really refuses storage');
    assert.equal(s.theme, 'dark');
    await openPage(b, '');
    s = await state(b.page);
    assert.equal(s.theme, 'light', 'nothing was remembered');
    assert.equal(s.bg, LIGHT_BG);
    const events = await b.page.evaluate(() => {
      const seen = [];
      window.addEventListener('kiv-theme', (e) => seen.push(e.detail));
      window.qzApplyTheme('dark');
      return seen;
    });
    assert.deepEqual(events, ['dark'], 'apply still raises its event');
    assert.equal((await state(b.page)).theme, 'dark');
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

const EMBED_CASES = [
  // query, class "embedded" in the browser, back link from the server
  ['', false, true],
  ['embed=1', true, false],
  ['embed=true', true, false],
  ['embed=1&x=2', true, false],
  ['embed=%31', false, false],
  ['embed=0&embed=1', true, true],
  ['embed=yes', false, true],
  ['embed=10', false, true],
  ['xembed=1', false, true],
];

test('embed mode: the class in the browser and the back link from the server decide each by itself', async () => {
  const b = await openBrowser();
  try {
    for (const [query, cls, back] of EMBED_CASES) {
      await openPage(b, query);
      const s = await state(b.page);
      assert.equal(s.embedded, cls, `class for '${query}'`);
      assert.equal(s.topBars, back ? 2 : 1, `back link for '${query}'`);
      if (back) {
        const link = await b.page.evaluate(() => {
          const a = document.querySelector('div.top a');
          return { href: a.getAttribute('href'), text: a.textContent };
        });
        assert.deepEqual(link, { href: '/', text: '\u2190 Back to Kiv' });
      }
    }
  } finally { await b.close(); }
});

test('qzApplyTheme, qzTheme and "qz-theme" messages', async () => {
  const b = await openBrowser({ colorScheme: 'dark' });
  try {
    await openPage(b, 'theme=dark');
    await b.page.evaluate(() => {
      window.seen = [];
      window.addEventListener('kiv-theme', (e) => window.seen.push(e.detail));
    });
    const seen = () => b.page.evaluate(() => window.seen);
    assert.equal(await b.page.evaluate(() => window.qzTheme()), 'dark');

    await b.page.evaluate(() => window.qzApplyTheme('light'));
    let s = await state(b.page);
    assert.deepEqual([s.theme, s.stored, s.bg], ['light', 'light', LIGHT_BG]);
    assert.deepEqual(await seen(), ['light']);
    assert.equal(await b.page.evaluate(() => window.qzTheme()), 'light');

    // A message to the page applies its theme; the listener is asynchronous, so wait for it.
    await b.page.evaluate(() => window.postMessage({ type: 'qz-theme', theme: 'dark' }, '*'));
    await b.page.waitForFunction(() => document.documentElement.getAttribute('data-theme') === 'dark');
    assert.deepEqual(await seen(), ['light', 'dark']);
    assert.equal((await state(b.page)).stored, 'dark');

    // Invalid, unchanged or malformed: no change, no storage write, no event. A valid message
    // posted last proves the earlier ones were handled.
    await b.page.evaluate(() => {
      localStorage.setItem('kiv_theme', 'untouched');
      window.postMessage({ type: 'qz-theme', theme: 'sepia' }, '*');
      window.postMessage({ type: 'qz-theme', theme: 'dark' }, '*');
      window.postMessage({ type: 'qz-theme', theme: 'Light' }, '*');
      window.postMessage({ type: 'other', theme: 'light' }, '*');
      window.postMessage(null, '*');
      window.postMessage('qz-theme', '*');
      window.qzApplyTheme('dark');
      window.qzApplyTheme(undefined);
      window.postMessage({ type: 'qz-theme', theme: 'light' }, '*');
    });
    await b.page.waitForFunction(() => document.documentElement.getAttribute('data-theme') === 'light');
    assert.deepEqual(await seen(), ['light', 'dark', 'light']);
    assert.equal((await state(b.page)).stored, 'light');

    await b.page.evaluate(() => localStorage.setItem('kiv_theme', 'untouched'));
    await b.page.evaluate(() => window.qzApplyTheme('light'));
    assert.equal((await state(b.page)).stored, 'untouched', 'the theme in force is not written again');

    for (const attr of [null, 'blue', '']) {
      const got = await b.page.evaluate((a) => {
        if (a === null) document.documentElement.removeAttribute('data-theme');
        else document.documentElement.setAttribute('data-theme', a);
        return window.qzTheme();
      }, attr);
      assert.equal(got, 'dark', `qzTheme with data-theme ${attr}`);
    }
    assert.deepEqual(b.errors, []);
  } finally { await b.close(); }
});

test('"qz-theme-request" goes to the parent once, and only from a frame', async () => {
  const b = await openBrowser({ colorScheme: 'dark' });
  try {
    // Top-level page: the request would reach the page's own window; none arrives.
    await b.context.addInitScript(() => {
      window.ownMessages = [];
      window.addEventListener('message', (e) => window.ownMessages.push(e.data));
    });
    await openPage(b, '');
    await b.page.evaluate(() => new Promise((r) => { window.addEventListener('message', r); window.postMessage('marker', '*'); }));
    assert.deepEqual(await b.page.evaluate(() => window.ownMessages), ['marker']);

    // Framed page: exactly one request, and the host's answer sets the frame's theme.
    await b.page.goto(server.origin + '/parent.html?src=' + encodeURIComponent('/plugin_ravlen?embed=1'));
    const frame = await (await b.page.waitForSelector('iframe')).contentFrame();
    await frame.waitForSelector('#rows', { state: 'attached' });
    // Messages from one window arrive in order: once the frame's marker is in, so is
    // anything the page posted during its load.
    await frame.evaluate(() => window.parent.postMessage('marker', '*'));
    await b.page.waitForFunction(() => window.received.some((m) => m.data === 'marker'));
    const received = await b.page.evaluate(() => window.received);
    assert.deepEqual(received, [
      { data: { type: 'qz-theme-request' }, fromFrame: true },
      { data: 'marker', fromFrame: true },
    ]);

    await b.page.evaluate(() => document.querySelector('iframe').contentWindow.postMessage({ type: 'qz-theme', theme: 'light' }, '*'));
    await frame.waitForFunction(() => document.documentElement.getAttribute('data-theme') === 'light');
    assert.equal(await frame.evaluate(() => getComputedStyle(document.body).backgroundColor), LIGHT_BG);
    assert.equal(await frame.evaluate(() => document.documentElement.classList.contains('embedded')), true);
  } finally { await b.close(); }
});

const DARK_TRACK = 'rgba(255, 255, 255, 0.1)';
const LIGHT_TRACK = 'rgba(0, 0, 0, 0.1)';
const TRACK_CASES = [
  // query, browser preference, data-theme removed after load, track colour, screenshot
  ['theme=light', 'dark', false, LIGHT_TRACK, 'page-light-tracks'],
  ['theme=dark', 'light', false, DARK_TRACK, 'page-dark-tracks'],
  ['theme=light', 'light', true, LIGHT_TRACK],
  ['theme=dark', 'dark', true, DARK_TRACK],
];

test('bar and gauge tracks show on the card in either theme', async () => {
  // Idle cores and an unused swap gauge show nothing but their tracks.
  const idle = doc({
    host: 'tracks', cores: [0, 0, 35, 70, 95].map((pct, core) => ({ core, pct })),
    swap: { total_kb: 2097152, used_kb: 0, pct: 0 },
  });
  for (const [query, scheme, drop, want, shot] of TRACK_CASES) {
    const b = await openBrowser({ colorScheme: scheme });
    try {
      const stub = await stubMetrics(b.page);
      stub.queue.push(idle);
      await openPage(b, query);
      await untilText(b.page, '#pHost', 'tracks');
      if (drop) await b.page.evaluate(() => document.documentElement.removeAttribute('data-theme'));
      const tracks = await b.page.evaluate(() =>
        [...document.querySelectorAll('.gauge, .core .bar')].map((e) => getComputedStyle(e).backgroundColor));
      assert.deepEqual(tracks, Array(2 + 5).fill(want), `tracks for '${query}', prefers ${scheme}, data-theme removed ${drop}`);
      if (shot) await screenshot(b.page, shot);
      assert.deepEqual(b.errors, []);
    } finally { await b.close(); }
  }
});

function layout(page) {
  return page.evaluate(() => {
    const cs = (sel) => getComputedStyle(document.querySelector(sel));
    return {
      bodyPadding: cs('body').paddingTop,
      kpiFont: cs('.kpi .v').fontSize,
      stateColumn: cs('th.hide-sm').display,
      pidColumn: cs('th.num').display,
      cardPadding: cs('.card').paddingTop,
      cardRadius: cs('.card').borderTopLeftRadius,
      cores: cs('.cores').gridTemplateColumns,
    };
  });
}

test('narrow-screen rules apply at 640 px and not at 641 px', async () => {
  for (const [width, narrow] of [[640, true], [641, false]]) {
    const b = await openBrowser({ viewport: { width, height: 900 } });
    try {
      await openPage(b, '');
      const l = await layout(b.page);
      assert.equal(l.bodyPadding, narrow ? '12px' : '16px', `body padding at ${width}`);
      assert.equal(l.kpiFont, narrow ? '17px' : '20px');
      assert.equal(l.stateColumn, narrow ? 'none' : 'table-cell');
      assert.equal(l.pidColumn, 'table-cell');
      assert.equal(l.cardPadding, narrow ? '12px' : '16px');
      assert.equal(l.cardRadius, narrow ? '12px' : '14px');
    } finally { await b.close(); }
  }
});

test('placeholders before any figure arrives, and the controls in their first state', async () => {
  // Scripts off: what the markup and the stylesheets alone show.
  const b = await openBrowser({ javaScriptEnabled: false });
  try {
    await openPage(b, '');
    const s = await b.page.evaluate(() => ({
      kpis: [...document.querySelectorAll('.kpi .v')].map((e) => e.textContent),
      pills: [...document.querySelectorAll('.pill')].map((e) => [e.textContent, e.className]),
      on: [...document.querySelectorAll('button.on')].map((e) => e.textContent),
      emptyShown: getComputedStyle(document.getElementById('empty')).display !== 'none',
      rows: document.getElementById('rows').children.length,
      spark: document.getElementById('sparkLine').getAttribute('points'),
      heading: getComputedStyle(document.querySelector('.card h2')).textTransform,
    }));
    assert.deepEqual(s.kpis, Array(7).fill('\u2014'));
    assert.deepEqual(s.pills, [['\u2014', 'pill'], ['\u2014', 'pill'], ['live 2s', 'pill live']]);
    assert.deepEqual(s.on, ['2s', 'CPU']);
    assert.equal(s.emptyShown, false);
    assert.equal(s.rows, 0);
    assert.equal(s.spark, '');
    assert.equal(s.heading, 'uppercase');
  } finally { await b.close(); }
});

test('screenshots of the page in both themes, standalone, embedded and at 640 px', async () => {
  for (const [name, width, query] of [
    ['page-dark', 1100, 'theme=dark'], ['page-light', 1100, 'theme=light'],
    ['page-dark-640', 640, 'theme=dark'], ['page-light-640', 640, 'theme=light'],
    ['page-embedded-light', 1100, 'theme=light&embed=1'],
  ]) {
    const b = await openBrowser({ viewport: { width, height: 900 } });
    try {
      await b.page.route('**/plugin_ravlen?action=*', () => { /* never answered: placeholders stay */ });
      await openPage(b, query);
      await screenshot(b.page, name);
    } finally { await b.close(); }
  }
});
