// Drives `ordalis dap` with the DebugClient editors' debug adapters are tested with, on the
// failing example made for the test: a breakpoint on the Check line, the variables there,
// stepping over a function call and into it, and the verdict `ordalis run` gives.
// Usage: node dap_test.js ORDALIS
'use strict';
const assert = require('assert');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawn, spawnSync } = require('child_process');
const { DebugClient } = require('@vscode/debugadapter-testsupport');

const ordalis = path.resolve(process.argv[2]);

const kScript = [
  'function Settle',                                       // 1
  '  local pause = Settle[0]',                             // 2
  '  pause = pause + 1',                                   // 3
  '  printf("settling %d", pause)',                        // 4
  'endfunction',                                           // 5
  'supply = new powersupply(42)',                          // 6
  'meter = new multimeter(42)',                            // 7
  'supply.SetVoltage(5.0)',                                // 8
  'supply.Output(true)',                                   // 9
  'Settle(limit)',                                         // 10
  'reading = supply.MeasureVoltage()',                     // 11
  'meter.SetNominal("DCV", reading[0])',                   // 12
  'result "3.3 V rail" in_range = meter.Check("DCV", 3.2, 3.4)', // 13
  'supply.Output(false)',                                  // 14
  ''].join('\n');

async function withClient(folder, run) {
  const client = new DebugClient(ordalis, 'dap', 'ordalis', { cwd: folder });
  await client.start();
  try { await run(client); } finally { await client.stop(); }
}

const launchArgs = (folder, more) => ({
  program: path.join(folder, 'main.odl'), resultsDirectory: path.join(folder, 'Results'),
  variables: { limit: 7 }, ...more });

async function stoppedAt(client, line) {
  const stack = await client.stackTraceRequest({ threadId: 1 });
  assert.strictEqual(stack.body.stackFrames[0].line, line, JSON.stringify(stack.body.stackFrames));
  return stack.body.stackFrames;
}

async function variablesOf(client, scope) {
  const scopes = await client.scopesRequest({ frameId: 0 });
  const found = scopes.body.scopes.find((s) => s.name === scope);
  const vars = await client.variablesRequest({ variablesReference: found.variablesReference });
  return Object.fromEntries(vars.body.variables.map((v) => [v.name, v.value]));
}

// Each case: a name and what it does with a started client in the folder of the script.
const kCases = [
  ['a breakpoint on the Check line stops there with reading set, stepping over it shows Failed, and the exit status is ordalis run\'s',
   async (client, folder, runStatus) => {
     const script = path.join(folder, 'main.odl');
     await client.hitBreakpoint(launchArgs(folder), { path: script, line: 13 });
     const globals = await variablesOf(client, 'Global');
     assert.ok('reading' in globals, JSON.stringify(globals));
     const evaluated = await client.evaluateRequest({ expression: 'reading', frameId: 0 });
     assert.strictEqual(evaluated.body.result, globals.reading);
     for (const [expression, expected] of [['reading[0]', /^[0-9.]+$/], ['reading [0]', /^[0-9.]+$/]]) {
       assert.match((await client.evaluateRequest({ expression, frameId: 0 })).body.result, expected, expression);
     }
     for (const [expression, expected] of [['reading[7]', /past the end/], ['reading[99999999999999999999]', /past the end/],
                                            ['reading +', /is no variable/],
                                            ['nothing', /no variable 'nothing'/]]) {
       await assert.rejects(client.evaluateRequest({ expression, frameId: 0 }), expected, expression);
     }
     const result = new Promise((resolve) => client.on('output', (e) => {
       if (/^line 13: /.test(e.body.output)) resolve(e.body.output);
     }));
     await Promise.all([client.nextRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     await stoppedAt(client, 14);
     assert.strictEqual(await result, 'line 13: Failed\n');
     const [, exited] = await Promise.all([client.continueRequest({ threadId: 1 }), client.waitForEvent('exited')]);
     assert.strictEqual(exited.body.exitCode, runStatus);
     assert.strictEqual(runStatus, 1);
   }],
  ['stepping over a call stays in the script, and the stepped statement shows its result',
   async (client, folder) => {
     const script = path.join(folder, 'main.odl');
     await client.hitBreakpoint(launchArgs(folder), { path: script, line: 10 });
     const result = new Promise((resolve) => client.on('output', (e) => {
       if (/^line 10: /.test(e.body.output)) resolve(e.body.output);
     }));
     await Promise.all([client.nextRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     await stoppedAt(client, 11);
     assert.strictEqual(await result, 'line 10: Passed\n');
   }],
  ['stepping into a call stops in the function, with its locals and the caller on the stack; step out returns past the call, logging on the way',
   async (client, folder) => {
     const script = path.join(folder, 'main.odl');
     await client.hitBreakpoint(launchArgs(folder), { path: script, line: 10 });
     await Promise.all([client.stepInRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     const frames = await stoppedAt(client, 2);
     assert.deepStrictEqual(frames.map((f) => [f.name, f.line]), [['Settle', 2], ['main.odl', 10]]);
     await Promise.all([client.stepInRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     await Promise.all([client.stepInRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     await stoppedAt(client, 4);
     const locals = await variablesOf(client, 'Locals');
     assert.match(locals.pause, /^\[?8\]?$/, JSON.stringify(locals));
     const outside = await variablesOf(client, 'User and system variables');
     assert.strictEqual(outside['limit (launch)'], '7');
     const logged = new Promise((resolve) => client.on('output', (e) => {
       if (/settling 8/.test(e.body.output)) resolve(e.body);
     }));
     await Promise.all([client.stepOutRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     assert.strictEqual((await logged).category, 'console');
     await stoppedAt(client, 11);
   }],
  ['a breakpoint on the first statement of a function stops there, with the call below it', async (client, folder) => {
     const script = path.join(folder, 'main.odl');
     await client.hitBreakpoint(launchArgs(folder), { path: script, line: 2 });
     const frames = await stoppedAt(client, 2);
     assert.deepStrictEqual(frames.map((f) => [f.name, f.line]), [['Settle', 2], ['main.odl', 10]]);
   }],
  ['stepping over a call stops at a breakpoint inside it', async (client, folder) => {
     const script = path.join(folder, 'main.odl');
     await client.hitBreakpoint(launchArgs(folder), { path: script, line: 10 });
     await client.setBreakpointsRequest({ source: { path: script }, breakpoints: [{ line: 10 }, { line: 3 }] });
     const [, stopped] = await Promise.all([client.nextRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     assert.strictEqual(stopped.body.reason, 'breakpoint');
     await stoppedAt(client, 3);
   }],
  ['stop on entry stops before the first statement that runs', async (client, folder) => {
     const [, , stopped] = await Promise.all([client.configurationSequence(),
                                              client.launch(launchArgs(folder, { stopOnEntry: true })),
                                              client.waitForEvent('stopped')]);
     assert.strictEqual(stopped.body.reason, 'entry');
     await stoppedAt(client, 6);
     await Promise.all([client.nextRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     await stoppedAt(client, 7);
   }],
  ['a breakpoint set while the run is paused is hit', async (client, folder) => {
     const script = path.join(folder, 'main.odl');
     await client.hitBreakpoint(launchArgs(folder), { path: script, line: 8 });
     const set = await client.setBreakpointsRequest({ source: { path: script }, breakpoints: [{ line: 12 }] });
     assert.strictEqual(set.body.breakpoints[0].verified, true);
     await Promise.all([client.continueRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     await stoppedAt(client, 12);
   }],
  ['pause stops an endless loop at a statement, with its counter to look at', async (client, folder) => {
     const endless = path.join(folder, 'endless.odl');
     fs.writeFileSync(endless, 'i = 0\nwhile i >= 0 do\n  i++\nendwhile\n');
     await Promise.all([client.configurationSequence(), client.launch({ program: endless })]);
     const [, stopped] = await Promise.all([client.pauseRequest({ threadId: 1 }), client.waitForEvent('stopped')]);
     assert.strictEqual(stopped.body.reason, 'pause');
     const frames = (await client.stackTraceRequest({ threadId: 1 })).body.stackFrames;
     assert.ok([1, 2, 3].includes(frames[0].line), JSON.stringify(frames));
     const globals = await variablesOf(client, 'Global');
     assert.match(String(globals.i), /^\[?\d+\]?$/, JSON.stringify(globals));
   }],
  ['a breakpoint set while the run is running is hit', async (client, folder) => {
     const endless = path.join(folder, 'endless.odl');
     fs.writeFileSync(endless, 'i = 0\nwhile i >= 0 do\n  i++\nendwhile\n');
     await Promise.all([client.configurationSequence(), client.launch({ program: endless })]);
     const [, stopped] = await Promise.all([
       client.setBreakpointsRequest({ source: { path: endless }, breakpoints: [{ line: 3 }] }),
       client.waitForEvent('stopped')]);
     assert.strictEqual(stopped.body.reason, 'breakpoint');
     await stoppedAt(client, 3);
   }],
  ['terminate stops an endless run, which ends as a stopped run: not passed', async (client, folder) => {
     const endless = path.join(folder, 'endless.odl');
     fs.writeFileSync(endless, 'i = 0\nwhile i >= 0 do\n  i++\nendwhile\n');
     await Promise.all([client.configurationSequence(),
                        client.launch({ program: endless, resultsDirectory: path.join(folder, 'Results') })]);
     const [, exited] = await Promise.all([client.terminateRequest(), client.waitForEvent('exited')]);
     assert.strictEqual(exited.body.exitCode, 1);
   }],
  ['a run played back from the record of ordalis run ends as that run did', async (client, folder, runStatus) => {
     const results = path.join(folder, 'Results');
     const record = fs.readdirSync(results).find((f) => f.endsWith('.odlrec'));
     assert.ok(record, fs.readdirSync(results).join(' '));
     await Promise.all([client.configurationSequence(),
                        client.launch(launchArgs(folder, { playback: path.join(results, record),
                                                           resultsDirectory: path.join(folder, 'Played') }))]);
     assert.strictEqual((await client.waitForEvent('exited')).body.exitCode, runStatus);
   }],
  ['a script that does not load gives a launch error with the reason', async (client, folder) => {
     fs.writeFileSync(path.join(folder, 'broken.odl'), 'x = (1 +\n');
     await client.initializeRequest();
     await assert.rejects(client.launchRequest({ program: path.join(folder, 'broken.odl') }), /syntax errors/);
     await assert.rejects(client.launchRequest({ program: path.join(folder, 'missing.odl') }), /cannot open/);
     await assert.rejects(client.launchRequest({ program: path.join(folder, 'main.odl'), variables: { limit: 'a"b' } }),
                          /the variable limit=a"b/);
     await assert.rejects(client.launchRequest(launchArgs(folder, { playback: path.join(folder, 'none.odlrec') })),
                          /cannot read the record file/);
   }],
];

// Raw bytes to a fresh adapter: [stream] is written, then its input closes; what came back.
function exchange(stream) {
  return new Promise((resolve) => {
    const adapter = spawn(ordalis, ['dap'], { stdio: ['pipe', 'pipe', 'inherit'] });
    let out = '';
    adapter.stdout.on('data', (data) => { out += data; });
    adapter.on('exit', (code) => resolve({ code, out }));
    adapter.stdin.end(stream);
  });
}
const frame = (body) => 'Content-Length: ' + Buffer.byteLength(body) + '\r\n\r\n' + body;

const kFaults = [
  ['a malformed message is answered as failed and the next request served',
   frame('{"seq":1,') + frame('{"seq":2,"type":"request","command":"threads"}'),
   (r) => { assert.match(r.out, /"success":false/); assert.match(r.out, /"request_seq":2,"seq":\d+,"success":true/); }],
  ['a request before launch is refused with the reason',
   frame('{"seq":3,"type":"request","command":"stackTrace","arguments":{"threadId":1}}'),
   (r) => assert.match(r.out, /no script is launched/)],
  ['a client that goes away ends the adapter', '', (r) => assert.strictEqual(r.code, 1)],
  ['disconnect ends it with 0', frame('{"seq":4,"type":"request","command":"disconnect"}'),
   (r) => assert.strictEqual(r.code, 0)],
];

async function main() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'ordalis-dap-'));
  // The folder goes however the test ends, an unhandled rejection too.
  process.on('exit', () => fs.rmSync(folder, { recursive: true, force: true }));
  let failures = 0;
  try {
    fs.writeFileSync(path.join(folder, 'main.odl'), kScript);
    const run = spawnSync(ordalis, ['run', '--var', 'limit=7', '--results-dir', path.join(folder, 'Results'),
                                    path.join(folder, 'main.odl')], { cwd: folder, encoding: 'utf8' });
    for (const [name, test] of kCases) {
      try {
        await withClient(folder, (client) => test(client, folder, run.status));
        console.log('ok   ' + name);
      } catch (error) {
        failures++;
        console.log('FAIL ' + name + '\n  ' + (error.stack || error));
      }
    }
    for (const [name, stream, check] of kFaults) {
      try { check(await exchange(stream)); console.log('ok   ' + name); } catch (error) {
        failures++;
        console.log('FAIL ' + name + '\n  ' + (error.stack || error));
      }
    }
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
  process.exit(failures === 0 ? 0 : 1);
}

main().catch((error) => { console.error(error); process.exit(1); });
