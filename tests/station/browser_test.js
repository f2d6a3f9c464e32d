// The station page as an operator uses it, in Chromium driven by puppeteer-core: start a script
// from a path, watch its statements turn green and red, pause it, step it, stop it and read the
// verdict; run the power supply example to its end; find both runs in the history with their
// reports. Every wait is for a condition of the page, never for a time.
//
// Usage: node browser_test.js ORDALIS SOURCE_DIR    (exit 0 when every step holds)
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const readline = require('readline');
const { spawn } = require('child_process');
const puppeteer = require('puppeteer-core');

const [ordalis, source] = process.argv.slice(2);
const kChromium = process.env.ORDALIS_CHROMIUM || '/usr/bin/chromium';
const kWait = { timeout: 60000 };

// Passes, fails, then counts slowly until it is stopped: a run that is certain to be going on
// when the page pauses it, with a green and a red statement already drawn.
const kEndlessScript = [
  'x = 1',
  'result "one is one" ok = x == 1',
  'assert(x == 2)',
  'i = 0',
  'while i >= 0 do',
  '  i = i + 1',
  '  sleep(0.01)',
  'endwhile',
  '',
].join('\n');

// Starts `ordalis serve` on a free port; resolves with the process and the printed address.
function startServer(folder) {
  const server = spawn(ordalis, ['serve', '--listen', '127.0.0.1:0', '--results', path.join(folder, 'Results')],
                       { stdio: ['ignore', 'pipe', 'inherit'] });
  return new Promise((resolve, reject) => {
    server.on('exit', (code) => reject(new Error(`ordalis serve ended with ${code}`)));
    readline.createInterface({ input: server.stdout }).on('line', (line) => {
      const found = line.match(/^Station view: (\S+)/);
      if (found) resolve({ server, address: found[1] });
    });
  });
}

async function textOf(page, id) {
  return page.$eval('#' + id, (e) => e.textContent);
}

async function waitForText(page, id, wanted) {
  await page.waitForFunction((i, w) => document.getElementById(i).textContent === w, kWait, id, wanted);
}

async function startScript(page, script) {
  await page.$eval('#path', (e) => { e.value = ''; });
  await page.type('#path', script);
  await page.click('#start');
  await page.waitForFunction((s) => document.getElementById('script').textContent === s, kWait, script);
}

// Green and red rows, pause, step, stop, verdict.
async function controlARun(page, folder) {
  const script = path.join(folder, 'count.odl');
  fs.writeFileSync(script, kEndlessScript);
  await startScript(page, script);
  await page.waitForSelector('.row.r0[data-row="0"]', kWait);
  await page.waitForSelector('.row.r1[data-row="2"]', kWait);
  await page.click('#pause');
  await waitForText(page, 'state', 'paused');
  // Each step runs to the next statement and pauses again; within a few the loop's counts move.
  const loopRuns = () => ['4', '5', '6'].map((r) => document.querySelector(`.row[data-row="${r}"] .runs`).textContent).join();
  const before = await page.evaluate(loopRuns);
  for (let step = 0; step < 4 && (await page.evaluate(loopRuns)) === before; ++step) {
    const changes = Number(await page.evaluate(() => document.body.dataset.stateChanges));
    await page.click('#step');
    await page.waitForFunction((c) => Number(document.body.dataset.stateChanges) >= c + 2 &&
                               document.getElementById('state').textContent === 'paused', kWait, changes);
  }
  if ((await page.evaluate(loopRuns)) === before) throw new Error('four steps ran no statement of the loop');
  await page.click('#stop');
  await waitForText(page, 'state', 'idle');
  await page.waitForFunction(() => document.getElementById('verdict').textContent !== '–', kWait);
  const verdict = await textOf(page, 'verdict');
  if (verdict !== 'Aborted') throw new Error(`the stopped run's verdict is ${verdict}, expected Aborted`);
  const named = await page.$eval('#named', (e) => e.textContent);
  if (!named.includes('one is one') || !named.includes('Passed')) throw new Error(`named results: ${named}`);
}

async function runExample(page) {
  await startScript(page, path.join(source, 'examples', 'power_supply.odl'));
  await waitForText(page, 'verdict', 'Passed');
  const red = await page.$$('.row.r1, .row.r4');
  if (red.length) throw new Error(`${red.length} statements of the example are drawn red`);
}

async function historyLinksReports(page, address) {
  await page.click('#tab-history');
  await page.waitForFunction(() => document.querySelectorAll('#runs tr').length >= 2, kWait);
  const links = await page.$$eval('#runs a', (all) => all.map((a) => a.getAttribute('href')));
  if (links.length < 2) throw new Error(`history: ${links.length} report links, expected 2`);
  const response = await fetch(new URL(links[0], address));
  if (!response.ok) throw new Error(`report ${links[0]}: ${response.status}`);
  await page.click('#tab-fleet');
  await page.waitForFunction(() => document.getElementById('stations').textContent.includes('(this station)'), kWait);
}

async function main() {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'ordalis-station-'));
  let server;
  let browser;
  try {
    const started = await startServer(folder);
    server = started.server;
    browser = await puppeteer.launch({ executablePath: kChromium, headless: true,
                                       args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'] });
    const page = await browser.newPage();
    page.on('pageerror', (e) => console.error('page error:', e.message));
    await page.goto(started.address);
    await page.waitForFunction(() => document.getElementById('link').textContent === 'live', kWait);
    await controlARun(page, folder);
    await runExample(page);
    await historyLinksReports(page, started.address);
    console.log('station page: run controlled, example passed, history links its reports, fleet lists the station');
  } finally {
    if (browser) await browser.close();
    if (server) {
      server.removeAllListeners('exit');
      server.kill('SIGINT');
      await new Promise((resolve) => server.on('exit', resolve));
    }
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

main().catch((error) => {
  console.error(error.stack || String(error));
  process.exitCode = 1;
});
