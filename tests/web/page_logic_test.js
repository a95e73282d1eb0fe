// Checks the product page's query reading and rendering (web/Minutrix/minutrix.js) under node,
// with queries written the way the filter writes them and the browser passes them on.
'use strict';
const assert = require('assert');
const path = require('path');
const M = require(path.join(process.argv[2] || path.join(__dirname, '../../web'), 'Minutrix/minutrix.js'));

const page = 'http://127.0.0.1:8180/Minutrix/Minutrix.asp?';
let failures = 0;
function check(name, fn) {
  try { fn(); console.log('ok   ' + name); } catch (e) { failures++; console.log('FAIL ' + name + '\n' + e.stack); }
}
const model = (query) => M.pageModel(M.rawQuery(page + query));

check('the three pages are told apart and their values read', () => {
  const cases = [
    ['UserName=alice&TimeLeft=30&CurrentUserCommand=timeleft&RequestedURL=http://example.com/a?b=1&c=2',
     { kind: 'start', user: 'alice', minutes: 30, command: 'timeleft', link: 'http://example.com/a?b=1&c=2', message: null }],
    ['UserName=Bob&TimeLeft=12&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com',
     { kind: 'timeleft', user: 'Bob', minutes: 12, unlimited: false, link: null, message: null }],
    ['UserName=Bob&TimeLeft=-1&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com',
     { kind: 'timeleft', minutes: -1, unlimited: true }],
    ['UserName=carol&TimeLeft=0&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com&DeniedMessage=Time%20is%20up',
     { kind: 'denied', user: 'carol', minutes: 0, message: 'Time is up', link: null }],
    ['UserName=carol&TimeLeft=-3&CurrentUserCommand=tl&RequestedURL=www.minutrix.com&DeniedMessage=',
     { kind: 'denied', minutes: -3, message: '' }],
  ];
  for (const [query, want] of cases) {
    const got = model(query);
    for (const key of Object.keys(want)) assert.deepStrictEqual(got[key], want[key], query + ' -> ' + key);
  }
});

check('values holding "&", "?", "#", "=", spaces and the next key\'s name stay whole', () => {
  let m = model('UserName=a&b?c=d&TimeLeft=5&CurrentUserCommand=time left&RequestedURL=http://x/p?q=1&TimeLeft=9#top');
  assert.strictEqual(m.user, 'a&b?c=d');
  assert.strictEqual(m.minutes, 5);
  assert.strictEqual(m.command, 'time left');
  assert.strictEqual(m.link, 'http://x/p?q=1&TimeLeft=9#top');
  m = model('UserName=u&TimeLeft=0&CurrentUserCommand=tl&RequestedURL=www.minutrix.com' +
            '&DeniedMessage=Stop? Yes & now: see http://intranet/?a=1&RequestedURL=x');
  assert.strictEqual(m.kind, 'denied');
  assert.strictEqual(m.message, 'Stop? Yes & now: see http://intranet/?a=1&RequestedURL=x');
});

check('percent-decoding: what the browser or helper encoded comes back; lone "%" and "+" stay', () => {
  const cases = [
    ['Time%20is%20up', 'Time is up'], ['100%%20used', '100% used'], ['50%', '50%'], ['%zz', '%zz'],
    ['a+b', 'a+b'], ['caf%C3%A9', 'caf\u00e9'], ['caf%E9', 'caf\u00e9'], ['%3Cb%3E', '<b>'], ['%2', '%2'],
  ];
  for (const [raw, want] of cases) assert.strictEqual(M.percentDecode(raw), want, raw);
  const m = model('UserName=Jos%C3%A9%20de%20Vries&TimeLeft=1&CurrentUserCommand=tl&RequestedURL=www.minutrix.com');
  assert.strictEqual(m.user, 'Jos\u00e9 de Vries');
});

check('the link goes where the user asked, still encoded, and only to web addresses', () => {
  const cases = [
    ['http://example.com/a%20b?q=%41', 'http://example.com/a%20b?q=%41'],
    ['HTTPS://Example.com/', 'HTTPS://Example.com/'],
    ['example.com/x', 'http://example.com/x'],
    ['example.com:8080/x', 'http://example.com:8080/x'],
    ['javascript:alert(1)//', null], ['data:text/html,<b>x</b>', null], ['', null],
  ];
  for (const [url, want] of cases) {
    const m = model('UserName=u&TimeLeft=5&CurrentUserCommand=tl&RequestedURL=' + url);
    assert.strictEqual(m.kind, 'start', url);
    assert.strictEqual(m.link, want, url);
  }
});

check('anything that is not the filter\'s query, or is cut short, shows the neutral or partial page', () => {
  for (const href of ['http://h/Minutrix/Minutrix.asp', page, page + 'foo=bar', page + 'UserName=u',
                      page + 'UserName=u&TimeLeft=x&CurrentUserCommand=tl&RequestedURL=a']) {
    assert.strictEqual(M.pageModel(M.rawQuery(href)).kind, 'none', href);
  }
  // A redirect cut at the filter's buffer size loses the tail, not the page.
  const m = model('UserName=u&TimeLeft=7&CurrentUserCommand=tl&RequestedURL=http://x/' + 'y'.repeat(50) + '%2');
  assert.strictEqual(m.kind, 'start');
  assert.strictEqual(m.minutes, 7);
});

check('English and Dutch texts, from the browser\'s language', () => {
  assert.deepStrictEqual(['nl', 'nl-NL', 'NL-be', 'en-US', 'de', '', undefined, 'nlx'].map(M.pickLanguage),
                         ['nl', 'nl', 'nl', 'en', 'en', 'en', 'en', 'en']);
  const text = (query, lang) => M.pageBlocks(model(query), lang).map((b) => b.text).join('\n');
  const one = 'UserName=Piet&TimeLeft=1&CurrentUserCommand=timeleft&RequestedURL=www.minutrix.com';
  assert.match(text(one, 'en'), /Piet, you have 1 minute of browsing left\./);
  assert.match(text(one, 'nl'), /Piet, u heeft nog 1 minuut internettijd\./);
  assert.match(text(one, 'nl'), /http:\/\/timeleft\//);
  const many = one.replace('TimeLeft=1', 'TimeLeft=45');
  assert.match(text(many, 'en'), /45 minutes/);
  assert.match(text(many, 'nl'), /45 minuten/);
  assert.match(text(one.replace('TimeLeft=1', 'TimeLeft=-1'), 'nl'), /onbeperkt/);
  const denied = one.replace('TimeLeft=1', 'TimeLeft=0') + '&DeniedMessage=Uw tijd is op';
  assert.match(text(denied, 'nl'), /Toegang geweigerd\nUw tijd is op\nPiet, uw internettijd is op\./);
  assert.match(text(denied, 'en'), /Access denied/);
});

// A minimal DOM that refuses markup: the page must build everything from text.
function fakeDocument() {
  const make = (tag) => {
    const el = { tagName: tag, children: [], textContent: '', listeners: {} };
    el.appendChild = (c) => { el.children.push(c); el.firstChild = el.children[0]; return c; };
    el.removeChild = (c) => { el.children.splice(el.children.indexOf(c), 1); el.firstChild = el.children[0]; };
    el.addEventListener = (type, fn) => { el.listeners[type] = fn; };
    for (const bad of ['innerHTML', 'outerHTML']) {
      Object.defineProperty(el, bad, { set() { throw new Error(bad + ' used'); } });
    }
    el.insertAdjacentHTML = () => { throw new Error('insertAdjacentHTML used'); };
    return el;
  };
  return { documentElement: make('html'), createElement: make, title: '' };
}
const flat = (el) => [el.textContent].concat(...el.children.map(flat)).join('|');

check('rendering puts values in as text and switches language in place', () => {
  const doc = fakeDocument();
  const main = doc.createElement('main');
  const m = model('UserName=%3Cimg%20src=x%20onerror=alert(1)%3E&TimeLeft=3&CurrentUserCommand=tl' +
                  '&RequestedURL=http://evil/%22%3E%3Cscript%3E');
  M.render(doc, main, m, 'en');
  assert.match(flat(main), /Welcome, <img src=x onerror=alert\(1\)>/);
  const anchor = main.children.flatMap((p) => p.children).find((c) => c.tagName === 'a');
  assert.strictEqual(anchor.href, 'http://evil/%22%3E%3Cscript%3E');
  assert.strictEqual(doc.documentElement.lang, 'en');
  const button = main.children[main.children.length - 1].children[0];
  button.listeners.click();
  assert.strictEqual(doc.documentElement.lang, 'nl');
  assert.match(flat(main), /Welkom, <img/);
  assert.strictEqual(main.children.filter((c) => c.tagName === 'h1').length, 1);
});

check('what the hours say is read off the end and told in both languages', () => {
  const head = 'UserName=kim&TimeLeft=12&CurrentUserCommand=timeleft&RequestedURL=';
  let m = model(head + 'www.minutrix.com&OpenUntil=16:30&FreeUntil=10:45');
  assert.strictEqual(m.kind, 'timeleft');
  assert.strictEqual(m.openUntil, '16:30');
  assert.strictEqual(m.freeUntil, '10:45');
  const en = M.pageBlocks(m, 'en').map((b) => b.text).join('|');
  assert.match(en, /kim, you have 12 minutes of browsing left\./);
  assert.match(en, /Browsing is free until 10:45/);
  assert.match(en, /You may browse until 16:30 today\./);
  assert.match(M.pageBlocks(m, 'nl').map((b) => b.text).join('|'), /U mag vandaag internetten tot 16:30\./);
  // The start page's requested URL keeps everything that is not exactly such a value.
  m = model(head + 'http://x/?a=1&OpenUntil=soon&FreeUntil=12:00');
  assert.strictEqual(m.kind, 'start');
  assert.strictEqual(m.link, 'http://x/?a=1&OpenUntil=soon');
  assert.strictEqual(m.freeUntil, '12:00');
  // Outside the allowed hours: the message, and when browsing opens again.
  m = model(head + 'www.minutrix.com&DeniedMessage=Browsing%20is%20not%20allowed%20at%20this%20hour.' +
            '&OpensAt=08:00&OpensOn=mon');
  assert.strictEqual(m.kind, 'denied');
  assert.strictEqual(m.message, 'Browsing is not allowed at this hour.');
  assert.match(M.pageBlocks(m, 'en').map((b) => b.text).join('|'), /Browsing opens again on Monday at 08:00\./);
  assert.match(M.pageBlocks(m, 'nl').map((b) => b.text).join('|'), /Internetten kan weer op maandag om 08:00\./);
  const opens = (on) => M.pageBlocks(model(head + 'www.minutrix.com&DeniedMessage=x&OpensAt=08:00&OpensOn=' + on), 'en')
    .map((b) => b.text).join('|');
  assert.match(opens('today'), /opens again today at 08:00/);
  assert.match(opens('tomorrow'), /opens again tomorrow at 08:00/);
  assert.match(opens('next-tue'), /opens again next Tuesday at 08:00/);
  assert.doesNotMatch(opens('someday'), /opens again/, 'an unknown day is no opening time');
  // Pages without the new values are as before.
  m = model(head + 'www.minutrix.com&DeniedMessage=Time%20is%20up');
  assert.strictEqual(m.opensAt, null);
  assert.strictEqual(m.message, 'Time is up');
});

process.exit(failures ? 1 : 0);
