// The page side of the agent's local command service.
//
//   import { connect } from './edms-agent.js';
//   const agent = await connect();              // rejects with AgentUnavailableError
//   await agent.login('alice');                 // "Welcome alice"
//   await agent.checkUser();                    // "SUCCESS" or the session user's id
//   for await (const word of agent.checkOut(doc)) show(word);   // both replies of a cycle
//   agent.close();
//
// Every message either way is one JSON text {"arg1": ..., "arg2": ...}. The agent answers
// only CHECK_USER and CHECKOUT; the other commands are fire-and-forget.
//
// A page from another computer reaches the agent only while the browser lets this site reach
// apps on this device (Local Network Access). The flow such a page follows:
//
//   import { connect, localAccessState, LocalAccessBlockedError } from './edms-agent.js';
//   const state = await localAccessState();     // 'granted' | 'prompt' | 'denied' | 'unsupported'
//   if (state === 'prompt') {
//     // The browser may ask the user: connect from a click, never at page load.
//     button.textContent = 'Connect to the agent on this computer';
//     button.onclick = () => connect().then(start, explain);
//   } else {
//     connect().then(start, explain);
//   }
//   function explain(e) {
//     if (e instanceof LocalAccessBlockedError) show(e.what, e.steps);   // e.reason says which case
//     else show(e.message);                     // AgentUnavailableError: nothing answered
//   }

export const DEFAULT_URL = 'ws://127.0.0.1:23232';
export const FIELD_SEPARATOR = '^';
export const DOWNLOAD_ITEM_SEPARATOR = '*';

// Replies that end a check-out cycle; CHECKOUT_SUCCESS is followed by one of the last five.
export const CHECKOUT_FIRST_REPLIES = ['CHECKOUT_SUCCESS', 'CHECKOUT_FAIL'];
export const CHECKOUT_FINAL_REPLIES = [
  'CHECKOUT_FAIL', 'EDIT_FAIL', 'CHECKIN_SUCCESS', 'CHECKIN_FAIL', 'CANCEL_SUCCESS', 'CANCEL_FAIL',
];

// The connection could not be opened: no agent listens, or it refused this page.
export class AgentUnavailableError extends Error {
  constructor(url, detail) {
    super(`No agent is running on this computer (nothing answered at ${url}${detail ? `: ${detail}` : ''}). ` +
          'Start Pellarin and try again.');
    this.name = 'AgentUnavailableError';
    this.url = url;
  }
}

// The connection went away while a reply was awaited.
export class AgentClosedError extends Error {
  constructor() {
    super('The connection to the agent was closed.');
    this.name = 'AgentClosedError';
  }
}

export class AgentTimeoutError extends Error {
  constructor(what, ms) {
    super(`The agent did not answer ${what} within ${ms} ms.`);
    this.name = 'AgentTimeoutError';
  }
}

// The browser kept the page from the agent, or may have: `reason` says which case.
//   'denied'   this site is not allowed to reach apps on this device;
//   'prompt'   it has not been allowed (the user did not allow it), or the agent is not running;
//   'insecure' a plain-http page from another computer, refused by the browser, or the agent is
//              not running: the browser's answer is the same for both.
// `what` says what happened and `steps` what to do, each a sentence in the page's language;
// `message` is both.
export class LocalAccessBlockedError extends Error {
  constructor(reason, url, language = 'en') {
    const text = (BLOCKED_TEXTS[language] || BLOCKED_TEXTS.en)[reason];
    const what = text.what.replace('{url}', url);
    super([what, ...text.steps].join(' '));
    this.name = 'LocalAccessBlockedError';
    this.reason = reason;
    this.url = url;
    this.what = what;
    this.steps = text.steps.slice();
    this.language = BLOCKED_TEXTS[language] ? language : 'en';
  }
}

const ADMIN_STEP = {
  en: 'Or ask your administrator: an enterprise policy can allow the EDMS site.',
  ko: '또는 관리자에게 문의하십시오. 기업 정책으로 EDMS 사이트를 허용할 수 있습니다.',
};
const BLOCKED_TEXTS = {
  en: {
    denied: {
      what: 'The browser keeps this page from the agent on this computer: this site is not allowed ' +
            'to reach apps on this device.',
      steps: ['Allow this site to reach apps on this device in the browser\'s site settings (the icon ' +
              'at the left of the address), then reload the page.', ADMIN_STEP.en],
    },
    prompt: {
      what: 'The page could not reach the agent on this computer: this site has not been allowed to ' +
            'reach apps on this device, or Pellarin is not running.',
      steps: ['Press Connect and choose Allow when the browser asks whether this site may reach apps ' +
              'on this device, or allow it in the browser\'s site settings.', ADMIN_STEP.en,
              'If it is allowed already, start Pellarin and try again.'],
    },
    insecure: {
      what: 'The page could not reach the agent on this computer (nothing answered at {url}): the ' +
            'browser refuses a page served over plain http from another computer, or Pellarin is not running.',
      steps: ['If this page comes over http from another computer, the EDMS must be served over https: ' +
              'tell your administrator (an enterprise policy can also allow the EDMS site).',
              'If Pellarin is not running, start Pellarin and try again.'],
    },
  },
  ko: {
    denied: {
      what: '브라우저가 이 페이지에서 이 컴퓨터의 에이전트로의 연결을 막고 있습니다. 이 사이트는 이 기기의 ' +
            '앱에 접근하도록 허용되지 않았습니다.',
      steps: ['브라우저의 사이트 설정(주소 왼쪽의 아이콘)에서 이 사이트가 이 기기의 앱에 접근하도록 허용한 뒤 ' +
              '페이지를 새로 고치십시오.', ADMIN_STEP.ko],
    },
    prompt: {
      what: '이 컴퓨터의 에이전트에 연결하지 못했습니다. 이 사이트가 이 기기의 앱에 접근하도록 허용되지 ' +
            '않았거나 Pellarin이 실행 중이 아닙니다.',
      steps: ['연결 버튼을 누르고 브라우저가 이 사이트의 기기 앱 접근을 물으면 허용을 선택하거나, 브라우저의 ' +
              '사이트 설정에서 허용하십시오.', ADMIN_STEP.ko,
              '이미 허용되어 있다면 Pellarin을 시작한 뒤 다시 시도하십시오.'],
    },
    insecure: {
      what: '이 컴퓨터의 에이전트에 연결하지 못했습니다({url}에서 응답이 없습니다). 브라우저가 다른 컴퓨터에서 ' +
            '암호화되지 않은 http로 제공된 페이지의 연결을 거부했거나, Pellarin이 실행 중이 아닙니다.',
      steps: ['이 페이지가 다른 컴퓨터에서 http로 제공된다면 EDMS는 https로 제공되어야 합니다. 관리자에게 ' +
              '알리십시오(기업 정책으로 EDMS 사이트를 허용할 수도 있습니다).',
              'Pellarin이 실행 중이 아니라면 Pellarin을 시작한 뒤 다시 시도하십시오.'],
    },
  },
};

// 'ko' for a Korean page, else 'en': the page's own lang first, then the browser's language.
export function pageLanguage({ document = globalThis.document, navigator = globalThis.navigator } = {}) {
  const tag = (document && document.documentElement && document.documentElement.lang) ||
              (navigator && navigator.language) || '';
  return /^ko(-|$)/i.test(tag) ? 'ko' : 'en';
}

// The browser's answer for this page reaching apps on this computer: 'granted', 'prompt',
// 'denied', or 'unsupported' where it has no such permission (and so keeps no page out).
// Chromium answers 'denied' for every page that is not a secure context, whether or not it
// would let that page through (see connect).
export async function localAccessState({ permissions = globalThis.navigator && globalThis.navigator.permissions } = {}) {
  if (!permissions || typeof permissions.query !== 'function') return 'unsupported';
  try {
    const { state } = await permissions.query({ name: 'loopback-network' });
    return state === 'granted' || state === 'prompt' || state === 'denied' ? state : 'unsupported';
  } catch (_) {
    return 'unsupported';  // a browser without the permission rejects its name
  }
}

// A page served from this computer reaches the agent whatever the permission says.
export function servedFromThisComputer(location = globalThis.location) {
  return !!location && isThisComputer(location.hostname);
}

function isThisComputer(hostname) {
  const host = String(hostname || '').toLowerCase();
  return host === 'localhost' || host.endsWith('.localhost') || host === '[::1]' || host === '::1' ||
         /^127\.\d{1,3}\.\d{1,3}\.\d{1,3}$/.test(host);
}

// Opens the connection. `WebSocket`, `permissions` (navigator.permissions), `location` (the
// page's) and `language` ('en', 'ko') may be given: tests, or an environment without them.
//
// What Chromium 156 does with a socket to 127.0.0.1 (observed, headless):
// - A page served from 127.0.0.1 or localhost connects in every permission state.
// - An https page whose address is public connects only when granted; denied or prompt, the
//   socket fails at once exactly as when nothing listens (error, close 1006). Headless cannot
//   ask; a browser that shows the prompt may hold the socket until the user answers, hence
//   the longer wait in that state.
// - A plain-http page from another computer is no secure context: the permission reads
//   'denied' and cannot be granted, yet a page whose address is on the local network still
//   connects; only one from a public address is refused. The page cannot tell which it is,
//   so 'denied' stops nothing here before a try, and a failure names both causes.
// - An https page on the local network connects in every state, so after a failure in the
//   prompt state the agent may just as well not be running. A secure page whose site was set
//   to 'denied' (by the user or by policy) is still refused before any try: the setting is
//   meant as a block, and a block the browser does not yet enforce is not one to rely on.
export function connect({
  url = DEFAULT_URL, timeoutMs = 5000, promptTimeoutMs = 60000, WebSocket: Socket = globalThis.WebSocket,
  permissions = globalThis.navigator && globalThis.navigator.permissions, location = globalThis.location,
  language = pageLanguage(),
} = {}) {
  if (typeof Socket !== 'function') {
    return Promise.reject(new Error('This environment has no WebSocket client.'));
  }
  // Without the permission to ask about the socket opens at once, within the caller's task.
  if (!permissions || servedFromThisComputer(location)) return dial(url, timeoutMs, Socket);
  const secure = !!location && location.protocol === 'https:';
  return (async () => {
    const state = await localAccessState({ permissions });
    if (state === 'denied' && secure) throw new LocalAccessBlockedError('denied', url, language);
    try {
      return await dial(url, state === 'prompt' ? Math.max(timeoutMs, promptTimeoutMs) : timeoutMs, Socket);
    } catch (e) {
      if (!(e instanceof AgentUnavailableError) || state === 'granted' || state === 'unsupported') throw e;
      if (!secure) throw new LocalAccessBlockedError('insecure', url, language);
      // The user may have answered the browser's question meanwhile.
      const now = await localAccessState({ permissions });
      if (now === 'granted') throw e;
      throw new LocalAccessBlockedError(now === 'denied' ? 'denied' : 'prompt', url, language);
    }
  })();
}

function dial(url, timeoutMs, Socket) {
  return new Promise((resolve, reject) => {
    let socket;
    try {
      socket = new Socket(url);
    } catch (e) {
      reject(new AgentUnavailableError(url, e && e.message));
      return;
    }
    let settled = false;
    const finish = (fn, value) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      socket.onopen = socket.onerror = null;
      fn(value);
    };
    const timer = setTimeout(() => {
      finish(reject, new AgentUnavailableError(url, `no answer within ${timeoutMs} ms`));
      try { socket.close(); } catch (_) { /* already gone */ }
    }, timeoutMs);
    socket.onopen = () => finish(resolve, new AgentConnection(socket));
    socket.onerror = () => finish(reject, new AgentUnavailableError(url));
    socket.onclose = () => finish(reject, new AgentUnavailableError(url));
  });
}

// Splits nothing and escapes nothing: a field that holds the separator would shift every
// field after it on the agent's side, so it is refused here.
export function joinFields(fields, separator = FIELD_SEPARATOR) {
  return fields.map((f) => {
    const text = f === undefined || f === null ? '' : String(f);
    if (text.includes(separator)) throw new TypeError(`A field may not contain "${separator}": ${text}`);
    return text;
  }).join(separator);
}

function flag(value) {
  if (typeof value === 'boolean') return value ? 'TRUE' : 'FALSE';
  return value === undefined || value === null ? '' : String(value);
}

export class AgentConnection {
  constructor(socket) {
    this._socket = socket;
    this._closed = false;
    this._listeners = new Set();
    this._closeListeners = new Set();
    this._loginWaiters = [];       // resolve the "Welcome" answer
    this._checkUserWaiters = [];   // FIFO: the agent answers CHECK_USER in order on one connection
    this._cycles = [];             // check-out cycles still expecting a reply, oldest first
    socket.onmessage = (event) => this._onMessage(event.data);
    socket.onclose = () => this._onClose();
    socket.onerror = () => {};
  }

  get closed() { return this._closed; }

  // Every reply as {arg1, arg2}; returns a function that removes the listener.
  onReply(listener) {
    this._listeners.add(listener);
    return () => this._listeners.delete(listener);
  }

  // Called once when the connection closes, whichever side closed it; returns a function that
  // removes the listener.
  onClose(listener) {
    this._closeListeners.add(listener);
    return () => this._closeListeners.delete(listener);
  }

  // The first data message logs the connection in under `userKey`; resolves with the
  // agent's answer ("Welcome " + userKey).
  login(userKey, { timeoutMs = 10000 } = {}) {
    return this._await(this._loginWaiters, 'the login', timeoutMs, () => this._post(String(userKey), ''));
  }

  // Sends one command; `fields` are joined with "^". No reply is awaited.
  send(command, ...fields) {
    this._post(String(command), joinFields(fields));
  }

  // Resolves with "SUCCESS" when the session user is the logged-in user, else the session user.
  checkUser({ timeoutMs = 30000 } = {}) {
    return this._await(this._checkUserWaiters, 'CHECK_USER', timeoutMs, () => this.send('CHECK_USER'))
      .then((reply) => reply.arg2);
  }

  // Starts a check-out cycle. The result is an async iterable of the reply words of this
  // cycle, first CHECKOUT_SUCCESS or CHECKOUT_FAIL, then (after success) the outcome of the
  // edit; it ends after the last one. `done` resolves with all words of the cycle.
  // The agent's replies name no document: concurrent cycles on one connection are matched
  // to their replies in the order they were started.
  checkOut({ documentId, pageId, fileName, version, isCurrent = true, creator = '', isImmutable = false }) {
    const cycle = { words: [], queue: [], waiters: [], ended: false, error: null };
    cycle.done = new Promise((resolve, reject) => { cycle.resolveDone = resolve; cycle.rejectDone = reject; });
    cycle.done.catch(() => {});  // observed through the iterator when not through `done`
    this.send('CHECKOUT', documentId, pageId, fileName, version, flag(isCurrent), creator, flag(isImmutable));
    this._cycles.push(cycle);
    const iterator = {
      next: () => {
        if (cycle.queue.length) return Promise.resolve({ value: cycle.queue.shift(), done: false });
        if (cycle.error) return Promise.reject(cycle.error);
        if (cycle.ended) return Promise.resolve({ value: undefined, done: true });
        return new Promise((resolve, reject) => cycle.waiters.push({ resolve, reject }));
      },
      [Symbol.asyncIterator]() { return this; },
    };
    iterator.done = cycle.done;
    return iterator;
  }

  view({ documentId, pageId, fileName }) {
    this.send('VIEW', documentId, pageId, fileName);
  }

  // Queues one file for the next DO_DOWNLOAD; the item's own fields are joined with "*".
  addToDownload({ documentId, pageId, fileName }) {
    this.send('ADD_TO_DOWNLOAD', joinFields([documentId, pageId, fileName], DOWNLOAD_ITEM_SEPARATOR));
  }

  doDownload() { this.send('DO_DOWNLOAD'); }

  clearDownload() { this.send('CLEAR_DOWNLOAD'); }

  close() {
    if (!this._closed) {
      try { this._socket.close(); } catch (_) { /* already gone */ }
    }
    this._onClose();
  }

  _post(arg1, arg2) {
    if (this._closed) throw new AgentClosedError();
    this._socket.send(JSON.stringify({ arg1, arg2 }));
  }

  _await(waiters, what, timeoutMs, sendIt) {
    return new Promise((resolve, reject) => {
      const waiter = { resolve, reject };
      // A timed-out request keeps its place: the agent answers in order, so its late answer
      // must be swallowed rather than handed to the request after it.
      waiter.timer = setTimeout(() => {
        waiter.timedOut = true;
        reject(new AgentTimeoutError(what, timeoutMs));
      }, timeoutMs);
      waiters.push(waiter);
      try {
        sendIt();
      } catch (e) {
        clearTimeout(waiter.timer);
        waiters.splice(waiters.indexOf(waiter), 1);
        reject(e);
      }
    });
  }

  _onMessage(data) {
    let reply;
    try {
      reply = JSON.parse(data);
    } catch (_) {
      return;  // not a data message
    }
    if (!reply || typeof reply.arg1 !== 'string') return;
    reply = { arg1: reply.arg1, arg2: typeof reply.arg2 === 'string' ? reply.arg2 : '' };
    for (const listener of this._listeners) {
      try { listener(reply); } catch (_) { /* a listener's fault is its own */ }
    }
    if (reply.arg1.startsWith('Welcome ')) {
      this._settle(this._loginWaiters, reply.arg1);
    } else if (reply.arg1 === 'CHECK_USER') {
      this._settle(this._checkUserWaiters, reply);
    } else if (reply.arg1 === 'CHECKOUT') {
      this._onCheckOutReply(reply.arg2);
    }
  }

  _settle(waiters, value) {
    const waiter = waiters.shift();
    if (!waiter || waiter.timedOut) return;
    clearTimeout(waiter.timer);
    waiter.resolve(value);
  }

  // A first reply belongs to the oldest cycle that has had none; a second to the oldest that
  // has had its CHECKOUT_SUCCESS.
  _onCheckOutReply(word) {
    const isFirst = CHECKOUT_FIRST_REPLIES.includes(word);
    const cycle = this._cycles.find((c) => (c.words.length === 0) === isFirst);
    if (!cycle) return;
    cycle.words.push(word);
    const last = word === 'CHECKOUT_FAIL' || (!isFirst && CHECKOUT_FINAL_REPLIES.includes(word));
    const waiter = cycle.waiters.shift();
    if (waiter) waiter.resolve({ value: word, done: false });
    else cycle.queue.push(word);
    if (last) this._endCycle(cycle, null);
  }

  _endCycle(cycle, error) {
    const i = this._cycles.indexOf(cycle);
    if (i >= 0) this._cycles.splice(i, 1);
    cycle.ended = true;
    cycle.error = error;
    for (const waiter of cycle.waiters.splice(0)) {
      if (error) waiter.reject(error);
      else waiter.resolve({ value: undefined, done: true });
    }
    if (error) cycle.rejectDone(error);
    else cycle.resolveDone(cycle.words.slice());
  }

  _onClose() {
    if (this._closed) return;
    this._closed = true;
    const error = new AgentClosedError();
    for (const waiters of [this._loginWaiters, this._checkUserWaiters]) {
      for (const waiter of waiters.splice(0)) {
        clearTimeout(waiter.timer);
        waiter.reject(error);
      }
    }
    for (const cycle of this._cycles.slice()) this._endCycle(cycle, error);
    for (const listener of this._closeListeners) {
      try { listener(); } catch (_) { /* a listener's fault is its own */ }
    }
  }
}
