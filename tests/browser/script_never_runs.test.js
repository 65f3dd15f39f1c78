'use strict';
// No script of a hostile corpus runs in any page. Every payload of
// hostile-corpus.js goes into the values that users and folder administrators
// set, through the requests the board's forms send (wbbs-admin for the names
// of folders, users and groups), and every page that shows them is loaded in
// Chromium. After each load every frame is read: the payloads' globals and
// messages, dialogs and page errors (the script ran), the sinks a click or a
// hover would fire (handlers, javascript: and data: addresses, frames and
// elements that a value made), and the page's own last control (a value that
// broke the page takes it away). Each page also has to show payloads: a page
// that lost them would pass for nothing.
const { describe, it, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { BUILD_DIR, startSite, stopSite, launchBrowser } = require('./site');
const { PAYLOADS, SHORT, links, JUMPS, asFileName } = require('./hostile-corpus');

const K = PAYLOADS.length;
const P = (k) => PAYLOADS[(k - 1) % K].text; // k counts from 1 and wraps
const MAIN = 1;
const OTHER = 2; // each payload alone as a body once more: plain text, or HTML where MAIN has it plain
const folderOf = (k) => 10 + k; // payload k names folder 10 + k
const CORPUS = [1, 2, 3]; // the whole corpus as one body in text mode 0, 1, 2
const messageOf = (k) => 3 + k; // title k; threads of four, the first the root
const isRoot = (k) => (k - 1) % 4 === 0;
const SLOTS = 36; // the three corpus messages carry every payload as an attachment name
const SAMPLE = 9; // every ninth payload folder gets settings and a message
const SETTLE_MS = 40; // handlers that fire after the load (autofocus, ontoggle)
const GIF = Buffer.from('R0lGODlhAQABAIAAAP///wAAACH5BAEAAAAALAAAAAABAAEAAAICRAEAOw==', 'base64');
const HTML_AS_GIF = Buffer.from('<html><body><script>top.xss0=1</script><img src=x onerror=alert(/xss0/)>');
const latin1 = (s) => Buffer.from(s, 'latin1');
// The last control each kind of page prints.
const ENDS = { list: 'select[name=AC_MODE]', unread: 'input[name=NRFLG]', detail: 'input[name=JOB][value=BWRITE_RES]',
  compose: 'input[name=SUB]', settings: 'input[name=FRAMESET3]', access: 'a#back', tree: 'a#logoff' };
// A NUL ends a value at the CGI layer: payloads that hold one go last in a text.
const joined = (list) => list.map((p) => p.text).join('\r\n');
const CLEAN = PAYLOADS.filter((p) => !p.text.includes('\0'));
const corpusText = (head = '') => `${head}${joined(CLEAN)}\r\n${joined(PAYLOADS.filter((p) => !CLEAN.includes(p)))}`;
// The payloads whose marker reaches the store.
const DELIVERED = PAYLOADS.filter((p) => /xss\d+/.test(p.text.split('\0')[0])).map((p) => String(p.id));

function description() {
  const lines = ['group 1 name=Staff',
    'user victim password=victim name=Victim level=10 group=1',
    'user mallory password=mallory name=Mallory level=10 group=1',
    'user trent password=trent name=Trent level=10 group=1',
    'user desk password=desk name=Desk level=10 mode=2',
    'user kiosk password=kiosk name=Kiosk level=10 mode=2',
    `folder ${MAIN} name=Main class=0 access=1 write=2`, `folder ${OTHER} name=Other class=0 access=1 write=2`];
  for (const folder of [MAIN, OTHER]) lines.push(`grant ${folder} user victim 8`, `grant ${folder} user mallory 8`);
  for (let k = 1; k <= K; k++) {
    lines.push(`user u${k} password=u${k} name=U${k} level=10`, `group ${k + 1} name=G${k}`,
      `grant ${MAIN} user u${k} 2`, `grant ${MAIN} group ${k + 1} 2`,
      `folder ${folderOf(k)} name=F${k} class=1 access=1 write=2`,
      `grant ${folderOf(k)} user victim 8`, `grant ${folderOf(k)} user mallory 8`);
  }
  return `${lines.join('\n')}\n`;
}

// Runs wbbs-admin once for each argument list (byte strings) in one shell,
// the arguments written as bash $'...' words so that every byte arrives.
function admin(site, commands) {
  const word = (a) => `$'${[...latin1(String(a))].map((b) => (b > 0x20 && b < 0x7F && b !== 0x5C && b !== 0x27
    ? String.fromCharCode(b) : `\\x${b.toString(16).padStart(2, '0')}`)).join('')}'`;
  const script = commands.map((args) => `"$0" -C "$1" ${args.map(word).join(' ')}`).join('\n');
  execFileSync('bash', ['-e', '-c', script, site.admin, site.www], { stdio: ['ignore', 'ignore', 'pipe'] });
}

function multipart(fields) {
  const boundary = '----hostileCorpusBoundary7MA4YWxk';
  const parts = [];
  for (const [name, value] of fields) {
    if (value && value.filename !== undefined) {
      parts.push(latin1(`--${boundary}\r\nContent-Disposition: form-data; name="${name}"; filename="${value.filename}"\r\n`
        + 'Content-Type: application/octet-stream\r\n\r\n'), value.content || GIF, latin1('\r\n'));
    } else {
      parts.push(latin1(`--${boundary}\r\nContent-Disposition: form-data; name="${name}"\r\n\r\n${value}\r\n`));
    }
  }
  parts.push(latin1(`--${boundary}--\r\n`));
  return { body: Buffer.concat(parts), type: `multipart/form-data; boundary=${boundary}` };
}

// One form post as a browser sends it, logging user in by password; fails on
// an error page, after a few tries when the board was busy.
async function send(site, user, fields) {
  const { body, type } = multipart([['uid', user], ['upw', user], ...fields]);
  for (let tries = 1; ; tries++) {
    const response = await fetch(`${site.url}wbbs.cgi`, { method: 'POST', headers: { 'content-type': type }, body });
    const page = latin1(await response.arrayBuffer()).toString('latin1');
    if (response.ok && !/<FONT COLOR="RED">/.test(page)) return;
    const text = page.replace(/<[^>]*>/g, ' ').replace(/\s+/g, ' ').trim();
    if (!/another user/.test(text) || tries === 3) throw new Error(`${fields[0][1]} as ${user} failed: ${text.slice(0, 200)}`);
    await new Promise((r) => setTimeout(r, 300));
  }
}

function post(site, user, folder, { parent = 0, title, writer = '', body = '', mode = 0, limit = '', files = [] }) {
  return send(site, user, [['JOB', parent ? 'BWRITE_RESWR' : 'BWRITE_NEWWR'], ['FOLDER_NO', folder], ['SEL_NO', parent],
    ['WRITE_TITLE', title], ['WRITER_NAME', writer], ['WRITE_DATA', body], ['HTML_MODE', mode],
    ['WRITE_PRIORITY', 0], ['CONFIRM', 1], ['TIME_LIMIT_DATE', limit], ...files.map((f) => ['ATFILE', f])]);
}

// The settings form as the folder's administrator sends it.
function saveSettings(site, folder, s) {
  const numbers = { ATTACH_MAX: s.slots, REWRITE_FLG: 2, RES_PERMIT_FLG: 0, TIME_LIMIT_FLG: 1, DATETIME: 0,
    WRITER_ID: 0, HTML_MODE: 0, CONFIRM: 1, LINE_RES: 1, NICK_NAME: 1 };
  const short = ['FONTCOLOR1', 'FONTCOLOR2', 'RESFONTCOLOR2', 'FONTCOLOR3', 'RESFONTCOLOR3', 'FRAMESET1', 'FRAMESET2', 'FRAMESET3'];
  const pictures = ['TITLEPIC', 'BACKPIC1', 'BACKPIC2', 'BACKPIC3', 'PIC_FILENAME'];
  return send(site, 'mallory', [['JOB', 'SET_CONFIGWR'], ['FOLDER_NO', folder], ['NAME', s.name], ['INFO', s.info],
    ['DEFO', s.defo], ['RES_HEADER', s.header], ['LINK_TARGET', s.target], ...Object.entries(numbers),
    ...short.map((key, i) => [key, SHORT[(s.rotate + i) % SHORT.length]]),
    ...pictures.map((key, i) => [key, { filename: `${asFileName(P(s.pictures + i))}.gif` }])]);
}

async function seed(site) {
  const help = execFileSync(site.admin, ['--help'], { encoding: 'utf8' });
  site.adminNames = /folder set/.test(help) && /user set/.test(help) && /group rename/.test(help);
  if (site.adminNames) {
    // The tool refuses a comma or a control character in a name (the store
    // could not keep it); "--name=" and "--" because a name may start with "--".
    const name = (k) => P(k).replace(/[,\x00-\x1F\x7F]/g, ' ');
    const commands = [['user', 'set', 'victim', `--name=${name(K)}`]];
    for (let k = 1; k <= K; k++) {
      commands.push(['user', 'set', `u${k}`, `--name=${name(k)}`], ['group', 'rename', '--', k + 1, name(k)],
        ['folder', 'set', folderOf(k), `--name=${name(k)}`]);
    }
    admin(site, commands);
    if (process.getuid() === 0) { // the server's user must own what the tool wrote
      const { uid, gid } = fs.statSync(path.join(site.data, 'user'));
      execFileSync('chown', ['-R', `${uid}:${gid}`, site.data]);
    }
  }
  // Settings first: a save rewrites the folder tree, which every request reads.
  // The texts hold 4000 bytes: the information text the corpus' head, the default text its tail.
  await saveSettings(site, MAIN, { name: P(1), info: corpusText(), defo: corpusText().slice(-4000),
    header: P(2), target: P(3), slots: SLOTS, rotate: 0, pictures: 4 });
  await saveSettings(site, OTHER, { name: P(9), info: P(10), defo: P(11), header: P(12), target: P(13), slots: 0,
    rotate: 2, pictures: 14 });
  for (let k = 1; k <= K; k += SAMPLE) {
    await saveSettings(site, folderOf(k), { name: P(k), info: `${P(k)}\r\n${P(k + 3)}`, defo: P(k + 4), header: P(k + 1),
      target: P(k + 2), slots: 1, rotate: k, pictures: k });
  }
  // Two streams at once, by different users into different folders (no file in common).
  await Promise.all([(async () => {
    const linkLines = links(site.url).map((l) => l.text);
    for (const mode of [0, 1, 2]) {
      const files = PAYLOADS.slice(mode * SLOTS, (mode + 1) * SLOTS).map((p) => ({ filename: `${asFileName(p.text)}.txt` }));
      // Links and quoted lines first: markup the corpus leaves open (a SELECT, an SVG) takes in what follows.
      const head = mode === 0 ? `${linkLines.concat(CLEAN.map((p) => `>${p.text}`)).join('\r\n')}\r\n` : '';
      await post(site, 'mallory', MAIN, { title: `Corpus, text mode ${mode}`, writer: 'Corpus', mode, files, body: corpusText(head) });
    }
    for (let k = 1; k <= K; k++) {
      const root = messageOf(k - ((k - 1) % 4));
      const parent = isRoot(k) ? 0 : (k - 1) % 4 === 2 ? messageOf(k - 1) : root;
      // Roots are mallory's (an edit form shows them); a shared account answers, naming itself.
      await post(site, isRoot(k) ? 'mallory' : 'desk', MAIN, { parent, title: P(k), writer: P(k + 1), body: P(k),
        mode: k % 3, limit: `2030/01/01${SHORT[k % SHORT.length]}` });
    }
    // One-line replies of 250 bytes carry the corpus under the names of payload users.
    for (let k = 1, n = 1; k <= K; n++) {
      let reply = P(k++);
      while (k <= K && reply.length + P(k).length < 250) reply += P(k++);
      await send(site, `u${n}`, [['JOB', 'LINE_RESWR'], ['FOLDER_NO', MAIN], ['SEL_NO', CORPUS[2]], ['LINE_RES', reply]]);
      await send(site, `u${n + 50}`, [['JOB', 'CONFIRMWR'], ['FOLDER_NO', MAIN], ['SEL_NO', CORPUS[2]]]);
    }
  })(), (async () => {
    // Modes 1 and 2 print the same sanitized text (1 inside PRE); mode 0 makes links and line breaks first.
    for (let k = 1; k <= K; k++) {
      await post(site, 'kiosk', OTHER, { title: P(k), writer: P(k + 2), body: `${P(k)}\r\n>${P(k)}`, mode: k % 3 === 0 ? 2 : 0 });
    }
    for (let k = 1; k <= K; k += SAMPLE) {
      await post(site, 'trent', folderOf(k), { title: P(k + 5), writer: P(k + 6), mode: 0,
        body: `>${P(k)}\r\n${links(site.url)[k % 5].text} ${P(k + 7)}`, files: [{ filename: 'picture.gif', content: HTML_AS_GIF }] });
    }
  })()]);
}

// In every frame: what ran, what a click would run, which payloads the page
// shows, and whether the page's own last control (ends) is still there.
function inspectFrame(ends) {
  const ran = Object.keys(window).filter((k) => /^xss\d+$/.test(k)).concat(window.xssPosted || []);
  const sinks = [];
  const marked = /xss\d/;
  const address = /^(href|src|action|formaction|data|xlink:href|background|poster|srcdoc)$/i;
  const script = /^(javascript|data|vbscript):/i;
  for (const element of document.querySelectorAll('*')) {
    const tag = element.localName;
    if (tag.startsWith('xss') || ['svg', 'math', 'iframe', 'object', 'embed', 'base', 'template', 'noscript'].includes(tag)) {
      sinks.push(`<${tag}> ${element.outerHTML.slice(0, 100)}`);
    }
    if (tag === 'script' && marked.test(element.textContent + element.src)) sinks.push(`<script> ${element.outerHTML.slice(0, 100)}`);
    for (const { name, value } of element.attributes) {
      if (!marked.test(value)) continue;
      const url = value.replace(/[\t\n\r]/g, '').replace(/^[\0- ]+/, '');
      if (/^on/i.test(name) || name === 'style' || (address.test(name) && script.test(url))
        || (tag === 'meta' && /url\s*=\s*['"]?\s*(javascript|data|vbscript):/i.test(url))) {
        sinks.push(`<${tag} ${name}="${value.slice(0, 100)}">`);
      }
    }
  }
  return { ran, sinks, ended: !ends || document.querySelector(ends) !== null,
    shown: [...document.documentElement.outerHTML.matchAll(/xss(\d+)/g)].map((m) => m[1]) };
}

describe('no payload of a hostile corpus runs script in any page', () => {
  let site;
  let browser;
  let victims; // two pages of one session: reads everything, administers every folder
  let mallorys; // the same for mallory, who opens her own messages for editing
  let faults;
  let seen;

  // A page that records page errors, console errors and every dialog (dismissed).
  async function watchedPage(context) {
    const page = await context.newPage();
    page.problems = [];
    page.on('pageerror', (error) => page.problems.push(`page error: ${error.message}`));
    page.on('console', (m) => { if (m.type() === 'error') page.problems.push(`console error: ${m.text()}`); });
    page.on('dialog', (dialog) => { page.problems.push(`${dialog.type()} dialog: ${dialog.message()}`); dialog.dismiss().catch(() => {}); });
    return page;
  }

  // Logs user in through the suite's login page; resolves to two pages of the session.
  async function login(user) {
    const context = await browser.newContext();
    await context.addInitScript(() => {
      window.addEventListener('message', (e) => { if (/^xss\d+$/.test(e.data)) (window.xssPosted ||= []).push(e.data); });
    });
    const pages = [await watchedPage(context), await watchedPage(context)];
    context.on('page', (popup) => faults.push(`a window opened: ${popup.url()}`));
    await pages[0].goto(site.url);
    await pages[0].fill('input[name=uid]', user);
    await pages[0].fill('input[name=upw]', user);
    await pages[0].locator('input[type=submit]').first().click();
    await pages[0].waitForURL(/JOB=MAIN/, { waitUntil: 'load' }); // the login answers with a refresh to the main window
    const keys = new URL(pages[0].url()).searchParams;
    for (const page of pages) Object.assign(page, { user, keys: [keys.get('SKEY1'), keys.get('SKEY2')] });
    return pages;
  }

  // Loads url in page (null: inspects what is loaded) and records every fault;
  // the page has to show at least `shows` distinct payloads and, when given,
  // the control `ends` that the page prints last.
  async function visit(page, label, url, { shows = 1, ends = '' } = {}) {
    page.problems.length = 0;
    if (url) await page.goto(url, { waitUntil: 'load' });
    await page.waitForTimeout(SETTLE_MS);
    const shown = new Set();
    let ended = false;
    for (const frame of page.frames()) {
      if (/^(javascript|data):|^about:srcdoc/.test(frame.url())) faults.push(`${label}: a frame shows ${frame.url().slice(0, 80)}`);
      let found;
      for (let tries = 0; !found && tries < 3; tries++) {
        // A jump page leaves by its refresh while it is read.
        found = await frame.evaluate(inspectFrame, ends).catch(() => frame.waitForLoadState('load').catch(() => {}));
      }
      if (!found) continue;
      for (const id of found.ran) faults.push(`${label}: payload ${id} ran`);
      for (const sink of found.sinks) faults.push(`${label}: ${sink}`);
      for (const id of found.shown) { shown.add(id); seen.add(id); }
      ended ||= found.ended;
    }
    if (!ended) faults.push(`${label}: the page's ${ends} is missing`);
    // Resources the payloads ask for (src=x) are missing, which is no fault.
    for (const problem of page.problems) if (!/Failed to load resource/.test(problem)) faults.push(`${label}: ${problem}`);
    if (shown.size < shows) faults.push(`${label}: ${shown.size} payloads shown, ${shows} expected`);
  }

  // A form sent to program with exactly these bytes (an address cannot carry
  // a control character: the server refuses it), its answer loaded as a page.
  async function submit(page, program, fields, label, expect) {
    const { body, type } = multipart([['uid', page.user], ['SKEY1', page.keys[0]], ['SKEY2', page.keys[1]], ...fields]);
    const url = `${site.url}${program}`;
    await page.route(url, (route) => route.continue({ method: 'POST', postData: body,
      headers: { ...route.request().headers(), 'content-type': type } }), { times: 1 });
    await visit(page, label, url, expect);
  }

  // Runs fn(page, item) for every item, on all the pages at once.
  async function across(pages, items, fn) {
    let next = 0;
    await Promise.all(pages.map(async (page) => { while (next < items.length) await fn(page, items[next++]); }));
  }
  const range = (from, to, step = 1) => Array.from({ length: Math.ceil((to - from + 1) / step) }, (_, i) => from + i * step);

  const board = (page, query) => `${site.url}wbbs.cgi?uid=${page.user}&SKEY1=${page.keys[0]}&SKEY2=${page.keys[1]}&${query}`;
  const suite = (page, query) => board(page, query).replace('wbbs.cgi', 'orva.cgi');
  const preferences = (frames, compose, view) => submit(victims[0], 'orva.cgi', [['JOB', 'PREFSWR'], ['LANGUAGE', ''],
    ['BBS_FRAME_MODE', frames], ['WRITE_MODE', compose], ['USER_DISP_DEF', 1], ['UNREAD_LISTMODE', view]], 'preferences', { shows: 0 });
  const start = () => { faults = []; seen = new Set(); };
  const noFaults = () => assert.deepEqual(faults, []);
  // Every delivered payload was shown by one of the pages since `seen` was cleared.
  const allShown = (what) => assert.deepEqual(DELIVERED.filter((id) => !seen.has(id)), [], `${what} not shown`);

  before(async () => {
    const built = execFileSync('find', [BUILD_DIR, '-path', '*/browser-sites', '-prune', '-o', '-name', 'wbbs-admin', '-type', 'f', '-print'],
      { encoding: 'utf8' }).split('\n')[0];
    const file = path.join(BUILD_DIR, 'browser-sites', 'hostile-site.txt');
    fs.mkdirSync(path.dirname(file), { recursive: true });
    fs.writeFileSync(file, description());
    site = await startSite({ name: 'hostile', description: file, messages: false });
    site.admin = built;
    await seed(site);
    browser = await launchBrowser();
    start();
    victims = await login('victim');
    mallorys = await login('mallory');
  });
  after(async () => {
    if (browser) await browser.close();
    await stopSite(site);
  });

  it('orva.cgi: the main window with the folder tree, folder access, preferences and login', async (t) => {
    start();
    const [victim] = victims;
    if (!site.adminNames) t.diagnostic('wbbs-admin cannot set names yet: folder, user and group names are plain');
    await visit(victim, 'main window', null, { shows: K / 2, ends: ENDS.tree });
    await visit(victim, 'folder access', suite(victim, `JOB=FOLDER_ACCESS&FOLDER_NO=${MAIN}`), { shows: K / 2, ends: ENDS.access });
    if (site.adminNames) allShown('folder, user and group names');
    await submit(victim, 'orva.cgi', [['JOB', 'FOLDER_ACCESSWR'], ['FOLDER_NO', MAIN], ['ACL_KIND', 'U'], ['ACL_ID', P(1)],
      ['ACL_PERMIT', 2]], 'grant to no such user', { shows: 0 });
    await submit(victim, 'orva.cgi', [['JOB', 'PREFSWR'], ['LANGUAGE', P(3)], ['BBS_FRAME_MODE', 0], ['WRITE_MODE', 1],
      ['USER_DISP_DEF', 1], ['UNREAD_LISTMODE', 0]], 'no such language', { shows: 0 });
    for (const uid of [...SHORT, '"><svg onload=xss9()>']) {
      await submit(victim, 'orva.cgi', [['JOB', 'LOGIN'], ['uid', uid], ['upw', 'x']], `login as ${JSON.stringify(uid)}`, { shows: 0 });
    }
    noFaults();
  });

  it('the unread list of one folder and of all folders, as a table and as messages', async () => {
    start();
    const unread = { shows: DELIVERED.length, ends: ENDS.unread };
    for (const view of [1, 0]) {
      await preferences(0, 1, view);
      for (const folder of [MAIN, OTHER]) {
        seen = new Set();
        await visit(victims[0], `unread list of folder ${folder}, view ${view}`, board(victims[0], `JOB=NRDETAILS&FOLDER_NO=${folder}`), unread);
        allShown(`titles and writers in the unread list of folder ${folder}, view ${view}`);
      }
      await visit(victims[0], `unread list of all folders, view ${view}`, board(victims[0], `JOB=NRDETAILSALL&FOLDER_NO=${MAIN}`), unread);
    }
    noFaults();
  });

  it('the folder frameset and the list frame in its five orders', async () => {
    start();
    const [victim] = victims;
    await visit(victim, 'frameset', board(victim, `JOB=ROOM&FOLDER_NO=${MAIN}`));
    await visit(victim, 'frameset with a message', board(victim, `JOB=NRROOM&FOLDER_NO=${MAIN}&SEL_NO=${CORPUS[2]}`),
      { shows: K / 2, ends: ENDS.detail });
    const pages = [[1, K + 3], [2, K / 4 + 3], [3, K / 4 + 3], [4, K + 3], [5, K + 3]]
      .flatMap(([mode, count]) => range(1, Math.ceil(count / 20)).map((page) => [mode, page]));
    await across(victims, pages, (page, [mode, n]) => visit(page, `list, order ${mode}, page ${n}`,
      board(page, `JOB=FRM222&FOLDER_NO=${MAIN}&AC_MODE=${mode}&PPage=${n}`), { shows: 5, ends: ENDS.list }));
    allShown('titles and writers in the list');
    await preferences(1, 2, 0);
    await visit(victim, 'frameset in two frames', board(victim, `JOB=ROOM&FOLDER_NO=${MAIN}`), { shows: 5 });
    await visit(victim, 'message in two frames', board(victim, `JOB=NRROOM&FOLDER_NO=${MAIN}&SEL_NO=${messageOf(1)}`), { shows: 4 });
    await preferences(0, 1, 0);
    noFaults();
  });

  it('the detail frame: bodies in three text modes, attachments, one-line replies, confirmations, threads', async () => {
    start();
    await across(victims, CORPUS, (page, sel) => visit(page, `corpus message ${sel}`,
      board(page, `JOB=FRM223&FOLDER_NO=${MAIN}&SEL_NO=${sel}`), { shows: SLOTS, ends: ENDS.detail }));
    allShown('attachment names, one-line replies and their writers');
    await across(victims, range(1, K, 4), (page, k) => visit(page, `thread of payload ${k}`,
      board(page, `JOB=FRM223&FOLDER_NO=${MAIN}&SEL_NO=${messageOf(k)}`), { ends: ENDS.detail }));
    noFaults();
  });

  it('the compose form: a new message, replies and edits with their prefilled values', async () => {
    start();
    const form = { shows: K / 2, ends: ENDS.compose };
    await visit(victims[0], 'new message', board(victims[0], `JOB=BWRITE_NEW&FOLDER_NO=${MAIN}`), form);
    await across(victims, CORPUS, (page, sel) => visit(page, `reply to corpus ${sel}`,
      board(page, `JOB=BWRITE_RES&FOLDER_NO=${MAIN}&SEL_NO=${sel}`), form));
    await across(mallorys, CORPUS, (page, sel) => visit(page, `edit of corpus ${sel}`,
      board(page, `JOB=BWRITE_REW&FOLDER_NO=${MAIN}&SEL_NO=${sel}`), form));
    await across(mallorys, range(1, K - 5, 8), (page, k) => visit(page, `edit of payload ${k}`,
      board(page, `JOB=BWRITE_REW&FOLDER_NO=${MAIN}&SEL_NO=${messageOf(k)}`), { ends: ENDS.compose }));
    await across(victims, range(2, K - 4, 8), (page, k) => visit(page, `reply to payload ${k}`,
      board(page, `JOB=BWRITE_RES&FOLDER_NO=${MAIN}&SEL_NO=${messageOf(k)}`), { ends: ENDS.compose }));
    noFaults();
  });

  it('search in the folder and across folders, keywords and writer echoed and in bold', async () => {
    start();
    const search = (page, job, condition, writer, label, shows, folders = []) => submit(page, 'wbbs.cgi', [['JOB', job],
      ['FOLDER_NO', MAIN], ['CONDITION', condition], ['WRITER', writer], ['STAT', 1], ...folders.map((f) => ['ROOM_NO', f])],
    label, { shows });
    await across(victims, range(1, K, 6), (page, k) => search(page, 'SEARCH', range(k, k + 4).map(P).join(' ').slice(0, 250),
      P(k + 5), `search for payloads ${k}-${k + 5}`, 2));
    allShown('keywords and writers echoed');
    await across(victims, ['<', '"', "'", '&', 'script', 'xss1', '\x81', 'onerror', '>'], (page, keyword) =>
      search(page, 'SEARCH', keyword, '', `search for ${JSON.stringify(keyword)}`, 1));
    const folders = [MAIN, OTHER, ...range(1, K).map(folderOf)];
    await search(victims[0], 'ALLSEARCH', 'xss', P(5), 'search of all folders', K / 2, folders);
    noFaults();
  });

  it('the settings, access rights, frames, compose forms and move form of folders', async () => {
    start();
    const [victim] = victims;
    await visit(victim, 'settings of the main folder', board(victim, `JOB=SET_CONFIG&FOLDER_NO=${MAIN}`), { shows: K / 2, ends: ENDS.settings });
    await visit(victim, 'move form', board(victim, `JOB=WRITE_MOVE&FOLDER_NO=${MAIN}&SEL_NO=${messageOf(1)}&BBS_G_NO=${messageOf(1)}`),
      { shows: K / 2, ends: ENDS.compose });
    await across(victims, range(1, K, SAMPLE), async (page, k) => {
      const folder = folderOf(k);
      await visit(page, `settings of folder ${k}`, board(page, `JOB=SET_CONFIG&FOLDER_NO=${folder}`), { shows: 5, ends: ENDS.settings });
      await visit(page, `folder ${k} with its message`, board(page, `JOB=NRROOM&FOLDER_NO=${folder}&SEL_NO=1`), { shows: 3, ends: ENDS.detail });
      await visit(page, `reply in folder ${k}`, board(page, `JOB=BWRITE_RES&FOLDER_NO=${folder}&SEL_NO=1`), { shows: 2, ends: ENDS.compose });
      if (k % (2 * SAMPLE) !== 1) return;
      await visit(page, `new message in folder ${k}`, board(page, `JOB=BWRITE_NEW&FOLDER_NO=${folder}`), { ends: ENDS.compose });
      await visit(page, `access rights of folder ${k}`, suite(page, `JOB=FOLDER_ACCESS&FOLDER_NO=${folder}`), { ends: ENDS.access });
    });
    noFaults();
  });

  it('link jumps, and an attachment of HTML', async () => {
    start();
    const [victim] = victims;
    await visit(victim, 'plain text corpus', board(victim, `JOB=FRM223&FOLDER_NO=${MAIN}&SEL_NO=${CORPUS[0]}`), { shows: 30 });
    const jumps = await victim.locator('a[href*="JOB=JUMPLINK"]').evaluateAll((as) => as.map((a) => a.href));
    assert.ok(jumps.length >= links('').length, `${jumps.length} links to the jump handler`);
    await across(victims, jumps, (page, jump) => visit(page, `jump ${jump.slice(-60)}`, jump, { shows: 0 }));
    await across(victims, JUMPS(site.url), (page, address) => submit(page, 'wbbs.cgi', [['JOB', 'JUMPLINK'], ['FOLDER_NO', MAIN],
      ['URL', address]], `jump to ${JSON.stringify(address)}`, { shows: 0 }));
    await visit(victim, 'attachment of HTML named .gif', board(victim, `JOB=ATDL&FOLDER_NO=${folderOf(1)}&SEL_NO=1&SUB_NO=1`), { shows: 0 });
    noFaults();
  });
});
