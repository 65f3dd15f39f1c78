'use strict';
// A person's road through the board in Chromium, served by lighttpd from a
// demo-like site: each step starts where the one before it left the browser.
const { describe, it, before, after, afterEach } = require('node:test');
const assert = require('node:assert/strict');
const {
  startSite, stopSite, launchBrowser, openPage, frame, reloads, contentFrameName,
  login, openFolder, openFromTree, folderFrames, jobButton, clickJob, screenshot, boardMessage,
} = require('./site');

const PLAYGROUND = 3;
const ARCHIVE = 4;
const ENGLISH = 6;

// Every byte value, CR and LF and the multipart delimiter's dashes among them.
const ATTACHMENT = Buffer.from(Array.from({ length: 3000 }, (_, i) => (i * 7 + 13) % 256));

async function downloadBytes(page, link) {
  const [download] = await Promise.all([page.waitForEvent('download'), link.click()]);
  const chunks = [];
  for await (const chunk of await download.createReadStream()) chunks.push(chunk);
  return { name: download.suggestedFilename(), bytes: Buffer.concat(chunks) };
}

describe('a person walks the board', () => {
  let site;
  let browser;
  let page;
  let folder; // the frames of the folder open in the content frame

  before(async () => {
    site = await startSite({ name: 'road' });
    browser = await launchBrowser();
    page = await openPage(browser);
  });
  after(async () => {
    if (browser) await browser.close();
    await stopSite(site);
  });
  afterEach(() => page.check());

  const content = () => contentFrameName(site);
  const detailName = (n) => `FRM223SEL${n}`;
  const bodyText = async (f) => f.locator('body').innerText();

  // The completion page in the detail frame leads back to the whole folder.
  async function backToFolder(folderNo) {
    const done = await frame(page, detailName(folderNo));
    assert.match(await bodyText(done), new RegExp(boardMessage('English', 418).replace(/\./g, '\\.')));
    await reloads(page, content(), () => clickJob(done, 'ROOM'));
    return folderFrames(page, folderNo);
  }

  async function openMessage(title, folderNo) {
    await reloads(page, detailName(folderNo), () =>
      folder.list.getByRole('link', { name: title, exact: true }).click());
    return frame(page, detailName(folderNo));
  }

  it('refuses a wrong password and logs in with the right one', async () => {
    const alice = site.users.alice;
    await page.goto(site.url);
    await page.fill('input[name=uid]', alice.id);
    await page.fill('input[name=upw]', 'not-her-password');
    await Promise.all([page.waitForNavigation(), page.locator('input[type=submit]').first().click()]);
    assert.ok(!page.frame({ name: content() }), 'no main window after a wrong password');

    const tree = await login(page, site, alice);
    const folders = await bodyText(tree);
    for (const name of ['Welcome', 'Playground', 'Archive', 'English', '日本語']) assert.ok(folders.includes(name), name);
    // Management and its sub-folder are for managers only.
    assert.ok(!folders.includes('Management') && !folders.includes('Budget'), folders);
    await screenshot(page, '01-main-window');
  });

  it('opens a folder and posts a message with an attachment', async () => {
    folder = await openFolder(page, site, PLAYGROUND);
    assert.match(await bodyText(folder.header), /Playground/);

    await reloads(page, detailName(PLAYGROUND), () => clickJob(folder.header, 'BWRITE_NEW'));
    const compose = await frame(page, detailName(PLAYGROUND));
    await compose.fill('input[name=WRITE_TITLE]', 'Picnic plans');
    await compose.fill('textarea[name=WRITE_DATA]', 'Saturday at the lake.\nBring <b>sandwiches</b>.');
    await compose.selectOption('select[name=CONFIRM]', '1');
    await compose.locator('input[type=file][name=ATFILE]').first()
      .setInputFiles({ name: 'route.bin', mimeType: 'application/octet-stream', buffer: ATTACHMENT });
    await screenshot(page, '02-compose-form');
    await reloads(page, detailName(PLAYGROUND), () => compose.locator('input[type=submit][name=SUB]').click());
    folder = await backToFolder(PLAYGROUND);
  });

  it('reads the message in the list and the detail frame, and downloads the attachment', async () => {
    const row = folder.list.locator('tr').filter({ hasText: 'Picnic plans' });
    assert.match(await row.innerText(), /Alice Archer/);
    const detail = await openMessage('Picnic plans', PLAYGROUND);
    const text = await bodyText(detail);
    assert.match(text, /Saturday at the lake\./);
    assert.equal(await detail.locator('b', { hasText: 'sandwiches' }).count(), 1, 'the bold markup is kept');
    const link = detail.locator('a', { hasText: 'route.bin' });
    assert.match(await link.innerText(), /route\.bin \(3,000 byte\)/);
    await screenshot(page, '03-message-detail');

    const got = await downloadBytes(page, link);
    assert.equal(got.name, 'route.bin');
    assert.ok(got.bytes.equals(ATTACHMENT), `the download differs (${got.bytes.length} bytes)`);
  });

  it('replies with the quoted message and edits the original', async () => {
    let detail = await frame(page, detailName(PLAYGROUND));
    await reloads(page, detailName(PLAYGROUND), () => clickJob(detail, 'BWRITE_RES'));
    let compose = await frame(page, detailName(PLAYGROUND));
    assert.equal(await compose.inputValue('input[name=WRITE_TITLE]'), 'Re1:Picnic plans');
    const quoted = await compose.inputValue('textarea[name=WRITE_DATA]');
    assert.match(quoted, /^>Saturday at the lake\./);
    await compose.fill('textarea[name=WRITE_DATA]', `${quoted}\nCount me in.`);
    await reloads(page, detailName(PLAYGROUND), () => compose.locator('input[type=submit][name=SUB]').click());
    folder = await backToFolder(PLAYGROUND);
    const reply = folder.list.locator('tr').filter({ hasText: 'Re1:Picnic plans' });
    assert.equal(await reply.count(), 1);

    detail = await openMessage('Picnic plans', PLAYGROUND);
    await reloads(page, detailName(PLAYGROUND), () => clickJob(detail, 'BWRITE_REW'));
    compose = await frame(page, detailName(PLAYGROUND));
    assert.equal(await compose.inputValue('input[name=WRITE_TITLE]'), 'Picnic plans');
    assert.match(await compose.inputValue('textarea[name=WRITE_DATA]'), /Bring <b>sandwiches<\/b>/);
    assert.ok(await compose.isChecked('input[name=ATFILE1]'), 'the attachment is kept by default');
    await compose.fill('input[name=WRITE_TITLE]', 'Picnic plans (Sunday)');
    await compose.fill('textarea[name=WRITE_DATA]', 'Sunday at the lake, same time.');
    await reloads(page, detailName(PLAYGROUND), () => compose.locator('input[type=submit][name=SUB]').click());
    folder = await backToFolder(PLAYGROUND);

    detail = await openMessage('Picnic plans (Sunday)', PLAYGROUND);
    assert.match(await bodyText(detail), /Sunday at the lake, same time\./);
    assert.equal(await detail.locator('a', { hasText: 'route.bin' }).count(), 1);
  });

  it('adds a one-line reply and confirms reading', async () => {
    let detail = await frame(page, detailName(PLAYGROUND));
    await detail.fill('input[name=LINE_RES]', 'I will bring juice');
    await reloads(page, detailName(PLAYGROUND), () => clickJob(detail, 'LINE_RESWR'));
    detail = await frame(page, detailName(PLAYGROUND));
    assert.match(await bodyText(detail), /Alice Archer\s+I will bring juice/);

    const question = await page.expectDialog('confirm', () =>
      reloads(page, detailName(PLAYGROUND), () => clickJob(detail, 'CONFIRMWR')));
    assert.equal(question, boardMessage('English', 428));
    detail = await frame(page, detailName(PLAYGROUND));
    const names = await detail.locator('form:has(input[value=CONFIRMWR]) option').allInnerTexts();
    assert.deepEqual(names.map((n) => n.trim()), [`1 ${boardMessage('English', 429)}`, 'Alice Archer']);
  });

  it('searches the folder and opens a hit', async () => {
    await reloads(page, `FRM222SEL${PLAYGROUND}`, () => clickJob(folder.header, 'SEARCH'));
    let list = await frame(page, `FRM222SEL${PLAYGROUND}`);
    await list.fill('input[name=CONDITION]', 'lake');
    await reloads(page, `FRM222SEL${PLAYGROUND}`, () => list.locator('input[type=submit][name=SUB]').click());
    list = await frame(page, `FRM222SEL${PLAYGROUND}`);
    const results = await bodyText(list);
    assert.match(results, /total hit 2/);
    assert.ok(await list.locator('b', { hasText: 'lake' }).count() >= 2, 'the keyword is bold');
    await screenshot(page, '04-search');
    await reloads(page, detailName(PLAYGROUND), () => list.locator('a', { hasText: 'Re1:Picnic plans' }).click());
    assert.match(await bodyText(await frame(page, detailName(PLAYGROUND))), /Count me in\./);
  });

  it('marks unread messages read from the unread list, then the whole folder', async () => {
    // Across folders first: the demo messages of others, each under its folder's name.
    const everywhere = await openFromTree(page, site, 'unread_all');
    const all = await bodyText(everywhere);
    for (const name of ['Welcome', 'English', '日本語']) assert.ok(all.includes(name), name);
    const allBoxes = await everywhere.locator('input[name=FOLSEL]').count();

    folder = await openFolder(page, site, ENGLISH);
    const unread = folder.list.locator('td[bgcolor="#FFB6C1"]');
    const before = await unread.count();
    assert.ok(before > 1, 'the demo messages of others are unread');

    await reloads(page, `FRM222SEL${ENGLISH}`, () => clickJob(folder.list, 'NRDETAILS'));
    let list = await frame(page, `FRM222SEL${ENGLISH}`);
    const boxes = list.locator('input[name=FOLSEL]');
    const listed = await boxes.count();
    assert.ok(listed > 1 && listed < allBoxes, `${listed} of ${allBoxes} unread messages are this folder's`);
    await screenshot(page, '05-unread-list');
    await boxes.first().check();
    await reloads(page, `FRM222SEL${ENGLISH}`, () => list.locator('input[type=submit][name=SUB]').click());
    list = await frame(page, `FRM222SEL${ENGLISH}`);
    assert.equal(await list.locator('input[name=FOLSEL]').count(), listed - 1);

    await page.expectDialog('confirm', () => reloads(page, content(), () => clickJob(folder.header, 'SET_ALLREAD')));
    folder = await folderFrames(page, ENGLISH);
    assert.equal(await folder.list.locator('td[bgcolor="#FFB6C1"]').count(), 0);
    await openMessage('Team lunch on Thursday?', ENGLISH);
    await screenshot(page, 'folder-screen');
  });

  it('changes the folder settings as the folder administrator', async () => {
    folder = await openFolder(page, site, PLAYGROUND);
    await reloads(page, content(), () => clickJob(folder.header, 'SET_CONFIG'));
    const settings = await frame(page, content());
    assert.equal(await settings.inputValue('input[name=NAME]'), 'Playground');
    await settings.fill('input[name=NAME]', 'Picnic corner');
    await settings.fill('input[name=FONTCOLOR1]', '8B4513');
    await screenshot(page, '06-folder-settings');
    await reloads(page, content(), () => clickJob(settings, 'SET_CONFIGWR'));
    assert.equal(await (await frame(page, content())).inputValue('input[name=NAME]'), 'Picnic corner');

    folder = await openFolder(page, site, PLAYGROUND);
    const name = folder.header.locator('font[size="5"]', { hasText: 'Picnic corner' });
    assert.equal(await name.getAttribute('color'), '#8B4513');
  });

  it('moves the thread to another folder, attachment and answers with it', async () => {
    const detail = await openMessage('Picnic plans (Sunday)', PLAYGROUND);
    await reloads(page, detailName(PLAYGROUND), () => clickJob(detail, 'WRITE_MOVE'));
    const move = await frame(page, detailName(PLAYGROUND));
    const targets = await move.locator('select[name=ROOM_NO] option').allInnerTexts();
    assert.deepEqual(targets.map((t) => t.trim()), ['2:Projects', `${ARCHIVE}:Archive`, `${ENGLISH}:English`]);
    await move.selectOption('select[name=ROOM_NO]', String(ARCHIVE));
    await reloads(page, detailName(PLAYGROUND), () => move.locator('input[type=submit][name=SUB]').click());
    folder = await backToFolder(PLAYGROUND);
    assert.equal(await folder.list.locator('a', { hasText: 'Picnic' }).count(), 0);
    assert.match(await bodyText(folder.header), /Picnic corner/);

    folder = await openFolder(page, site, ARCHIVE);
    assert.equal(await folder.list.locator('a', { hasText: 'Picnic plans' }).count(), 2);
    const moved = await openMessage('Picnic plans (Sunday)', ARCHIVE);
    const text = await bodyText(moved);
    assert.match(text, /I will bring juice/);
    const got = await downloadBytes(page, moved.locator('a', { hasText: 'route.bin' }));
    assert.ok(got.bytes.equals(ATTACHMENT), 'the moved attachment differs');
  });

  it('switches to two frames and Japanese in the preferences', async () => {
    const prefs = await openFromTree(page, site, 'prefs');
    await prefs.selectOption('select[name=LANGUAGE]', 'Japanese');
    await prefs.check('input[name=BBS_FRAME_MODE][value="1"]');
    await reloads(page, content(), () => prefs.click('#prefs_submit'));

    folder = await openFolder(page, site, ENGLISH, { twoFrames: true });
    assert.ok(!page.frame({ name: detailName(ENGLISH) }), 'two frames: no detail frame');
    assert.equal(await (await jobButton(folder.header, 'SEARCH')).inputValue(), boardMessage('Japanese', 434));
    assert.ok((await bodyText(folder.list)).includes(boardMessage('Japanese', 313)), 'the list speaks Japanese');

    // A title opens the message in place of the list, with a way back to it.
    const list = `FRM222SEL${ENGLISH}`;
    await reloads(page, list, () => folder.list.getByRole('link', { name: 'Team lunch on Thursday?', exact: true }).click());
    const shown = await frame(page, list);
    assert.match(await bodyText(shown), /Who is in for lunch on Thursday\?/);
    await screenshot(page, '07-two-frames-japanese');
    await reloads(page, list, () => clickJob(shown, 'FRM222'));
    assert.equal(await (await frame(page, list)).getByRole('link', { name: 'Team lunch on Thursday?', exact: true }).count(), 1);
  });

  it('writes in a window of its own (a user who composes in a window)', async () => {
    const other = await openPage(browser);
    try {
      await login(other, site, site.users.bob);
      let frames = await openFolder(other, site, ENGLISH, { twoFrames: true });
      const [compose] = await Promise.all([other.context().waitForEvent('page'), clickJob(frames.header, 'BWRITE_NEW')]);
      await compose.waitForLoadState('load');
      assert.equal(await compose.evaluate(() => window.name), `WBWRITE${ENGLISH}`);
      await compose.fill('input[name=WRITE_TITLE]', 'Printer on the second floor');
      await compose.fill('textarea[name=WRITE_DATA]', 'It jams on A3 paper.');
      const closed = compose.waitForEvent('close');
      // The post reloads the folder in the main window, which closes the compose window.
      await reloads(other, content(), () => compose.click('input[type=submit][name=SUB]'));
      await closed;
      frames = await folderFrames(other, ENGLISH, { twoFrames: true });
      assert.equal(await frames.list.getByRole('link', { name: 'Printer on the second floor' }).count(), 1);
      other.check();
    } finally {
      await other.context().close();
    }
  });
});
