// Starts the page before its program can: picks the language (the one kept
// from an earlier visit, else the first of the browser's preferred languages
// that the page has, else English), puts its words into the page, offers the
// switch between the two languages, and says in words why the page cannot
// start where it cannot: no JavaScript modules, no WebAssembly, no Shift_JIS
// decoder, the site's page opened from the disk, or the page's script not
// loaded or failing before it is ready.
// The words are those of words/en.json and words/ja.json, which the build
// puts into the page as the data block #words. page.js draws the rest with
// window.d88cutPage. Plain old JavaScript, so that an old browser runs it to
// say that it is too old.
(function () {
  'use strict';
  var all = JSON.parse(document.getElementById('words').textContent);
  var kStored = 'd88cut-language';
  var language = 'en';
  var status = { key: '', params: null };
  var listeners = [];

  function stored() {
    try {
      return window.localStorage.getItem(kStored);
    } catch (refused) {
      return null;
    }
  }

  function preferred() {
    var chosen = stored();
    if (chosen && all[chosen]) return chosen;
    var list = navigator.languages || [navigator.language || ''];
    for (var i = 0; i < list.length; ++i) {
      var primary = String(list[i]).toLowerCase().split('-')[0];
      if (all[primary]) return primary;
    }
    return 'en';
  }

  // The words of KEY in the page's language (in English where the other
  // lacks them); a pair {"one", "other"} is chosen by COUNT.
  function template(key, count) {
    var words = all[language][key];
    if (words === undefined) words = all.en[key];
    if (words === undefined) return key;
    if (typeof words === 'object') return count === 1 ? words.one : words.other;
    return words;
  }

  // The words of KEY with each {name} replaced by PARAMS[name]; PARAMS.n
  // also chooses between one and other.
  function t(key, params) {
    return template(key, params && params.n).replace(/\{(\w+)\}/g, function (whole, name) {
      return params && params[name] !== undefined ? String(params[name]) : whole;
    });
  }

  function show() {
    var root = document.documentElement;
    root.lang = language;
    document.title = t('title');
    var marked = document.querySelectorAll('[data-w]');
    for (var i = 0; i < marked.length; ++i) marked[i].textContent = t(marked[i].getAttribute('data-w'));
    var buttons = document.querySelectorAll('#languages button');
    for (var j = 0; j < buttons.length; ++j) {
      buttons[j].setAttribute('aria-pressed', String(buttons[j].lang === language));
    }
    if (status.key) document.getElementById('status').textContent = t(status.key, status.params);
    for (var k = 0; k < listeners.length; ++k) listeners[k]();
  }

  function choose(chosen) {
    language = chosen;
    try {
      window.localStorage.setItem(kStored, chosen);
    } catch (refused) {
      // Storage refused (a browser set so, or a file:// page in some):
      // the choice holds until the page is left.
    }
    show();
  }

  function setStatus(key, params) {
    status = { key: key, params: params || null };
    document.getElementById('status').textContent = t(key, params);
  }

  function fail(key, detail) {
    document.body.setAttribute('data-state', 'broken');
    setStatus(key, { detail: detail || '' });
  }

  function supported() {
    if (!('noModule' in document.createElement('script'))) return 'start.noModules';
    if (typeof WebAssembly !== 'object' || typeof WebAssembly.compile !== 'function') return 'start.noWasm';
    try {
      new TextDecoder('shift_jis');
    } catch (missing) {
      return 'start.noShiftJis';
    }
    return '';
  }

  function start() {
    // JavaScript runs: what the page says where it does not goes, and with
    // it its text in both languages.
    var hidden = document.getElementsByTagName('noscript');
    while (hidden.length > 0) hidden[0].parentNode.removeChild(hidden[0]);
    language = preferred();
    var buttons = document.querySelectorAll('#languages button');
    for (var i = 0; i < buttons.length; ++i) {
      buttons[i].onclick = function () {
        choose(this.lang);
      };
    }
    document.body.setAttribute('data-state', 'loading');
    status.key = 'status.loading';
    show();
    var missing = supported();
    if (missing) {
      fail(missing);
      return;
    }
    // The site's page, opened from the disk, cannot load the script and
    // the program beside it: browsers refuse file:// to modules and fetch.
    // The one file holds them, and runs from there.
    var script = document.querySelector('script[type="module"]');
    if (window.location.protocol === 'file:' && script && script.getAttribute('src')) {
      fail('start.fromDisk');
      return;
    }
    var loading = function () {
      return document.body.getAttribute('data-state') === 'loading';
    };
    window.addEventListener('error', function (event) {
      if (loading()) fail('start.failed', event.message || '');
    });
    if (script) {
      script.addEventListener('error', function () {
        if (loading()) fail('start.notLoaded', script.getAttribute('src') || '');
      });
    }
  }

  window.d88cutPage = {
    language: function () {
      return language;
    },
    template: template,
    has: function (key) {
      return all.en[key] !== undefined;
    },
    t: t,
    status: setStatus,
    fail: fail,
    onLanguage: function (listener) {
      listeners.push(listener);
    }
  };
  // After the document is parsed and before the page's module runs (which
  // waits for the parse too): so this script can stay in the head, where
  // its error listeners are in place before the module is run.
  if (document.readyState === 'loading') {
    document.addEventListener('readystatechange', function once() {
      document.removeEventListener('readystatechange', once);
      start();
    });
  } else {
    start();
  }
}());
