// The page side of the web view: native HTML controls built from the dialog's templates,
// every user action handed to the dialog (the zw_* functions of gui/web/web_view.cpp), and
// every control shown as the dialog has it (Module.zarnPage, called from page_lib.js).
// Nothing here decides what a control does: that is the dialog's.
(function() {
  'use strict';

  var LOAD_FILE_ID = 1041;  // "Load Setting from File": a dropped .cfg goes through it
  var params = new URLSearchParams(location.search);
  var simulate = params.has('simulate');
  var pages = [null, null];  // 0: the main dialog, 1: the About box while it is up
  var calls = {busy: false, modal: 0, queue: []};
  var pendingDrop = null;
  var aboutDone = null;
  var picked = 0;

  function $(id) { return document.getElementById(id); }

  // --- Calls into the dialog --------------------------------------------------------------
  // A call that waits (a reader's answer, a pause) gives the page back to the browser and
  // finishes later; until then further user actions queue behind it. While the dialog waits
  // in a modal box of its own, the box's controls and the timer go straight through.
  function enter(fn) {
    var before = Asyncify.currData;
    fn();
    if (Asyncify.currData && Asyncify.currData !== before) return Asyncify.whenDone();
    return null;
  }
  var toFree = [];  // strings handed to calls that have not finished
  // `done`, when given, runs once the call has returned, also one that waited.
  function run(fn, done) {
    var mark = toFree.length;
    var waiting = enter(fn);
    showChanged();
    if (!waiting) {
      toFree.splice(mark).forEach(function(p) { _free(p); });
      if (done) done();
      return;
    }
    calls.busy = true;
    var end = function() { finished(); if (done) done(); };
    waiting.then(end, end);
  }
  function finished() {
    calls.busy = false;
    toFree.splice(0).forEach(function(p) { _free(p); });
    while (!calls.busy && calls.queue.length) run(calls.queue.shift());
  }
  function act(fn) {
    if (calls.busy && !calls.modal) calls.queue.push(fn);
    else run(fn);
  }
  function withText(t, fn) {
    return function() {
      var p = allocateUTF8(t);
      toFree.push(p);
      fn(p);
    };
  }
  function text(ptr) { return UTF8ToString(ptr); }

  // --- Building a dialog from its template ------------------------------------------------
  function place(el, c, origin) {
    el.style.left = 'calc(' + (c.x - origin.x) + ' * var(--dx))';
    el.style.top = 'calc(' + (c.y - origin.y) + ' * var(--dy))';
    el.style.width = 'calc(' + c.w + ' * var(--dx))';
    el.style.height = 'calc(' + c.h + ' * var(--dy))';
  }

  function build(page, tpl, root) {
    var p = {tpl: tpl, root: root, els: [], parts: [], timer: 0, period: 0, applyingFocus: false};
    pages[page] = p;
    root.textContent = '';
    root.style.width = 'calc(' + tpl.width + ' * var(--dx))';
    root.style.height = 'calc(' + tpl.height + ' * var(--dy))';
    var labelFor = {};
    tpl.controls.forEach(function(c, i) { if (c.label >= 0) labelFor[c.label] = i; });
    var groups = {};
    tpl.controls.forEach(function(c, i) {
      var id = 'p' + page + '-c' + i;
      var box = c.box >= 0 && c.box < i ? p.parts[c.box] : null;
      var origin = box ? tpl.controls[c.box] : {x: 0, y: 0};
      var parent = box ? box : root;
      var outer, el;
      switch (c.kind) {
        case 'group':
          outer = el = document.createElement('fieldset');
          var legend = document.createElement('legend');
          legend.textContent = c.caption.trim();
          el.appendChild(legend);
          el.className = 'box';
          break;
        case 'label':
          if (labelFor[i] !== undefined) {
            el = document.createElement('label');
            el.htmlFor = 'p' + page + '-c' + labelFor[i];
          } else {
            el = document.createElement('span');
          }
          outer = el;
          el.className = 'label';
          el.textContent = c.caption;
          break;
        case 'check':
        case 'radio':
          outer = document.createElement('label');
          outer.className = 'option';
          el = document.createElement('input');
          el.type = c.kind === 'check' ? 'checkbox' : 'radio';
          outer.appendChild(el);
          var caption = document.createElement('span');
          caption.textContent = c.caption;
          outer.appendChild(caption);
          if (c.name) el.setAttribute('aria-label', c.name);
          if (c.kind === 'radio' && c.group >= 0) {
            // Each radio group is one group for screen readers; the dialog moves between
            // its buttons (the browser's own grouping by name stays out of it).
            if (!groups[c.group]) {
              var g = document.createElement('div');
              g.setAttribute('role', 'radiogroup');
              g.className = 'radios';
              var leader = tpl.controls[c.group];
              if (leader.groupName) g.setAttribute('aria-label', leader.groupName);
              parent.appendChild(g);
              groups[c.group] = g;
            }
            parent = groups[c.group];
          }
          break;
        case 'button':
          outer = el = document.createElement('button');
          el.type = 'button';
          el.textContent = c.caption;
          if (c.style & 128) el.className = 'default';
          break;
        case 'edit':
          if (c.style & 8) {
            outer = el = document.createElement('textarea');
            el.className = 'testbox';
          } else {
            outer = el = document.createElement('input');
            el.type = 'text';
          }
          el.autocomplete = 'off';
          el.spellcheck = false;
          if (c.name) el.setAttribute('aria-label', c.name);
          break;
        case 'combo':
          outer = el = document.createElement('input');
          el.type = 'text';
          el.autocomplete = 'off';
          el.setAttribute('list', id + '-items');
          var list = document.createElement('datalist');
          list.id = id + '-items';
          parent.appendChild(list);
          if (c.name) el.setAttribute('aria-label', c.name);
          break;
        case 'slider':
          outer = el = document.createElement('input');
          el.type = 'range';
          el.step = 1;
          if (c.name) el.setAttribute('aria-label', c.name);
          break;
        case 'icon':
          outer = el = document.createElement('img');
          el.src = 'zarn60-tool.png';
          el.alt = tpl.caption.trim();
          break;
      }
      el.id = id;
      outer.classList.add('ctl');
      place(outer, c, origin);
      parent.appendChild(outer);
      p.els.push(el);
      p.parts.push(outer);
      wire(page, i, c, el);
    });
    root.addEventListener('keydown', function(e) { key(page, e); });
    return p;
  }

  function indexOf(page, el) {
    var p = pages[page];
    return p ? p.els.indexOf(el) : -1;
  }

  function wire(page, i, c, el) {
    el.addEventListener('focus', function() {
      if (!pages[page] || pages[page].applyingFocus) return;
      act(function() { _zw_focus(page, i); });
    });
    switch (c.kind) {
      case 'button':
      case 'check':
      case 'radio':
        el.addEventListener('click', function(e) {
          var second = e.detail === 2 ? 1 : 0;
          act(function() { _zw_click(page, i, second); });
        });
        break;
      case 'edit':
      case 'combo':
        if (c.style & 8) {
          testBoxes.push(el);
          ['beforeinput', 'keydown', 'mousedown', 'copy', 'cut', 'paste', 'drop'].forEach(
              function(type) {
                el.addEventListener(type, function() { showWaiting(el); }, true);
              });
        }
        el.addEventListener('input', function() {
          act(withText(el.value, function(t) { _zw_edit(page, i, t); }));
        });
        break;
      case 'slider':
        el.addEventListener('input', function() {
          var pos = Number(el.value);
          act(function() { _zw_slider(page, i, pos); });
        });
        break;
    }
  }

  // Enter and Escape as in the desktop dialog; Tab and the arrows as its dialog manager.
  function key(page, e) {
    if (e.defaultPrevented || e.altKey || e.metaKey) return;
    var i = indexOf(page, e.target);
    var c = i >= 0 ? pages[page].tpl.controls[i] : null;
    if (e.key === 'Escape') {
      e.preventDefault();
      act(function() { _zw_escape(page); });
      return;
    }
    if (e.key === 'Enter') {
      if (c && c.kind === 'edit' && (c.style & 8) && e.ctrlKey) {
        // Ctrl+Enter is the test box's line break; plain Enter is the dialog's.
        e.preventDefault();
        e.target.setRangeText('\n', e.target.selectionStart, e.target.selectionEnd, 'end');
        e.target.dispatchEvent(new Event('input'));
        return;
      }
      if (e.ctrlKey || e.shiftKey) return;
      e.preventDefault();
      act(function() { _zw_enter(page, i); });
      return;
    }
    var keys = {'Tab': e.shiftKey ? 1 : 0, 'ArrowLeft': 2, 'ArrowRight': 3, 'ArrowUp': 4, 'ArrowDown': 5};
    if (!(e.key in keys) || e.ctrlKey) return;
    if (e.key !== 'Tab') {
      // Arrows move the caret in edits and the thumb of a trackbar; in groups of buttons
      // they are the dialog's.
      if (!c || (c.kind !== 'button' && c.kind !== 'check' && c.kind !== 'radio')) return;
      if (e.shiftKey) return;
    }
    if (calls.busy && !calls.modal) { e.preventDefault(); return; }
    var used = 0;
    run(function() { used = _zw_key(page, keys[e.key]); });
    if (used) e.preventDefault();
  }

  // --- The dialog shown as it is ----------------------------------------------------------
  function mirror(page, i, s) {
    var p = pages[page];
    if (!p || !p.els[i]) return;
    var c = p.tpl.controls[i], el = p.els[i], outer = p.parts[i];
    outer.hidden = !s.visible;
    outer.classList.toggle('disabled', !s.enabled);
    switch (c.kind) {
      case 'group':
        outer.firstChild.textContent = s.text.trim();
        return;
      case 'label':
        el.textContent = s.text;
        return;
      case 'button':
        el.disabled = !s.enabled;
        el.textContent = s.text;
        return;
      case 'check':
      case 'radio':
        el.disabled = !s.enabled;
        el.checked = s.checked;
        outer.lastChild.textContent = s.text;
        return;
      case 'slider':
        el.disabled = !s.enabled;
        el.min = s.min;
        el.max = s.max;
        el.value = s.pos;
        return;
      case 'combo':
        var list = $(el.id + '-items');
        list.textContent = '';
        s.items.forEach(function(item) {
          var o = document.createElement('option');
          o.value = item;
          list.appendChild(o);
        });
        // fall through: the combo's text is an edit's
      case 'edit':
        el.disabled = !s.enabled;
        if (c.style & 8 && 'append' in s) {
          waitForFrame(el, s.from, s.append, s.frame, s.atOnce);
          if (s.append) announce(s.append, false);
          return;
        }
        if (c.style & 8) dropWaiting(el);  // the whole text holds them
        if (el.value !== s.text) {
          var caret = el === document.activeElement ? el.selectionStart : null;
          el.value = s.text;
          if (caret !== null && c.style & 8) {
            el.selectionStart = el.selectionEnd = el.value.length;
            el.scrollTop = el.scrollHeight;
          } else if (caret !== null) {
            el.selectionStart = el.selectionEnd = Math.min(caret, el.value.length);
          }
        }
        if (c.style & 8) {
          el.scrollTop = el.scrollHeight;
          if (s.announce) announce(s.announce, s.announce === s.text);
        }
        return;
    }
  }

  // What the dialog changes while it runs is shown when it hands the page back (it returns,
  // waits, or calls the page for anything else): nobody sees a control between two changes
  // of one stretch, and a setting read back changes a control several times (each radio
  // of a group, its enabling, its check). The test box goes in at once, in its turn: its
  // appended bytes follow each other.
  var changed = new Map();  // 'page index' -> [page, index, JSON text], as it ends up
  function mirrorLater(page, i, json) {
    var p = pages[page], c = p && p.tpl.controls[i];
    if (c && c.kind === 'edit' && c.style & 8) {
      showChanged();
      mirror(page, i, JSON.parse(json));
      return;
    }
    if (!changed.size) queueMicrotask(showChanged);
    var key = page + ' ' + i;
    changed.delete(key);
    changed.set(key, [page, i, json]);
  }
  function showChanged() {
    if (!changed.size) return;
    var all = Array.from(changed.values());
    changed.clear();
    all.forEach(function(m) { mirror(m[0], m[1], JSON.parse(m[2])); });
  }
  // The page's other calls from the dialog see every control as it is.
  function afterChanges(fn) {
    return function() {
      showChanged();
      return fn.apply(this, arguments);
    };
  }

  // Bytes the receive poll appends to the test box go in with frames, as in the desktop
  // windows (ui::AppendFrames, whose figures come with each append): the first few of a
  // burst as they come, then at most once a frame while more keep coming, and what waits
  // as soon as a tick brings nothing. The page holds what waits itself, so that a key or
  // a paste puts it in before the edit lands even while the dialog is at work. A new
  // whole text takes their place.
  var testBoxes = [];
  function waitForFrame(el, from, text, frameMs, atOnce) {
    el.zarnAppended = true;
    el.zarnBurst = (el.zarnBurst || 0) + 1;
    if (el.zarnWaiting) el.zarnWaiting.text += text;
    else el.zarnWaiting = {from: from, text: text};
    if (el.zarnFrame) return;  // until the running frame ends
    showWaiting(el);
    if (el.zarnBurst <= atOnce) return;
    el.zarnFrame = setInterval(function() {
      if (el.zarnWaiting) return showWaiting(el);
      clearInterval(el.zarnFrame);
      el.zarnFrame = 0;
    }, frameMs);
  }
  function dropWaiting(el) { el.zarnWaiting = null; }
  function showWaiting(el) {
    var w = el.zarnWaiting;
    if (!w) return;
    el.zarnWaiting = null;
    var end = el.value.length;
    el.setRangeText(w.text, Math.min(w.from, end), end, 'end');
    el.scrollTop = el.scrollHeight;
  }
  function tickStarts() { testBoxes.forEach(function(el) { el.zarnAppended = false; }); }
  function tickEnded() {
    testBoxes.forEach(function(el) {
      if (el.zarnAppended) return;
      el.zarnBurst = 0;
      showWaiting(el);
    });
  }

  // What a screen reader speaks: the new text of the test box, gathered for a moment so
  // that a reply arriving byte by byte is spoken once.
  var spoken = {text: '', timer: 0};
  function announce(t, replaced) {
    spoken.text = replaced ? t : spoken.text + t;
    clearTimeout(spoken.timer);
    spoken.timer = setTimeout(function() {
      $('result').textContent = spoken.text.replace(/[\u2400-\u2421]/g, ' ').trim();
      spoken.text = '';
    }, 50);
  }

  function focus(page, i) {
    var p = pages[page];
    if (!p || !p.els[i] || p.els[i] === document.activeElement) return;
    p.applyingFocus = true;
    p.els[i].focus();
    if (p.els[i].tagName === 'INPUT' && p.els[i].type === 'text') p.els[i].select();
    p.applyingFocus = false;
  }

  function timer(page, period) {
    var p = pages[page];
    if (!p) return;
    if (p.timer) clearInterval(p.timer);
    p.timer = 0;
    p.period = period;
    if (!period) return;
    p.timer = setInterval(function() {
      if (calls.busy && !calls.modal) return;  // the dialog is at work: the tick is lost
      tickStarts();
      run(function() { _zw_tick(page); }, tickEnded);
    }, period);
  }

  function busy(page, on) {
    document.body.classList.toggle('busy', on);
  }

  function ended(page, result) {
    var p = pages[page];
    if (p && p.timer) clearInterval(p.timer);
    if (page === 1) {
      pages[1] = null;
      var d = $('about');
      if (d.open) d.close();
      if (aboutDone) {
        var done = aboutDone;
        aboutDone = null;
        Promise.resolve().then(done);
      }
      return;
    }
    pages[0] = null;
    $('dialog').hidden = true;
    $('ended').hidden = false;
  }

  // --- Modal boxes ------------------------------------------------------------------------
  function modal(promise) {
    calls.modal++;
    return promise.then(function(v) { calls.modal--; return v; },
                        function(e) { calls.modal--; throw e; });
  }

  function message(t, title, warning) {
    return modal(new Promise(function(resolve) {
      var d = $('message');
      $('message-title').textContent = title;
      $('message-text').textContent = t;
      $('message-icon').hidden = !warning;
      d.addEventListener('close', function() { resolve(); }, {once: true});
      d.showModal();
      $('message-ok').focus();
    }));
  }

  function openAbout(tpl) {
    var d = $('about');
    $('about-title').textContent = tpl.caption.trim();
    build(1, tpl, $('about-body'));
    d.showModal();
  }

  function aboutClosed() {
    return modal(new Promise(function(resolve) {
      if (!pages[1]) { resolve(); return; }
      aboutDone = resolve;
    }));
  }

  function pickerTypes(request) {
    return request.types.filter(function(t) { return t.patterns.length; }).map(function(t) {
      return {description: t.name, accept: {'application/octet-stream': t.patterns}};
    });
  }

  function readFile(file) {
    return file.arrayBuffer().then(function(buffer) {
      var path = '/picked/' + (++picked) + '/' + file.name;
      Module.zarnFiles.offer(path, new Uint8Array(buffer));
      return path;
    });
  }

  // The path a file dialog gives: at once for a download, else a promise of it (null when
  // the user cancels).
  function fileDialog(request) {
    if (!request.save && pendingDrop) {
      var dropped = pendingDrop;
      pendingDrop = null;
      return readFile(dropped);
    }
    var cancelled = function(e) {
      if (e && e.name === 'AbortError') return null;
      throw e;
    };
    if (request.save) {
      var name = request.file || ('Setup' + request.ext);
      if (window.showSaveFilePicker) {
        return modal(window.showSaveFilePicker({suggestedName: name, types: pickerTypes(request)})
            .then(function(handle) {
              var path = '/chosen/' + (++picked) + '/' + handle.name;
              Module.zarnFiles.target(path, {handle: handle});
              return path;
            }, cancelled));
      }
      // No save dialog in this browser: the file is downloaded under the dialog's name.
      var path = '/download/' + (++picked) + '/' + name;
      Module.zarnFiles.target(path, {name: name});
      return path;
    }
    if (window.showOpenFilePicker) {
      return modal(window.showOpenFilePicker({types: pickerTypes(request)}).then(function(handles) {
        return handles[0].getFile().then(readFile);
      }, cancelled));
    }
    return modal(new Promise(function(resolve) {
      var input = $('file-input');
      input.value = '';
      input.accept = request.types.map(function(t) { return t.patterns.join(','); })
                         .filter(Boolean).join(',');
      var onChange = function() {
        input.removeEventListener('cancel', onCancel);
        resolve(input.files.length ? readFile(input.files[0]) : null);
      };
      var onCancel = function() {
        input.removeEventListener('change', onChange);
        resolve(null);
      };
      input.addEventListener('change', onChange, {once: true});
      input.addEventListener('cancel', onCancel, {once: true});
      input.click();
    }));
  }

  Module.zarnPage = {mirror: mirrorLater};
  [['timer', timer], ['focus', focus], ['busy', busy], ['ended', ended], ['message', message],
   ['fileDialog', fileDialog], ['openAbout', openAbout], ['aboutClosed', aboutClosed]]
      .forEach(function(f) { Module.zarnPage[f[0]] = afterChanges(f[1]); });

  // --- The readers the page may use -------------------------------------------------------
  function showLinks() {
    var links = Module.zarnLinks;
    var hid = links.hidAvailable(), serial = links.serialAvailable();
    $('ask-usb').hidden = simulate || !hid;
    $('ask-serial').hidden = simulate || !serial;
    var missing = [];
    if (!hid) missing.push('WebHID (USB readers)');
    if (!serial) missing.push('WebSerial (serial readers)');
    $('missing').hidden = simulate || !missing.length;
    $('missing').textContent = missing.length
        ? 'This browser has no ' + missing.join(' and no ') + ', so it cannot reach a reader. ' +
          'Chrome, Edge and Opera on the desktop (version 89 or later) have both. ' +
          '"Load Setting from File" works here all the same.'
        : '';
    var lines = [];
    if (simulate) {
      lines.push('The simulated reader is attached: USB, and COM1.');
    } else {
      links.hid.forEach(function(e) {
        if (!e.present) return;
        var hex = function(v) { return ('000' + v.toString(16)).slice(-4); };
        lines.push('USB reader ' + hex(e.device.vendorId) + ':' + hex(e.device.productId) +
                   (e.device.productName ? ' (' + e.device.productName + ')' : ''));
      });
      text(_zw_port_names()).split('\n').forEach(function(l) { if (l) lines.push(l); });
      if (!lines.length && (hid || serial)) lines.push('No reader granted to this page yet.');
    }
    var list = $('granted');
    list.textContent = '';
    lines.forEach(function(l) {
      var li = document.createElement('li');
      li.textContent = l;
      list.appendChild(li);
    });
  }

  function setUpLinks() {
    $('simulate').checked = simulate;
    $('simulate').addEventListener('change', function() {
      location.search = $('simulate').checked ? '?simulate' : '';
    });
    $('ask-usb').addEventListener('click', function() {
      Module.zarnLinks.requestReader().then(showLinks, function() {});
    });
    $('ask-serial').addEventListener('click', function() {
      Module.zarnLinks.requestPort().then(showLinks, function() {});
    });
    Module.zarnLinks.changed = showLinks;
    var cards = _zw_test_card_count();
    $('cards').hidden = !cards;
    var choice = $('card');
    for (var n = 0; n < cards; ++n) {
      var o = document.createElement('option');
      o.value = n;
      o.textContent = ['Tracks 1 and 2', 'Tracks 1, 2 and 3', 'Track 2 only'][n] || 'Card ' + (n + 1);
      choice.appendChild(o);
    }
    $('swipe').addEventListener('click', function() {
      var n = Number(choice.value);
      act(function() {
        var why = text(_zw_swipe(n));
        if (why) announce(why, true);
      });
    });
    showLinks();
  }

  // A .cfg dropped on the page loads as "Load Setting from File" does.
  function setUpDrop() {
    document.addEventListener('dragover', function(e) {
      if (e.dataTransfer && Array.prototype.indexOf.call(e.dataTransfer.types, 'Files') >= 0) {
        e.preventDefault();
        e.dataTransfer.dropEffect = 'copy';
      }
    });
    document.addEventListener('drop', function(e) {
      if (!e.dataTransfer || !e.dataTransfer.files.length) return;
      e.preventDefault();
      var p = pages[0];
      if (!p) return;
      var i = p.tpl.controls.findIndex(function(c) { return c.id === LOAD_FILE_ID; });
      var file = e.dataTransfer.files[0];
      act(function() {
        pendingDrop = file;
        _zw_click(0, i, 0);
      });
      act(function() { pendingDrop = null; });
    });
  }

  function setUpMenu() {
    var items = JSON.parse(text(_zw_menu()));
    var menu = $('menu');
    menu.textContent = '';
    items.forEach(function(item) {
      var b = document.createElement('button');
      b.type = 'button';
      b.textContent = item.text;
      if (item.key) b.accessKey = item.key;
      b.addEventListener('click', function() {
        act(function() { _zw_sys_command(item.command); });
      });
      menu.appendChild(b);
    });
  }

  function start() {
    $('loading').hidden = true;
    run(function() { _zw_start(simulate ? 1 : 0); });
    var tpl = JSON.parse(text(_zw_template()));
    document.title = tpl.caption.trim() + (simulate ? ' (simulated reader)' : '');
    $('title').textContent = tpl.caption.trim();
    build(0, tpl, $('dialog'));
    $('dialog').setAttribute('aria-label', tpl.caption.trim());
    $('message-ok').addEventListener('click', function() { $('message').close(); });
    $('about').addEventListener('cancel', function(e) {
      e.preventDefault();  // the About box's Cancel is the dialog's
      act(function() { _zw_escape(1); });
    });
    setUpMenu();
    setUpLinks();
    setUpDrop();
    run(function() { _zw_attach(); });
    document.body.classList.add('ready');
  }

  Module.onRuntimeInitialized = start;
})();
