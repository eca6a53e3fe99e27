// Kiv's side of the plugin contract: frames the dashboard through the hub route, shares the
// theme with it, and keeps the node password where the dashboard looks for it.
(function () {
  'use strict';
  var HUB_ID = '42';
  var frame = document.getElementById('frame');
  var standalone = document.getElementById('standalone');
  var nodeInput = document.getElementById('node');
  var pwdInput = document.getElementById('pwd');

  // The password kept for a node, looked up as the dashboard looks it up.
  function storedPassword(node) {
    try {
      return localStorage.getItem('kiv_pwd_' + node) || localStorage.getItem('kiv_active_pwd') || '';
    } catch (e) { return ''; }
  }

  function currentTheme() {
    var t = null;
    try { t = localStorage.getItem('kiv_theme'); } catch (e) { /* storage blocked */ }
    return t === 'light' ? 'light' : 'dark';
  }

  function showTheme(t) { document.body.className = t === 'light' ? 'light' : ''; }

  function sendTheme(t) {
    if (frame.contentWindow) frame.contentWindow.postMessage({ type: 'qz-theme', theme: t }, '*');
  }

  // The page request is guarded like every other, and a frame or a link cannot send a header:
  // the password goes in the page's URL, where the dashboard also finds it for its requests.
  function openFrame(pwd) {
    var node = nodeInput.value;
    var carry = pwd ? 'pwd=' + encodeURIComponent(pwd) : '';
    frame.src = '/plugins?plugin=' + HUB_ID + '&embed=1&node=' + encodeURIComponent(node) +
      '&id=' + encodeURIComponent('session-1') + (carry ? '&' + carry : '');
    standalone.href = '/plugin_ravlen' + (carry ? '?' + carry : '');
  }

  document.getElementById('theme').addEventListener('click', function () {
    var t = currentTheme() === 'light' ? 'dark' : 'light';
    try { localStorage.setItem('kiv_theme', t); } catch (e) { /* storage blocked */ }
    showTheme(t);
    sendTheme(t);
  });

  document.getElementById('save').addEventListener('click', function () {
    try {
      localStorage.setItem('kiv_pwd_' + nodeInput.value, pwdInput.value);
      localStorage.setItem('kiv_active_pwd', pwdInput.value);
    } catch (e) { /* storage blocked */ }
    openFrame(pwdInput.value);  // the dashboard reads the password once, at load
  });

  // The framed dashboard asks for the host's theme once it has loaded.
  window.addEventListener('message', function (ev) {
    if (ev.source === frame.contentWindow && ev.data && ev.data.type === 'qz-theme-request') {
      sendTheme(currentTheme());
    }
  });

  showTheme(currentTheme());
  openFrame(storedPassword(nodeInput.value));
})();
