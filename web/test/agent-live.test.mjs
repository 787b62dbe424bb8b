// The page-side client against a running agent. Skipped unless EDMS_AGENT_URL names one
// (the end-to-end tests start the agent and run this file):
//   EDMS_AGENT_URL=ws://127.0.0.1:23232 node --experimental-websocket --test web/test/agent-live.test.mjs
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { AgentUnavailableError, connect } from '../edms-agent.js';

const url = process.env.EDMS_AGENT_URL;
const skip = !url ? 'EDMS_AGENT_URL is not set' : typeof WebSocket !== 'function' ? 'no WebSocket (run node with --experimental-websocket)' : false;

test('login, CHECK_USER and commands without replies', { skip, timeout: 30000 }, async () => {
  const agent = await connect({ url, timeoutMs: 10000 });
  try {
    assert.equal(await agent.login('alice'), 'Welcome alice');
    assert.equal(await agent.checkUser(), 'SUCCESS');
    const seen = [];
    agent.onReply((r) => seen.push(r));
    agent.addToDownload({ documentId: 'DEMO-1', pageId: 'P1', fileName: 'Report.docx' });
    agent.clearDownload();
    agent.send('check_user');
    assert.equal(await agent.checkUser(), 'SUCCESS');
    assert.deepEqual(seen, [{ arg1: 'CHECK_USER', arg2: 'SUCCESS' }]);
  } finally {
    agent.close();
  }
});

test('a Korean user id comes back intact', { skip, timeout: 30000 }, async () => {
  const agent = await connect({ url, timeoutMs: 10000 });
  try {
    assert.equal(await agent.login('김철수'), 'Welcome 김철수');
  } finally {
    agent.close();
  }
});

test('a port where no agent listens gives the no-agent error', { skip, timeout: 30000 }, async () => {
  const dead = new URL(url);
  dead.port = '1';
  await assert.rejects(connect({ url: dead.href, timeoutMs: 5000 }), AgentUnavailableError);
});
