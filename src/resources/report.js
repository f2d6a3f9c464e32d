// Renders the item tree of an Ordalis results report from the data embedded in the page. Items
// are drawn when their parent is opened, a few hundred at a time, so large runs open quickly.
(function () {
  'use strict';
  var CLASSES = ['passed', 'failed', 'notimplemented', 'warning', 'error', 'notrun', 'aborted'];
  var WORDS = ['Passed', 'Failed', 'Not Implemented', 'Warning', 'Error', 'Not Run', 'Aborted'];
  // Node fields: type, text, file, line, runs, counts by result, overall, children, flags.
  var TYPE = 0, TEXT = 1, FILE = 2, LINE = 3, RUNS = 4, COUNTS = 5, OVERALL = 6, KIDS = 7, FLAGS = 8;
  var SELF_FAILED = 1, INSIDE_FAILED = 2;
  var CHUNK = 200, OPEN_BUDGET = 3000;
  var data, tree, failuresOnly = false, opened = 0, path = null;

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function duration(s) {
    if (!(s >= 0.0005)) return '<1 ms';
    if (s < 1) return Math.round(s * 1000) + ' ms';
    if (s < 60) return s.toFixed(3) + ' s';
    var m = Math.floor(s / 60);
    return m + ' min ' + (s - m * 60).toFixed(1) + ' s';
  }

  function badge(result) {
    var b = el('span', 'badge r-' + CLASSES[result], WORDS[result]);
    return b;
  }

  function runCount(node) {
    var n = 0;
    for (var i = 0; i < node[COUNTS].length; i++) n += node[COUNTS][i];
    return n;
  }

  // The script's own file: that of the first statement. Lines there show as "line N", lines of
  // included files with the file's name.
  function mainFile() {
    var kids = data.root[KIDS];
    return kids.length ? kids[0][FILE] : data.root[FILE];
  }

  function where(node) {
    if (!node[LINE]) return '';
    if (node[FILE] < 0 || node[FILE] === mainFile()) return 'line ' + node[LINE];
    var name = data.files[node[FILE]] || '';
    return name.replace(/^.*[\\/]/, '') + '(' + node[LINE] + ')';
  }

  function visibleKids(node) {
    if (!failuresOnly) return node[KIDS];
    return node[KIDS].filter(function (k) { return k[FLAGS] & (SELF_FAILED | INSIDE_FAILED); });
  }

  function hasDetail(node) {
    var runs = node[RUNS];
    return visibleKids(node).length > 0 || runs.length > 1 || (runs.length === 1 && runs[0][4] !== '');
  }

  function shouldOpen(node) {
    if (path && path.has(node)) return true;
    return failuresOnly && (node[FLAGS] & INSIDE_FAILED) !== 0 && opened < OPEN_BUDGET;
  }

  function runsTable(node) {
    var runs = node[RUNS], total = runCount(node);
    var table = el('table', 'runs');
    var head = el('tr');
    ['Iteration', 'Result', 'Time taken', 'Recorded', 'Values'].forEach(function (h) {
      head.appendChild(el('th', null, h));
    });
    table.appendChild(head);
    runs.forEach(function (run) {
      var tr = el('tr');
      tr.appendChild(el('td', 'n', String(run[0])));
      var cell = el('td');
      cell.appendChild(badge(run[1]));
      tr.appendChild(cell);
      tr.appendChild(el('td', 'n', duration(run[2])));
      tr.appendChild(el('td', 'muted', run[3]));
      tr.appendChild(el('td', 'mono', run[4]));
      table.appendChild(tr);
    });
    var box = el('div');
    box.appendChild(table);
    if (total > runs.length) {
      var parts = [];
      node[COUNTS].forEach(function (n, r) { if (n) parts.push(n + ' ' + WORDS[r].toLowerCase()); });
      box.appendChild(el('div', 'more muted', 'Showing ' + runs.length + ' of ' + total +
        ' runs (the first ones and the failing ones): ' + parts.join(', ') + '.'));
    }
    return box;
  }

  function renderKids(list, kids, start) {
    var end = Math.min(kids.length, start + CHUNK);
    if (path) {
      for (var i = end; i < kids.length; i++) if (path.has(kids[i])) end = i + 1;
    }
    for (var k = start; k < end; k++) list.appendChild(renderNode(kids[k]));
    if (end < kids.length) {
      var more = el('li', 'more');
      var button = el('button', null, 'Show ' + Math.min(CHUNK, kids.length - end) + ' more of ' +
        (kids.length - end));
      button.addEventListener('click', function () {
        list.removeChild(more);
        renderKids(list, kids, end);
      });
      more.appendChild(button);
      list.appendChild(more);
    }
  }

  function open(item) {
    var node = item._node;
    item.classList.add('open');
    item.querySelector('.toggle').textContent = '\u25be';
    opened++;
    var body = el('div', 'body');
    if (node[RUNS].length > 1 || (node[RUNS].length === 1 && node[RUNS][0][4] !== '')) {
      body.appendChild(runsTable(node));
    }
    var kids = visibleKids(node);
    if (kids.length) {
      var list = el('ul');
      renderKids(list, kids, 0);
      body.appendChild(list);
    }
    item.appendChild(body);
  }

  function close(item) {
    item.classList.remove('open');
    item.querySelector('.toggle').textContent = '\u25b8';
    var body = item.querySelector(':scope > .body');
    if (body) item.removeChild(body);
  }

  function renderNode(node) {
    var item = el('li', 'node');
    item._node = node;
    var row = el('div', 'row');
    if (node[FLAGS] & SELF_FAILED) row.classList.add('failing');
    var toggle = el('button', 'toggle', hasDetail(node) ? '\u25b8' : '');
    toggle.type = 'button';
    if (hasDetail(node)) {
      toggle.setAttribute('aria-label', 'open');
      toggle.addEventListener('click', function () {
        if (item.classList.contains('open')) close(item); else open(item);
      });
    }
    row.appendChild(toggle);
    if (runCount(node) > 0) {
      row.appendChild(badge(node[OVERALL]));
    } else {
      var none = el('span', 'badge r-notrun', '\u2014');
      none.title = 'no result recorded';
      row.appendChild(none);
    }
    row.appendChild(el('span', 'text', node[TEXT]));
    var line = where(node);
    if (line) row.appendChild(el('span', 'line', line));
    if (node[RUNS].length === 1 && node[RUNS][0][2] >= 0.0005) {
      row.appendChild(el('span', 'line', duration(node[RUNS][0][2])));
    }
    item.appendChild(row);
    if (hasDetail(node) && shouldOpen(node)) open(item);
    return item;
  }

  function render() {
    opened = 0;
    tree.textContent = '';
    var list = el('ul');
    var root = renderNode(data.root);
    if (!root.classList.contains('open') && hasDetail(data.root)) open(root);
    list.appendChild(root);
    tree.appendChild(list);
    if (failuresOnly && !(data.root[FLAGS] & (SELF_FAILED | INSIDE_FAILED))) {
      tree.appendChild(el('p', 'note', 'No statement failed.'));
    }
  }

  // The nodes from the root down to the node with pre-order [index], or null.
  function pathTo(index) {
    var count = 0, found = null;
    var stack = [[data.root, [data.root]]];
    while (stack.length && !found) {
      var top = stack.pop(), node = top[0];
      if (count++ === index) { found = top[1]; break; }
      for (var i = node[KIDS].length - 1; i >= 0; i--) {
        stack.push([node[KIDS][i], top[1].concat([node[KIDS][i]])]);
      }
    }
    return found;
  }

  function reveal(index) {
    var nodes = pathTo(index);
    if (!nodes) return;
    path = new Set(nodes.slice(0, -1));
    render();
    path = null;
    var target = nodes[nodes.length - 1];
    var items = tree.querySelectorAll('li.node');
    for (var i = 0; i < items.length; i++) {
      if (items[i]._node !== target) continue;
      var row = items[i].querySelector('.row');
      var old = tree.querySelector('.row.target');
      if (old) old.classList.remove('target');
      row.classList.add('target');
      row.scrollIntoView({block: 'center'});
      break;
    }
  }

  function start() {
    var source = document.getElementById('report-data');
    tree = document.getElementById('tree');
    if (!source || !tree) return;
    data = JSON.parse(source.textContent);
    var toggle = document.getElementById('failures-only');
    failuresOnly = location.hash === '#failures-only';
    toggle.checked = failuresOnly;
    toggle.addEventListener('change', function () {
      failuresOnly = toggle.checked;
      history.replaceState(null, '', failuresOnly ? '#failures-only' : '#');
      render();
    });
    document.querySelectorAll('[data-node]').forEach(function (link) {
      link.addEventListener('click', function (event) {
        event.preventDefault();
        reveal(Number(link.getAttribute('data-node')));
      });
    });
    render();
    document.body.setAttribute('data-tree', 'rendered');
  }

  start();
})();
