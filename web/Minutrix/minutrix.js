// The product page's logic: reads the query the filter writes (values unencoded), picks the page to
// show and renders it as text in English or Dutch. Runs in the browser and, for tests, under node.
(function (root) {
  'use strict';

  // The host the filter gives as RequestedURL on every page that is not the start page.
  var PRODUCT_HOME_HOST = 'www.minutrix.com';

  // Everything after the first "?", fragment included: a value may hold "#", and the browser moves
  // what follows it into the fragment.
  function rawQuery(href) {
    var q = String(href).indexOf('?');
    return q < 0 ? '' : String(href).slice(q + 1);
  }

  function bytesToText(bytes) {
    if (typeof TextDecoder !== 'undefined') {
      try {
        return new TextDecoder('utf-8', { fatal: true }).decode(new Uint8Array(bytes));
      } catch (e) { /* not UTF-8: the filter works on 8-bit text, take it as Latin-1 */ }
    }
    var s = '';
    for (var i = 0; i < bytes.length; i++) s += String.fromCharCode(bytes[i]);
    return s;
  }

  // Decodes only well-formed %XX runs; a lone "%" (a value may be "100% used") stays as it is.
  // "+" stays "+": the filter writes values raw, so it never stands for a space.
  function percentDecode(text) {
    return String(text).replace(/(?:%[0-9A-Fa-f]{2})+/g, function (run) {
      var bytes = [];
      for (var i = 0; i < run.length; i += 3) bytes.push(parseInt(run.substr(i + 1, 2), 16));
      return bytesToText(bytes);
    });
  }

  // The keys come in a fixed order and only the last one is optional, so each value runs up to the
  // first occurrence of the next key. TimeLeft is a number, which anchors the user name even when
  // the name itself holds "&". Returns null when the query is not the filter's.
  function parseQuery(raw) {
    raw = String(raw);
    var head = 'UserName=';
    if (raw.slice(0, head.length) !== head) return null;
    var rest = raw.slice(head.length);
    var anchor = /&TimeLeft=(-?\d+)&CurrentUserCommand=/.exec(rest);
    if (!anchor) return null;
    var fields = {
      UserName: rest.slice(0, anchor.index),
      TimeLeft: anchor[1],
      CurrentUserCommand: '',
      RequestedURL: '',
      DeniedMessage: null
    };
    rest = rest.slice(anchor.index + anchor[0].length);
    // Values added after the old ones (what the hours say now) are taken off the end first, each
    // only in its own exact form, so that the old values read as they always did.
    var trailing = /&(OpenUntil|FreeUntil|OpensAt)=(\d\d:\d\d)$|&(OpensOn)=(today|tomorrow|(?:next-)?(?:mon|tue|wed|thu|fri|sat|sun))$/;
    for (var found = trailing.exec(rest); found; found = trailing.exec(rest)) {
      fields[found[1] || found[3]] = found[2] || found[4];
      rest = rest.slice(0, found.index);
    }
    var urlKey = rest.indexOf('&RequestedURL=');
    if (urlKey < 0) {
      fields.CurrentUserCommand = rest;
      return fields;
    }
    fields.CurrentUserCommand = rest.slice(0, urlKey);
    rest = rest.slice(urlKey + '&RequestedURL='.length);
    var deniedKey = rest.indexOf('&DeniedMessage=');
    if (deniedKey < 0) {
      fields.RequestedURL = rest;
    } else {
      fields.RequestedURL = rest.slice(0, deniedKey);
      fields.DeniedMessage = rest.slice(deniedKey + '&DeniedMessage='.length);
    }
    return fields;
  }

  // A link only to web addresses: the requested URL is whatever the user asked for.
  function safeLink(url) {
    if (/^(https?|ftp):\/\/[^\s]/i.test(url)) return url;
    if (/^[a-z][a-z0-9+.\-]*:/i.test(url) && !/^[^\/:]+:\d+(\/|$)/.test(url)) return null;
    return url ? 'http://' + url : null;
  }

  // What the page shows, from the raw query. kind: start, timeleft, denied or none.
  // The requested URL is kept as the browser gave it (still percent-encoded), so the link goes
  // exactly where the user asked; the other values are decoded for display.
  function pageModel(raw) {
    var f = parseQuery(raw);
    if (!f) return { kind: 'none' };
    var minutes = parseInt(f.TimeLeft, 10);
    var model = {
      user: percentDecode(f.UserName),
      minutes: minutes,
      unlimited: minutes === -1,
      command: percentDecode(f.CurrentUserCommand),
      requestedUrl: f.RequestedURL,
      link: null,
      message: f.DeniedMessage === null ? null : percentDecode(f.DeniedMessage),
      openUntil: f.OpenUntil || null,
      freeUntil: f.FreeUntil || null,
      opensAt: f.OpensAt || null,
      opensOn: f.OpensOn || null
    };
    if (model.message !== null) {
      model.kind = 'denied';
    } else if (percentDecode(f.RequestedURL).toLowerCase() === PRODUCT_HOME_HOST) {
      model.kind = 'timeleft';
    } else {
      model.kind = 'start';
      model.link = safeLink(f.RequestedURL);
    }
    return model;
  }

  var TEXTS = {
    en: {
      title: 'Minutrix',
      minutes: function (n) { return n === 1 ? '1 minute' : n + ' minutes'; },
      startHeading: function (u) { return 'Welcome, ' + u; },
      startBody: 'Your browsing time is counted from now on.',
      timeleftHeading: 'Your browsing time',
      deniedHeading: 'Access denied',
      left: function (u, t) { return u + ', you have ' + t + ' of browsing left.'; },
      unlimited: function (u) { return u + ', you may browse without limit.'; },
      noneLeft: function (u) { return u + ', you have no browsing time left.'; },
      unknownLeft: function (u) { return u + ', your time left is not known.'; },
      goOn: 'Continue to ',
      hint: function (c) { return 'To see your time left at any moment, open http://' + c + '/ in your browser.'; },
      openUntil: function (h) { return 'You may browse until ' + h + ' today.'; },
      freeUntil: function (h) { return 'Browsing is free until ' + h + ': these minutes are not counted.'; },
      opensAgain: function (d, h) { return 'Browsing opens again ' + d + ' at ' + h + '.'; },
      today: 'today', tomorrow: 'tomorrow',
      onDay: function (d) { return 'on ' + d; }, nextDay: function (d) { return 'next ' + d; },
      days: { mon: 'Monday', tue: 'Tuesday', wed: 'Wednesday', thu: 'Thursday', fri: 'Friday', sat: 'Saturday', sun: 'Sunday' },
      none: 'This page shows your browsing time. It opens by itself when there is something to tell you.',
      other: 'Nederlands'
    },
    nl: {
      title: 'Minutrix',
      minutes: function (n) { return n === 1 ? '1 minuut' : n + ' minuten'; },
      startHeading: function (u) { return 'Welkom, ' + u; },
      startBody: 'Uw internettijd wordt vanaf nu bijgehouden.',
      timeleftHeading: 'Uw internettijd',
      deniedHeading: 'Toegang geweigerd',
      left: function (u, t) { return u + ', u heeft nog ' + t + ' internettijd.'; },
      unlimited: function (u) { return u + ', u mag onbeperkt internetten.'; },
      noneLeft: function (u) { return u + ', uw internettijd is op.'; },
      unknownLeft: function (u) { return u + ', uw resterende tijd is niet bekend.'; },
      goOn: 'Verder naar ',
      hint: function (c) { return 'Open http://' + c + '/ in uw browser om op elk moment uw resterende tijd te zien.'; },
      openUntil: function (h) { return 'U mag vandaag internetten tot ' + h + '.'; },
      freeUntil: function (h) { return 'Internetten is gratis tot ' + h + ': deze minuten tellen niet mee.'; },
      opensAgain: function (d, h) { return 'Internetten kan weer ' + d + ' om ' + h + '.'; },
      today: 'vandaag', tomorrow: 'morgen',
      onDay: function (d) { return 'op ' + d; }, nextDay: function (d) { return 'volgende week ' + d; },
      days: { mon: 'maandag', tue: 'dinsdag', wed: 'woensdag', thu: 'donderdag', fri: 'vrijdag', sat: 'zaterdag', sun: 'zondag' },
      none: 'Deze pagina toont uw internettijd. Zij opent vanzelf wanneer er iets te melden is.',
      other: 'English'
    }
  };

  function pickLanguage(navigatorLanguage) {
    return /^nl\b/i.test(String(navigatorLanguage || '')) ? 'nl' : 'en';
  }

  function timeLine(t, m) {
    if (m.unlimited) return t.unlimited(m.user);
    if (isNaN(m.minutes)) return t.unknownLeft(m.user);
    if (m.minutes <= 0) return t.noneLeft(m.user);
    return t.left(m.user, t.minutes(m.minutes));
  }

  // When browsing opens again, as the filter counts the day from today.
  function dayWords(t, on) {
    if (on === 'today' || on === 'tomorrow') return t[on];
    if (on.slice(0, 5) === 'next-') return t.nextDay(t.days[on.slice(5)]);
    return t.onDay(t.days[on]);
  }

  // The page's text as a list of blocks; every value is plain text, never markup.
  function pageBlocks(m, lang) {
    var t = TEXTS[lang] || TEXTS.en;
    if (m.kind === 'none') return [{ tag: 'h1', text: t.title }, { tag: 'p', text: t.none }];
    var blocks = [];
    if (m.kind === 'start') {
      blocks.push({ tag: 'h1', text: t.startHeading(m.user) });
      blocks.push({ tag: 'p', text: t.startBody });
      blocks.push({ tag: 'p', text: timeLine(t, m) });
      if (m.link) blocks.push({ tag: 'p', text: t.goOn, link: m.link });
      else if (m.requestedUrl) blocks.push({ tag: 'p', text: m.requestedUrl });
    } else if (m.kind === 'timeleft') {
      blocks.push({ tag: 'h1', text: t.timeleftHeading });
      blocks.push({ tag: 'p', text: timeLine(t, m) });
    } else {
      blocks.push({ tag: 'h1', text: t.deniedHeading });
      if (m.message) blocks.push({ tag: 'blockquote', text: m.message });
      if (m.opensAt && m.opensOn) {
        blocks.push({ tag: 'p', text: t.opensAgain(dayWords(t, m.opensOn), m.opensAt) });
      } else {
        blocks.push({ tag: 'p', text: timeLine(t, m) });
      }
    }
    if (m.kind !== 'denied') {
      if (m.freeUntil) blocks.push({ tag: 'p', text: t.freeUntil(m.freeUntil) });
      if (m.openUntil) blocks.push({ tag: 'p', text: t.openUntil(m.openUntil) });
    }
    if (m.command) blocks.push({ tag: 'p', text: t.hint(m.command), cls: 'hint' });
    return blocks;
  }

  function render(doc, main, m, lang) {
    var t = TEXTS[lang] || TEXTS.en;
    doc.documentElement.lang = lang;
    doc.title = t.title;
    while (main.firstChild) main.removeChild(main.firstChild);
    pageBlocks(m, lang).forEach(function (b) {
      var el = doc.createElement(b.tag);
      el.textContent = b.text;
      if (b.cls) el.className = b.cls;
      if (b.link) {
        var a = doc.createElement('a');
        a.href = b.link;
        a.textContent = m.requestedUrl;
        el.appendChild(a);
      }
      main.appendChild(el);
    });
    var sw = doc.createElement('p');
    sw.className = 'lang';
    var button = doc.createElement('button');
    button.type = 'button';
    button.textContent = t.other;
    button.addEventListener('click', function () { render(doc, main, m, lang === 'nl' ? 'en' : 'nl'); });
    sw.appendChild(button);
    main.appendChild(sw);
  }

  var api = {
    rawQuery: rawQuery,
    percentDecode: percentDecode,
    parseQuery: parseQuery,
    safeLink: safeLink,
    pageModel: pageModel,
    pageBlocks: pageBlocks,
    render: render,
    pickLanguage: pickLanguage
  };

  if (typeof module !== 'undefined' && module.exports) module.exports = api;
  root.Minutrix = api;

  if (typeof document !== 'undefined') {
    var start = function () {
      var main = document.getElementById('minutrix');
      if (!main) return;
      render(document, main, pageModel(rawQuery(document.location.href)),
             pickLanguage(navigator.language));
    };
    if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', start);
    else start();
  }
})(typeof window !== 'undefined' ? window : globalThis);
