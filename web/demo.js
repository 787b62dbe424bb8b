// The demo EDMS page: the documents devserver seeds, and the agent's commands on them.
import { connect } from './edms-agent.js';

// devserver's seeded documents (its README lists them).
export const DOCUMENTS = [
  { documentId: 'DEMO-1', pageId: 'P1', fileName: 'Report.docx', version: '1.0', creator: 'alice', isImmutable: false },
  { documentId: 'DEMO-2', pageId: 'P1', fileName: 'Policy.pdf', version: '2.0', creator: 'bob', isImmutable: true },
  { documentId: 'DEMO-3', pageId: 'P1', fileName: 'Budget.xlsx', version: '1.1', creator: 'alice', isImmutable: false },
  { documentId: 'DEMO-4', pageId: 'P1', fileName: '회의록.txt', version: '1.0', creator: 'bob', isImmutable: false },
];

const $ = (id) => document.getElementById(id);
let agent = null;
let queued = 0;

function log(text, kind = '') {
  const li = document.createElement('li');
  li.textContent = text;
  if (kind) li.className = kind;
  $('log').append(li);
}

function setStatus(text, kind) {
  $('status').textContent = text;
  $('status').className = kind;
}

function setConnected(on) {
  for (const b of document.querySelectorAll('button[data-needs-agent], #check-user, #download-all, #clear-download')) {
    b.disabled = !on;
  }
}

function setQueued(n) {
  queued = n;
  $('queued').textContent = `${n} file${n === 1 ? '' : 's'} queued`;
}

// Runs one page action; a refused send (connection gone) shows in the log, never as an uncaught error.
function guarded(label, action) {
  return async () => {
    log(`→ ${label}`, 'sent');
    try {
      await action();
    } catch (e) {
      log(`${label}: ${e.message}`, 'error');
    }
  };
}

function renderDocuments() {
  const body = $('documents').querySelector('tbody');
  for (const doc of DOCUMENTS) {
    const row = document.createElement('tr');
    for (const text of [doc.fileName, doc.documentId, doc.pageId, doc.version, doc.creator]) {
      const td = document.createElement('td');
      td.textContent = text;
      row.append(td);
    }
    const cell = document.createElement('td');
    cell.className = 'buttons';
    const button = (label, onClick) => {
      const b = document.createElement('button');
      b.type = 'button';
      b.textContent = label;
      b.dataset.needsAgent = '';
      b.disabled = true;
      b.addEventListener('click', onClick);
      cell.append(b);
    };
    button('Edit', guarded(`CHECKOUT ${doc.fileName}`, async () => {
      // Each reply shows as it comes (onReply); the cycle's end is noted once.
      const words = await agent.checkOut({ ...doc, isCurrent: true }).done;
      log(`${doc.fileName}: cycle ended (${words.join(' → ')})`);
    }));
    button('View', guarded(`VIEW ${doc.fileName}`, async () => agent.view(doc)));
    button('Add to download', guarded(`ADD_TO_DOWNLOAD ${doc.fileName}`, async () => {
      agent.addToDownload(doc);
      setQueued(queued + 1);
    }));
    row.append(cell);
    body.append(row);
  }
}

async function onConnect(event) {
  event.preventDefault();
  if (agent) agent.close();
  agent = null;
  setConnected(false);
  const user = $('user').value.trim();
  if (!user) {
    setStatus('Enter a user name first', 'error');
    return;
  }
  setStatus('Connecting…', '');
  try {
    const connection = await connect();
    connection.onReply(({ arg1, arg2 }) => log(arg2 ? `${arg1}: ${arg2}` : arg1));
    await connection.login(user);
    agent = connection;
    setStatus(`Connected as ${user}`, 'ok');
    setConnected(true);
    setQueued(0);
  } catch (e) {
    setStatus(e.message, 'error');
    log(e.message, 'error');
  }
}

function main() {
  renderDocuments();
  $('login').addEventListener('submit', onConnect);
  $('check-user').addEventListener('click', guarded('CHECK_USER', async () => { await agent.checkUser(); }));
  $('download-all').addEventListener('click', guarded('DO_DOWNLOAD', async () => {
    agent.doDownload();
    setQueued(0);
  }));
  $('clear-download').addEventListener('click', guarded('CLEAR_DOWNLOAD', async () => {
    agent.clearDownload();
    setQueued(0);
  }));
}

main();
