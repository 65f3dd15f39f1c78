'use strict';
// The browser tests' harness: a demo-like site served by lighttpd (laid out by
// the same scripts/lib/site-layout as the demo), Chromium driven by
// playwright-core, and helpers for the suite's frames. A page opened with
// openPage() fails its test on any page error, console error or dialog that
// the test did not announce with expectDialog().

const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const { spawn, execFileSync } = require('node:child_process');
const { chromium } = require('playwright-core');

const TOP = path.resolve(__dirname, '..', '..');
const BUILD_DIR = path.resolve(process.env.WBBS_BUILD_DIR || path.join(TOP, 'build', 'release'));
const ARTIFACTS = process.env.WBBS_BROWSER_ARTIFACTS || path.join(BUILD_DIR, 'browser-artifacts');
const DEMO_DESCRIPTION = path.join(TOP, 'scripts', 'demo-site.txt');
const SITE_ID = 'T1';
const STEP_TIMEOUT = 15000;

const CHROMIUM_ARGS = [
  '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.unref();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function waitForServer(url, server) {
  const deadline = Date.now() + 10000;
  for (;;) {
    if (server.exitCode !== null) throw new Error(`lighttpd exited with ${server.exitCode}`);
    try {
      await fetch(url);
      return;
    } catch (error) {
      if (Date.now() > deadline) throw new Error(`${url} does not answer: ${error.message}`);
      await new Promise((r) => setTimeout(r, 100));
    }
  }
}

// The users of a description ("user ID password=PW name=..."), by id.
function readUsers(description) {
  const users = {};
  for (const line of fs.readFileSync(description, 'utf8').split('\n')) {
    const m = line.replace(/#.*/, '').match(/^\s*user\s+(\S+)(.*)$/);
    if (!m) continue;
    const password = (m[2].match(/\bpassword=(\S+)/) || [])[1] || '';
    const name = (m[2].match(/\bname=(?:"([^"]*)"|(\S+))/) || []).slice(1).find(Boolean) || m[1];
    users[m[1]] = { id: m[1], password, name };
  }
  return users;
}

// Lays out a fresh site under the build directory and serves it on a free port.
//   name         the site's directory under build/.../browser-sites/
//   description  an installation description (default: the demo's)
//   messages     false: no demo messages
async function startSite({ name = 'site', description = DEMO_DESCRIPTION, messages = true } = {}) {
  const dir = path.join(BUILD_DIR, 'browser-sites', name);
  const port = await freePort();
  const args = [dir, '--build-dir', BUILD_DIR, '--port', String(port), '--fresh',
    '--description', description, '--site-id', SITE_ID];
  if (!messages) args.push('--no-messages');
  execFileSync(path.join(TOP, 'scripts', 'lib', 'site-layout'), args, { stdio: ['ignore', 'ignore', 'inherit'] });
  const server = spawn('/usr/sbin/lighttpd', ['-D', '-f', path.join(dir, 'lighttpd.conf')],
    { stdio: ['ignore', 'inherit', 'inherit'] });
  // A test process that ends in any ordinary way takes its server with it.
  process.on('exit', () => server.kill('SIGTERM'));
  const url = `http://127.0.0.1:${port}/`;
  await waitForServer(url, server);
  return {
    url, port, dir, www: path.join(dir, 'www'), data: path.join(dir, 'data'),
    siteId: SITE_ID, users: readUsers(description), server,
  };
}

async function stopSite(site) {
  if (!site || site.server.exitCode !== null) return;
  const exited = new Promise((resolve) => site.server.once('exit', resolve));
  site.server.kill('SIGTERM');
  await exited;
}

function launchBrowser() {
  return chromium.launch({
    executablePath: process.env.WBBS_CHROMIUM || '/usr/bin/chromium',
    args: CHROMIUM_ARGS,
  });
}

// A page whose problems fail the test: page errors, console errors, dialogs
// nobody announced. check() throws them; expectDialog() takes one dialog.
async function openPage(browser, options = {}) {
  const context = await browser.newContext({ viewport: { width: 1100, height: 800 }, acceptDownloads: true, ...options });
  const page = await context.newPage();
  page.setDefaultTimeout(STEP_TIMEOUT);
  const problems = [];
  let expected = null;
  const watch = (p) => {
    p.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
    p.on('console', (message) => {
      // The browser's own request for a site icon is not the board's.
      if (message.type() === 'error' && !/favicon\.ico/.test(message.location().url)) problems.push(`console error: ${message.text()} (${message.location().url})`);
    });
    p.on('dialog', async (dialog) => {
      if (expected && expected.type === dialog.type()) {
        const take = expected;
        expected = null;
        take.seen(dialog.message());
        await (take.accept ? dialog.accept() : dialog.dismiss());
      } else {
        problems.push(`unexpected ${dialog.type()} dialog: ${dialog.message()}`);
        await dialog.dismiss();
      }
    });
  };
  watch(page);
  context.on('page', watch);
  page.problems = problems;
  page.check = () => {
    if (problems.length) throw new Error(problems.join('\n'));
  };
  // Runs action, which must open exactly one dialog of this type; resolves to its text.
  page.expectDialog = async (type, action, { accept = true } = {}) => {
    let seen;
    const shown = new Promise((resolve) => { seen = resolve; });
    expected = { type, accept, seen };
    await action();
    const text = await Promise.race([shown, new Promise((_, reject) =>
      setTimeout(() => reject(new Error(`no ${type} dialog`)), STEP_TIMEOUT))]);
    return text;
  };
  return page;
}

// Polls until fn() returns a truthy value.
async function until(fn, what, timeout = STEP_TIMEOUT) {
  const deadline = Date.now() + timeout;
  for (;;) {
    const value = await fn();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// The frame of that name once its document has loaded.
async function frame(page, name) {
  const found = await until(() => {
    const f = page.frame({ name });
    return f && !f.isDetached() ? f : null;
  }, `frame ${name}`);
  await found.waitForLoadState('load');
  return found;
}

// Runs action and waits until the named frame has loaded a new document
// (frames inside it included).
async function reloads(page, name, action) {
  const before = page.frame({ name });
  const navigated = before ? before.waitForNavigation({ waitUntil: 'load' }) : Promise.resolve();
  navigated.catch(() => {}); // a failed action is the error to report
  await action();
  await navigated;
  return frame(page, name);
}

function contentFrameName(site) { return `FRM22${site.siteId}`; }

// The suite's main window after logging in through its login page.
async function login(page, site, user) {
  await page.goto(site.url);
  await page.fill('input[name=uid]', user.id);
  await page.fill('input[name=upw]', user.password);
  await Promise.all([
    page.waitForNavigation({ waitUntil: 'load' }),
    page.locator('input[type=submit]').first().click(),
  ]);
  await frame(page, contentFrameName(site));
  return treeFrame(page, site);
}

// The main window's frame with the folder tree and the links beside it.
function treeFrame(page, site) {
  return frame(page, `TREE${site.siteId}`);
}

// Opens folder folderNo by its link in the tree; resolves to its frames.
async function openFolder(page, site, folderNo, options = {}) {
  const tree = await treeFrame(page, site);
  await reloads(page, contentFrameName(site), () => tree.locator(`#folder${folderNo}`).click());
  return folderFrames(page, folderNo, options);
}

// Follows one of the tree's links (#unread_all, #search_all, #prefs) into the content frame.
async function openFromTree(page, site, id) {
  const tree = await treeFrame(page, site);
  return reloads(page, contentFrameName(site), () => tree.locator(`#${id}`).click());
}

// The board's frames of folder n: header, list and (three-frame layout) detail.
async function folderFrames(page, folderNo, { twoFrames = false } = {}) {
  const frames = {
    header: await frame(page, `FRM221SEL${folderNo}`),
    list: await frame(page, `FRM222SEL${folderNo}`),
  };
  if (!twoFrames) frames.detail = await frame(page, `FRM223SEL${folderNo}`);
  return frames;
}

// The submit button of the form whose hidden JOB is job, inside a frame. The
// board opens forms between table rows, where the parser closes the form
// element at once: the button belongs to its form without being inside it.
async function jobButton(where, job) {
  const buttons = where.locator('input[type=submit]');
  const index = await buttons.evaluateAll((elements, wanted) => elements.findIndex((element) => {
    const field = element.form && element.form.elements.namedItem('JOB');
    return field && field.value === wanted;
  }), job);
  if (index < 0) throw new Error(`no button of a ${job} form in ${where.url()}`);
  return buttons.nth(index);
}

async function clickJob(where, job) {
  await (await jobButton(where, job)).click();
}

async function screenshot(page, name) {
  fs.mkdirSync(ARTIFACTS, { recursive: true });
  const file = path.join(ARTIFACTS, `${name}.png`);
  await page.screenshot({ path: file });
  return file;
}

// One entry of the board's message file, as the tests compare texts in both languages.
function boardMessage(language, number) {
  const file = language === 'Japanese' ? 'japanese.utf8.lng' : 'english.lng';
  const key = String(number).padStart(3, '0');
  const line = fs.readFileSync(path.join(TOP, 'messages', file), 'utf8').split('\n')
    .find((l) => l.startsWith(`${key} `));
  if (line === undefined) throw new Error(`message ${key} not in ${file}`);
  return line.slice(4);
}

module.exports = {
  TOP, BUILD_DIR, ARTIFACTS, SITE_ID,
  startSite, stopSite, launchBrowser, openPage, until, frame, reloads,
  contentFrameName, folderFrames, login, treeFrame, openFolder, openFromTree, jobButton, clickJob, screenshot, boardMessage, readUsers,
};
