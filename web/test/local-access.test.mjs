// The client's decisions when the browser may keep a page from apps on this computer: what
// connect() settles with for each permission state, page address and socket outcome.
// Run: node --test web/test/
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  AgentConnection, AgentUnavailableError, LocalAccessBlockedError, connect, localAccessState, pageLanguage,
} from '../edms-agent.js';

// A socket that plays one outcome by itself: 'open', 'fail' (error then close 1006, as a
// refused or blocked socket does) or 'silence'. Counts how many were made.
function scriptedSocket(outcome, { after = 0 } = {}) {
  const made = [];
  class Socket {
    constructor(url) {
      this.url = url;
      made.push(this);
      setTimeout(() => {
        if (outcome === 'open') this.onopen && this.onopen();
        if (outcome === 'fail') { this.onerror && this.onerror(); this.onclose && this.onclose(); }
      }, after);
    }
    send() {}
    close() {}
  }
  return { Socket, made };
}

// navigator.permissions answering `states` in turn (the last one repeats); records the names asked.
function permissionsAnswering(...states) {
  const asked = [];
  return {
    asked,
    query({ name }) {
      asked.push(name);
      const state = states.length > 1 ? states.shift() : states[0];
      return Promise.resolve({ state, name });
    },
  };
}

const page = (href) => new URL(href);
const settle = (promise) => promise.then((value) => ({ value }), (error) => ({ error }));

test('localAccessState reads the loopback permission and says unsupported where there is none', async () => {
  const cases = [
    { name: 'granted', permissions: permissionsAnswering('granted'), state: 'granted' },
    { name: 'prompt', permissions: permissionsAnswering('prompt'), state: 'prompt' },
    { name: 'denied', permissions: permissionsAnswering('denied'), state: 'denied' },
    { name: 'no Permissions API', permissions: null, state: 'unsupported' },
    { name: 'no query function', permissions: {}, state: 'unsupported' },
    { name: 'query rejects the name', permissions: { query: () => Promise.reject(new TypeError('bad name')) },
      state: 'unsupported' },
    { name: 'query throws at once', permissions: { query: () => { throw new TypeError('bad name'); } },
      state: 'unsupported' },
    { name: 'an unknown answer', permissions: permissionsAnswering('ask-later'), state: 'unsupported' },
  ];
  for (const c of cases) {
    assert.equal(await localAccessState({ permissions: c.permissions }), c.state, c.name);
  }
  const permissions = permissionsAnswering('granted');
  await localAccessState({ permissions });
  assert.deepEqual(permissions.asked, ['loopback-network']);
});

test('connect settles by permission state, page address, page protocol and socket outcome', async () => {
  const AGENT = AgentConnection;
  const UNAVAILABLE = AgentUnavailableError;
  const blocked = (reason) => ({ reason });
  // states: what the browser answers before the try and, when given twice, after it.
  const cases = [
    // Served from this computer: the permission does not matter and is not asked.
    ...['http://127.0.0.1:8080/', 'http://localhost/', 'http://[::1]:8080/', 'https://localhost/']
      .flatMap((href) => ['granted', 'prompt', 'denied'].flatMap((state) => [
        { states: [state], href, socket: 'open', expect: AGENT },
        { states: [state], href, socket: 'fail', expect: UNAVAILABLE },
      ])),
    // An https page from elsewhere.
    { states: ['granted'], href: 'https://edms.example.com/', socket: 'open', expect: AGENT },
    { states: ['granted'], href: 'https://edms.example.com/', socket: 'fail', expect: UNAVAILABLE },
    { states: ['granted'], href: 'https://edms.example.com/', socket: 'silence', expect: UNAVAILABLE },
    { states: ['prompt'], href: 'https://edms.example.com/', socket: 'open', expect: AGENT },
    { states: ['prompt'], href: 'https://edms.example.com/', socket: 'fail', expect: blocked('prompt') },
    { states: ['prompt'], href: 'https://edms.example.com/', socket: 'silence', expect: blocked('prompt') },
    { states: ['prompt', 'granted'], href: 'https://edms.example.com/', socket: 'fail', expect: UNAVAILABLE },
    { states: ['prompt', 'denied'], href: 'https://edms.example.com/', socket: 'fail', expect: blocked('denied') },
    { states: ['denied'], href: 'https://edms.example.com/', socket: 'open', expect: blocked('denied') },
    { states: ['denied'], href: 'https://10.1.2.3/', socket: 'fail', expect: blocked('denied') },
    // A plain-http page from elsewhere: 'denied' is all the browser says, and it may still let it through.
    { states: ['denied'], href: 'http://edms.example.com/', socket: 'open', expect: AGENT },
    { states: ['denied'], href: 'http://edms.example.com/', socket: 'fail', expect: blocked('insecure') },
    { states: ['denied'], href: 'http://10.1.2.3:8080/', socket: 'fail', expect: blocked('insecure') },
    { states: ['prompt'], href: 'http://edms.example.com/', socket: 'fail', expect: blocked('insecure') },
    { states: ['granted'], href: 'http://edms.example.com/', socket: 'fail', expect: UNAVAILABLE },
    // A browser without the permission keeps nobody out.
    { states: [null], href: 'http://edms.example.com/', socket: 'fail', expect: UNAVAILABLE },
    { states: [null], href: 'https://edms.example.com/', socket: 'open', expect: AGENT },
  ];
  for (const c of cases) {
    const label = `${c.states.join('→')} ${c.href} ${c.socket}`;
    const { Socket, made } = scriptedSocket(c.socket);
    const permissions = c.states[0] === null ? null : permissionsAnswering(...c.states);
    const { value, error } = await settle(connect({
      url: 'ws://127.0.0.1:23232', timeoutMs: 30, promptTimeoutMs: 30, WebSocket: Socket, permissions,
      location: page(c.href), language: 'en',
    }));
    if (c.expect === AGENT) {
      assert.ok(value instanceof AgentConnection, `${label}: ${error}`);
    } else if (c.expect === UNAVAILABLE) {
      assert.ok(error instanceof AgentUnavailableError, `${label}: ${value || error}`);
    } else {
      assert.ok(error instanceof LocalAccessBlockedError, `${label}: ${value || error}`);
      assert.equal(error.reason, c.expect.reason, label);
      assert.equal(error.name, 'LocalAccessBlockedError', label);
    }
    assert.equal(made.length, c.expect.reason === 'denied' && c.states.length === 1 ? 0 : 1, `${label}: sockets`);
  }
});

test('a page served from this computer opens its socket at once, without asking the browser', () => {
  const { Socket, made } = scriptedSocket('open');
  const permissions = permissionsAnswering('denied');
  const pending = connect({ WebSocket: Socket, permissions, location: page('http://127.0.0.1:8080/') });
  assert.equal(made.length, 1);  // within the click's own task
  assert.deepEqual(permissions.asked, []);
  return pending;
});

test('in the prompt state connect waits for the user to answer the browser', async () => {
  const { Socket } = scriptedSocket('open', { after: 80 });
  const options = { WebSocket: Socket, location: page('https://edms.example.com/'), timeoutMs: 20, promptTimeoutMs: 2000 };
  assert.ok(await connect({ ...options, permissions: permissionsAnswering('prompt') }) instanceof AgentConnection);
  await assert.rejects(connect({ ...options, permissions: permissionsAnswering('granted') }), AgentUnavailableError);
});

test('the blocked message speaks the page language and says what to do', () => {
  const languages = [
    { document: { documentElement: { lang: 'ko' } }, navigator: { language: 'en-US' }, language: 'ko' },
    { document: { documentElement: { lang: 'ko-KR' } }, navigator: undefined, language: 'ko' },
    { document: { documentElement: { lang: 'en' } }, navigator: { language: 'ko-KR' }, language: 'en' },
    { document: { documentElement: { lang: '' } }, navigator: { language: 'ko-KR' }, language: 'ko' },
    { document: undefined, navigator: { language: 'ko' }, language: 'ko' },
    { document: undefined, navigator: { language: 'kok' }, language: 'en' },  // Konkani
    { document: undefined, navigator: undefined, language: 'en' },
  ];
  for (const c of languages) {
    assert.equal(pageLanguage({ document: c.document, navigator: c.navigator }), c.language, JSON.stringify(c));
  }

  const url = 'ws://127.0.0.1:23232';
  const texts = [
    { reason: 'denied', language: 'en', says: [/not allowed/, /site settings/, /administrator/, /policy/] },
    { reason: 'prompt', language: 'en', says: [/Allow/, /site settings/, /policy/, /start Pellarin/] },
    { reason: 'insecure', language: 'en', says: [/plain http/, /https/, /policy/, /start Pellarin/, /127\.0\.0\.1:23232/] },
    { reason: 'denied', language: 'ko', says: [/허용되지 않았습니다/, /사이트 설정/, /관리자/, /기업 정책/] },
    { reason: 'prompt', language: 'ko', says: [/허용/, /사이트 설정/, /기업 정책/, /Pellarin을 시작/] },
    { reason: 'insecure', language: 'ko', says: [/http/, /https로 제공/, /기업 정책/, /Pellarin을 시작/, /127\.0\.0\.1:23232/] },
    { reason: 'denied', language: 'fr', says: [/not allowed/] },  // no French: English
  ];
  for (const c of texts) {
    const e = new LocalAccessBlockedError(c.reason, url, c.language);
    for (const pattern of c.says) assert.match(e.message, pattern, `${c.reason}/${c.language}`);
    assert.equal(e.message, [e.what, ...e.steps].join(' '));
    assert.ok(e.steps.length >= 2, `${c.reason}/${c.language}: steps`);
    if (c.language === 'en' || c.language === 'fr') assert.doesNotMatch(e.message, /[가-힣]/);
  }
});

test('connect words its refusal in the page language by default', async () => {
  const saved = Object.getOwnPropertyDescriptor(globalThis, 'document');
  globalThis.document = { documentElement: { lang: 'ko' } };
  try {
    const error = await connect({
      WebSocket: scriptedSocket('fail').Socket, permissions: permissionsAnswering('denied'),
      location: page('https://edms.example.com/'),
    }).catch((e) => e);
    assert.equal(error.language, 'ko');
    assert.match(error.message, /사이트 설정/);
  } finally {
    if (saved) Object.defineProperty(globalThis, 'document', saved);
    else delete globalThis.document;
  }
});
