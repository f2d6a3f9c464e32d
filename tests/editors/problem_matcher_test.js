// Reads real `ordalis check --format gcc` output the way editors do: through the problem
// matcher editors/vscode contributes (its pattern is a JavaScript regular expression, as VS Code
// applies it) and through Vim's quickfix list with editors/vim/compiler/ordalis.vim. Each
// finding must arrive at its file, line, column and severity, with its text.
//
// Usage: node problem_matcher_test.js SOURCE_DIR ORDALIS    (exit 0 when every row holds)
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');

const [source, ordalis] = process.argv.slice(2);

// Scripts and the findings they give: [file, line, column, severity, start of the text].
const scripts = {
  'syntax.odl': 'x = 1\n  y = f(1, )\n',
  'names.odl': 'voltage = 1\nif voltge < 4 then\n  z = undefined(1)\nendif\n',
};
const expected = [
  ['names.odl', 2, 4, 'warning', "'voltge' is read but no statement of the script assigns it"],
  ['names.odl', 3, 7, 'error', "the function 'undefined' is not defined"],
  ['syntax.odl', 2, 12, 'error', "unexpected ')', expected"],
];

let failures = 0;
function check(what, got) {
  const rows = got.map((r) => r.join('|'));
  if (got.length !== expected.length) {
    console.error(`${what}: ${got.length} findings, expected ${expected.length}:\n  ${rows.join('\n  ')}`);
    failures++;
    return;
  }
  expected.forEach((want, i) => {
    const row = got[i];
    const same = path.basename(row[0]) === want[0] && row[1] === want[1] && row[2] === want[2] &&
                 row[3] === want[3] && row[4].startsWith(want[4]);
    if (!same) {
      console.error(`${what}: got ${rows[i]}\n  expected ${want.join('|')}...`);
      failures++;
    }
  });
}

function vscodeFindings(output) {
  const manifest = JSON.parse(fs.readFileSync(path.join(source, 'editors/vscode/package.json'), 'utf8'));
  const matcher = manifest.contributes.problemMatchers.find((m) => m.name === 'ordalis');
  const p = matcher.pattern;
  const regexp = new RegExp(p.regexp);
  const found = [];
  for (const line of output.split('\n')) {
    const m = regexp.exec(line);
    if (m) found.push([m[p.file], Number(m[p.line]), Number(m[p.column]), m[p.severity], m[p.message]]);
  }
  return found;
}

function vimFindings(dir, outputFile) {
  const result = path.join(dir, 'quickfix.txt');
  const row = '{_, e -> bufname(e.bufnr) .. "|" .. e.lnum .. "|" .. e.col .. "|" .. e.type .. "|" .. e.text}';
  const vim = spawnSync('vim', ['-N', '-u', 'NONE', '-i', 'NONE', '-es',
    '--cmd', 'set rtp^=' + path.join(source, 'editors/vim'),
    '-c', 'compiler ordalis', '-c', 'cgetfile ' + outputFile,
    '-c', `call writefile(map(getqflist(), ${row}), "${result}")`, '-c', 'qa!'], { encoding: 'utf8' });
  if (vim.error || !fs.existsSync(result)) {
    console.error('vim could not read the output (run scripts/bootstrap): ' + (vim.error || vim.stderr));
    failures++;
    return [];
  }
  const words = { e: 'error', w: 'warning' };
  return fs.readFileSync(result, 'utf8').split('\n').filter((l) => l).map((l) => {
    const [file, lnum, col, type, ...text] = l.split('|');
    return [file, Number(lnum), Number(col), words[type] || type, text.join('|')];
  });
}

const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ordalis-matcher-'));
try {
  const files = Object.entries(scripts).map(([name, text]) => {
    fs.writeFileSync(path.join(dir, name), text);
    return path.join(dir, name);
  }).sort();
  const run = spawnSync(ordalis, ['check', '--no-testers', '--format', 'gcc', ...files], { encoding: 'utf8' });
  if (run.status !== 1) {
    console.error(`ordalis check exited ${run.status}: ${run.stderr}`);
    failures++;
  }
  const outputFile = path.join(dir, 'check.txt');
  fs.writeFileSync(outputFile, run.stdout);
  check('VS Code problem matcher', vscodeFindings(run.stdout));
  check('Vim compiler ordalis', vimFindings(dir, outputFile));
} finally {
  fs.rmSync(dir, { recursive: true, force: true });
}
process.exit(failures === 0 ? 0 : 1);
