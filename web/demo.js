// The demo EDMS page: devserver's documents as devserver holds them now, and the agent's
// commands on them. The list is read again after every check-out reply, so a check-out shows
// its holder while the editor is open and a check-in its new version and note at once.
import {
  AgentUnavailableError, DEFAULT_URL, LocalAccessBlockedError, connect, localAccessState, servedFromThisComputer,
} from './edms-agent.js';

const $ = (id) => document.getElementById(id);
let agent = null;
let documents = [];               // as the last read of devserver's list gave them
let reads = 0;                    // reads of the list started; an older answer is not shown
const busy = new Set();           // ids of documents whose check-out cycle runs from this page
const noEditor = new Map();       // id -> why the agent could not open the document here
const queue = [];                 // file names this page has added to the agent's download list

// The agent's address: its standard port, or ?agentPort=N from the page's address (make run
// prints such an address when EDMS_AGENT_PORT moves the agent).
function agentUrl() {
  const port = new URLSearchParams(location.search).get('agentPort');
  return port && /^[0-9]{1,5}$/.test(port) && Number(port) >= 1 && Number(port) <= 65535
    ? `ws://127.0.0.1:${Number(port)}` : DEFAULT_URL;
}

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

function element(tag, text = '', className = '') {
  const e = document.createElement(tag);
  e.textContent = text;
  if (className) e.className = className;
  return e;
}

function extensionOf(name) {
  const dot = name.lastIndexOf('.');
  return dot > 0 ? name.slice(dot) : '';
}

function holderText(checkout) {
  if (!checkout) return 'free';
  const who = checkout.user_name && checkout.user_name !== checkout.user
    ? `${checkout.user_name} (${checkout.user})` : checkout.user;
  return `checked out by ${who}, version ${checkout.version}`;
}

async function loadDocuments() {
  const read = ++reads;
  try {
    const reply = await fetch('/api/documents', { cache: 'no-store' });
    if (!reply.ok) throw new Error(`devserver answered ${reply.status} ${reply.statusText}`);
    const list = (await reply.json()).documents;
    if (read !== reads) return;
    documents = list;
    $('documents-error').hidden = true;
  } catch (e) {
    if (read !== reads) return;
    $('documents-error').textContent = `The documents could not be read from devserver: ${e.message}`;
    $('documents-error').hidden = false;
  }
  renderDocuments();
}

function renderDocuments() {
  const body = $('documents').querySelector('tbody');
  body.replaceChildren();
  for (const doc of documents) {
    const row = document.createElement('tr');
    row.dataset.object = doc.object;
    row.append(element('td', doc.name, 'name'), element('td', doc.object, 'object'),
               element('td', doc.page, 'page'), element('td', doc.current, 'current'));
    const history = element('ol', '', 'versions');
    for (const v of doc.versions) {
      const author = v.author_name || v.author;
      const item = element('li', `${v.version}${v.note ? ` “${v.note}”` : ''} — ${author}`);
      if (v.version === doc.current) item.className = 'current';
      history.append(item);
    }
    const versions = element('td');
    versions.append(history);
    row.append(versions, element('td', holderText(doc.checkout), doc.checkout ? 'holder held' : 'holder'));

    const actions = element('td', '', 'buttons');
    const button = (label, onClick, disabled = false) => {
      const b = element('button', label);
      b.type = 'button';
      b.disabled = !agent || disabled;
      b.addEventListener('click', onClick);
      actions.append(b);
    };
    button('Edit', guarded(`CHECKOUT ${doc.name}`, () => edit(doc)), busy.has(doc.object));
    button('View', guarded(`VIEW ${doc.name}`, async () => agent.view(item(doc))));
    button('Add to download', guarded(`ADD_TO_DOWNLOAD ${doc.name}`, async () => {
      agent.addToDownload(item(doc));
      queue.push(doc.name);
      renderQueue();
    }));
    row.append(actions, element('td', noEditor.get(doc.object) || '', 'note'));
    body.append(row);
  }
}

function renderQueue() {
  $('queue').replaceChildren(...queue.map((name) => element('li', name)));
  $('queued').textContent = queue.length
    ? `${queue.length} file${queue.length === 1 ? '' : 's'} queued for download`
    : 'The download list is empty.';
}

function item(doc) {
  return { documentId: doc.object, pageId: doc.page, fileName: doc.name };
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

// One check-out cycle of the current version. Each reply shows in the log as it comes
// (onReply); after each one the list is read again.
async function edit(doc) {
  busy.add(doc.object);
  noEditor.delete(doc.object);
  renderDocuments();
  try {
    const words = [];
    const cycle = agent.checkOut({ ...item(doc), version: doc.current, isCurrent: true, creator: doc.creator,
                                   isImmutable: doc.immutable });
    for await (const word of cycle) {
      words.push(word);
      if (word === 'EDIT_FAIL') {
        const ext = extensionOf(doc.name);
        noEditor.set(doc.object, `This computer has no editor for ${ext ? `${ext} files` : 'this file'}: ` +
                                 'the check-out was cancelled.');
      }
      await loadDocuments();
    }
    log(`${doc.name}: cycle ended (${words.join(' → ')})`);
  } finally {
    busy.delete(doc.object);
    renderDocuments();
  }
}

function setConnected(connection) {
  agent = connection;
  for (const id of ['check-user', 'download-all', 'clear-download']) $(id).disabled = !connection;
  renderDocuments();
}

function showNoAgent(url, show) {
  $('no-agent-url').textContent = url;
  $('no-agent').hidden = !show;
}

function showBlocked(error) {
  $('blocked-what').textContent = error ? error.what : '';
  $('blocked-steps').replaceChildren(...(error ? error.steps.map((step) => element('li', step)) : []));
  $('blocked').hidden = !error;
}

const ACCESS_TEXTS = {
  granted: 'This site may reach apps on this device.',
  prompt: 'The browser asks before this site reaches apps on this device: press ' +
          '“Connect to the agent on this computer” and choose Allow.',
  denied: 'This site is not allowed to reach apps on this device.',
  insecure: 'This page came over plain http from another computer: the browser lets it reach the ' +
            'agent only from the local network. An EDMS should be served over https.',
  unsupported: 'This browser does not keep pages from apps on this device.',
};

// What the browser says about this page reaching the agent. A page from elsewhere in the
// prompt state connects only from the button (a click lets the browser ask the user).
async function showAccess() {
  const here = servedFromThisComputer();
  const state = here ? 'here' : await localAccessState();
  const insecure = location.protocol !== 'https:' && (state === 'denied' || state === 'prompt');
  $('access').textContent = here ? 'This page is served from this computer: the browser lets it reach the agent.'
    : ACCESS_TEXTS[insecure ? 'insecure' : state];
  $('access').className = `access${state === 'denied' && !insecure ? ' blocked' : ''}`;
  $('access').hidden = false;
  $('connect').textContent = state === 'prompt' && !insecure
    ? 'Connect to the agent on this computer' : 'Connect to the agent';
  if (state === 'denied' && !insecure && !agent) showBlocked(new LocalAccessBlockedError('denied', agentUrl()));
}

async function onConnect(event) {
  event.preventDefault();
  const old = agent;
  setConnected(null);
  if (old) old.close();
  const user = $('user').value.trim();
  if (!user) {
    setStatus('Enter a user name first', 'error');
    return;
  }
  const url = agentUrl();
  setStatus('Connecting…', '');
  try {
    const connection = await connect({ url });
    connection.onReply(({ arg1, arg2 }) => log(arg2 ? `${arg1}: ${arg2}` : arg1));
    await connection.login(user);
    connection.onClose(() => {
      if (agent !== connection) return;
      setConnected(null);
      setStatus('The agent closed the connection', 'error');
      showNoAgent(url, true);
    });
    showNoAgent(url, false);
    showBlocked(null);
    setConnected(connection);
    setStatus(`Connected as ${user}`, 'ok');
  } catch (e) {
    const blocked = e instanceof LocalAccessBlockedError;
    setStatus(blocked ? 'The browser keeps this page from the agent'
      : e instanceof AgentUnavailableError ? 'No agent answers' : e.message, 'error');
    log(e.message, 'error');
    showBlocked(blocked ? e : null);
    showNoAgent(url, !blocked);
  }
  // The user may have answered the browser's question.
  showAccess();
}

function main() {
  renderQueue();
  loadDocuments();
  showAccess();
  $('login').addEventListener('submit', onConnect);
  $('refresh').addEventListener('click', loadDocuments);
  $('check-user').addEventListener('click', guarded('CHECK_USER', async () => { await agent.checkUser(); }));
  // The agent answers neither command; its list is emptied by the download window or CLEAR_DOWNLOAD.
  $('download-all').addEventListener('click', guarded('DO_DOWNLOAD', async () => {
    agent.doDownload();
    queue.length = 0;
    renderQueue();
  }));
  $('clear-download').addEventListener('click', guarded('CLEAR_DOWNLOAD', async () => {
    agent.clearDownload();
    queue.length = 0;
    renderQueue();
  }));
}

main();
