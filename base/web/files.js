// The files the page may read and write, by the names its file dialog gave them:
// contents the user picked or dropped (`Module.zarnFiles.offer`), and save targets
// (`Module.zarnFiles.target`): a file handle from the browser's save dialog, or a name
// to download under.
mergeInto(LibraryManager.library, {
  $zarnFiles__postset: 'Module["zarnFiles"] = zarnFiles;',
  $zarnFiles: {
    contents: {},
    targets: {},
    offer: function(path, bytes) { zarnFiles.contents[path] = bytes; },
    target: function(path, target) { zarnFiles.targets[path] = target; },
  },
  zarn_file_size__deps: ['$zarnFiles'],
  zarn_file_size: function(path) {
    var bytes = zarnFiles.contents[UTF8ToString(path)];
    return bytes ? bytes.length : -1;
  },
  zarn_file_read__deps: ['$zarnFiles'],
  zarn_file_read: function(path, buffer, length) {
    var bytes = zarnFiles.contents[UTF8ToString(path)];
    if (!bytes) return -1;
    var n = Math.min(length, bytes.length);
    HEAPU8.set(bytes.subarray(0, n), buffer);
    return n;
  },
  zarn_file_write__deps: ['$zarnFiles'],
  zarn_file_write: function(path, bytes, length) {
    var target = zarnFiles.targets[UTF8ToString(path)];
    var data = HEAPU8.slice(bytes, bytes + length);
    return Asyncify.handleSleep(function(wakeUp) {
      if (!target) { wakeUp(1); return; }
      if (!target.handle) {
        // A download is handed to the browser at once (the program need not wait for it),
        // its bytes in the link itself: a settings file is a few dozen bytes.
        var text = '';
        data.forEach(function(b) { text += String.fromCharCode(b); });
        var a = document.createElement('a');
        a.href = 'data:application/octet-stream;base64,' + btoa(text);
        a.download = target.name;
        document.body.appendChild(a);
        a.click();
        a.remove();
        wakeUp(0);
        return;
      }
      target.handle.createWritable().then(function(stream) {
        return stream.write(data).then(function() { return stream.close(); });
      }).then(function() { wakeUp(0); }, function() { wakeUp(2); });
    });
  },
});
