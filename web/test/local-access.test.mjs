// The client's decisions when the browser may keep a page from apps on this computer.
// Run: node --test web/test/
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  AgentConnection, AgentUnavailableError, LocalAccessBlockedError, connect, localAccessState, pageLanguage,
} from '../edms-agent.js';

// A socket that plays one outcome by itself: 'open', 'fail' (error, then close, as a refused or
// blocked socket does) or 'silence'.
function scriptedSocket(outcome, after = 0) {
  const made = [];
  class Socket {
    constructor() {
      made.push(this);
      setTimeout(() => {
        if (outcome === 'open' && this.onopen) this.onopen();
        if (outcome === 'fail' && this.onerror) { this.onerror(); this.onclose && this.onclose(); }
      }, after);
    }
    close() {}
  }
  return { Socket, made };
}

// navigator.permissions answering `states` in turn, the last one for good.
const answering = (...states) => ({ asked: [], query({ name }) { this.asked.push(name); return Promise.resolve({ state: states.length > 1 ? states.shift() : states[0] }); } });

const OK = 'agent', NONE = 'no agent';
const ELSEWHERE = 'https://edms.example.com/', PLAIN = 'http://edms.example.com/';

test('connect settles by permission state, page address and protocol, and socket outcome', async () => {
  // [states before → after the try, page, socket, outcome]: an outcome other than OK or NONE is
  // the reason of a LocalAccessBlockedError.
  const cases = [
    ...['http://127.0.0.1:8080/', 'http://localhost/', 'http://[::1]:8080/'].flatMap((page) =>
      ['prompt', 'denied'].flatMap((s) => [[[s], page, 'open', OK], [[s], page, 'fail', NONE]])),
    [['granted'], ELSEWHERE, 'open', OK], [['granted'], ELSEWHERE, 'fail', NONE], [['granted'], ELSEWHERE, 'silence', NONE],
    [['prompt'], ELSEWHERE, 'open', OK], [['prompt'], ELSEWHERE, 'fail', 'prompt'], [['prompt'], ELSEWHERE, 'silence', 'prompt'],
    [['prompt', 'granted'], ELSEWHERE, 'fail', NONE], [['prompt', 'denied'], ELSEWHERE, 'fail', 'denied'],
    [['denied'], ELSEWHERE, 'open', 'denied'],
    // Chromium says 'denied' to every plain-http page, and still lets one on the local network through.
    [['denied'], PLAIN, 'open', OK], [['denied'], PLAIN, 'fail', 'insecure'], [['prompt'], PLAIN, 'fail', 'insecure'],
    [[null], PLAIN, 'fail', NONE], [[null], ELSEWHERE, 'open', OK],
  ];
  for (const [states, page, socket, outcome] of cases) {
    const label = `${states.join('→')} ${page} ${socket}`;
    const { Socket, made } = scriptedSocket(socket);
    const error = await connect({
      WebSocket: Socket, timeoutMs: 30, promptTimeoutMs: 30, location: new URL(page), language: 'en',
      permissions: states[0] === null ? null : answering(...states),
    }).then((agent) => { assert.ok(agent instanceof AgentConnection, label); return null; }, (e) => e);
    if (outcome === OK) assert.equal(error, null, label);
    else if (outcome === NONE) assert.ok(error instanceof AgentUnavailableError, `${label}: ${error}`);
    else assert.deepEqual([error.name, error.reason], ['LocalAccessBlockedError', outcome], `${label}: ${error}`);
    assert.equal(made.length, outcome === 'denied' && states.length === 1 ? 0 : 1, `${label}: sockets made`);
  }
});

test('localAccessState is unsupported where the browser has no such permission', async () => {
  for (const permissions of [null, { query: () => Promise.reject(new TypeError()) }, { query: () => { throw new TypeError(); } }]) {
    assert.equal(await localAccessState({ permissions }), 'unsupported');
  }
  const permissions = answering('prompt');
  assert.equal(await localAccessState({ permissions }), 'prompt');
  assert.deepEqual(permissions.asked, ['loopback-network']);
});

test('a page from this computer opens its socket within the click, asking the browser nothing', async () => {
  const { Socket, made } = scriptedSocket('open');
  const permissions = answering('denied');
  const pending = connect({ WebSocket: Socket, permissions, location: new URL('http://127.0.0.1:8080/') });
  assert.deepEqual([made.length, permissions.asked], [1, []]);
  await pending;
});

test('in the prompt state connect waits longer: the user may be answering the browser', async () => {
  const options = { WebSocket: scriptedSocket('open', 80).Socket, location: new URL(ELSEWHERE), timeoutMs: 20, promptTimeoutMs: 2000 };
  assert.ok(await connect({ ...options, permissions: answering('prompt') }) instanceof AgentConnection);
  await assert.rejects(connect({ ...options, permissions: answering('granted') }), AgentUnavailableError);
});

test('the refusal speaks the page language', async () => {
  const lang = (l) => ({ documentElement: { lang: l } });
  const cases = [[lang('ko'), { language: 'en-US' }, 'ko'], [lang('en'), { language: 'ko-KR' }, 'en'],
                 [lang(''), { language: 'ko-KR' }, 'ko'], [undefined, { language: 'kok' }, 'en'], [undefined, undefined, 'en']];
  for (const [document, navigator, expected] of cases) assert.equal(pageLanguage({ document, navigator }), expected);

  globalThis.document = lang('ko');
  try {
    const e = await connect({ WebSocket: scriptedSocket('fail').Socket, permissions: answering('denied'), location: new URL(PLAIN) })
      .catch((err) => err);
    assert.equal(e.reason, 'insecure');
    assert.match(e.message, /https로 제공/);        // what the administrator must do
    assert.match(e.message, /Pellarin을 시작/);     // and the other cause
  } finally {
    delete globalThis.document;
  }
  assert.doesNotMatch(new LocalAccessBlockedError('denied', 'ws://127.0.0.1:23232', 'en').message, /[가-힣]/);
});
