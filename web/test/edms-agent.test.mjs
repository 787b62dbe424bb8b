// The page-side client against a scripted socket: framing, field joining, reply routing.
// Run: node --test web/test/
import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
  AgentClosedError, AgentTimeoutError, AgentUnavailableError, connect, joinFields,
} from '../edms-agent.js';

// Stands in for the browser's WebSocket: records what is sent, lets a test open, answer, fail.
class FakeSocket {
  static last = null;
  constructor(url) {
    this.url = url;
    this.sent = [];
    this.closed = false;
    FakeSocket.last = this;
  }
  send(data) { this.sent.push(JSON.parse(data)); }
  close() {
    if (this.closed) return;
    this.closed = true;
    queueMicrotask(() => this.onclose && this.onclose());
  }
  reply(arg1, arg2 = '') { this.onmessage({ data: JSON.stringify({ arg1, arg2 }) }); }
  raw(data) { this.onmessage({ data }); }
}

async function open() {
  const pending = connect({ WebSocket: FakeSocket, timeoutMs: 1000 });
  const socket = FakeSocket.last;
  socket.onopen();
  return { agent: await pending, socket };
}

async function collect(iterable) {
  const words = [];
  for await (const w of iterable) words.push(w);
  return words;
}

const DOC = { documentId: 'DEMO-1', pageId: 'P1', fileName: 'Report.docx', version: '1.0', creator: 'alice' };

test('a connection that fails or never opens rejects with the no-agent error', async () => {
  const cases = [
    { name: 'error event', act: (s) => s.onerror() },
    { name: 'closed before open', act: (s) => s.onclose() },
    { name: 'silence', act: () => {} },
  ];
  for (const c of cases) {
    const pending = connect({ url: 'ws://127.0.0.1:1', WebSocket: FakeSocket, timeoutMs: 50 });
    c.act(FakeSocket.last);
    await assert.rejects(pending, (e) => {
      assert.ok(e instanceof AgentUnavailableError, c.name);
      assert.match(e.message, /^No agent is running on this computer/, c.name);
      assert.match(e.message, /ws:\/\/127\.0\.0\.1:1/, c.name);
      return true;
    });
  }
});

test('a constructor that throws (bad URL) is the no-agent error, not an exception', async () => {
  class Throwing { constructor() { throw new SyntaxError('bad url'); } }
  await assert.rejects(connect({ WebSocket: Throwing }), AgentUnavailableError);
});

test('login sends the key as arg1 with an empty arg2 and resolves with the welcome', async () => {
  const { agent, socket } = await open();
  const login = agent.login('홍길동');
  assert.deepEqual(socket.sent, [{ arg1: '홍길동', arg2: '' }]);
  socket.reply('Welcome 홍길동');
  assert.equal(await login, 'Welcome 홍길동');
});

test('commands put their fields in arg2 joined as the agent splits them', () => {
  return open().then(({ agent, socket }) => {
    const cases = [
      [() => agent.send('CHECK_USER'), { arg1: 'CHECK_USER', arg2: '' }],
      [() => agent.view(DOC), { arg1: 'VIEW', arg2: 'DEMO-1^P1^Report.docx' }],
      [() => agent.addToDownload(DOC), { arg1: 'ADD_TO_DOWNLOAD', arg2: 'DEMO-1*P1*Report.docx' }],
      [() => agent.doDownload(), { arg1: 'DO_DOWNLOAD', arg2: '' }],
      [() => agent.clearDownload(), { arg1: 'CLEAR_DOWNLOAD', arg2: '' }],
      [() => agent.checkOut({ ...DOC, isImmutable: true }),
        { arg1: 'CHECKOUT', arg2: 'DEMO-1^P1^Report.docx^1.0^TRUE^alice^TRUE' }],
      [() => agent.checkOut({ ...DOC, isCurrent: false, creator: undefined }),
        { arg1: 'CHECKOUT', arg2: 'DEMO-1^P1^Report.docx^1.0^FALSE^^FALSE' }],
      [() => agent.send('CHECKOUT', 'a', '', 'c'), { arg1: 'CHECKOUT', arg2: 'a^^c' }],
    ];
    for (const [act, expected] of cases) {
      socket.sent.length = 0;
      act();
      assert.deepEqual(socket.sent, [expected]);
    }
  });
});

test('a field holding its separator is refused before anything is sent', async () => {
  const { agent, socket } = await open();
  assert.throws(() => agent.view({ ...DOC, fileName: 'a^b.docx' }), TypeError);
  assert.throws(() => agent.addToDownload({ ...DOC, fileName: 'a*b.docx' }), TypeError);
  assert.equal(joinFields(['a*b', 'c']), 'a*b^c');
  assert.deepEqual(socket.sent, []);
});

test('a check-out cycle yields its replies and ends after the last one', async () => {
  const cases = [
    { replies: ['CHECKOUT_FAIL'], words: ['CHECKOUT_FAIL'] },
    { replies: ['CHECKOUT_SUCCESS', 'CANCEL_SUCCESS'], words: ['CHECKOUT_SUCCESS', 'CANCEL_SUCCESS'] },
    { replies: ['CHECKOUT_SUCCESS', 'CHECKIN_FAIL'], words: ['CHECKOUT_SUCCESS', 'CHECKIN_FAIL'] },
    { replies: ['CHECKOUT_SUCCESS', 'EDIT_FAIL'], words: ['CHECKOUT_SUCCESS', 'EDIT_FAIL'] },
    // Words after the end belong to no cycle and do not reopen this one.
    { replies: ['CHECKOUT_FAIL', 'CANCEL_SUCCESS'], words: ['CHECKOUT_FAIL'] },
  ];
  for (const c of cases) {
    const { agent, socket } = await open();
    const cycle = agent.checkOut(DOC);
    const words = collect(cycle);
    for (const r of c.replies) socket.reply('CHECKOUT', r);
    assert.deepEqual(await words, c.words, c.replies.join(','));
    assert.deepEqual(await cycle.done, c.words);
  }
});

test('replies that arrive before anyone iterates are kept for the iterator', async () => {
  const { agent, socket } = await open();
  const cycle = agent.checkOut(DOC);
  socket.reply('CHECKOUT', 'CHECKOUT_SUCCESS');
  socket.reply('CHECKOUT', 'CHECKIN_SUCCESS');
  assert.deepEqual(await collect(cycle), ['CHECKOUT_SUCCESS', 'CHECKIN_SUCCESS']);
});

test('concurrent cycles on one connection take their replies in start order', async () => {
  const { agent, socket } = await open();
  const first = agent.checkOut(DOC);
  const second = agent.checkOut({ ...DOC, documentId: 'DEMO-3' });
  const third = agent.checkOut({ ...DOC, documentId: 'DEMO-4' });
  for (const r of ['CHECKOUT_SUCCESS', 'CHECKOUT_SUCCESS', 'CHECKOUT_FAIL', 'CANCEL_SUCCESS', 'CHECKIN_SUCCESS']) {
    socket.reply('CHECKOUT', r);
  }
  assert.deepEqual(await first.done, ['CHECKOUT_SUCCESS', 'CANCEL_SUCCESS']);
  assert.deepEqual(await second.done, ['CHECKOUT_SUCCESS', 'CHECKIN_SUCCESS']);
  assert.deepEqual(await third.done, ['CHECKOUT_FAIL']);
});

test('checkUser answers in order, ignoring messages that are not replies', async () => {
  const { agent, socket } = await open();
  const a = agent.checkUser();
  const b = agent.checkUser();
  socket.raw('not json');
  socket.raw('{"arg2": "no arg1"}');
  socket.raw('[1, 2]');
  socket.reply('CHECKOUT', 'CHECKIN_SUCCESS');  // no cycle is waiting: dropped
  socket.reply('CHECK_USER', 'SUCCESS');
  socket.reply('CHECK_USER', 'BOB');
  assert.equal(await a, 'SUCCESS');
  assert.equal(await b, 'BOB');
});

test('every reply reaches the listeners until they unsubscribe', async () => {
  const { agent, socket } = await open();
  const seen = [];
  const off = agent.onReply((r) => seen.push(r));
  agent.onReply(() => { throw new Error('a faulty listener'); });
  socket.reply('Welcome alice');
  socket.reply('CHECK_USER', 'SUCCESS');
  off();
  socket.reply('CHECK_USER', 'BOB');
  assert.deepEqual(seen, [{ arg1: 'Welcome alice', arg2: '' }, { arg1: 'CHECK_USER', arg2: 'SUCCESS' }]);
});

test('an unanswered CHECK_USER times out and a late answer goes to nobody', async () => {
  const { agent, socket } = await open();
  await assert.rejects(agent.checkUser({ timeoutMs: 20 }), AgentTimeoutError);
  const next = agent.checkUser({ timeoutMs: 1000 });
  socket.reply('CHECK_USER', 'LATE');  // the timed-out request's answer
  socket.reply('CHECK_USER', 'SUCCESS');
  assert.equal(await next, 'SUCCESS');
});

test('closing fails everything still waiting and refuses further sends', async () => {
  const { agent, socket } = await open();
  let closes = 0;
  agent.onClose(() => { closes += 1; });
  const check = agent.checkUser();
  const login = agent.login('alice');
  const cycle = agent.checkOut(DOC);
  socket.reply('CHECKOUT', 'CHECKOUT_SUCCESS');
  const words = [];
  const iterated = (async () => { for await (const w of cycle) words.push(w); })();
  socket.close();
  await assert.rejects(check, AgentClosedError);
  await assert.rejects(login, AgentClosedError);
  await assert.rejects(iterated, AgentClosedError);
  await assert.rejects(cycle.done, AgentClosedError);
  assert.deepEqual(words, ['CHECKOUT_SUCCESS']);
  assert.equal(agent.closed, true);
  agent.close();
  assert.equal(closes, 1);
  assert.throws(() => agent.doDownload(), AgentClosedError);
  await assert.rejects(agent.checkUser(), AgentClosedError);
});
