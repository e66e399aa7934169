// Plays the browser edition through in Debian's headless Chromium, reading the screen from the
// page's terminal widget (window.vorlix.terminal): the menu, the help, a game with a save and a new
// best, both kept over a reload and a browser restart, and the farewell. Then prints its figures.
//   node tests/web/play.mjs build/web [picture.png]

import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

const require = createRequire(new URL('../../web/package.json', import.meta.url));
const puppeteer = require('puppeteer-core');

const site = path.resolve(process.argv[2] ?? 'build/web');
const picture = process.argv[3];
const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css',
                '.wasm': 'application/wasm' };
const server = http.createServer((request, response) => {
  const file = path.join(site, request.url === '/' ? 'index.html' : path.normalize(request.url));
  fs.readFile(file, (error, data) => {
    response.writeHead(error ? 404 : 200, { 'Content-Type': types[path.extname(file)] ?? '' });
    response.end(error ? '' : data);
  });
});
await new Promise(resolve => server.listen(0, '127.0.0.1', resolve));
const address = `http://127.0.0.1:${server.address().port}/`;
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vorlix-browser-'));

// The page draws with WebGL, which headless Chromium gives through its software renderer.
const launch = () => puppeteer.launch({
  executablePath: '/usr/bin/chromium', headless: true, userDataDir: profile,
  args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
         '--disable-background-networking', '--no-first-run',
         '--disable-component-update', '--disable-sync', '--disable-quic'],
});

let browser, page;
const figures = {};
let failures = 0;

// ---- Reading the screen -------------------------------------------------------------------------

// Each row of the screen, in the page.
function rowsInPage() {
  const buffer = window.vorlix.terminal.buffer.active;
  return Array.from({ length: 42 }, (_, y) => buffer.getLine(y).translateToString(true));
}
const screen = () => page.evaluate(rowsInPage);
async function waitFor(text, timeout = 10000) {
  await page.waitForFunction(
    `(${rowsInPage})().some(row => row.includes(${JSON.stringify(text)}))`,
    { polling: 20, timeout });
  return page.evaluate(() => performance.now());
}
const gone = text => page.waitForFunction(
  `!(${rowsInPage})().some(row => row.includes(${JSON.stringify(text)}))`, { polling: 20 });
// The palette colour of the first cell of `text` on the screen: ANSI numbering (red 1, blue 4).
const colourOf = text => page.evaluate(text => {
  const buffer = window.vorlix.terminal.buffer.active;
  for (let y = 0; y < 42; y++) {
    const x = buffer.getLine(y).translateToString().indexOf(text);
    if (x >= 0) return buffer.getLine(y).getCell(x).getFgColor();
  }
  return null;
}, text);
const press = async (...keys) => { for (const key of keys) await page.keyboard.press(key); };
const pause = ms => new Promise(resolve => setTimeout(resolve, ms));

function check(what, actual, expected) {
  const ok = JSON.stringify(actual) === JSON.stringify(expected);
  if (!ok) failures++;
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}${ok ? '' : `: ${JSON.stringify(actual)}, not ${JSON.stringify(expected)}`}`);
}

// The times at which the game hands frames to the widget, from now on.
const recordFrames = () => page.evaluate(() => {
  window.frameTimes = [];
  const show = Module.vorlixShow;
  Module.vorlixShow = bytes => { window.frameTimes.push(performance.now()); show(bytes); };
});
async function pace(ms) {
  await page.evaluate(() => { window.frameTimes = []; });
  await pause(ms);
  const times = await page.evaluate(() => window.frameTimes);
  const gaps = times.slice(1).map((t, i) => t - times[i]).sort((a, b) => a - b);
  return `${gaps[gaps.length >> 1].toFixed(1)} ms median, ${
    ((times.at(-1) - times[0]) / gaps.length).toFixed(1)} ms mean over ${gaps.length} ticks`;
}
// The page's script time over `ms`, and how often the game looked at the keys meanwhile.
async function scriptTimeWhile(ms) {
  const session = await page.createCDPSession();
  await session.send('Performance.enable');
  const scriptTime = async () => (await session.send('Performance.getMetrics')).metrics
    .find(metric => metric.name === 'ScriptDuration').value * 1000;
  await page.evaluate(() => {
    window.looks = 0;
    const take = Module.vorlixTakeTyped;
    Module.vorlixTakeTyped = (...args) => { window.looks++; return take(...args); };
  });
  const before = await scriptTime();
  await pause(ms);
  const spent = await scriptTime() - before;
  return `${spent.toFixed(1)} ms in ${ms / 1000} s, the game woken ${
    await page.evaluate(() => window.looks)} times`;
}
async function visit() {
  await page.goto(address);
  return `${(await waitFor('Play(P)')).toFixed(0)} ms`;
}

// ---- The play-through ---------------------------------------------------------------------------

// Each step: what it shows, the keys it presses, then the text it waits for and the checks.
const steps = [
  ['first visit: the menu', async () => {
    browser = await launch();
    page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 800 });
    figures['start to the menu, first visit'] = await visit();
    check('no saved game', (await screen()).some(row => row.includes('Continue(C)')), false);
    check('the welcome line in Green', await colourOf('Welcome to Vorlix'), 2);
    check('Quit(Esc) in DarkGrey', await colourOf('Quit(Esc)'), 8);
    check('the credits in LightMagenta', await colourOf('Programmed by'), 13);
    check('the widget has the keys', await page.evaluate(
      () => document.activeElement.classList.contains('xterm-helper-textarea')), true);
    await pause(1000);  // the widget's first drawing done
    figures['script time while the menu waits'] = await scriptTimeWhile(3000);
  }],
  ['Alt and a key together give no key', async () => {
    const before = await screen();
    await page.keyboard.down('Alt');
    await press('p');
    await page.keyboard.up('Alt');
    await pause(300);
    check('Alt+P leaves the menu as it was', await screen(), before);
  }],
  ['the help', async () => {
    await press('h');
    await waitFor('this text');
    check('the help in LightCyan', await colourOf('FILES'), 14);
    await press('Space');
    await waitFor('Play(P)');
  }],
  ['a game: the pace, a save and a new best', async () => {
    await recordFrames();
    await press('p');
    await waitFor('Your score:');
    await press('Space');  // the game starts at a key
    figures['tick pace at delay_ms 100'] = await pace(2000);
    await press(...Array(9).fill('a'));
    await waitFor('Delay:   10 ms');
    figures['tick pace at delay_ms 10'] = await pace(1000);
    await press(...Array(9).fill('d'), 'u', 'u', 'u');
    await waitFor('Delay:  100 ms');
    if (picture) await page.screenshot({ path: picture });
    await press('s');
    await waitFor('Save the game and continue?');
    await press('y');
    await gone('Save the game and continue?');
    await press('Escape');
    await waitFor('GAME OVER !');
    check('the new best in LightGreen', await colourOf('New High Score'), 10);
    await press('Space');
    await waitFor('Continue(C)');
  }],
  ['a reload: the best score and the saved game are kept', async () => {
    figures['start to the menu, repeat visit'] = await visit();
    await press('c');
    await waitFor('High score:');
    await press('Space');
    const rows = await screen();
    const number = label => Number(rows.find(row => row.includes(label)).split(label)[1]);
    const [score, best] = [number('Your score:'), number('High score:')];
    check('the saved game goes on, the best score kept', [score >= 3, best >= score], [true, true]);
    await press('Escape');
    await waitFor('GAME OVER !');
    await press('Space');
    await waitFor('Play(P)');
  }],
  ['a browser restart: the files are still there', async () => {
    await browser.close();
    browser = await launch();
    page = await browser.newPage();
    await visit();
    check('the saved game is offered', (await screen()).some(row => row.includes('Continue(C)')), true);
  }],
  ['a browser that refuses storage: the game cannot write', async () => {
    const kept = page;
    page = await browser.newPage();
    await page.evaluateOnNewDocument(() => {
      indexedDB.open = () => { throw new DOMException('refused', 'SecurityError'); };
    });
    await visit();
    check('no saved game seen', (await screen()).some(row => row.includes('Continue(C)')), false);
    await press('p');
    await waitFor('Your score:');
    await press('Space', 's');
    await waitFor('Save the game and continue?');
    await press('y');
    await waitFor('Cannot write the file "save.dat" !');
    await page.close();
    page = kept;
  }],
  ['the farewell, and the page says the game has ended', async () => {
    await press('Escape');
    await waitFor('Thanks for your playing!');
    check('the farewell in LightBlue', await colourOf('Thanks for your playing!'), 12);
    await page.waitForSelector('#ended', { visible: true, timeout: 5000 });
    check('a way to play again', await page.$eval('#again', button => button.textContent), 'Play again');
  }],
];

const started = Date.now();
try {
  for (const [name, step] of steps) {
    console.log(`-- ${name}`);
    await step();
  }
} catch (error) {
  failures++;
  console.log(`FAIL ${error.stack}`);
  if (page) console.log((await screen().catch(() => [])).join('\n'));
} finally {
  await browser?.close();
  server.close();
  fs.rmSync(profile, { recursive: true, force: true });
}

for (const file of ['vorlix.wasm', 'vorlix.js', 'xterm.js']) {
  figures[`size of ${file}`] = `${fs.statSync(path.join(site, file)).size} bytes`;
}
console.log(`\nFigures of the browser edition (play-through: ${((Date.now() - started) / 1000).toFixed(1)} s)`);
for (const [what, value] of Object.entries(figures)) console.log(`  ${what.padEnd(36)} ${value}`);
console.log(failures === 0 ? '\nThe browser play-through passed.' : `\n${failures} failure(s).`);
process.exit(failures === 0 ? 0 : 1);
