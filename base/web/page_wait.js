// The page's wait: a timer for the bulk of it, then messages on a channel for the last
// ten milliseconds. Timers set from within timers are held back to 4 ms at least by the
// browser; messages are not, so the wait ends when it should.
mergeInto(LibraryManager.library, {
  zarn_page_sleep__deps: ['$zarnPageWait'],
  zarn_page_sleep: function(ms) {
    return Asyncify.handleSleep(function(wakeUp) {
      zarnPageWait(ms).then(function() { wakeUp(0); });
    });
  },
  // The promise's cancel() ends the wait early without settling it.
  $zarnPageWait: function(ms) {
    var end = performance.now() + ms;
    var channel = new MessageChannel(), timer = 0, stopped = false;
    var waiting = new Promise(function(resolve) {
      var step = function() {
        if (stopped) return;
        var left = end - performance.now();
        timer = 0;
        if (left <= 0) {
          channel.port1.close();
          resolve();
        } else if (left > 12) {
          // A timer may fire late on a busy machine: it hands over 10 ms early, the
          // messages take the rest.
          timer = setTimeout(step, left - 10);
        } else {
          channel.port2.postMessage(0);
        }
      };
      channel.port1.onmessage = step;
      // Even a wait of 0 ms lets the page run once (events, painting).
      channel.port2.postMessage(0);
    });
    waiting.cancel = function() {
      stopped = true;
      if (timer) clearTimeout(timer);
      channel.port1.close();
    };
    return waiting;
  },
});
