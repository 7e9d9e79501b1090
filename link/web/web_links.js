// The devices the page may use: readers granted through WebHID and serial ports granted
// through WebSerial, found at load (getDevices, getPorts), asked for on a click
// (requestDevice, requestPort) and followed as they are plugged in and out. The C++
// backends (link/web/webhid.cpp, webserial.cpp) call the zarn_hid_* and zarn_serial_*
// functions; a call that must wait gives the event loop back through Asyncify.
mergeInto(LibraryManager.library, {
  $zarnLinks__postset: 'Module["zarnLinks"] = zarnLinks; zarnLinks.start();',
  $zarnLinks__deps: ['$zarnPageWait'],
  $zarnLinks: {
    // The reader's ids: vendor 0x0801, then 0x0802; product 0x0005.
    readerFilters: [{vendorId: 0x0801, productId: 0x0005}, {vendorId: 0x0802, productId: 0x0005}],
    hid: [],
    serial: [],
    changed: function() {},  // the page sets this to hear of plugging and granting
    hidAvailable: function() { return typeof navigator !== 'undefined' && !!navigator.hid; },
    serialAvailable: function() { return typeof navigator !== 'undefined' && !!navigator.serial; },
    start: function() {
      if (zarnLinks.hidAvailable()) {
        navigator.hid.addEventListener('connect', function(e) { zarnLinks.addHid(e.device); });
        navigator.hid.addEventListener('disconnect', function(e) { zarnLinks.lostHid(e.device); });
        navigator.hid.getDevices().then(function(list) { list.forEach(zarnLinks.addHid); });
      }
      if (zarnLinks.serialAvailable()) {
        navigator.serial.addEventListener('connect', function(e) { zarnLinks.addPort(e.target); });
        navigator.serial.addEventListener('disconnect', function(e) { zarnLinks.lostPort(e.target); });
        navigator.serial.getPorts().then(function(list) { list.forEach(zarnLinks.addPort); });
      }
    },
    // The browser's own chooser; call it from a click.
    requestReader: function() {
      return navigator.hid.requestDevice({filters: zarnLinks.readerFilters})
          .then(function(list) { list.forEach(zarnLinks.addHid); return list.length; });
    },
    requestPort: function() {
      return navigator.serial.requestPort().then(function(port) { zarnLinks.addPort(port); return 1; });
    },
    // Wakes whoever waits on an entry: with a report or byte, or because it went away.
    wake: function(entry, value) {
      var waiter = entry.waiter;
      if (!waiter) return;
      entry.waiter = null;
      waiter(value);
    },
    // A wait on an entry that ends with wake(), or with 0 after timeoutMs (< 0: never).
    // A wake stops the time-out's wait, which would otherwise run on to its end.
    waitOn: function(entry, timeoutMs, wakeUp) {
      var done = false, limit = null;
      entry.waiter = function(value) {
        if (done) return;
        done = true;
        if (limit) limit.cancel();
        wakeUp(value);
      };
      if (timeoutMs >= 0) {
        limit = zarnPageWait(timeoutMs);
        limit.then(function() {
          if (done) return;
          done = true;
          entry.waiter = null;
          wakeUp(0);
        });
      }
    },

    // --- HID ---
    addHid: function(device) {
      var entry = zarnLinks.hid.find(function(e) { return e.device === device; });
      if (!entry) {
        entry = {number: zarnLinks.hid.length + 1, device: device, queue: [], held: false,
                 waiter: null, target: 0, length: 0};
        var lengths = zarnLinks.reportLengths(device);
        entry.input = lengths[0];
        entry.output = lengths[1];
        device.addEventListener('inputreport', function(e) {
          if (!entry.held) return;  // nobody asked: an answer to somebody else
          var report = new Uint8Array(1 + e.data.byteLength);
          report[0] = e.reportId;
          report.set(new Uint8Array(e.data.buffer, e.data.byteOffset, e.data.byteLength), 1);
          if (entry.waiter && entry.target) {
            zarnLinks.copyReport(report, entry.target, entry.length);
            entry.target = 0;
            zarnLinks.wake(entry, report.length);
          } else {
            entry.queue.push(report);
          }
        });
        zarnLinks.hid.push(entry);
      }
      entry.present = true;
      zarnLinks.changed();
    },
    lostHid: function(device) {
      zarnLinks.hid.forEach(function(entry) {
        if (entry.device !== device) return;
        entry.present = false;
        entry.queue = [];
        zarnLinks.wake(entry, -1);
      });
      zarnLinks.changed();
    },
    // Lengths with the report id byte, from the descriptor the browser parsed: report 0.
    reportLengths: function(device) {
      var sum = function(reports) {
        var bits = 0;
        (reports || []).forEach(function(r) {
          if (r.reportId !== 0) return;
          (r.items || []).forEach(function(i) { bits += i.reportSize * i.reportCount; });
        });
        return bits ? 1 + Math.ceil(bits / 8) : 0;
      };
      var input = 0, output = 0;
      (device.collections || []).forEach(function(c) {
        input = Math.max(input, sum(c.inputReports));
        output = Math.max(output, sum(c.outputReports));
      });
      return [input || 9, output || 9];
    },
    copyReport: function(report, target, length) {
      HEAPU8.set(report.subarray(0, Math.min(length, report.length)), target);
    },
    hidEntry: function(number) {
      var entry = zarnLinks.hid[number - 1];
      return entry && entry.present ? entry : null;
    },

    // --- Serial ---
    // The browser shows an adapter plugged in again as a new port: it takes the number of
    // the first one pulled out with the same USB ids, so that the COM number stays.
    addPort: function(port) {
      var entry = zarnLinks.serial.find(function(e) { return e.port === port; });
      var info = port.getInfo ? port.getInfo() : {};
      if (!entry && info.usbVendorId) {
        entry = zarnLinks.serial.find(function(e) {
          return !e.present && e.vendorId === info.usbVendorId &&
                 e.productId === (info.usbProductId || 0);
        });
        if (entry) {
          zarnLinks.closePort(entry);
          entry.port = port;
          entry.lost = false;
        }
      }
      if (!entry) {
        entry = {number: zarnLinks.serial.length + 1, port: port, queue: [], head: 0,
                 waiter: null, writeWaiter: null, settings: null, reader: null, writer: null,
                 closing: null,
                 lost: false, vendorId: info.usbVendorId || 0, productId: info.usbProductId || 0};
        zarnLinks.serial.push(entry);
      }
      entry.present = true;
      zarnLinks.changed();
    },
    lostPort: function(port) {
      zarnLinks.serial.forEach(function(entry) {
        if (entry.port !== port) return;
        entry.present = false;
        entry.lost = true;
        entry.settings = null;
        zarnLinks.wake(entry, -1);
        zarnLinks.wakeWriter(entry);
      });
      zarnLinks.changed();
    },
    // Ends a write waiting for its port's writer: the port went away or closed.
    wakeWriter: function(entry) {
      var waiter = entry.writeWaiter;
      entry.writeWaiter = null;
      if (waiter) waiter(-1);
    },
    closePort: function(entry) {
      var reader = entry.reader, writer = entry.writer, wasOpen = !!entry.settings, port = entry.port;
      var before = entry.closing || Promise.resolve();
      entry.reader = null;
      entry.writer = null;
      entry.settings = null;
      entry.queue = [];
      entry.head = 0;
      zarnLinks.wake(entry, -1);
      zarnLinks.wakeWriter(entry);
      entry.closing = before.then(function() {
        var steps = [];
        if (reader) steps.push(reader.cancel().catch(function() {}).then(function() {
          try { reader.releaseLock(); } catch (e) {}
        }));
        if (writer) steps.push(writer.close().catch(function() {}).then(function() {
          try { writer.releaseLock(); } catch (e) {}
        }));
        return Promise.all(steps).then(function() {
          return wasOpen ? port.close().catch(function() {}) : null;
        });
      });
      return entry.closing;
    },
    openPort: function(entry, settings) {
      return zarnLinks.closePort(entry).then(function() {
        return entry.port.open(settings);
      }).then(function() {
        entry.settings = settings;
        entry.lost = false;
        entry.writer = entry.port.writable.getWriter();
        var reader = entry.port.readable.getReader();
        entry.reader = reader;
        var pump = function() {
          reader.read().then(function(r) {
            if (r.done || entry.reader !== reader) return;
            // Queued first: waking the reader runs the program on at once, and its next
            // read must find the bytes behind this one.
            var bytes = r.value;
            for (var i = 0; i < bytes.length; ++i) entry.queue.push(bytes[i]);
            if (entry.waiter && entry.target && entry.head < entry.queue.length) {
              HEAPU8[entry.target] = entry.queue[entry.head++];
              entry.target = 0;
              zarnLinks.wake(entry, 1);
            }
            pump();
          }, function() {
            if (entry.reader === reader) {
              entry.lost = true;
              zarnLinks.wake(entry, -1);
              zarnLinks.wakeWriter(entry);
            }
          });
        };
        pump();
      });
    },
  },

  zarn_hid_list__deps: ['$zarnLinks'],
  zarn_hid_list: function() {
    var text = '';
    zarnLinks.hid.forEach(function(e) {
      if (e.present)
        text += e.number + ' ' + e.device.vendorId + ' ' + e.device.productId + ' ' +
                e.input + ' ' + e.output + '\n';
    });
    return allocateUTF8(text);
  },
  zarn_hid_open__deps: ['$zarnLinks'],
  zarn_hid_open: function(number) {
    return Asyncify.handleSleep(function(wakeUp) {
      var entry = zarnLinks.hidEntry(number);
      if (!entry) { wakeUp(1); return; }
      var held = function() {
        entry.held = true;
        entry.queue = [];
        entry.writeFailed = false;
        wakeUp(0);
      };
      if (entry.device.opened) { held(); return; }
      entry.device.open().then(held, function() { wakeUp(entry.present ? 2 : 1); });
    });
  },
  zarn_hid_release__deps: ['$zarnLinks'],
  zarn_hid_release: function(number) {
    var entry = zarnLinks.hid[number - 1];
    if (!entry) return;
    entry.held = false;
    entry.queue = [];
  },
  zarn_hid_send__deps: ['$zarnLinks'],
  // A report goes out as hidraw takes it: handed over at once, in order. The browser
  // finishes sending it in the background; when it could not, the reader's next transfer
  // fails (the reader is gone or refuses, and nothing of this exchange can succeed).
  zarn_hid_send: function(number, reportId, data, length) {
    var entry = zarnLinks.hidEntry(number);
    if (!entry || entry.writeFailed) {
      if (entry) entry.writeFailed = false;
      return 0;
    }
    entry.device.sendReport(reportId, HEAPU8.slice(data, data + length))
        .catch(function() { entry.writeFailed = true; });
    return 1;
  },
  zarn_hid_receive__deps: ['$zarnLinks'],
  // Every check happens inside handleSleep: when the wait ends, Asyncify calls this again to
  // pick up its result, and anything decided outside would be decided anew.
  zarn_hid_receive: function(number, buffer, length, timeoutMs) {
    return Asyncify.handleSleep(function(wakeUp) {
      var entry = zarnLinks.hidEntry(number);
      if (!entry) { wakeUp(-1); return; }
      if (entry.writeFailed) {
        entry.writeFailed = false;
        wakeUp(-1);
        return;
      }
      if (entry.queue.length) {
        var report = entry.queue.shift();
        zarnLinks.copyReport(report, buffer, length);
        wakeUp(report.length);
        return;
      }
      if (timeoutMs === 0) { wakeUp(0); return; }
      entry.target = buffer;
      entry.length = length;
      zarnLinks.waitOn(entry, timeoutMs, function(value) {
        entry.target = 0;
        wakeUp(value);
      });
    });
  },

  zarn_serial_list__deps: ['$zarnLinks'],
  zarn_serial_list: function() {
    var text = '';
    zarnLinks.serial.forEach(function(e) {
      text += e.number + ' ' + (e.present ? 1 : 0) + ' ' + e.vendorId + ' ' + e.productId + '\n';
    });
    return allocateUTF8(text);
  },
  zarn_serial_open__deps: ['$zarnLinks'],
  zarn_serial_open: function(number, baudRate, dataBits, parity) {
    return Asyncify.handleSleep(function(wakeUp) {
      var entry = zarnLinks.serial[number - 1];
      if (!entry || !entry.present) { wakeUp(1); return; }
      // A buffer of one byte: the writer takes a byte only once the browser has handed the
      // one before it to the port, so a write's promise says the line took it.
      var settings = {baudRate: baudRate, dataBits: dataBits, stopBits: 1,
                      parity: ['none', 'odd', 'even'][parity] || 'none', flowControl: 'none',
                      bufferSize: 1};
      var now = entry.settings;
      if (now && !entry.lost && now.baudRate === settings.baudRate &&
          now.dataBits === settings.dataBits && now.parity === settings.parity) {
        wakeUp(0);
        return;
      }
      zarnLinks.openPort(entry, settings).then(function() { wakeUp(0); },
                                               function() { wakeUp(entry.present ? 2 : 1); });
    });
  },
  zarn_serial_close__deps: ['$zarnLinks'],
  // A handle let go leaves a healthy port open in the browser, only emptied: closing and
  // opening it there takes several milliseconds, and every exchange opens its port anew.
  // The next open with the same settings takes it as it is (and empties it again); other
  // settings, a lost port or the page's end close it.
  zarn_serial_close: function(number) {
    var entry = zarnLinks.serial[number - 1];
    if (!entry) return;
    if (entry.settings && entry.present && !entry.lost) {
      entry.queue = [];
      entry.head = 0;
      zarnLinks.wake(entry, -1);
      zarnLinks.wakeWriter(entry);
      return;
    }
    zarnLinks.closePort(entry);
  },
  zarn_serial_purge__deps: ['$zarnLinks'],
  zarn_serial_purge: function(number) {
    var entry = zarnLinks.serial[number - 1];
    if (!entry) return;
    entry.queue = [];
    entry.head = 0;
  },
  zarn_serial_write__deps: ['$zarnLinks'],
  // A byte counts as written once the port's writer has taken it: the wait ends with the
  // writer's promise (1), or with -1 when it rejects, the port goes away meanwhile or
  // timeoutMs passes. Without a wait (nested in another one) the byte is handed over
  // and a failure shows in the next write or read.
  zarn_serial_write: function(number, value, timeoutMs) {
    var entry = zarnLinks.serial[number - 1];
    var usable = function() { return entry && entry.present && !entry.lost && entry.writer; };
    if (timeoutMs < 0) {
      if (!usable()) return -1;
      entry.writer.write(Uint8Array.of(value)).catch(function() { entry.lost = true; });
      return 1;
    }
    return Asyncify.handleSleep(function(wakeUp) {
      if (!usable()) { wakeUp(-1); return; }
      var done = false, timer = 0;
      var finish = function(result) {
        if (done) return;
        done = true;
        clearTimeout(timer);
        if (entry.writeWaiter === finish) entry.writeWaiter = null;
        wakeUp(result);
      };
      entry.writeWaiter = finish;
      var writer = entry.writer;
      writer.write(Uint8Array.of(value)).then(function() {
        // Taken by a writer that was replaced meanwhile (the port closed): not on the line.
        finish(entry.writer === writer && usable() ? 1 : -1);
      }, function() {
        entry.lost = true;
        finish(-1);
      });
      // A limit of seconds: a timer's few milliseconds late do not matter here.
      timer = setTimeout(function() { finish(-1); }, timeoutMs);
    });
  },
  zarn_serial_read__deps: ['$zarnLinks'],
  zarn_serial_read: function(number, target, timeoutMs) {
    return Asyncify.handleSleep(function(wakeUp) {
      var entry = zarnLinks.serial[number - 1];
      if (!entry) { wakeUp(-1); return; }
      if (entry.head < entry.queue.length) {
        HEAPU8[target] = entry.queue[entry.head++];
        if (entry.head === entry.queue.length) { entry.queue = []; entry.head = 0; }
        wakeUp(1);
        return;
      }
      if (!entry.present || entry.lost || !entry.reader) { wakeUp(-1); return; }
      if (timeoutMs === 0) { wakeUp(0); return; }
      entry.target = target;
      zarnLinks.waitOn(entry, timeoutMs, function(value) {
        entry.target = 0;
        wakeUp(value);
      });
    });
  },
});
