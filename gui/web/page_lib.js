// What the dialog's adapter (gui/web/web_view.cpp) calls in the page; the page's script
// (gui/web/page.js) does the work. Modal boxes pause the handler that opened them
// (Asyncify) until the user closes them.
mergeInto(LibraryManager.library, {
  zarn_page_mirror: function(page, index, json) {
    Module.zarnPage.mirror(page, index, UTF8ToString(json));
  },
  zarn_page_timer: function(page, periodMs) { Module.zarnPage.timer(page, periodMs); },
  zarn_page_focus: function(page, index) { Module.zarnPage.focus(page, index); },
  zarn_page_busy: function(page, busy) { Module.zarnPage.busy(page, !!busy); },
  zarn_page_ended: function(page, result) { Module.zarnPage.ended(page, result); },
  zarn_page_message: function(text, title, warning) {
    var t = UTF8ToString(text), caption = UTF8ToString(title);
    return Asyncify.handleSleep(function(wakeUp) {
      Module.zarnPage.message(t, caption, !!warning).then(function() { wakeUp(0); });
    });
  },
  zarn_page_file_dialog: function(requestJson) {
    var request = JSON.parse(UTF8ToString(requestJson));
    return Asyncify.handleSleep(function(wakeUp) {
      var answer = function(path) { wakeUp(path ? allocateUTF8(path) : 0); };
      // A name known at once (a download) goes back at once; a dialog's answer waits.
      var chosen = Module.zarnPage.fileDialog(request);
      if (typeof chosen === 'string') answer(chosen);
      else chosen.then(answer, function() { wakeUp(0); });
    });
  },
  zarn_page_open_about: function(json) {
    Module.zarnPage.openAbout(JSON.parse(UTF8ToString(json)));
  },
  zarn_page_wait_about: function() {
    return Asyncify.handleSleep(function(wakeUp) {
      Module.zarnPage.aboutClosed().then(function() { wakeUp(0); });
    });
  },
});
