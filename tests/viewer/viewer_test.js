// Opens the ViewResults.html that `ordalis run` writes beside its results, from file:// in
// headless Chromium, as a user does from a file manager: the page must say it cannot list its
// folder and, once the results document and stylesheet are chosen with its file picker, show
// the rendered results. Driven through Chromium's DevTools protocol over a pipe.
//
// Usage: node viewer_test.js ORDALIS CHROMIUM   (exit 0 when it holds)
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, spawnSync } = require('child_process');

const [ordalis, chromium] = process.argv.slice(2);
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'ordalis-viewer-'));
let browser;

// Starts Chromium speaking its DevTools protocol over a pipe (messages end with a NUL byte; it
// reads from our fd 3 and writes to our fd 4), and gives a sender to its first page.
async function startBrowser() {
  browser = spawn(chromium, ['--headless', '--no-sandbox', '--disable-gpu', '--remote-debugging-pipe',
    '--user-data-dir=' + path.join(dir, 'profile'), 'about:blank'],
  // Chromium makes temporary folders of its own that a killed browser leaves behind: they go
  // into the test's folder, removed with it.
  { stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'], env: { ...process.env, TMPDIR: dir } });
  const [toBrowser, fromBrowser] = [browser.stdio[3], browser.stdio[4]];
  let next = 0;
  let buffered = '';
  const waiting = new Map();
  fromBrowser.on('data', (chunk) => {
    buffered += chunk;
    let end;
    while ((end = buffered.indexOf('\0')) >= 0) {
      const reply = JSON.parse(buffered.slice(0, end));
      buffered = buffered.slice(end + 1);
      if (waiting.has(reply.id)) {
        waiting.get(reply.id)(reply);
        waiting.delete(reply.id);
      }
    }
  });
  const call = (method, params = {}, sessionId) => new Promise((resolve) => {
    const id = ++next;
    waiting.set(id, resolve);
    toBrowser.write(JSON.stringify({ id, method, params, sessionId }) + '\0');
  });
  const targets = await call('Target.getTargets');
  const target = targets.result.targetInfos.find((t) => t.type === 'page');
  const attached = await call('Target.attachToTarget', { targetId: target.targetId, flatten: true });
  const session = attached.result.sessionId;
  return { send: (method, params) => call(method, params, session), close: () => toBrowser.end() };
}

// Evaluates [expression] in the page until it gives a true value (the page works by itself, so
// its state is polled over the protocol, not slept on); false when the page never gets there.
async function until(send, expression) {
  for (let i = 0; i < 200; i++) {
    const r = await send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true });
    if (r.result && r.result.result && r.result.result.value) return true;
    await send('Runtime.evaluate', { expression: 'new Promise(r => requestAnimationFrame(() => r(1)))', awaitPromise: true });
  }
  return false;
}

async function main() {
  fs.writeFileSync(path.join(dir, 'rail.odl'), 'result "3.3 V rail" x = 1\n');
  const run = spawnSync(ordalis, ['run', '--quiet', '--results-dir', path.join(dir, 'Results'), path.join(dir, 'rail.odl')]);
  if (run.status !== 0) throw new Error('ordalis run failed: ' + run.stderr);
  const results = path.join(dir, 'Results');
  const xml = fs.readdirSync(results).find((f) => f.endsWith('.xml'));
  const { send, close } = await startBrowser();
  await send('Page.enable');
  await send('Runtime.enable');
  await send('Page.navigate', { url: 'file://' + path.join(results, 'ViewResults.html') });
  const failures = [];
  if (!await until(send, 'document.getElementById("message").textContent.includes("file picker")')) {
    failures.push('the page opened from a file does not point at its file picker');
  }
  const doc = await send('DOM.getDocument');
  const input = await send('DOM.querySelector', { nodeId: doc.result.root.nodeId, selector: '#files' });
  await send('DOM.setFileInputFiles', { nodeId: input.result.nodeId,
    files: [path.join(results, xml), path.join(results, 'Ordalis4_2.xsl')] });
  if (!await until(send, 'document.getElementById("view").srcdoc.includes("3.3 V rail")')) {
    failures.push('the chosen results are not shown');
  }
  close();
  return failures;
}

main().then((failures) => {
  for (const f of failures) console.error(f);
  process.exitCode = failures.length ? 1 : 0;
}, (error) => {
  console.error(error.stack || String(error));
  process.exitCode = 1;
}).finally(async () => {
  // The profile is written until the browser has ended; the folder goes after it.
  if (browser && browser.exitCode === null) {
    const ended = new Promise((resolve) => browser.once('exit', resolve));
    browser.kill();
    await ended;
  }
  fs.rmSync(dir, { recursive: true, force: true });
});
