// Drives `ordalis lsp` with the language client library editors use, on a script folder made
// for the test: diagnostics, completion, hover, definition, references and the outline, then
// the faults a server must survive. Usage: node lsp_test.js ORDALIS
'use strict';
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn } = require('child_process');
const rpc = require('vscode-languageserver-protocol/node');

const ordalis = path.resolve(process.argv[2]);

const kLibrary = 'function Twice\n  return Twice[0] * 2\nendfunction\n';
const kScript = [
  'include "lib.odl"',                                   // 0
  'function Settle',                                     // 1
  '  printf("settling")',                                // 2
  'endfunction',                                         // 3
  'meter = new multimeter(42)',                          // 4
  'meter.SetNominal("DCV", 5)',                          // 5
  'reading = meter.Measure("DCV")',                      // 6
  'Settle()',                                            // 7
  'doubled = Twice(reading[0])',                         // 8
  'result "rail" in_range = meter.Check("DCV", 3.2, 3.4)', // 9
  'meter.Chek("DCV")',                                   // 10
  ''].join('\n');

function start(folder) {
  const server = spawn(ordalis, ['lsp'], { cwd: folder, stdio: ['pipe', 'pipe', 'inherit'] });
  const connection = rpc.createMessageConnection(
      new rpc.StreamMessageReader(server.stdout), new rpc.StreamMessageWriter(server.stdin));
  const diagnostics = new Map();
  const waiting = new Map();
  connection.onNotification(rpc.PublishDiagnosticsNotification.type, (params) => {
    diagnostics.set(params.uri, params.diagnostics);
    const wake = waiting.get(params.uri);
    if (wake) { waiting.delete(params.uri); wake(params.diagnostics); }
  });
  connection.listen();
  // The diagnostics the next publication for [uri] brings.
  const nextDiagnostics = (uri) => new Promise((resolve) => waiting.set(uri, resolve));
  const exited = new Promise((resolve) => server.on('exit', (code) => resolve(code)));
  return { server, connection, nextDiagnostics, exited };
}

async function open(client, uri, text) {
  const published = client.nextDiagnostics(uri);
  client.connection.sendNotification(rpc.DidOpenTextDocumentNotification.type,
      { textDocument: { uri, languageId: 'odl', version: 1, text } });
  return published;
}

const at = (uri, line, character) => ({ textDocument: { uri }, position: { line, character } });
const labels = (items) => items.map((item) => item.label);

// Each case: a name and what it asks and expects of the server with the script open.
const kCases = [
  ['a typo is underlined with the did-you-mean', async (c, uri, diagnostics) => {
    const typo = diagnostics.find((d) => d.message.includes("did you mean 'Check'"));
    assert.ok(typo, JSON.stringify(diagnostics));
    assert.strictEqual(typo.severity, 1);
    assert.deepStrictEqual(typo.range, { start: { line: 10, character: 6 }, end: { line: 10, character: 10 } });
  }],
  ['actions of a tester complete after its variable', async (c, uri) => {
    const list = await c.connection.sendRequest(rpc.CompletionRequest.type, at(uri, 6, 16));
    const check = list.items.find((item) => item.label === 'Check');
    assert.ok(check, JSON.stringify(labels(list.items)));
    assert.match(check.detail, /^Check\(/);
    assert.ok(check.documentation.value.length > 0);
    assert.ok(!labels(list.items).includes('if'));
  }],
  ['tester types complete after new', async (c, uri) => {
    const list = await c.connection.sendRequest(rpc.CompletionRequest.type, at(uri, 4, 12));
    assert.ok(labels(list.items).includes('multimeter'), JSON.stringify(labels(list.items)));
    assert.ok(labels(list.items).includes('powersupply'));
  }],
  ['keywords, functions of the script and its include, and variables complete', async (c, uri) => {
    const names = labels((await c.connection.sendRequest(rpc.CompletionRequest.type, at(uri, 11, 0))).items);
    for (const name of ['endif', 'printf', 'Settle', 'Twice', 'reading', 'meter']) {
      assert.ok(names.includes(name), name + ' in ' + JSON.stringify(names));
    }
  }],
  ['hover on an action shows its arguments and documentation', async (c, uri) => {
    const hover = await c.connection.sendRequest(rpc.HoverRequest.type, at(uri, 6, 17));
    assert.match(hover.contents.value, /multimeter\.Measure\(/);
  }],
  ['hover on a call shows the line of the definition', async (c, uri) => {
    const hover = await c.connection.sendRequest(rpc.HoverRequest.type, at(uri, 7, 2));
    assert.match(hover.contents.value, /defined on line 2 of main\.odl/);
  }],
  ['hover on a variable shows where it is assigned', async (c, uri) => {
    const hover = await c.connection.sendRequest(rpc.HoverRequest.type, at(uri, 8, 20));
    assert.match(hover.contents.value, /assigned on line 7/);
  }],
  ['a call goes to its definition in an include', async (c, uri, d, folder) => {
    const place = await c.connection.sendRequest(rpc.DefinitionRequest.type, at(uri, 8, 12));
    assert.strictEqual(place.uri, 'file://' + path.join(folder, 'lib.odl'));
    assert.strictEqual(place.range.start.line, 0);
  }],
  ['an include goes to its file', async (c, uri, d, folder) => {
    const place = await c.connection.sendRequest(rpc.DefinitionRequest.type, at(uri, 0, 10));
    assert.strictEqual(place.uri, 'file://' + path.join(folder, 'lib.odl'));
  }],
  ['the outline holds the functions and named results', async (c, uri) => {
    const symbols = await c.connection.sendRequest(rpc.DocumentSymbolRequest.type, { textDocument: { uri } });
    assert.deepStrictEqual(symbols.map((s) => [s.name, s.kind, s.range.start.line]),
                           [['Settle', 12, 1], ['rail', 24, 9]]);
  }],
  ['references of a variable list each use', async (c, uri) => {
    const places = await c.connection.sendRequest(rpc.ReferencesRequest.type,
        { ...at(uri, 4, 1), context: { includeDeclaration: true } });
    assert.deepStrictEqual(places.map((p) => p.range.start.line), [4, 5, 6, 9, 10]);
  }],
  ['an unclosed block points at where it was opened', async (c, uri) => {
    const other = uri.replace('main.odl', 'open.odl');
    const found = await open(c, other, 'x = 1\nif x == 1 then\n  y = 2\n');
    const error = found.find((d) => d.relatedInformation);
    assert.ok(error, JSON.stringify(found));
    assert.strictEqual(error.relatedInformation[0].message, 'opened here');
    assert.strictEqual(error.relatedInformation[0].location.range.start.line, 1);
  }],
  ['a ranged edit is applied where it stands', async (c, uri) => {
    const published = c.nextDiagnostics(uri);
    c.connection.sendNotification(rpc.DidChangeTextDocumentNotification.type, {
      textDocument: { uri, version: 2 },
      contentChanges: [{ range: { start: { line: 10, character: 6 }, end: { line: 10, character: 10 } }, text: 'Chekk' }] });
    const found = await published;
    assert.ok(found.some((d) => d.message.includes("no action 'Chekk'")), JSON.stringify(found));
  }],
  ['an edit that fixes the typo clears its finding', async (c, uri) => {
    const published = c.nextDiagnostics(uri);
    c.connection.sendNotification(rpc.DidChangeTextDocumentNotification.type, {
      textDocument: { uri, version: 3 }, contentChanges: [{ text: kScript.replace('Chek("DCV")', 'Check("DCV", 1, 2)') }] });
    assert.deepStrictEqual(await published, []);
  }],
];

// Raw bytes to a fresh server: [stream] is written, then stdin closes; what came back.
function exchange(stream) {
  return new Promise((resolve) => {
    const server = spawn(ordalis, ['lsp', '--no-testers'], { stdio: ['pipe', 'pipe', 'inherit'] });
    let out = '';
    server.stdout.on('data', (data) => { out += data; });
    server.on('exit', (code) => resolve({ code, out }));
    server.stdin.end(stream);
  });
}
const frame = (body) => 'Content-Length: ' + Buffer.byteLength(body) + '\r\n\r\n' + body;

const kFaults = [
  ['a body that is no JSON is answered and the next request served',
   frame('{"jsonrpc":"2.0","id":1,') + frame('{"jsonrpc":"2.0","id":2,"method":"shutdown"}'),
   (r) => { assert.match(r.out, /"code":-32700/); assert.match(r.out, /"id":2,"jsonrpc":"2.0","result":null|"id":2/); }],
  ['a request of no known method is answered as such',
   frame('{"jsonrpc":"2.0","id":3,"method":"no/such"}'), (r) => assert.match(r.out, /"code":-32601/)],
  ['wrong parameters are answered, not fatal',
   frame('{"jsonrpc":"2.0","id":4,"method":"textDocument/hover","params":{"x":1}}') +
       frame('{"jsonrpc":"2.0","id":5,"method":"shutdown"}'),
   (r) => { assert.match(r.out, /"code":-32602/); assert.match(r.out, /"id":5/); }],
  ['a client that goes away ends the server', '', (r) => assert.strictEqual(r.code, 1)],
  ['shutdown then exit ends it with 0',
   frame('{"jsonrpc":"2.0","id":6,"method":"shutdown"}') + frame('{"jsonrpc":"2.0","method":"exit"}'),
   (r) => assert.strictEqual(r.code, 0)],
];

async function main() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'ordalis-lsp-'));
  // The folder goes however the test ends, an unhandled rejection too.
  process.on('exit', () => fs.rmSync(folder, { recursive: true, force: true }));
  let failures = 0;
  const report = (name, error) => {
    if (error) { failures++; console.log('FAIL ' + name + '\n  ' + (error.stack || error)); }
    else console.log('ok   ' + name);
  };
  try {
    fs.writeFileSync(path.join(folder, 'lib.odl'), kLibrary);
    fs.writeFileSync(path.join(folder, 'main.odl'), kScript);
    const client = start(folder);
    await client.connection.sendRequest(rpc.InitializeRequest.type,
        { processId: process.pid, rootUri: 'file://' + folder, capabilities: {} });
    client.connection.sendNotification(rpc.InitializedNotification.type, {});
    const uri = 'file://' + path.join(folder, 'main.odl');
    const diagnostics = await open(client, uri, kScript);
    for (const [name, run] of kCases) {
      try { await run(client, uri, diagnostics, folder); report(name); } catch (e) { report(name, e); }
    }
    // The examples open as a new user opens them: without a finding, `meter.` completing.
    const examples = path.join(__dirname, '..', '..', 'examples');
    for (const file of fs.readdirSync(examples, { recursive: true }).filter((f) => f.endsWith('.odl'))) {
      const exampleUri = 'file://' + path.join(examples, file);
      const text = fs.readFileSync(path.join(examples, file), 'utf8');
      try {
        assert.deepStrictEqual(await open(client, exampleUri, text), []);
        report('the example ' + file + ' opens without a finding');
      } catch (e) { report('the example ' + file + ' opens without a finding', e); }
    }
    const failing = 'file://' + path.join(examples, 'failing', 'rail_out_of_range.odl');
    const lines = fs.readFileSync(path.join(examples, 'failing', 'rail_out_of_range.odl'), 'utf8').split('\n');
    const checkLine = lines.findIndex((l) => l.includes('meter.Check'));
    try {
      const list = await client.connection.sendRequest(rpc.CompletionRequest.type,
          at(failing, checkLine, lines[checkLine].indexOf('meter.') + 6));
      assert.ok(labels(list.items).includes('Check'), JSON.stringify(labels(list.items)));
      report('meter. completes to the actions of the multimeter in the failing example');
    } catch (e) { report('meter. completes to the actions of the multimeter in the failing example', e); }
    await client.connection.sendRequest(rpc.ShutdownRequest.type);
    client.connection.sendNotification(rpc.ExitNotification.type);
    report('the server ends with 0 after shutdown and exit',
           (await client.exited) === 0 ? null : 'a nonzero exit status');
    client.connection.dispose();
    for (const [name, stream, check] of kFaults) {
      try { check(await exchange(stream)); report(name); } catch (e) { report(name, e); }
    }
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
  process.exit(failures === 0 ? 0 : 1);
}

main().catch((error) => { console.error(error); process.exit(1); });
